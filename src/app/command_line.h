#pragma once
// What the program answers from a shell: `--version`, `--help`, the health
// report `--status [--json]` and the set-up `--configure`. Any other start,
// with or without arguments, opens the windows.

#include "app/configure_command.h"

#include <QString>
#include <QStringList>
#include <optional>

namespace app {

// What a command line asks for.
struct CommandLine {
    enum class Kind {
        Windows, // no command: the windows start (toolkit options reach them)
        Version,
        Help,
        Status,
        Configure,
        Usage,   // a command with arguments it does not take
    };
    Kind kind = Kind::Windows;
    bool json = false; // --status --json
    ConfigureOptions configure;
};

// `arguments` is argv, program name first.
CommandLine parseCommandLine(const QStringList& arguments);

// The text to print for `arguments` when it asks for the version or the
// help, or nothing. `programFolder` ends with a separator.
std::optional<QString> commandLineAnswer(const QStringList& arguments, const QString& programFolder);

// The usage lines printed (on standard error) for arguments a command does
// not take.
QString usageText();

// Answers the commands without a display (standard output and error);
// returns the exit code, or nothing when the windows are to start. None of
// them takes or heeds the single-instance mark.
std::optional<int> answerCommandLine(int& argc, char** argv);

} // namespace app
