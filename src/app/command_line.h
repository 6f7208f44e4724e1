#pragma once
// The two questions the program answers from a shell: `--version` and
// `--help`. Any other start, with or without arguments, opens the windows.

#include <QString>
#include <QStringList>
#include <optional>

namespace app {

// The text to print for `arguments` (argv, program name first), or nothing
// when the program should start its windows. `programFolder` ends with a
// separator.
std::optional<QString> commandLineAnswer(const QStringList& arguments, const QString& programFolder);

// Answers `--version` and `--help` on standard output without a display;
// returns the exit code, or nothing when the windows are to start.
std::optional<int> answerCommandLine(int& argc, char** argv);

} // namespace app
