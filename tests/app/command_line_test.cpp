// What the program answers from a shell, and what it leaves to the windows.

#include "app/command_line.h"
#include "app/display_opening.h"

#include <gtest/gtest.h>

namespace {

const QString kUsage = "Usage: quiborsync [--version | --help]\n"
                       "       quiborsync --status [--json]\n"
                       "       quiborsync --configure [--host HOST] [--port PORT] [--database NAME] [--user NAME]\n"
                       "                              [--password-stdin]\n";

std::optional<app::CommandLineAnswer> answer(const QStringList& args)
{
    return app::commandLineAnswer(QStringList{"/opt/quiborsync/quiborsync"} + args, "/opt/quiborsync/");
}

TEST(CommandLine, StartsTheWindowsWithNoArgumentsOrOnlyTheToolkitsOwn)
{
    for (const QStringList& args : {QStringList{}, QStringList{"-platform", "offscreen"},
                                    QStringList{"--platform", "offscreen", "-reverse", "-style=fusion"},
                                    QStringList{"-style", "fusion", "-display", ":1", "-name", "caixa"}}) {
        SCOPED_TRACE(args.join(' ').toStdString());
        EXPECT_FALSE(answer(args).has_value());
    }
}

TEST(CommandLine, AnythingElseGetsTheUsageAndStatusTwo)
{
    struct Case {
        QStringList args;
        QString firstLine;
    };
    const Case cases[] = {
        {{"--bogus"}, "quiborsync: unknown option '--bogus'"},
        {{"-platform", "offscreen", "-v"}, "quiborsync: unknown option '-v'"},
        {{"vendas"}, "quiborsync: unexpected argument 'vendas'"},
        {{"-platform"}, "quiborsync: option '-platform' needs a value"},
        // A toolkit option's value is not read as an option of its own.
        {{"-style", "--version", "--bogus"}, "quiborsync: unknown option '--bogus'"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.args.join(' ').toStdString());
        const std::optional<app::CommandLineAnswer> a = answer(c.args);
        ASSERT_TRUE(a.has_value());
        EXPECT_EQ(a->exitCode, 2);
        EXPECT_TRUE(a->toErrorStream);
        EXPECT_EQ(a->text, c.firstLine + "\n" + kUsage + "Try 'quiborsync --help' for more information.\n");
    }
}

// The reports take their own options and nothing else; what is wrong is named
// on the first line, as for any other unknown command line.
TEST(CommandLine, ReportAndSetUpOptionsOutOfPlaceGetTheUsage)
{
    struct Case {
        QStringList args;
        QString firstLine;
    };
    const Case cases[] = {
        {{"--json"}, "quiborsync: unknown option '--json'"},
        {{"--status", "--verbose"}, "quiborsync: '--status' does not take '--verbose'"},
        {{"--status", "--json", "--json"}, "quiborsync: option '--json' given twice"},
        {{"--configure", "--host"}, "quiborsync: option '--host' needs a value"},
        {{"--configure", "--user=a", "--user", "b"}, "quiborsync: option '--user' given twice"},
        {{"--configure", "--password=segredo"},
         "quiborsync: the password is read from standard input (--password-stdin), never from the command line"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.args.join(' ').toStdString());
        const std::optional<app::CommandLineAnswer> a = answer(c.args);
        ASSERT_TRUE(a.has_value());
        EXPECT_EQ(a->exitCode, 2);
        EXPECT_TRUE(a->toErrorStream);
        EXPECT_TRUE(a->text.startsWith(c.firstLine + "\n" + kUsage)) << a->text.toStdString();
    }
    // Well formed, they are commands to run, not texts to print.
    for (const QStringList& args : {QStringList{"--status", "--json"}, QStringList{"--configure", "--host", "h"}})
        EXPECT_FALSE(answer(args).has_value()) << args.join(' ').toStdString();
}

TEST(CommandLine, VersionPrintsTheStampTheProgramWritesIntoConfig)
{
    for (const QStringList& args : {QStringList{"--version"}, QStringList{"-platform", "offscreen", "--version"}}) {
        const std::optional<app::CommandLineAnswer> a = answer(args);
        ASSERT_TRUE(a.has_value());
        EXPECT_EQ(a->text, QString("QuiborSync 2.0.1|01-11-2022\n"));
        EXPECT_EQ(a->exitCode, 0);
        EXPECT_FALSE(a->toErrorStream);
    }
}

TEST(CommandLine, HelpSaysWhereTheIniFileAndTheLogFolderAre)
{
    for (const char* option : {"--help", "-h"}) {
        const std::optional<app::CommandLineAnswer> a = answer({option});
        ASSERT_TRUE(a.has_value()) << option;
        EXPECT_EQ(a->exitCode, 0);
        EXPECT_TRUE(a->text.contains("  /opt/quiborsync/Quibor.ini\n"));
        EXPECT_TRUE(a->text.contains("  /opt/quiborsync/QuiborSync_Logs/\n"));
        EXPECT_TRUE(a->text.contains("[Conex\u00e3o Postgres]"));
        EXPECT_TRUE(a->text.contains("Server Name, Porta, Base Name, User Name and Password"));
        EXPECT_TRUE(a->text.startsWith(kUsage));
        EXPECT_TRUE(a->text.contains("\n  --status         report"));
        EXPECT_TRUE(a->text.contains("\n  --configure      set up Quibor.ini"));
    }
}

TEST(CommandLine, NoDisplayIsOneLineNamingWhatWasTried)
{
    EXPECT_EQ(app::noDisplayLine("", "xcb"),
              "quiborsync: no display to open the windows on (DISPLAY not set, QT_QPA_PLATFORM=xcb); set DISPLAY to "
              "a running X display, or QT_QPA_PLATFORM=offscreen to run unseen\n");
    EXPECT_TRUE(app::noDisplayLine(":77", "").contains("(DISPLAY=:77, QT_QPA_PLATFORM not set)"));
}

} // namespace
