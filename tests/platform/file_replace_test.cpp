// Replacing a file that is reached through symbolic links: the file at the
// end of the links is what gets replaced, and every link stays.

#include "platform/file_replace.h"

#include <gtest/gtest.h>

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QTemporaryDir>

#include <unistd.h>

namespace {

QByteArray bytesOf(const QString& path)
{
    QFile f(path);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray("<missing>");
}

bool link(const QString& target, const QString& at)
{
    return ::symlink(QFile::encodeName(target).constData(), QFile::encodeName(at).constData()) == 0;
}

class FileReplaceThroughLinks : public ::testing::Test {
protected:
    QString path(const QString& name) const { return QDir(dir.path()).filePath(name); }
    QTemporaryDir dir;
};

TEST_F(FileReplaceThroughLinks, AChainOfLinksLeadsToTheFileReplacedAndStays)
{
    ASSERT_TRUE(QDir(dir.path()).mkdir("etc"));
    {
        QFile f(path("etc/real.ini"));
        ASSERT_TRUE(f.open(QIODevice::WriteOnly));
        f.write("old");
    }
    ASSERT_TRUE(link("etc/real.ini", path("middle.ini")));
    ASSERT_TRUE(link(path("middle.ini"), path("Quibor.ini")));
    const QString real = QFileInfo(path("etc/real.ini")).canonicalFilePath();

    EXPECT_EQ(app::replacementTarget(path("Quibor.ini")), real);
    app::replaceFile(path("Quibor.ini"), "new", real + ".bak");

    EXPECT_TRUE(QFileInfo(path("Quibor.ini")).isSymLink());
    EXPECT_TRUE(QFileInfo(path("middle.ini")).isSymLink());
    EXPECT_EQ(bytesOf(path("Quibor.ini")), "new");
    EXPECT_EQ(bytesOf(real + ".bak"), "old");
}

TEST_F(FileReplaceThroughLinks, ALinkToAFileNotYetMadeMakesItThere)
{
    ASSERT_TRUE(QDir(dir.path()).mkdir("etc"));
    ASSERT_TRUE(link("etc/new.ini", path("Quibor.ini")));

    app::replaceFile(path("Quibor.ini"), "first", path("Quibor.ini.bak"));

    EXPECT_TRUE(QFileInfo(path("Quibor.ini")).isSymLink());
    EXPECT_EQ(bytesOf(path("etc/new.ini")), "first");
    EXPECT_FALSE(QFile::exists(path("Quibor.ini.bak"))) << "nothing to keep the first time";
}

TEST_F(FileReplaceThroughLinks, ALoopOfLinksIsRefusedAndNothingIsWritten)
{
    ASSERT_TRUE(link(path("b.ini"), path("a.ini")));
    ASSERT_TRUE(link(path("a.ini"), path("b.ini")));
    try {
        app::replaceFile(path("a.ini"), "x", path("a.ini.bak"));
        FAIL() << "written";
    } catch (const app::FileReplaceError& e) {
        EXPECT_TRUE(e.message().contains(path("a.ini"))) << e.message().toStdString();
    }
    EXPECT_EQ(QDir(dir.path()).entryList(QDir::Files | QDir::System | QDir::Hidden),
              (QStringList{"a.ini", "b.ini"}));
}

} // namespace
