#pragma once
// `quiborsync --configure`: the first set-up of Quibor.ini. Asks for (or
// takes from options) the server's host, port, database, user name and
// password, tries the connection, and only then writes the file in its
// stored form beside the executable.

#include <QString>
#include <optional>

namespace app {

struct ConfigureOptions {
    std::optional<QString> host;
    std::optional<QString> port;
    std::optional<QString> database;
    std::optional<QString> user;
    bool passwordFromStdin = false;

    // Any option given: nothing is asked, every value comes from an option
    // or the current file, the password from one line of standard input.
    bool optionForm() const { return host || port || database || user || passwordFromStdin; }
};

// Where the questions come from and the answers go.
class ConfigureConsole {
public:
    virtual ~ConfigureConsole() = default;
    // One line of input without its line end; nothing at the end of input.
    virtual std::optional<QString> readLine() = 0;
    // The same, not shown while typed at a terminal.
    virtual std::optional<QString> readHiddenLine() = 0;
    // Standard output (prompts without a line end) and standard error.
    virtual void say(const QString& text) = 0;
    virtual void complain(const QString& line) = 0;
};

// The console of the process: standard input, output and error.
class StandardConsole : public ConfigureConsole {
public:
    std::optional<QString> readLine() override;
    std::optional<QString> readHiddenLine() override;
    void say(const QString& text) override;
    void complain(const QString& line) override;
};

// 0 when the file was written; 1 when it was not (the reason said in one
// line on the console's error side, the old file untouched).
int runConfigureCommand(const ConfigureOptions& options, ConfigureConsole& console);

} // namespace app
