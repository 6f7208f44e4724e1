// The program keeps its promises when the store's network and databases
// misbehave. Each case ends the same way: every sale rung up is on the
// server exactly once with all its parts, no terminal row stays at 1, and
// the program serves the next notification.

#include "fault_store.h"

#include "db/link_bounds.h"
#include "db/listener.h"
#include "db/query.h"
#include "support/bare_pg.h"
#include "support/loop_gaps.h"
#include "support/private_cluster.h"
#include "ui/status_pane.h"

#include <QSignalSpy>
#include <gtest/gtest.h>

namespace {

using namespace faulttest;
using testsupport::waitFor;

// Imports through relays and reconnects take a few seconds each.
constexpr int kServedMs = 60000;

class FaultSuite : public ::testing::Test {
protected:
    // After the fault: one more sale on every terminal, its request and a
    // "venda"; everything must arrive, the leftovers of the fault included.
    void expectTheNextNotificationServesEverything()
    {
        // A catch-up held back during the fault's import runs after it; a
        // "venda" raised while that run starts would find imports busy.
        ASSERT_TRUE(waitFor([&] { return store_->salesWindow().runsSettled(); }, kServedMs)) << store_->report();
        for (int n = 1; n <= static_cast<int>(store_->pdvs.size()); ++n) {
            store_->ringUp(n);
            store_->request(n);
        }
        store_->notifyVenda();
        EXPECT_TRUE(waitFor([&] { return store_->everySaleArrived(); }, kServedMs)) << store_->report();
    }

    // The server's count of a table, read straight from the cluster.
    int serverCount(const QString& table) { return store_->peek(store_->store.db, "SELECT count(*) FROM " + table).toInt(); }

    // MemoPdv2's lines that say a terminal was skipped.
    QStringList skippedLines()
    {
        QStringList out;
        for (const ui::StatusPane::Line& line :
             store_->salesWindow().findChild<ui::StatusPane*>("MemoPdv2")->lines())
            if (line.text.contains("caixa ignorado"))
                out << line.text;
        return out;
    }

    // MemoPdv2's lines that say the server went away during a run.
    QStringList serverLostLines()
    {
        QStringList out;
        for (const ui::StatusPane::Line& line :
             store_->salesWindow().findChild<ui::StatusPane*>("MemoPdv2")->lines())
            if (line.text.startsWith("Servidor: importa\u00e7\u00e3o interrompida - "))
                out << line.text;
        return out;
    }

    // The longest time the windows may go without an event-loop turn: a
    // store's back office must never show "not responding". Every bound the
    // cases reach (a lock, a silent link) is longer, so a wait that blocks
    // fails. Time the machine gave to other programs meanwhile is not
    // counted (support/loop_gaps.h).
    static constexpr double kLongestGapMs = testsupport::kLongestTurnGapMs;

    std::unique_ptr<FaultStore> store_;
};

// Shorter than the program's own, so a case costs seconds, not minutes.
class ShortBounds {
public:
    ShortBounds() : before_(db::linkBounds())
    {
        db::LinkBounds bounds = before_;
        bounds.terminalAnswer = std::chrono::milliseconds(1500);
        bounds.serverAnswer = std::chrono::milliseconds(2500);
        bounds.connect = std::chrono::seconds(2);
        db::setLinkBounds(bounds);
    }
    ~ShortBounds() { db::setLinkBounds(before_); }

private:
    db::LinkBounds before_;
};

// The cases that time the event loop's turns. They run with no other test
// beside them; the rest of the suite runs beside the others.
class FaultSuiteTimed : public FaultSuite {};

TEST_F(FaultSuite, ServerRestartedInTheMiddleOfAnImport)
{
    // Down while rows of a table are on their way, up again some turns
    // later: a blip the reconnect rides over, and a restart long enough to
    // fail statements and leave rows for the next run.
    struct Case {
        const char* table;
        int turnsDown;
    };
    for (const Case c : {Case{"TRANSITENS", 20}, Case{"TRANSACOES", 400}}) {
        SCOPED_TRACE(std::string(c.table) + " down for " + std::to_string(c.turnsDown) + " turns");
        store_ = std::make_unique<FaultStore>(2);
        store_->start();
        store_->ringUp(1, 3);
        store_->ringUp(2, 3);

        int turns = 0;
        FaultAt fault([&] { return serverCount(c.table) >= 1; },
                      [&] { store_->serverProxy.setMode(TcpProxy::Mode::Refuse); },
                      [&] { return ++turns == c.turnsDown; },
                      [&] { store_->serverProxy.setMode(TcpProxy::Mode::Forward); });
        store_->request(1);
        store_->request(2);
        store_->notifyVenda();
        // A run that meets the lost link ends there (and turns no more):
        // the server is back at the latest once it has ended.
        ASSERT_TRUE(waitFor([&] { return fault.struck; }, kServedMs)) << store_->report();
        ASSERT_TRUE(waitFor([&] { return fault.healed || store_->salesWindow().flags().Importacao_Livre; },
                            kServedMs));
        fault.healNow();
        ASSERT_TRUE(waitFor([&] { return store_->salesWindow().flags().Importacao_Livre; }, kServedMs));
        common::setEventPump({});

        expectTheNextNotificationServesEverything();
        EXPECT_TRUE(store_->dialogs->shown.empty()) << store_->dialogs->texts().join(" / ").toStdString();
        store_.reset();
    }
}

TEST_F(FaultSuite, ServerClusterStoppedInImmediateModeInTheMiddleOfALargeImport)
{
    // A power cut or a reboot of the server's machine: the server itself
    // goes, in the middle of terminal 2's sales, and comes back seconds
    // later. Nobody is there to click a box.
    testsupport::PrivateCluster cluster;
    constexpr int kTerminals = 4;
    constexpr int kSalesEach = 250;
    store_ = std::make_unique<FaultStore>(kTerminals, cluster.address());
    store_->start();
    for (int n = 1; n <= kTerminals; ++n) {
        store_->ringUp(n, kSalesEach);
        store_->request(n);
    }

    int turns = 0;
    FaultAt fault([&] { return ++turns % 10 == 0 && serverCount("TRANSACOES") >= kSalesEach * 3 / 2; },
                  [&] { cluster.stopImmediately(); });
    store_->notifyVenda();
    ASSERT_TRUE(waitFor([&] { return fault.struck; }, 4 * kServedMs)) << store_->report();
    // The run ends by itself while the server is still away.
    ASSERT_TRUE(waitFor([&] { return store_->salesWindow().flags().Importacao_Livre; }, kServedMs));
    common::setEventPump({});
    EXPECT_TRUE(store_->dialogs->shown.empty()) << store_->dialogs->texts().join(" / ").toStdString();
    const QStringList lost = serverLostLines();
    EXPECT_EQ(lost.size(), 1) << lost.join(" / ").toStdString();
    // Terminal 1 was done; the others keep their rows for the next run.
    EXPECT_TRUE(store_->waiting(1).isEmpty()) << store_->report();
    EXPECT_FALSE(store_->waiting(2).isEmpty());
    for (int n = 3; n <= kTerminals; ++n)
        for (const QString& row : store_->waiting(n))
            EXPECT_TRUE(row.endsWith("|0")) << n << ": " << row.toStdString();

    // Back once the program has tried the server again and been refused.
    const int triedBefore = store_->serverProxy.accepted();
    ASSERT_TRUE(waitFor([&] { return store_->serverProxy.accepted() > triedBefore; }, kServedMs));
    cluster.start();

    expectTheNextNotificationServesEverything();
    EXPECT_TRUE(store_->dialogs->shown.empty()) << store_->dialogs->texts().join(" / ").toStdString();
}

TEST_F(FaultSuite, TerminalStoppedInTheMiddleOfACopyAndStartedAgain)
{
    store_ = std::make_unique<FaultStore>(2);
    store_->start();
    store_->ringUp(1, 3);
    store_->ringUp(2, 2);

    FaultAt fault([&] { return serverCount("TRANSITENS") >= 1; },
                  [&] { store_->proxy(1).setMode(TcpProxy::Mode::Refuse); });
    store_->request(1);
    store_->request(2);
    store_->notifyVenda();
    ASSERT_TRUE(waitFor([&] { return fault.struck; }, kServedMs)) << store_->report();
    // The other terminal is served in the same run.
    ASSERT_TRUE(waitFor([&] { return store_->waiting(2).isEmpty(); }, kServedMs)) << store_->report();
    ASSERT_TRUE(waitFor([&] { return store_->salesWindow().flags().Importacao_Livre; }, kServedMs));
    EXPECT_FALSE(store_->waiting(1).isEmpty()) << "the stop left work for later";

    store_->proxy(1).setMode(TcpProxy::Mode::Forward);
    expectTheNextNotificationServesEverything();
}

TEST_F(FaultSuite, ATerminalThatAcceptsButNeverAnswersAmongLiveOnes)
{
    store_ = std::make_unique<FaultStore>(3);
    store_->proxy(2).setMode(TcpProxy::Mode::Stall);
    store_->start();
    for (int n = 1; n <= 3; ++n) {
        store_->ringUp(n, 2);
        store_->request(n);
    }
    store_->notifyVenda();

    // The live terminals are served; the silent one costs its time-out and
    // keeps its rows untouched for a later run.
    ASSERT_TRUE(waitFor([&] { return store_->waiting(1).isEmpty() && store_->waiting(3).isEmpty(); }, kServedMs))
        << store_->report();
    ASSERT_TRUE(waitFor([&] { return store_->salesWindow().flags().Importacao_Livre; }, kServedMs));
    for (const QString& row : store_->waiting(2))
        EXPECT_TRUE(row.endsWith("|0")) << row.toStdString();

    store_->proxy(2).setMode(TcpProxy::Mode::Forward);
    expectTheNextNotificationServesEverything();
}

TEST_F(FaultSuite, SalesRungUpWhileTheServerLinkIsDownArriveWithoutANewNotification)
{
    store_ = std::make_unique<FaultStore>(2);
    store_->start();

    const int linksBefore = store_->serverProxy.accepted();
    store_->serverProxy.setMode(TcpProxy::Mode::Refuse);
    store_->ringUp(1, 2);
    store_->ringUp(2, 1);
    store_->request(1);
    store_->request(2);
    store_->notifyVenda(); // nobody hears it
    // Both windows have noticed the lost link (each tried a new one, refused)
    // before it comes back.
    ASSERT_TRUE(waitFor([&] { return store_->serverProxy.accepted() >= linksBefore + 2; }, kServedMs));
    store_->serverProxy.setMode(TcpProxy::Mode::Forward);

    EXPECT_TRUE(waitFor([&] { return store_->everySaleArrived(); }, kServedMs)) << store_->report();
    expectTheNextNotificationServesEverything();
}

TEST_F(FaultSuite, TheUpdateWindowsCatchUpLeavesTheSalesRequestsToTheSalesWindow)
{
    store_ = std::make_unique<FaultStore>(1);
    store_->start();
    // A request whose notification was lost, and only the update window's
    // link drops: its handler clears every request, so the sales window
    // must serve its own first.
    store_->ringUp(1, 2);
    store_->request(1);
    const qint64 pid = [&] {
        db::Query q(store_->windows->update->server());
        q.setText("SELECT pg_backend_pid() AS PID");
        q.open();
        return q.field("PID").asInteger();
    }();
    testsupport::execAdmin(QString("SELECT pg_terminate_backend(%1)").arg(pid));

    EXPECT_TRUE(waitFor([&] { return store_->everySaleArrived(); }, kServedMs)) << store_->report();
    expectTheNextNotificationServesEverything();
}

TEST_F(FaultSuiteTimed, ATillHoldingALockOnItsSalesDoesNotHoldAnotherTillsSale)
{
    store_ = std::make_unique<FaultStore>(2);
    store_->start();
    store_->ringUp(1, 2);
    store_->ringUp(2, 2);
    // The till's own software keeps a transaction open on its sales: reads
    // go on, writes wait for its end.
    testsupport::PgConn till = testsupport::connectBare(store_->pdv(1).name());
    testsupport::PgResult(PQexec(till.get(), "BEGIN"));
    testsupport::PgResult(PQexec(till.get(), "LOCK TABLE TRANSACOES IN EXCLUSIVE MODE"));

    store_->request(1);
    store_->request(2);
    store_->notifyVenda();
    testsupport::LoopGapMeter gaps;
    ASSERT_TRUE(waitFor([&] { return store_->waiting(2).isEmpty(); }, kServedMs)) << store_->report();
    ASSERT_TRUE(waitFor([&] { return store_->salesWindow().flags().Importacao_Livre; }, kServedMs));
    gaps.stop();
    EXPECT_LT(gaps.longestMs(), kLongestGapMs) << "on the wall clock " << gaps.longestWallMs() << " ms";

    // The held till is skipped, said once, its rows untouched for later.
    const QStringList skipped = skippedLines();
    ASSERT_EQ(skipped.size(), 1) << skipped.join(" / ").toStdString();
    EXPECT_TRUE(skipped[0].startsWith("Ecf01 - Importar Vendas: caixa ignorado - ")) << skipped[0].toStdString();
    EXPECT_TRUE(skipped[0].contains("lock")) << skipped[0].toStdString();
    for (const QString& row : store_->waiting(1))
        EXPECT_TRUE(row.endsWith("|0")) << row.toStdString();

    testsupport::PgResult(PQexec(till.get(), "COMMIT"));
    expectTheNextNotificationServesEverything();
}

TEST_F(FaultSuiteTimed, ALinkThatGoesSilentInTheMiddleOfAnImport)
{
    // Packets dropped, not refused: the relay stops forwarding and closes
    // nothing. The statement waiting on it is given up at its bound, the
    // windows turning all along.
    ShortBounds bounds;
    struct Case {
        const char* link;
        bool server;
    };
    for (const Case c : {Case{"terminal", false}, Case{"server", true}}) {
        SCOPED_TRACE(c.link);
        store_ = std::make_unique<FaultStore>(2);
        store_->start();
        store_->ringUp(1, 3);
        store_->ringUp(2, 2);
        TcpProxy& silent = c.server ? store_->serverProxy : store_->proxy(1);

        // Heard again once the statement was given up.
        FaultAt fault([&] { return serverCount("TRANSITENS") >= 1; },
                      [&] { silent.setMode(TcpProxy::Mode::Stall); },
                      [&] {
                          return c.server ? !store_->salesWindow().server().linkUp() : !skippedLines().isEmpty();
                      },
                      [&] { silent.setMode(TcpProxy::Mode::Forward); });
        store_->request(1);
        store_->request(2);
        store_->notifyVenda();
        testsupport::LoopGapMeter gaps;
        ASSERT_TRUE(waitFor([&] { return fault.healed; }, kServedMs)) << store_->report();
        ASSERT_TRUE(waitFor([&] { return store_->salesWindow().flags().Importacao_Livre; }, kServedMs));
        gaps.stop();
        common::setEventPump({});
        EXPECT_LT(gaps.longestMs(), kLongestGapMs) << "on the wall clock " << gaps.longestWallMs() << " ms";
        if (!c.server) {
            // The other terminal was served in the same run.
            EXPECT_TRUE(store_->waiting(2).isEmpty()) << store_->report();
            const QStringList skipped = skippedLines();
            ASSERT_EQ(skipped.size(), 1);
            EXPECT_TRUE(skipped[0].startsWith("Ecf01 - Importar Vendas: caixa ignorado - No answer from the terminal"))
                << skipped[0].toStdString();
        }

        expectTheNextNotificationServesEverything();
        store_.reset();
    }
}

TEST_F(FaultSuiteTimed, EqualPaymentLinesImportedAgainWhileANotificationArrives)
{
    store_ = std::make_unique<FaultStore>(2);
    store_->start();
    store_->ringUp(1);
    // A second payment line of the same amount on the same receipt.
    const RungSale sale = store_->rung.front();
    store_->pdv(1).exec(QString("INSERT INTO FECHAMENTO_CUPOM (CUPOM, CAIXA_ID, OPERADOR_ID, FINALIZADORA_ID, "
                                "LEGENDA, DATA, HORA, VALOR_CUPOM, VALOR_FINALIZADORA, FISCAL, ENTIDADE_ID, "
                                "CLIENTE_ID) VALUES (lpad('%1', 8, '0'), 1, 3, 2, 'FIN 2', current_date, "
                                "'10:16:00', 60, 30, 'S', 0, 7)")
                            .arg(sale.numDoc()));
    store_->request(1);
    store_->notifyVenda();
    ASSERT_TRUE(waitFor([&] { return store_->waiting(1).isEmpty(); }, kServedMs)) << store_->report();
    ASSERT_TRUE(waitFor([&] { return store_->salesWindow().flags().Importacao_Livre; }, kServedMs));

    // Sent again (a till re-sends its receipt); while its lines are written,
    // "venda" arrives for a request raised meanwhile, between every row.
    store_->pdv(1).exec("UPDATE FECHAMENTO_CUPOM SET EXPORTADO = 0, LEGENDA = 'NOVA ' || LEGENDA");
    int notified = 0;
    common::setEventPump([&] {
        if (notified < 10
            && store_->peek(store_->pdv(1), "SELECT count(*) FROM FECHAMENTO_CUPOM WHERE EXPORTADO = 1") != "0") {
            ++notified;
            store_->peek(store_->store.db, "UPDATE LICENCA_IF SET IMPORTACAO = 1 WHERE NUM_ECF = '002'");
            if (db::Listener* listener = store_->salesWindow().findChild<db::Listener*>("EventoVendaPdv"))
                store_->salesWindow().EventoTransacaoPdvAlert(*listener, "venda", QString());
        }
        QCoreApplication::processEvents();
    });
    store_->request(1);
    store_->notifyVenda();
    testsupport::LoopGapMeter gaps;
    ASSERT_TRUE(waitFor([&] { return store_->waiting(1).isEmpty(); }, kServedMs)) << store_->report();
    ASSERT_TRUE(waitFor([&] { return store_->salesWindow().flags().Importacao_Livre; }, kServedMs));
    gaps.stop();
    common::setEventPump({});
    EXPECT_LT(gaps.longestMs(), kLongestGapMs) << "on the wall clock " << gaps.longestWallMs() << " ms";
    EXPECT_GT(notified, 1) << "the notification came between the lines";

    // Both lines updated in place, none doubled, and the nested handler
    // met no error (its standard error box would be recorded).
    EXPECT_EQ(store_->saleParts(sale), "1|2|1|2|1");
    EXPECT_EQ(store_->store.db.rows("SELECT LEGENDA FROM FECHAMENTO_CUPOM ORDER BY LEGENDA"),
              (QStringList{"NOVA FIN 1", "NOVA FIN 2"}));
    EXPECT_TRUE(store_->dialogs->shown.empty()) << store_->dialogs->texts().join(" / ").toStdString();
}

TEST_F(FaultSuiteTimed, ACatchUpArrivingDuringAnImportIsServedWhenTheImportEnds)
{
    store_ = std::make_unique<FaultStore>(2);
    store_->start();
    store_->ringUp(1, 3);
    store_->ringUp(2, 2);

    // The server restarts in the middle of terminal 1's import, and terminal
    // 2 asks meanwhile: its notification is lost with the link, so only the
    // catch-up after the reconnect can bring its sales.
    FaultAt fault([&] { return serverCount("TRANSITENS") >= 1; },
                  [&] {
                      store_->peek(store_->store.db, "UPDATE LICENCA_IF SET IMPORTACAO = 1 WHERE NUM_ECF = '002'");
                      store_->serverProxy.cut();
                  });
    store_->request(1);
    store_->notifyVenda();
    testsupport::LoopGapMeter gaps;
    ASSERT_TRUE(waitFor([&] { return fault.struck; }, kServedMs)) << store_->report();
    EXPECT_TRUE(waitFor([&] { return store_->waiting(2).isEmpty(); }, kServedMs)) << store_->report();
    ASSERT_TRUE(waitFor([&] { return store_->salesWindow().flags().Importacao_Livre; }, kServedMs));
    gaps.stop();
    common::setEventPump({});
    EXPECT_LT(gaps.longestMs(), kLongestGapMs) << "on the wall clock " << gaps.longestWallMs() << " ms";

    expectTheNextNotificationServesEverything();
}


// "clientes" follows the sales import in a store's day. A till's sales
// request raised just before it must outlive the customer load (which serves
// that till too), so the next "venda" still brings the till's sales.
TEST_F(FaultSuite, CustomerLoadLeavesAPendingSalesRequestForTheSalesWindow)
{
    store_ = std::make_unique<FaultStore>(2);
    store_->start();
    store_->store.db.exec("UPDATE CLIENTES SET DT_ATUALIZACAO = current_date");
    store_->ringUp(1, 2);
    store_->request(1);

    QSignalSpy handled(store_->windows->update.data(), &update::TFrmConversor::notificationHandled);
    store_->store.db.exec("NOTIFY clientes");
    ASSERT_TRUE(waitFor([&] { return !handled.isEmpty(); }, kServedMs)) << store_->report();
    // Both tills got the customer and are stamped; till 1's request stays.
    EXPECT_EQ(store_->peek(store_->pdv(1), "SELECT count(*) FROM CLIENTES"), "1");
    EXPECT_EQ(store_->peek(store_->pdv(2), "SELECT count(*) FROM CLIENTES"), "1");
    EXPECT_EQ(store_->store.db.rows("SELECT NUM_ECF, IMPORTACAO, DT_SYNC_CLI = current_date FROM LICENCA_IF "
                                    "ORDER BY 1"),
              (QStringList{"001|1|t", "002|0|t"}));

    store_->notifyVenda();
    EXPECT_TRUE(waitFor([&] { return store_->everySaleArrived(); }, kServedMs)) << store_->report();
    EXPECT_TRUE(store_->dialogs->shown.empty()) << store_->dialogs->texts().join(" / ").toStdString();
}

} // namespace
