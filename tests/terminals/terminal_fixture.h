#pragma once
// Shared by the terminal tests: a server database with a LICENCA_IF of
// chosen rows, a log of every UPDATE made on LICENCA_IF (to see which
// statements ran, not only what changed), and views that record what a pass
// shows.

#include "support/delay_proxy.h"
#include "support/silent_listener.h"
#include "support/tcp_proxy.h"
#include "support/test_db.h"
#include "terminals/status_view.h"

#include <QCoreApplication>
#include <QString>
#include <QStringList>
#include <chrono>
#include <map>
#include <unistd.h>

namespace termtest {

using testsupport::Template;
using testsupport::TestDatabase;

// One LICENCA_IF row; `dtSync` is SQL ("current_date", "current_date - 1",
// "NULL").
struct Row {
    explicit Row(QString n) : num(std::move(n)) {}
    Row& withPort(const QString& v) { port = v; return *this; }
    Row& withBanco(const QString& v) { banco = v; return *this; }
    Row& withUsuario(const QString& v) { usuario = v; return *this; }
    Row& withSenha(const QString& v) { senha = v; return *this; }
    Row& withStatus(const QString& v) { status = v; return *this; }
    Row& withEcfStatus(int v) { ecfStatus = v; return *this; }
    Row& withDtSync(const QString& v) { dtSync = v; return *this; }

    QString num;
    QString ip = testsupport::testHost();
    QString port = QString::number(testsupport::testPort());
    QString banco;
    QString usuario = testsupport::testUser();
    QString senha = testsupport::testPassword();
    QString status = "A";
    int ecfStatus = 0;
    QString dtSync = "current_date";
    QString hrSync = "'10:15:30'";
};

inline QString quoted(const QString& s)
{
    QString out = s;
    return "'" + out.replace("'", "''") + "'";
}

class Server {
public:
    Server() : db(Template::Server)
    {
        db.exec("INSERT INTO CONFIG (TIMEOUT_ECFS) VALUES (300)");
        db.exec("CREATE TABLE upd_log (seq serial, num_ecf text, status text, ecf_status integer)");
        db.exec("CREATE FUNCTION log_licenca() RETURNS trigger LANGUAGE plpgsql AS $$ BEGIN "
                "INSERT INTO upd_log (num_ecf, status, ecf_status) VALUES (NEW.num_ecf, NEW.status, NEW.ecf_status); "
                "RETURN NEW; END $$");
        db.exec("CREATE TRIGGER licenca_log AFTER UPDATE ON LICENCA_IF FOR EACH ROW EXECUTE FUNCTION log_licenca()");
    }

    void add(const Row& r) const
    {
        db.exec(QString("INSERT INTO LICENCA_IF (NUM_ECF, BANCO, USUARIO, SENHA, IP, PORTA, STATUS, ECF_STATUS, "
                        "DT_SYNC, HR_SYNC) VALUES (%1, %2, %3, %4, %5, %6, %7, %8, %9, %10)")
                    .arg(quoted(r.num), quoted(r.banco.isEmpty() ? db.name() : r.banco), quoted(r.usuario),
                         quoted(r.senha), quoted(r.ip), quoted(r.port), quoted(r.status))
                    .arg(r.ecfStatus)
                    .arg(r.dtSync, r.hrSync));
    }

    void setTimeout(int ms) const { db.exec(QString("UPDATE CONFIG SET TIMEOUT_ECFS = %1").arg(ms)); }

    // "num|status|ecf_status" of every row, in NUM_ECF order.
    QStringList states() const
    {
        return db.rows("SELECT num_ecf, status, ecf_status FROM licenca_if ORDER BY num_ecf");
    }
    // NUM_ECF of every updated row, in the order of the statements.
    QStringList updated() const { return db.rows("SELECT num_ecf FROM upd_log ORDER BY seq"); }

    TestDatabase db;
};

// A login role whose password the terminal rows get wrong.
class GuardedRole {
public:
    GuardedRole() : name(QString("qs_term_%1").arg(getpid()))
    {
        testsupport::execAdmin(QString("DROP ROLE IF EXISTS %1").arg(name));
        testsupport::execAdmin(QString("CREATE ROLE %1 LOGIN PASSWORD 'certa'").arg(name));
    }
    ~GuardedRole()
    {
        try {
            testsupport::execAdmin(QString("DROP ROLE IF EXISTS %1").arg(name));
        } catch (...) {
        }
    }
    QString name;
};

// Terminals whose slot connects end in another order than their rows, all
// of them answering the probe except the last two: a link that never speaks
// is listed before a quick one and after one (001, 007), a late one between
// quick ones (005), one that hangs up at the login (004), one silent and one
// refused at the probe (008, 009).
struct ConnectRace {
    explicit ConnectRace(const Server& s)
    {
        using testsupport::refusedPort;
        stalled.setMode(testsupport::TcpProxy::Mode::Stall);
        refusing.setMode(testsupport::TcpProxy::Mode::Refuse);
        s.add(Row("001").withPort(stalled.portText()));
        s.add(Row("002"));
        s.add(Row("004").withPort(refusing.portText()));
        s.add(Row("005").withPort(QString::number(late.port())));
        s.add(Row("006"));
        s.add(Row("007").withPort(stalled.portText()));
        s.add(Row("008").withPort(silent.portText()));
        s.add(Row("009").withPort(QString::number(refusedPort())));
    }

    testsupport::TcpProxy stalled;
    testsupport::TcpProxy refusing;
    // Each of the login's round trips takes 0.2 s: the quick slots are open
    // long before.
    testsupport::DelayProxy late{testsupport::testHost(), testsupport::testPort(), std::chrono::milliseconds(100)};
    testsupport::SilentListener silent;
};

struct RecordingLines : terminals::StatusLinesView {
    void clearStatusLines() override
    {
        lines.clear();
        ++clears;
    }
    void addStatusLine(const QString& text, terminals::LineColor color) override
    {
        lines << (color == terminals::LineColor::Green ? "G " : "R ") + text;
    }
    void terminalListReloaded() override { ++reloads; }

    QStringList lines;  // "G text" / "R text"
    int clears = 0;
    int reloads = 0;
};

struct RecordingBoxes : terminals::UpdateStatusView {
    void setTerminalBoxEnabled(int n, bool enabled) override { boxes[n] = enabled; }
    void statusPassFinished() override { ++finished; }

    std::map<int, bool> boxes;
    int finished = 0;
};

// Every test binary has an application object: the passes run on a UI
// thread and may let its events run.
inline QCoreApplication& app()
{
    return *QCoreApplication::instance();
}

} // namespace termtest
