// The program killed outright in the middle of an import, then started
// again: nothing is lost and nothing arrives twice. The program runs as a
// process of its own: this test program started again with the one test
// below that plays the program, so it can be killed with SIGKILL.

#include "fault_store.h"

#include "ui/dialogs.h"

#include <QFile>
#include <QTimer>

#include <csignal>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

extern char** environ;

namespace {

using namespace faulttest;
using testsupport::waitFor;

const char* const kChildFolder = "QS_KILLED_PROGRAM_FOLDER";

// The program as main() runs it, in the folder the parent prepared; it
// says "ready" once both windows are up and runs until it is killed.
TEST(KilledProgram, RunsAsTheProgram)
{
    const QString folder = qEnvironmentVariable(kChildFolder);
    if (folder.isEmpty())
        GTEST_SKIP() << "plays the program for ProgramKilledInTheMiddleOfAnImport only";
    common::setProgramFolder(folder);
    app::setInstanceMarkerPath(folder + "/instance.lock");
    testsupport::ScopedRecordingDialogs dialogs;
    progtest::RecordingEnder ender;
    auto windows = app::createWindows();
    app::showWindows(*windows);
    QFile ready(folder + "/ready");
    ASSERT_TRUE(ready.open(QIODevice::WriteOnly));
    ready.close();
    // Bounded like every wait: the parent kills it long before.
    QTimer::singleShot(180000, qApp, &QCoreApplication::quit);
    QCoreApplication::exec();
}

// A copy of the program started from this test program.
class ProgramProcess {
public:
    explicit ProgramProcess(const QString& folder) : folder_(folder)
    {
        QFile::remove(folder + "/ready");
        const QByteArray self = QFile::symLinkTarget("/proc/self/exe").toLocal8Bit();
        const QByteArray filter = "--gtest_filter=KilledProgram.RunsAsTheProgram";
        char* argv[] = {const_cast<char*>(self.constData()), const_cast<char*>(filter.constData()), nullptr};
        std::vector<QByteArray> env;
        for (char** e = environ; *e; ++e)
            env.emplace_back(*e);
        env.push_back(QByteArray(kChildFolder) + "=" + folder.toLocal8Bit());
        std::vector<char*> envp;
        for (QByteArray& e : env)
            envp.push_back(e.data());
        envp.push_back(nullptr);
        if (posix_spawn(&pid_, self.constData(), nullptr, nullptr, argv, envp.data()) != 0)
            pid_ = -1;
    }
    ~ProgramProcess() { kill(); }

    bool started() const { return pid_ > 0; }
    bool ready() { return waitFor([&] { return QFile::exists(folder_ + "/ready"); }, 60000); }
    void kill()
    {
        if (pid_ <= 0)
            return;
        ::kill(pid_, SIGKILL);
        ::waitpid(pid_, nullptr, 0);
        pid_ = -1;
    }

private:
    QString folder_;
    pid_t pid_ = -1;
};

TEST(FaultSuiteKilled, ProgramKilledInTheMiddleOfAnImportThenStartedAgain)
{
    FaultStore store(1);
    const QString folder = store.folder.dir.path();
    store.folder.writeIni("127.0.0.1", store.serverProxy.port(), store.store.db.name(), testsupport::testUser(),
                          "unused");
    // Enough rows that the import is still busy when the kill comes.
    store.ringUp(1, 150);

    {
        ProgramProcess first(folder);
        ASSERT_TRUE(first.started());
        ASSERT_TRUE(first.ready());
        store.request(1);
        store.notifyVenda();
        ASSERT_TRUE(waitFor([&] { return store.store.db.scalar("SELECT count(*) FROM TRANSITENS").toInt() > 0; },
                            120000));
        first.kill();
    }
    ASSERT_FALSE(store.waiting(1).isEmpty()) << "killed after the import ended: nothing was interrupted";

    ProgramProcess second(folder);
    ASSERT_TRUE(second.started());
    ASSERT_TRUE(second.ready());
    store.ringUp(1);
    store.request(1);
    store.notifyVenda();
    EXPECT_TRUE(waitFor([&] { return store.everySaleArrived(); }, 180000)) << store.report();
}

} // namespace
