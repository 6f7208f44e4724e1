#pragma once
// What the program answers from a shell: `--version`, `--help`, the health
// report `--status [--json]`, the set-up `--configure`, and the usage for
// anything it does not know. Without arguments, or with only the window
// toolkit's own options (-platform offscreen, -style fusion, ...), it opens
// the windows.

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
        Usage,   // an option it does not know, or one a command does not take
    };
    Kind kind = Kind::Windows;
    bool json = false; // --status --json
    ConfigureOptions configure;
    QString usageWhy;  // Usage: what was wrong, for the first line
};

// `arguments` is argv, program name first.
CommandLine parseCommandLine(const QStringList& arguments);

struct CommandLineAnswer {
    QString text;
    int exitCode = 0;        // 0 answered, 2 a command line it does not know
    bool toErrorStream = false;
};

// The fixed answer for `arguments`: the version, the help, or the usage for
// a command line it does not know. Nothing when the windows are to start or
// a command (--status, --configure) is to run. `programFolder` ends with a
// separator.
std::optional<CommandLineAnswer> commandLineAnswer(const QStringList& arguments, const QString& programFolder);

// Answers the commands without a display (standard output and error);
// returns the exit code, or nothing when the windows are to start. None of
// them takes or heeds the single-instance mark.
std::optional<int> answerCommandLine(int& argc, char** argv);

} // namespace app
