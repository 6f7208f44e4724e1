// POSIX terminals; a build for another platform replaces this file.
#include "platform/hidden_input.h"

#include <array>
#include <csignal>
#include <termios.h>
#include <unistd.h>

namespace app {
namespace {

// Signals that end the program at the prompt (Ctrl-C, Ctrl-\, a closed
// terminal, kill): without their handler the shell would be left typing
// blind, since the terminal keeps its mode after the program.
constexpr std::array<int, 4> kEndingSignals{SIGINT, SIGQUIT, SIGHUP, SIGTERM};

// What the handler puts back; set while an object is alive (one at a time).
termios savedMode{};
std::array<struct sigaction, kEndingSignals.size()> previousActions{};
std::array<bool, kEndingSignals.size()> handled{};

void restoreAndRaise(int signal)
{
    ::tcsetattr(STDIN_FILENO, TCSANOW, &savedMode);
    for (std::size_t i = 0; i < kEndingSignals.size(); ++i)
        if (kEndingSignals[i] == signal && handled[i])
            ::sigaction(signal, &previousActions[i], nullptr);
    // Delivered once this handler returns, as if it had never been here.
    ::raise(signal);
}

void handleEndingSignals()
{
    struct sigaction action {};
    action.sa_handler = &restoreAndRaise;
    sigemptyset(&action.sa_mask);
    for (std::size_t i = 0; i < kEndingSignals.size(); ++i) {
        struct sigaction previous {};
        handled[i] = false;
        // A signal the caller ignores does not end the program anyway.
        if (::sigaction(kEndingSignals[i], nullptr, &previous) != 0 || previous.sa_handler == SIG_IGN)
            continue;
        previousActions[i] = previous;
        handled[i] = ::sigaction(kEndingSignals[i], &action, nullptr) == 0;
    }
}

void releaseEndingSignals()
{
    for (std::size_t i = 0; i < kEndingSignals.size(); ++i)
        if (handled[i]) {
            ::sigaction(kEndingSignals[i], &previousActions[i], nullptr);
            handled[i] = false;
        }
}

} // namespace

HiddenInput::HiddenInput()
{
    termios mode{};
    if (!::isatty(STDIN_FILENO) || ::tcgetattr(STDIN_FILENO, &mode) != 0)
        return;
    savedFlags_ = mode.c_lflag;
    savedMode = mode;
    handleEndingSignals();
    mode.c_lflag &= ~static_cast<tcflag_t>(ECHO);
    // The line still ends with Enter, and Enter still shows.
    mode.c_lflag |= ECHONL;
    active_ = ::tcsetattr(STDIN_FILENO, TCSAFLUSH, &mode) == 0;
    if (!active_)
        releaseEndingSignals();
}

HiddenInput::~HiddenInput()
{
    if (!active_)
        return;
    termios mode{};
    if (::tcgetattr(STDIN_FILENO, &mode) == 0) {
        mode.c_lflag = savedFlags_;
        ::tcsetattr(STDIN_FILENO, TCSAFLUSH, &mode);
    }
    releaseEndingSignals();
}

} // namespace app
