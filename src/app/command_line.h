#pragma once
// What the program answers from a shell: `--version`, `--help`, and the
// usage for anything it does not know. Without arguments, or with only the
// window toolkit's own options (-platform offscreen, -style fusion, ...),
// it opens the windows.

#include <QString>
#include <QStringList>
#include <optional>

namespace app {

struct CommandLineAnswer {
    QString text;
    int exitCode = 0;        // 0 answered, 2 a command line it does not know
    bool toErrorStream = false;
};

// The answer for `arguments` (argv, program name first), or nothing when
// the program should start its windows. `programFolder` ends with a
// separator.
std::optional<CommandLineAnswer> commandLineAnswer(const QStringList& arguments, const QString& programFolder);

// Prints the answer without a display; returns the exit code, or nothing
// when the windows are to start.
std::optional<int> answerCommandLine(int& argc, char** argv);

} // namespace app
