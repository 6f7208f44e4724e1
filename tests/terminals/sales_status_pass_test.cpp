#include "common/event_pump.h"
#include "db/connection.h"
#include "db/errors.h"
#include "db/link_failure.h"
#include "db/query.h"
#include "support/recording_dialogs.h"
#include "connect_log.h"
#include "terminal_fixture.h"
#include "terminals/licenca_row.h"
#include "terminals/sales_status_pass.h"
#include "terminals/status_line.h"

#include <gtest/gtest.h>

using namespace terminals;
using namespace termtest;

namespace {

// The sales window's parts the pass borrows.
struct SalesWindowParts {
    explicit SalesWindowParts(const Server& s) : server(s.db.params()), list(server), config(server)
    {
        app();
        server.open();
        config.setText("SELECT * FROM CONFIG");
        config.prepare();
        config.open();
    }

    SalesStatusPass pass() { return SalesStatusPass({server, list, config, view}); }

    db::Connection server;
    db::Query list;   // QList_Pdv
    db::Query config; // the window's CONFIG view
    RecordingLines view;
};

QString line(const char* color, const QString& prefix)
{
    LicencaRow r;
    r.dtSync = QDate::currentDate();
    r.hrSync = QTime(10, 15, 30);
    return QString(color) + " " + statusLine(prefix, r);
}

struct PumpCounter {
    PumpCounter() { common::setEventPump([this] { ++turns; }); }
    ~PumpCounter() { common::setEventPump({}); }
    int turns = 0;
};

} // namespace

TEST(SalesStatusPass, LinesAndMarksInNumEcfOrder)
{
    Server s;
    testsupport::SilentListener silent;
    const QString sp = silent.portText();
    s.add(Row("001").withPort(sp).withEcfStatus(1));  // silent, already marked: nothing at all
    s.add(Row("002").withPort(sp).withEcfStatus(1));  // silent, already marked: line and mark again
    s.add(Row("003"));  // answers
    s.add(Row("005").withPort("54x"));  // port not a number: silent
    s.add(Row("007").withPort(sp).withStatus("D"));  // inactive: not in the list
    s.add(Row("034").withPort(sp));  // no slot: probed, not shown, not marked
    SalesWindowParts w(s);
    testsupport::ScopedRecordingDialogs dialogs;
    PumpCounter pump;
    SalesStatusPass pass = w.pass();

    pass.VerificarConexao();

    EXPECT_EQ(w.view.lines, QStringList({line("R", "Ecf02 - OFF - "), line("G", "Ecf03 - ON - "),
                                         line("R", "Ecf05 - OFF - ")}));
    EXPECT_EQ(s.updated(), QStringList({"002", "005"}));
    EXPECT_EQ(s.states(), QStringList({"001|A|1", "002|A|1", "003|A|0", "005|A|1", "007|D|0", "034|A|0"}));
    EXPECT_EQ(w.view.clears, 1);
    EXPECT_EQ(w.view.reloads, 1);
    EXPECT_EQ(pump.turns, 5) << "events run once after each active row";
    EXPECT_TRUE(pass.Servidor_Online());
    EXPECT_TRUE(dialogs->shown.empty());
    // QList_Pdv now holds the active list the grid shows.
    EXPECT_EQ(w.list.recordCount(), 5);
}

TEST(SalesStatusPass, TerminalOneIsShownAndMarkedOnlyWhileUnmarked)
{
    for (int ecfStatus : {0, 1}) {
        SCOPED_TRACE(ecfStatus);
        Server s;
        testsupport::SilentListener silent;
        s.add(Row("001").withPort(silent.portText()).withEcfStatus(ecfStatus));
        SalesWindowParts w(s);
        testsupport::ScopedRecordingDialogs dialogs;
        SalesStatusPass pass = w.pass();
        pass.VerificarConexao();
        EXPECT_EQ(w.view.lines, ecfStatus == 0 ? QStringList{line("R", "Ecf01 - OFF - ")} : QStringList{});
        EXPECT_EQ(s.updated(), ecfStatus == 0 ? QStringList{"001"} : QStringList{});
    }
}

TEST(SalesStatusPass, NonNumericNumEcfEndsThePassWithItsBox)
{
    Server s;
    testsupport::SilentListener silent;
    s.add(Row("001").withPort(silent.portText()));
    s.add(Row("A1"));
    s.add(Row("B2").withPort(silent.portText()));
    SalesWindowParts w(s);
    testsupport::ScopedRecordingDialogs dialogs;
    SalesStatusPass pass = w.pass();

    pass.VerificarConexao();

    EXPECT_EQ(w.view.lines, QStringList{line("R", "Ecf01 - OFF - ")});
    EXPECT_EQ(s.updated(), QStringList{"001"});
    ASSERT_EQ(dialogs->shown.size(), 2u);
    EXPECT_EQ(dialogs->shown[0].kind, "error");
    EXPECT_TRUE(dialogs->shown[0].text.startsWith("Erro Verifica Conexao:\rErro Verifica conexao: '"))
        << dialogs->shown[0].text.toStdString();
    // The server probe was skipped, so the server still counts as off line.
    EXPECT_EQ(dialogs->shown[1].kind, "plain");
    EXPECT_EQ(dialogs->shown[1].text, "Servidor Fora do Ar!");
    EXPECT_FALSE(pass.Servidor_Online());
}

TEST(SalesStatusPass, ServerOffLineAndBackAgain)
{
    Server s;
    s.add(Row("003"));
    SalesWindowParts w(s);
    testsupport::SilentListener silent;
    testsupport::ScopedRecordingDialogs dialogs;
    SalesStatusPass pass = w.pass();

    // The open link stays as it is; only the probe follows the lines to the
    // silent port.
    const db::ConnectionParams real = w.server.params();
    w.server.params() = testsupport::withPort(real, silent.portText());
    // The import run that called the pass ends with it, said in its pane:
    // nobody is there to click a box.
    try {
        pass.VerificarConexao();
        ADD_FAILURE() << "a server found away ends the run";
    } catch (const std::exception& e) {
        EXPECT_TRUE(db::isLinkFailure(e));
        EXPECT_EQ(db::failureReason(e), "Servidor Fora do Ar!");
    }
    EXPECT_FALSE(pass.Servidor_Online());
    EXPECT_TRUE(dialogs->shown.empty()) << dialogs->texts().join(" / ").toStdString();
    EXPECT_EQ(w.view.lines, QStringList{line("G", "Ecf03 - ON - ")}) << "the terminals' lines are drawn first";

    w.server.params() = real;
    dialogs->shown.clear();
    pass.VerificarConexao();
    EXPECT_TRUE(pass.Servidor_Online());
    EXPECT_TRUE(w.server.connected());
    EXPECT_TRUE(dialogs->shown.empty());
}

TEST(SalesStatusPass, ListFailureIsNotCaught)
{
    Server s;
    SalesWindowParts w(s);
    testsupport::ScopedRecordingDialogs dialogs;
    SalesStatusPass pass = w.pass();
    s.db.exec("DROP TABLE LICENCA_IF");
    EXPECT_THROW(pass.VerificarConexao(), db::DatabaseError);
    EXPECT_TRUE(dialogs->shown.empty());
}

TEST(SalesStatusPass, TimeOutComesFromConfigWithDefaultOf100Ms)
{
    using Outcome = termtest::ConnectLog::Event::Outcome;
    const struct {
        int configured;
        int expectMs;
    } cases[] = {{0, 100}, {-5, 100}, {400, 400}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.configured);
        Server s;
        testsupport::SilentListener silent;
        s.add(Row("002").withPort(silent.portText()));
        s.setTimeout(c.configured);
        SalesWindowParts w(s);
        testsupport::ScopedRecordingDialogs dialogs;
        SalesStatusPass pass = w.pass();
        termtest::ConnectLog log;
        pass.VerificarConexao();
        EXPECT_EQ(log.passTimeouts(), std::vector<int>{c.expectMs});
        EXPECT_EQ(log.ended(Outcome::TimedOut), 1);
    }
}

// One pass over 33 silent terminals and the server: every connect under way
// before the first is given up, so the pass costs one time-out, not 33.
TEST(SalesStatusPass, ThirtyThreeSilentTerminalsAreWaitedForTogether)
{
    using Outcome = termtest::ConnectLog::Event::Outcome;
    Server s;
    testsupport::SilentListener silent;
    for (int n = 1; n <= 33; ++n)
        s.add(Row(QString("%1").arg(n, 3, 10, QChar('0'))).withPort(silent.portText()));
    SalesWindowParts w(s);
    testsupport::ScopedRecordingDialogs dialogs;
    SalesStatusPass pass = w.pass();

    termtest::ConnectLog log;
    pass.VerificarConexao();

    EXPECT_EQ(w.view.lines.size(), 33);
    EXPECT_EQ(s.updated().size(), 33);
    EXPECT_EQ(log.passTimeouts().size(), 1u);
    EXPECT_EQ(log.started(), 34);
    EXPECT_EQ(log.ended(Outcome::TimedOut), 33);
    EXPECT_EQ(log.ended(Outcome::Reached), 1) << "the server";
    EXPECT_TRUE(log.allStartedBeforeTheFirstTimedOut());
}
