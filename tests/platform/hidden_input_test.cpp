// The password prompt at a real (pseudo-)terminal: echo is off while it
// reads, and back on afterwards however the program ends there, Ctrl-C
// included.

#include "platform/hidden_input.h"

#include <gtest/gtest.h>

#include <QByteArray>
#include <QElapsedTimer>

#include <csignal>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <poll.h>
#include <pty.h>
#include <sys/wait.h>
#include <termios.h>
#include <unistd.h>

namespace {

struct PromptCase {
    const char* name;
    QByteArray typed;  // what the user types at the prompt
    int endedBySignal; // 0: the prompt ends normally
};

class HiddenPrompt : public ::testing::TestWithParam<PromptCase> {};

bool echoOn(int terminal)
{
    termios mode{};
    return ::tcgetattr(terminal, &mode) == 0 && (mode.c_lflag & ECHO) != 0;
}

// What the child writes up to its first line end, within a bound.
QByteArray firstLine(int master)
{
    QByteArray seen;
    QElapsedTimer clock;
    clock.start();
    while (!seen.contains('\n') && clock.elapsed() < 20000) {
        pollfd p{master, POLLIN, 0};
        if (::poll(&p, 1, 100) <= 0)
            continue;
        char buffer[256];
        const ssize_t n = ::read(master, buffer, sizeof buffer);
        if (n <= 0)
            break;
        seen.append(buffer, n);
    }
    return seen.trimmed(); // the terminal ends lines with CR LF
}

// The child's status, within a bound; -1 when it did not end.
int waitEnd(pid_t child)
{
    QElapsedTimer clock;
    clock.start();
    int status = 0;
    while (clock.elapsed() < 20000) {
        if (::waitpid(child, &status, WNOHANG) == child)
            return status;
        ::usleep(10000);
    }
    ::kill(child, SIGKILL);
    ::waitpid(child, &status, 0);
    return -1;
}

TEST_P(HiddenPrompt, EchoIsBackHoweverThePromptEnds)
{
    const PromptCase& c = GetParam();
    int master = -1;
    const pid_t child = ::forkpty(&master, nullptr, nullptr, nullptr);
    ASSERT_GE(child, 0);
    if (child == 0) {
        // Only calls safe after a fork from here: the test's threads are gone.
        {
            app::HiddenInput hidden;
            const char* said = hidden.active() ? "hidden\n" : "visible\n";
            (void)!::write(STDOUT_FILENO, said, std::strlen(said));
            char ch = 0;
            while (::read(STDIN_FILENO, &ch, 1) == 1 && ch != '\n') {
            }
        }
        ::_exit(7);
    }
    // Held open by the test, so the terminal keeps the mode the child left
    // it in after the child is gone.
    const int terminal = ::open(::ptsname(master), O_RDWR | O_NOCTTY);
    ASSERT_GE(terminal, 0);

    ASSERT_EQ(firstLine(master), "hidden");
    EXPECT_FALSE(echoOn(terminal)) << "typed text showed";
    ASSERT_EQ(::write(master, c.typed.constData(), static_cast<size_t>(c.typed.size())), c.typed.size());
    const int status = waitEnd(child);

    ASSERT_NE(status, -1) << "the prompt did not end";
    if (c.endedBySignal) {
        ASSERT_TRUE(WIFSIGNALED(status)) << status;
        EXPECT_EQ(WTERMSIG(status), c.endedBySignal) << "the signal ended it as it would have without us";
    } else {
        ASSERT_TRUE(WIFEXITED(status)) << status;
        EXPECT_EQ(WEXITSTATUS(status), 7);
    }
    EXPECT_TRUE(echoOn(terminal)) << "the shell is left typing blind";
    ::close(terminal);
    ::close(master);
}

INSTANTIATE_TEST_SUITE_P(Cases, HiddenPrompt,
                         ::testing::Values(PromptCase{"Enter", "secret\n", 0},
                                           PromptCase{"CtrlC", "\x03", SIGINT}),
                         [](const auto& info) { return std::string(info.param.name); });

} // namespace
