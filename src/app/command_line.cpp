#include "app/command_line.h"

#include "app/status_command.h"
#include "common/log_path.h"
#include "config/ini_keys.h"
#include "config/version.h"

#include <QCoreApplication>
#include <QTextStream>

namespace app {
namespace {

QString versionText()
{
    return QStringLiteral("QuiborSync ") + versionStamp() + QLatin1Char('\n');
}

const char kUsage[] =
    "Usage: quiborsync [--version | --help]\n"
    "       quiborsync --status [--json]\n"
    "       quiborsync --configure [--host HOST] [--port PORT] [--database NAME] [--user NAME]\n"
    "                              [--password-stdin]\n";

QString givenTwice(const QString& option)
{
    return QStringLiteral("option '%1' given twice").arg(option);
}

QString notTaken(const QString& command, const QString& arg)
{
    return QStringLiteral("'%1' does not take '%2'").arg(command, arg);
}

// The options of --configure: "--host NAME" or "--host=NAME", each once.
// Returns what is wrong, or nothing.
std::optional<QString> parseConfigure(const QStringList& args, ConfigureOptions& options)
{
    const QString command = QStringLiteral("--configure");
    bool configure = false;
    for (qsizetype i = 0; i < args.size(); ++i) {
        const QString& arg = args[i];
        if (arg == command) {
            if (configure)
                return givenTwice(arg);
            configure = true;
            continue;
        }
        if (arg == QLatin1String("--password-stdin")) {
            if (options.passwordFromStdin)
                return givenTwice(arg);
            options.passwordFromStdin = true;
            continue;
        }
        const qsizetype eq = arg.indexOf(u'=');
        const QString name = eq < 0 ? arg : arg.left(eq);
        // A password on the command line would stand in every process list.
        if (name == QLatin1String("--password"))
            return QStringLiteral("the password is read from standard input (--password-stdin), never from the "
                                  "command line");
        std::optional<QString>* slot = name == QLatin1String("--host")       ? &options.host
                                       : name == QLatin1String("--port")     ? &options.port
                                       : name == QLatin1String("--database") ? &options.database
                                       : name == QLatin1String("--user")     ? &options.user
                                                                             : nullptr;
        if (!slot)
            return notTaken(command, arg);
        if (slot->has_value())
            return givenTwice(name);
        if (eq >= 0) {
            *slot = arg.mid(eq + 1);
        } else {
            if (i + 1 >= args.size())
                return QStringLiteral("option '%1' needs a value").arg(arg);
            *slot = args[++i];
        }
    }
    return std::nullopt;
}

// --status with nothing beside it but --json, each once.
std::optional<QString> parseStatus(const QStringList& args, bool& json)
{
    const QString command = QStringLiteral("--status");
    bool status = false;
    for (const QString& arg : args) {
        bool* seen = arg == command ? &status : arg == QLatin1String("--json") ? &json : nullptr;
        if (!seen)
            return notTaken(command, arg);
        if (*seen)
            return givenTwice(arg);
        *seen = true;
    }
    return std::nullopt;
}

QString helpText(const QString& folder)
{
    return QLatin1String(kUsage)
           + QStringLiteral(
                 "\n"
                 "QuiborSync keeps the store's server database and its terminals' databases\n"
                 "in step. Started without arguments it opens its two windows.\n"
                 "\n"
                 "It reads the server connection from\n"
                 "  %1\n"
                 "section [%2], keys %3, %4, %5, %6 and %7\n"
                 "(the last two stored with every character's code raised by %8).\n"
                 "The copy runs write their logs into\n"
                 "  %9\n"
                 "which must exist. Both lie beside the executable; no other setting comes\n"
                 "from the command line or the environment.\n"
                 "\n"
                 "  --version        print the version and end\n"
                 "  --help           print this text and end\n"
                 "  --status         report, without changing anything, whether the store is\n"
                 "                   in step: the server of Quibor.ini, every active terminal\n"
                 "                   of its LICENCA_IF (probed and logged into all at once,\n"
                 "                   within CONFIG.TIMEOUT_ECFS), and per terminal the rows\n"
                 "                   not yet imported (EXPORTADO 0 or 1) and the cancellations\n"
                 "                   not yet carried out (EXPORTADO 3). Runs without a display\n"
                 "                   and beside a running copy of the program.\n"
                 "  --status --json  the same report as one JSON document\n"
                 "  --configure      set up Quibor.ini: asks for the server's host, port,\n"
                 "                   database, user name and password (not shown as typed;\n"
                 "                   the current values are offered), tries the connection\n"
                 "                   and only then writes the file in its stored form, the\n"
                 "                   previous one kept as Quibor.ini.bak. Given any of\n"
                 "                   --host, --port, --database, --user, --password-stdin it\n"
                 "                   asks nothing: values missing come from the current file,\n"
                 "                   the password from one line of standard input (never\n"
                 "                   from the command line). Status 0 when written, 1 when\n"
                 "                   not (one line on standard error says why).\n"
                 "\n"
                 "Options of the window toolkit (-platform NAME, -style NAME, -display\n"
                 "NAME, ...) are passed on to it. Without a display, the windows open\n"
                 "with QT_QPA_PLATFORM=offscreen, unseen. Any other argument gets the\n"
                 "usage on standard error and exit status 2.\n"
                 "\n"
                 "Exit status of --status: 0 the server and every active terminal answered\n"
                 "and nothing is waiting; 1 a terminal did not answer or could not be read,\n"
                 "lacks a sales table (only the fiscal tables may be absent), or rows or\n"
                 "cancellations are waiting; 2 Quibor.ini is missing or unusable,\n"
                 "or the server was not reached (one line on standard error says why).\n"
                 "\n"
                 "Examples:\n"
                 "  sudo quiborsync --configure\n"
                 "  sudo quiborsync --configure --host 192.168.0.10 --port 5432 --database quibor \\\n"
                 "      --user quibor --password-stdin < /root/quibor-password\n"
                 "  quiborsync --status\n"
                 "  quiborsync --status --json > /var/tmp/quiborsync-status.json\n")
               .arg(folder + QStringLiteral("Quibor.ini"), iniSecaoConexao(), iniServerName(), iniPorta(),
                    iniBaseName(), iniUserName(), iniPassword(), QString::number(kIniShift),
                    folder + QStringLiteral("QuiborSync_Logs/"));
}

// The toolkit's own options, which it takes off the command line itself;
// true for those followed by a value.
std::optional<bool> toolkitOption(QString option)
{
    if (option.startsWith(QLatin1String("--")))
        option.remove(0, 1); // the toolkit reads --name as -name
    static const QStringList withValue = {
        "-platform", "-platformpluginpath", "-platformtheme", "-plugin", "-qwindowgeometry", "-geometry",
        "-qwindowtitle", "-title", "-qwindowicon", "-icon", "-style", "-stylesheet", "-session", "-display",
        "-name", "-visual"};
    static const QStringList alone = {"-reverse", "-widgetcount", "-nograb", "-dograb", "-sync", "-testability"};
    static const QStringList joined = {"-style=", "-stylesheet=", "-qmljsdebugger="};
    if (withValue.contains(option))
        return true;
    if (alone.contains(option))
        return false;
    for (const QString& prefix : joined)
        if (option.startsWith(prefix))
            return false;
    return std::nullopt;
}

CommandLineAnswer usageError(const QString& why)
{
    return {QStringLiteral("quiborsync: %1\n").arg(why) + QLatin1String(kUsage)
                + QStringLiteral("Try 'quiborsync --help' for more information.\n"),
            2, true};
}

CommandLine usage(CommandLine command, const QString& why)
{
    command.kind = CommandLine::Kind::Usage;
    command.usageWhy = why;
    return command;
}

} // namespace

CommandLine parseCommandLine(const QStringList& arguments)
{
    const QStringList args = arguments.mid(1);
    CommandLine command;
    if (args.contains(QLatin1String("--configure"))) {
        if (const std::optional<QString> why = parseConfigure(args, command.configure))
            return usage(command, *why);
        command.kind = CommandLine::Kind::Configure;
        return command;
    }
    if (args.contains(QLatin1String("--status"))) {
        if (const std::optional<QString> why = parseStatus(args, command.json))
            return usage(command, *why);
        command.kind = CommandLine::Kind::Status;
        return command;
    }
    for (qsizetype i = 0; i < args.size(); ++i) {
        const QString& argument = args.at(i);
        if (argument == QLatin1String("--version")) {
            command.kind = CommandLine::Kind::Version;
            return command;
        }
        if (argument == QLatin1String("--help") || argument == QLatin1String("-h")) {
            command.kind = CommandLine::Kind::Help;
            return command;
        }
        // The toolkit takes its own options off the command line itself.
        const std::optional<bool> takesValue = toolkitOption(argument);
        if (!takesValue)
            return usage(command, argument.startsWith(u'-')
                                      ? QStringLiteral("unknown option '%1'").arg(argument)
                                      : QStringLiteral("unexpected argument '%1'").arg(argument));
        if (*takesValue && ++i >= args.size())
            return usage(command, QStringLiteral("option '%1' needs a value").arg(argument));
    }
    return command;
}

std::optional<CommandLineAnswer> commandLineAnswer(const QStringList& arguments, const QString& programFolder)
{
    const CommandLine command = parseCommandLine(arguments);
    switch (command.kind) {
    case CommandLine::Kind::Version: return CommandLineAnswer{versionText()};
    case CommandLine::Kind::Help: return CommandLineAnswer{helpText(programFolder)};
    case CommandLine::Kind::Usage: return usageError(command.usageWhy);
    default: return std::nullopt;
    }
}

std::optional<int> answerCommandLine(int& argc, char** argv)
{
    QStringList arguments;
    for (int i = 0; i < argc; ++i)
        arguments.append(QString::fromLocal8Bit(argv[i]));
    const CommandLine command = parseCommandLine(arguments);
    if (command.kind == CommandLine::Kind::Windows)
        return std::nullopt;
    // A core application only: no display is needed, and the windows of a
    // running copy are none of its business.
    QCoreApplication core(argc, argv);
    QTextStream out(stdout);
    QTextStream err(stderr);
    switch (command.kind) {
    case CommandLine::Kind::Status:
        return runStatusCommand(command.json, out, err);
    case CommandLine::Kind::Configure: {
        StandardConsole console;
        return runConfigureCommand(command.configure, console);
    }
    default: {
        const CommandLineAnswer answer = *commandLineAnswer(arguments, common::programFolder());
        (answer.toErrorStream ? err : out) << answer.text;
        return answer.exitCode;
    }
    }
}

} // namespace app
