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
    "Usage: quiborsync [--version | --help | --status [--json]]\n"
    "       quiborsync --configure [--host HOST] [--port PORT] [--database NAME] [--user NAME]\n"
    "                              [--password-stdin]\n";

// The options of --configure: "--host NAME" or "--host=NAME", each once.
bool parseConfigure(const QStringList& args, ConfigureOptions& options)
{
    bool configure = false;
    for (qsizetype i = 0; i < args.size(); ++i) {
        const QString& arg = args[i];
        if (arg == QLatin1String("--configure")) {
            if (configure)
                return false;
            configure = true;
            continue;
        }
        if (arg == QLatin1String("--password-stdin")) {
            if (options.passwordFromStdin)
                return false;
            options.passwordFromStdin = true;
            continue;
        }
        const qsizetype eq = arg.indexOf(u'=');
        const QString name = eq < 0 ? arg : arg.left(eq);
        std::optional<QString>* slot = name == QLatin1String("--host")       ? &options.host
                                       : name == QLatin1String("--port")     ? &options.port
                                       : name == QLatin1String("--database") ? &options.database
                                       : name == QLatin1String("--user")     ? &options.user
                                                                             : nullptr;
        if (!slot || slot->has_value())
            return false;
        if (eq >= 0) {
            *slot = arg.mid(eq + 1);
        } else {
            if (i + 1 >= args.size())
                return false;
            *slot = args[++i];
        }
    }
    return true;
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
                 "which must exist. Both lie beside the executable; nothing else is read\n"
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
                 "Exit status of --status: 0 the server and every active terminal answered\n"
                 "and nothing is waiting; 1 a terminal did not answer or could not be read,\n"
                 "or rows or cancellations are waiting; 2 Quibor.ini is missing or unusable,\n"
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

} // namespace

CommandLine parseCommandLine(const QStringList& arguments)
{
    const QStringList args = arguments.mid(1);
    CommandLine command;
    if (args.contains(QLatin1String("--configure"))) {
        command.kind = parseConfigure(args, command.configure) ? CommandLine::Kind::Configure
                                                               : CommandLine::Kind::Usage;
        return command;
    }
    if (args.contains(QLatin1String("--status"))) {
        command.kind = CommandLine::Kind::Status;
        for (const QString& arg : args) {
            if (arg == QLatin1String("--json") && !command.json)
                command.json = true;
            else if (arg != QLatin1String("--status") || args.count(arg) > 1)
                command.kind = CommandLine::Kind::Usage;
        }
        return command;
    }
    if (args.isEmpty())
        return command;
    const QString& first = args.first();
    if (first == QLatin1String("--version"))
        command.kind = CommandLine::Kind::Version;
    else if (first == QLatin1String("--help") || first == QLatin1String("-h"))
        command.kind = CommandLine::Kind::Help;
    // Anything else, toolkit options such as -platform included, still
    // reaches the application.
    return command;
}

std::optional<QString> commandLineAnswer(const QStringList& arguments, const QString& programFolder)
{
    switch (parseCommandLine(arguments).kind) {
    case CommandLine::Kind::Version: return versionText();
    case CommandLine::Kind::Help: return helpText(programFolder);
    default: return std::nullopt;
    }
}

QString usageText()
{
    return QLatin1String(kUsage);
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
    case CommandLine::Kind::Usage:
        err << usageText();
        return 2;
    default:
        out << *commandLineAnswer(arguments, common::programFolder());
        return 0;
    }
}

} // namespace app
