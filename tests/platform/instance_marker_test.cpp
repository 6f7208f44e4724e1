// Where the single-instance mark lives, and what it answers when it cannot
// be read.

#include "platform/instance_marker.h"

#include <gtest/gtest.h>

#include <QDir>
#include <QFile>
#include <QTemporaryDir>

#include <functional>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

namespace {

int modeOf(const QString& path)
{
    struct stat st {};
    if (::lstat(QFile::encodeName(path).constData(), &st) != 0)
        return -1;
    return st.st_mode & 0777;
}

class InstanceMarkerPlace : public ::testing::Test {
protected:
    ~InstanceMarkerPlace() override { app::setInstanceMarkerPath(QString()); }

    QString ownFolder() const { return temp.filePath(QString("quiborsync-%1").arg(::geteuid())); }
    QString fallbackPath() const { return ownFolder() + "/quiborsync.instance.lock"; }

    QTemporaryDir runtime; // made 0700 by its owner, like a session's runtime folder
    QTemporaryDir temp;
};

TEST_F(InstanceMarkerPlace, SessionRuntimeFolderHoldsTheMark)
{
    const app::MarkerPlace place = app::markerPlace(runtime.path(), temp.path());
    EXPECT_EQ(place.path, runtime.filePath("quiborsync.instance.lock"));
    EXPECT_TRUE(place.failure.isEmpty());
    EXPECT_FALSE(QDir(ownFolder()).exists());
}

TEST_F(InstanceMarkerPlace, WithoutAUsableRuntimeFolderAFolderOfTheUsersOwnIsMade)
{
    QTemporaryDir open;
    ::chmod(QFile::encodeName(open.path()).constData(), 0755);
    for (const QString& runtimeFolder : {QString(), QString("relative/run"), runtime.filePath("missing"), open.path()}) {
        SCOPED_TRACE(runtimeFolder.toStdString());
        const app::MarkerPlace place = app::markerPlace(runtimeFolder, temp.path());
        EXPECT_EQ(place.path, fallbackPath());
        EXPECT_TRUE(place.failure.isEmpty());
        EXPECT_EQ(modeOf(ownFolder()), 0700);
    }
}

// A folder of that name that someone else could have made or may enter is
// no place for the mark: there is then no place, and the reason says which
// folder is wrong.
TEST_F(InstanceMarkerPlace, FolderThatIsNotTheUsersAloneIsRefused)
{
    struct Case {
        const char* name;
        std::function<void(const QString&)> make;
    };
    std::vector<Case> cases = {
        {"open to everyone", [](const QString& f) {
             QDir().mkdir(f);
             ::chmod(QFile::encodeName(f).constData(), 01777);
         }},
        {"a link to another folder", [this](const QString& f) { QFile::link(runtime.path(), f); }},
        {"a file", [](const QString& f) {
             QFile file(f);
             ASSERT_TRUE(file.open(QIODevice::WriteOnly));
         }},
    };
    if (::geteuid() == 0)
        cases.push_back({"another user's", [](const QString& f) {
                             QDir().mkdir(f);
                             ::chmod(QFile::encodeName(f).constData(), 0700);
                             ASSERT_EQ(::chown(QFile::encodeName(f).constData(), 65534, 65534), 0);
                         }});
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        QTemporaryDir tempFolder;
        const QString own = tempFolder.filePath(QString("quiborsync-%1").arg(::geteuid()));
        c.make(own);

        const app::MarkerPlace place = app::markerPlace(QString(), tempFolder.path());
        EXPECT_TRUE(place.path.isEmpty());
        EXPECT_TRUE(place.failure.contains(own)) << place.failure.toStdString();
    }
}

TEST_F(InstanceMarkerPlace, MarkThatCannotBeOpenedIsNeverNoOtherCopy)
{
    const QString path = temp.filePath("missing/instance.lock");
    app::setInstanceMarkerPath(path);

    QString why;
    EXPECT_EQ(app::otherCopy(&why), app::OtherCopy::Unknown);
    EXPECT_TRUE(why.contains(path)) << why.toStdString();

    app::InstanceMarker marker;
    EXPECT_FALSE(marker.held());
    EXPECT_FALSE(marker.otherHolds());
    EXPECT_TRUE(marker.failure().contains(path)) << marker.failure().toStdString();
}

TEST_F(InstanceMarkerPlace, HeldMarkSaysAnotherCopyRuns)
{
    app::setInstanceMarkerPath(runtime.filePath("instance.lock"));
    EXPECT_EQ(app::otherCopy(), app::OtherCopy::None);
    {
        app::InstanceMarker first;
        ASSERT_TRUE(first.held());
        EXPECT_EQ(modeOf(runtime.filePath("instance.lock")), 0600);
        EXPECT_EQ(app::otherCopy(), app::OtherCopy::Running);
        app::InstanceMarker second;
        EXPECT_FALSE(second.held());
        EXPECT_TRUE(second.otherHolds());
        EXPECT_TRUE(second.failure().isEmpty());
    }
    EXPECT_EQ(app::otherCopy(), app::OtherCopy::None);
}

} // namespace
