// The program killed outright in the middle of an import, then started
// again: nothing is lost and nothing arrives twice. The program runs as a
// process of its own (the helper killed_program), so it can be killed with
// SIGKILL.

#include "fault_store.h"

#include <QFile>

#include <csignal>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

extern char** environ;

namespace {

using namespace faulttest;
using testsupport::waitFor;

// A copy of the program, started by the helper built beside this test.
class ProgramProcess {
public:
    explicit ProgramProcess(const QString& folder) : folder_(folder)
    {
        QFile::remove(folder + "/ready");
        const QByteArray program = QS_KILLED_PROGRAM;
        const QByteArray where = folder.toLocal8Bit();
        char* argv[] = {const_cast<char*>(program.constData()), const_cast<char*>(where.constData()), nullptr};
        if (posix_spawn(&pid_, program.constData(), nullptr, nullptr, argv, environ) != 0)
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
