// POSIX terminals; a build for another platform replaces this file.
#include "platform/hidden_input.h"

#include <termios.h>
#include <unistd.h>

namespace app {

HiddenInput::HiddenInput()
{
    termios mode{};
    if (!::isatty(STDIN_FILENO) || ::tcgetattr(STDIN_FILENO, &mode) != 0)
        return;
    savedFlags_ = mode.c_lflag;
    mode.c_lflag &= ~static_cast<tcflag_t>(ECHO);
    // The line still ends with Enter, and Enter still shows.
    mode.c_lflag |= ECHONL;
    active_ = ::tcsetattr(STDIN_FILENO, TCSAFLUSH, &mode) == 0;
}

HiddenInput::~HiddenInput()
{
    termios mode{};
    if (!active_ || ::tcgetattr(STDIN_FILENO, &mode) != 0)
        return;
    mode.c_lflag = savedFlags_;
    ::tcsetattr(STDIN_FILENO, TCSAFLUSH, &mode);
}

} // namespace app
