#pragma once
// Shared by the window tests: the application object, a program folder of
// the test's own (Quibor.ini, log folder, single-instance mark), a server
// database with the rows a start needs, and a recorder for the exit button.

#include "platform/instance_marker.h"
#include "platform/process_ender.h"
#include "common/log_path.h"
#include "support/recording_dialogs.h"
#include "support/silent_listener.h"
#include "support/test_db.h"
#include "support/wait.h"

#include <QApplication>
#include <QDir>
#include <QFile>
#include <QImage>
#include <QPixmap>
#include <QTemporaryDir>
#include <QWidget>

#include <gtest/gtest.h>

namespace progtest {

using testsupport::Template;
using testsupport::TestDatabase;

// The test programs' entry creates the one application object.
inline QApplication& app()
{
    return *qobject_cast<QApplication*>(QCoreApplication::instance());
}

// Every character's code raised by 3, as the installer stores credentials.
inline QString encoded(const QString& text)
{
    QString out = text;
    for (QChar& c : out)
        c = QChar(char16_t(c.unicode() + 3));
    return out;
}

inline QString quoted(const QString& s)
{
    QString out = s;
    return "'" + out.replace("'", "''") + "'";
}

// The program's folder, INI file and instance mark, private to the test.
class ProgramFolder {
public:
    ProgramFolder()
    {
        app();
        common::setProgramFolder(dir.path());
        app::setInstanceMarkerPath(dir.filePath("instance.lock"));
        QDir(dir.path()).mkdir("QuiborSync_Logs");
    }
    ~ProgramFolder()
    {
        common::setProgramFolder(QString());
        app::setInstanceMarkerPath(QString());
    }

    void writeRawIni(const QByteArray& bytes) const
    {
        QFile f(dir.filePath("Quibor.ini"));
        f.open(QIODevice::WriteOnly);
        f.write(bytes);
    }

    // Credentials stored encoded; "Password" must be non-empty for the INI
    // to be used, even for a role the cluster trusts.
    void writeIni(const QString& host, int port, const QString& base, const QString& user,
                  const QString& password) const
    {
        const QString text = QString("[Conex\u00e3o Postgres]\r\nServer Name=%1\r\nPorta=%2\r\nBase Name=%3\r\n"
                                     "User Name=%4\r\nPassword=%5\r\n")
                                 .arg(host)
                                 .arg(port)
                                 .arg(base, encoded(user), encoded(password));
        writeRawIni(text.toUtf8());
    }

    QTemporaryDir dir;
};

// A terminal row of LICENCA_IF; reachable means the test cluster's address.
struct Terminal {
    QString num;
    bool reachable = true;
    QString status = "A";
    int ecfStatus = 0;
    int importacao = 0;
    QString dtSync = "current_date";
    QString banco{}; // defaults to the server database itself
};

// A server database ready for a start: one CONFIG row, one ABERTURA row,
// active companies 1 and 3 (3 is current) and an inactive 5.
class Store {
public:
    // On the shared test cluster, or on `cluster` (which holds the templates).
    explicit Store(testsupport::ClusterAddress cluster = testsupport::sharedCluster())
        : db(Template::Server, std::move(cluster))
    {
        db.exec("INSERT INTO CONFIG (VERSAO_SYNC, CONSISTIR_PDV, DIAS_CONSISTIR, TIMEOUT_ECFS) "
                "VALUES (NULL, 'False', 0, 300)");
        db.exec("INSERT INTO ABERTURA (DT_MOVIMENTO, RESET) VALUES (current_date, 7)");
        db.exec("INSERT INTO EMPRESAS (EMPRESA_ID, RAZAO_SOCIAL, STATUS) VALUES "
                "(1, 'Um', 'A'), (3, 'Tres', 'A'), (5, 'Cinco', 'D')");
    }

    void add(const Terminal& t) const
    {
        const QString port = t.reachable ? QString::number(testsupport::testPort())
                                         : QString::number(testsupport::refusedPort());
        db.exec(QString("INSERT INTO LICENCA_IF (NUM_ECF, BANCO, USUARIO, SENHA, IP, PORTA, STATUS, ECF_STATUS, "
                        "IMPORTACAO, DT_SYNC, HR_SYNC) VALUES (%1, %2, %3, %4, %5, %6, %7, %8, %9, %10, '10:15:30')")
                    .arg(quoted(t.num), quoted(t.banco.isEmpty() ? db.name() : t.banco),
                         quoted(testsupport::testUser()), quoted(testsupport::testPassword()),
                         quoted(testsupport::testHost()), quoted(port), quoted(t.status))
                    .arg(t.ecfStatus)
                    .arg(t.importacao)
                    .arg(t.dtSync));
    }

    void useIni(const ProgramFolder& folder) const
    {
        folder.writeIni(testsupport::testHost(), testsupport::testPort(), db.name(), testsupport::testUser(),
                        "unused");
    }

    TestDatabase db;
};

// Counts the exit button's "end every copy" instead of ending the tests.
class RecordingEnder {
public:
    RecordingEnder()
    {
        app::setProcessEnder([this] { ++calls; });
    }
    ~RecordingEnder() { app::setProcessEnder({}); }
    int calls = 0;
};

// Saves what the window looks like under $QS_ARTIFACTS, when set.
inline void saveScreenshot(QWidget& window, const QString& name)
{
    const QString dir = qEnvironmentVariable("QS_ARTIFACTS");
    if (dir.isEmpty())
        return;
    QDir().mkpath(dir);
    const QPixmap shot = window.grab();
    EXPECT_FALSE(shot.isNull());
    EXPECT_TRUE(shot.save(QDir(dir).filePath(name + ".png")));
}

} // namespace progtest
