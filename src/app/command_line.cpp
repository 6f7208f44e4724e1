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
               "which must exist. Both lie beside the executable; nothing else is read\n"
               "from the command line or the environment.\n"
               "\n"
               "  --version  print the version and end\n"
               "  --help     print this text and end\n")
        .arg(folder + QStringLiteral("Quibor.ini"), iniSecaoConexao(), iniServerName(), iniPorta(), iniBaseName(),
             iniUserName(), iniPassword(), QString::number(kIniShift), folder + QStringLiteral("QuiborSync_Logs/"));
}

} // namespace

std::optional<QString> commandLineAnswer(const QStringList& arguments, const QString& programFolder)
{
    if (arguments.size() < 2)
        return std::nullopt;
    const QString& first = arguments.at(1);
    if (first == QLatin1String("--version"))
        return versionText();
    if (first == QLatin1String("--help") || first == QLatin1String("-h"))
        return helpText(programFolder);
    // Toolkit options such as -platform still reach the application.
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
    QTextStream(stdout) << *commandLineAnswer(arguments, common::programFolder());
    return 0;
}

} // namespace app
