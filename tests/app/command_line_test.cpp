// What the program answers from a shell, and what it leaves to the windows.

#include "app/command_line.h"

#include <gtest/gtest.h>

namespace {

std::optional<QString> answer(const QStringList& args)
{
    return app::commandLineAnswer(QStringList{"/opt/quiborsync/quiborsync"} + args, "/opt/quiborsync/");
}

TEST(CommandLine, StartsTheWindowsUnlessAskedForVersionOrHelp)
{
    // No arguments, the toolkit's own options and anything unknown: the
    // program starts as it always did.
    for (const QStringList& args : {QStringList{}, QStringList{"-platform", "offscreen"}, QStringList{"--verbose"},
                                    QStringList{"-platform", "offscreen", "--version"}}) {
        SCOPED_TRACE(args.join(' ').toStdString());
        EXPECT_FALSE(answer(args).has_value());
    }
}

TEST(CommandLine, VersionPrintsTheStampTheProgramWritesIntoConfig)
{
    EXPECT_EQ(answer({"--version"}), QString("QuiborSync 2.0.1|01-11-2022\n"));
}

TEST(CommandLine, HelpSaysWhereTheIniFileAndTheLogFolderAre)
{
    for (const char* option : {"--help", "-h"}) {
        const std::optional<QString> text = answer({option});
        ASSERT_TRUE(text.has_value()) << option;
        EXPECT_TRUE(text->contains("  /opt/quiborsync/Quibor.ini\n"));
        EXPECT_TRUE(text->contains("  /opt/quiborsync/QuiborSync_Logs/\n"));
        EXPECT_TRUE(text->contains("[Conex\u00e3o Postgres]"));
        EXPECT_TRUE(text->contains("Server Name, Porta, Base Name, User Name and Password"));
    }
}

} // namespace
