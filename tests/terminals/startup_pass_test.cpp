#include "db/connection.h"
#include "db/errors.h"
#include "db/query.h"
#include "terminal_fixture.h"
#include "terminals/licenca_row.h"
#include "terminals/slot_set.h"
#include "terminals/startup_pass.h"
#include "terminals/status_line.h"
#include "terminals/status_writer.h"
#include "terminals/tcp_connect.h"

#include <QRegularExpression>
#include <memory>
#include <gtest/gtest.h>

using namespace terminals;
using namespace termtest;

namespace {

struct SalesWindowParts {
    explicit SalesWindowParts(const Server& s)
        : server(s.db.params()), list(server), config(server), slotSet(SlotSet::forSales())
    {
        app();
        server.open();
        config.setText("SELECT * FROM CONFIG");
        config.prepare();
        config.open();
    }

    void run() { passagemInicialTerminais({server, list, slotSet, config, view}); }

    db::Connection server;
    db::Query list;  // QList_Pdv
    db::Query config;
    SlotSet slotSet;
    RecordingLines view;
};

QString line(const char* color, const QString& prefix, const QDate& date)
{
    LicencaRow r;
    r.dtSync = date;
    r.hrSync = QTime(10, 15, 30);
    return QString(color) + " " + statusLine(prefix, r);
}

QStringList openSlots(const SlotSet& slotSet)
{
    QStringList out;
    for (int n = 1; n <= kSlotCount; ++n)
        if (slotSet.isOpen(n))
            out << slotSet.slotName(n);
    return out;
}

} // namespace

TEST(StartupPass, AnsweringTerminalsGetASlotAndAGreenLineRefusingOnesARedOneSilentOnesNone)
{
    Server s;
    TestDatabase terminal(Template::Terminal);
    testsupport::SilentListener silent;
    GuardedRole role;
    const QDate today = QDate::currentDate();
    const QDate yesterday = today.addDays(-1);
    s.add(Row("001").withBanco(terminal.name()));
    s.add(Row("002").withBanco(terminal.name()).withDtSync("current_date - 1"));  // green, then stale
    s.add(Row("005").withBanco(terminal.name()).withStatus("D"));  // answers again: active
    s.add(Row("006").withPort(silent.portText()));  // silent: inactive, no line
    s.add(Row("010").withBanco(terminal.name()).withUsuario(role.name).withSenha("errada"));
    s.add(Row("011").withBanco(terminal.name()).withUsuario(role.name).withSenha("errada"));
    s.add(Row("012").withBanco(terminal.name()).withDtSync("NULL"));  // never synchronised
    s.add(Row("034").withBanco(terminal.name()).withDtSync("current_date - 1"));
    s.add(Row("035").withBanco(terminal.name()));
    SalesWindowParts w(s);

    w.run();

    ASSERT_EQ(w.view.lines.size(), 6);
    EXPECT_EQ(w.view.lines[0], line("G", "Ecf01 - ON - ", today));
    EXPECT_EQ(w.view.lines[1], line("G", "Ecf02 - ON - ", yesterday));
    EXPECT_EQ(w.view.lines[2], line("G", "Ecf05 - ON - ", today));
    // Terminal 10 shows the time of the failed open, terminal 11 its last
    // synchronisation.
    EXPECT_TRUE(QRegularExpression("^R Ecf10 - OFF - \\d{1,2}:\\d{2}:\\d{2}$").match(w.view.lines[3]).hasMatch())
        << w.view.lines[3].toStdString();
    EXPECT_EQ(w.view.lines[4], line("R", "Ecf11 - OFF - ", today));
    EXPECT_TRUE(w.view.lines[5].startsWith("G Ecf12 - ON - ")) << w.view.lines[5].toStdString();

    EXPECT_EQ(openSlots(w.slotSet), QStringList({"Quibor_Pdv01", "Quibor_Pdv02", "Quibor_Pdv05", "Quibor_Pdv12"}));
    EXPECT_EQ(s.states(), QStringList({"001|A|0", "002|D|0", "005|A|0", "006|D|0", "010|A|0", "011|A|0", "012|D|0",
                                       "034|D|0", "035|A|0"}));
    // QList_Pdv keeps the list read before the stale marks.
    EXPECT_EQ(w.list.recordCount(), 8);
    EXPECT_EQ(w.view.reloads, 1);
}

// The slots connect together and end in their own order; lines, slots and
// marks still follow the rows.
TEST(StartupPass, SlotsConnectingTogetherKeepTheRowsOrderWhateverOrderTheyEndIn)
{
    Server s;
    ConnectRace race(s);
    SalesWindowParts w(s);

    w.run();

    const QDate today = QDate::currentDate();
    ASSERT_EQ(w.view.lines.size(), 6) << w.view.lines.join('\n').toStdString();
    EXPECT_EQ(w.view.lines[0], line("R", "Ecf01 - OFF - ", today));
    EXPECT_EQ(w.view.lines[1], line("G", "Ecf02 - ON - ", today));
    EXPECT_TRUE(QRegularExpression("^R Ecf04 - OFF - \\d{1,2}:\\d{2}:\\d{2}$").match(w.view.lines[2]).hasMatch())
        << w.view.lines[2].toStdString();
    EXPECT_EQ(w.view.lines[3], line("G", "Ecf05 - ON - ", today));
    EXPECT_EQ(w.view.lines[4], line("G", "Ecf06 - ON - ", today));
    EXPECT_EQ(w.view.lines[5], line("R", "Ecf07 - OFF - ", today));
    EXPECT_EQ(openSlots(w.slotSet), QStringList({"Quibor_Pdv02", "Quibor_Pdv05", "Quibor_Pdv06"}));
    EXPECT_GE(race.late.connections(), 1) << "the late terminal's slot went through its relay";
    EXPECT_EQ(s.states(), QStringList({"001|A|0", "002|A|0", "004|A|0", "005|A|0", "006|A|0", "007|A|0", "008|D|0",
                                       "009|D|0"}));
}

// Each slot logs in as soon as its terminal answers the first probe, while a
// silent terminal keeps that probe waiting. A row changed before the slots
// are opened logs in again on its new lines; one that then no longer
// answers is left closed.
TEST(StartupPass, SlotsLogInWhileASilentTerminalKeepsTheFirstProbeWaiting)
{
    Server s;
    TestDatabase other;
    testsupport::SilentListener silent;
    s.add(Row("001").withPort(silent.portText()));
    s.add(Row("002"));
    s.add(Row("003"));
    s.add(Row("005"));
    const QStringList everyLogin{"Quibor_Pdv02", "Quibor_Pdv03", "Quibor_Pdv05"};

    // The logins race the silent terminal's time-out. A machine too busy to
    // end them in time is given the pass again with a longer one; a pass
    // that does not log in while it probes never wins.
    std::unique_ptr<SalesWindowParts> w;
    QStringList openWhenTheSilentOneTimedOut;
    for (int timeoutMs = 2000; timeoutMs <= 16000 && openWhenTheSilentOneTimedOut != everyLogin; timeoutMs *= 2) {
        SCOPED_TRACE(timeoutMs);
        s.setTimeout(timeoutMs);
        s.db.exec(QString("UPDATE LICENCA_IF SET BANCO = %1, PORTA = '%2' WHERE NUM_ECF IN ('003', '005')")
                      .arg(quoted(s.db.name()))
                      .arg(testsupport::testPort()));
        w = std::make_unique<SalesWindowParts>(s);
        bool timedOut = false;
        openWhenTheSilentOneTimedOut.clear();
        const terminals::ConnectObserver previous
            = terminals::setConnectObserver([&](const terminals::ConnectEvent& e) {
                  if (timedOut || e.kind != terminals::ConnectEvent::Kind::Ended
                      || e.outcome != terminals::ConnectEvent::Outcome::TimedOut)
                      return;
                  timedOut = true;
                  openWhenTheSilentOneTimedOut = openSlots(w->slotSet);
                  s.db.exec("UPDATE LICENCA_IF SET BANCO = " + quoted(other.name()) + " WHERE NUM_ECF = '003'");
                  s.db.exec(QString("UPDATE LICENCA_IF SET PORTA = '%1' WHERE NUM_ECF = '005'")
                                .arg(testsupport::refusedPort()));
              });
        w->run();
        terminals::setConnectObserver(previous);
        ASSERT_TRUE(timedOut);
    }

    EXPECT_EQ(openWhenTheSilentOneTimedOut, everyLogin);
    EXPECT_EQ(openSlots(w->slotSet), QStringList({"Quibor_Pdv02", "Quibor_Pdv03"}));
    db::Query where(w->slotSet.slot(3));
    where.setText("SELECT current_database() AS D");
    where.open();
    EXPECT_EQ(where.field("D").asString(), other.name());
    ASSERT_EQ(w->view.lines.size(), 3) << w->view.lines.join('\n').toStdString();
    EXPECT_TRUE(w->view.lines[0].startsWith("G Ecf02 - ON - "));
    EXPECT_TRUE(w->view.lines[1].startsWith("G Ecf03 - ON - "));
    EXPECT_TRUE(w->view.lines[2].startsWith("R Ecf05 - OFF - "));
}

// A STATUS that cannot be written ends the pass before any slot is opened:
// the logins begun meanwhile are not kept.
TEST(StartupPass, AFailedStatusWriteLeavesEverySlotClosed)
{
    Server s;
    s.add(Row("002"));
    s.add(Row("003"));
    s.db.exec("CREATE FUNCTION refuse_003() RETURNS trigger LANGUAGE plpgsql AS $$ BEGIN "
              "RAISE EXCEPTION 'sem escrita'; END $$");
    s.db.exec("CREATE TRIGGER licenca_refuse BEFORE UPDATE ON LICENCA_IF FOR EACH ROW "
              "WHEN (OLD.num_ecf = '003') EXECUTE FUNCTION refuse_003()");
    SalesWindowParts w(s);

    EXPECT_THROW(w.run(), db::DatabaseError);

    EXPECT_EQ(openSlots(w.slotSet), QStringList());
    EXPECT_FALSE(w.slotSet.opening());
}

TEST(StartupPass, NonNumericNumEcfOfAnActiveTerminalEndsThePass)
{
    Server s;
    testsupport::SilentListener silent;
    s.add(Row("001").withDtSync("current_date - 1"));
    s.add(Row("A1").withDtSync("current_date - 1"));
    s.add(Row("B2").withPort(silent.portText()));  // silent: never converted
    s.add(Row("C3").withDtSync("current_date - 1"));
    SalesWindowParts w(s);

    EXPECT_THROW(w.run(), db::UsageError);

    EXPECT_EQ(w.view.lines.size(), 1);
    // 001 got its stale mark; A1 and C3 keep the "A" of the first round.
    EXPECT_EQ(s.states(), QStringList({"001|D|0", "A1|A|0", "B2|D|0", "C3|A|0"}));
}

TEST(StartupPass, SilentTerminalWithNonNumericNumberIsNoError)
{
    Server s;
    testsupport::SilentListener silent;
    s.add(Row("X9").withPort(silent.portText()));
    SalesWindowParts w(s);
    EXPECT_NO_THROW(w.run());
    EXPECT_EQ(s.states(), QStringList{"X9|D|0"});
}

TEST(GravarStatusTerminais, EveryTerminalInOrderWithTheTwoStatements)
{
    Server s;
    testsupport::SilentListener silent;
    s.add(Row("003").withPort(silent.portText()));
    s.add(Row("001").withStatus("D"));
    s.add(Row("002").withPort("x"));
    db::Connection server(s.db.params());
    server.open();

    gravarStatusTerminais(server, "SELECT * FROM LICENCA_IF ORDER BY NUM_ECF", 200);

    EXPECT_EQ(s.updated(), QStringList({"001", "002", "003"}));
    EXPECT_EQ(s.states(), QStringList({"001|A|0", "002|D|0", "003|D|0"}));
}
