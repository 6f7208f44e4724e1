#include "app/command_line.h"

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

QString helpText(const QString& folder)
{
    return QStringLiteral(
               "Usage: quiborsync [--version | --help]\n"
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
               "  --version  print the version and end\n"
               "  --help     print this text and end\n"
               "\n"
               "Options of the window toolkit (-platform NAME, -style NAME, -display\n"
               "NAME, ...) are passed on to it. Without a display, the windows open\n"
               "with QT_QPA_PLATFORM=offscreen, unseen.\n")
        .arg(folder + QStringLiteral("Quibor.ini"), iniSecaoConexao(), iniServerName(), iniPorta(), iniBaseName(),
             iniUserName(), iniPassword(), QString::number(kIniShift), folder + QStringLiteral("QuiborSync_Logs/"));
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
    return {QStringLiteral("quiborsync: %1\n"
                           "Usage: quiborsync [--version | --help]\n"
                           "Try 'quiborsync --help' for more information.\n")
                .arg(why),
            2, true};
}

} // namespace

std::optional<CommandLineAnswer> commandLineAnswer(const QStringList& arguments, const QString& programFolder)
{
    for (qsizetype i = 1; i < arguments.size(); ++i) {
        const QString& argument = arguments.at(i);
        if (argument == QLatin1String("--version"))
            return CommandLineAnswer{versionText()};
        if (argument == QLatin1String("--help") || argument == QLatin1String("-h"))
            return CommandLineAnswer{helpText(programFolder)};
        const std::optional<bool> takesValue = toolkitOption(argument);
        if (!takesValue)
            return usageError(argument.startsWith(u'-') ? QStringLiteral("unknown option '%1'").arg(argument)
                                                        : QStringLiteral("unexpected argument '%1'").arg(argument));
        if (*takesValue && ++i >= arguments.size())
            return usageError(QStringLiteral("option '%1' needs a value").arg(argument));
    }
    return std::nullopt;
}

std::optional<int> answerCommandLine(int& argc, char** argv)
{
    QStringList arguments;
    for (int i = 0; i < argc; ++i)
        arguments.append(QString::fromLocal8Bit(argv[i]));
    // Only an answer creates an application object here, and a core one: it
    // must not need a display, and the windows get theirs untouched.
    if (!commandLineAnswer(arguments, QString()))
        return std::nullopt;
    QCoreApplication core(argc, argv);
    const CommandLineAnswer answer = *commandLineAnswer(arguments, common::programFolder());
    QTextStream(answer.toErrorStream ? stderr : stdout) << answer.text;
    return answer.exitCode;
}

} // namespace app
