// The sales window as the program creates it: notifications raised on the
// server, clicks on its real buttons, its flags and panes.

#include "support/program_fixture.h"

#include "app/startup.h"
#include "common/event_pump.h"
#include "common/scope_exit.h"
#include "db/connection.h"
#include "db/errors.h"
#include "db/listener.h"
#include "db/query.h"
#include "sales/carga_vendas.h"
#include "sales/sales_window.h"
#include "sales/venda_notification.h"
#include "support/bare_pg.h"
#include "update/update_window.h"

#include <QLabel>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QSignalSpy>
#include <QTest>
#include <QTimer>

namespace {

using namespace progtest;

const QString kRecusaSaida =
    QStringLiteral("Sistema processando vendas dos caixas n\u00e3o e poss\u00edvel sai do sistema.");
const QString kPerguntaSaida = QStringLiteral("Deseja realmente encerrar a aplica\u00e7\u00e3o?");

class SalesWindow : public ::testing::Test {
protected:
    // Starts the program against `store` and shows the sales window only, so
    // no status pass of the update window marks the terminals meanwhile.
    void start()
    {
        store.useIni(folder);
        windows = app::createWindows();
        sales().show();
        ASSERT_TRUE(dialogs->shown.empty()) << dialogs->texts().join(" / ").toStdString();
    }

    // One sale of customer 7 rung up on `pdv`, not yet imported.
    void ringUpSale(TestDatabase& pdv, int id = 1)
    {
        store.db.exec("INSERT INTO CLIENTES (CLIENTE_ID, NOME) SELECT 7, 'CLIENTE SETE' "
                      "WHERE NOT EXISTS (SELECT 1 FROM CLIENTES WHERE CLIENTE_ID = 7)");
        pdv.exec(QString("INSERT INTO TRANSACOES (TRANSACAO_ID, TRANSACAO_ORIGEM, BANCO_ID, NUM_DOC, DT_TRANS, "
                         "DT_MOVIMENTO, DT_ENT_SAI, MODELO, CONDUTA, CLIENTE_ID, VALOR, EMPRESA_ID, CONTA_ID, "
                         "FUNCIONARIO_ID, HORA, COND_PAGTO, ITENS, UNIDADES, CHAVE_NFE, EXPORTADO) VALUES (%1, %2, "
                         "1, '%3', current_date, current_date, current_date, '2D', '01', 7, 30, 1, 11, 21, "
                         "'10:15:00', 'A VISTA', 1, 1, 'CHAVE%1', 0)")
                     .arg(id)
                     .arg(500 + id)
                     .arg(56 + id));
    }

    sales::TFrmConversor_Vendas& sales() { return *windows->sales; }
    QPushButton* button(const char* name) { return sales().findChild<QPushButton*>(name); }
    QPlainTextEdit* pane(const char* name) { return sales().findChild<QPlainTextEdit*>(name); }
    void click(const char* name) { QTest::mouseClick(button(name), Qt::LeftButton); }

    QString importacao(const QString& num)
    {
        return store.db.scalar("SELECT importacao FROM licenca_if WHERE num_ecf = '" + num + "'");
    }

    ProgramFolder folder;
    testsupport::ScopedRecordingDialogs dialogs;
    RecordingEnder ender;
    Store store;
    std::unique_ptr<app::ProgramWindows> windows;
};

TEST_F(SalesWindow, VendaWhilePausedWithdrawsOnlyTheFirstRequest)
{
    store.add({.num = "003", .reachable = false});
    store.add({.num = "005", .reachable = false});
    start();
    store.db.exec("UPDATE LICENCA_IF SET IMPORTACAO = 1, ECF_STATUS = 0");

    click("Button3");
    ASSERT_FALSE(sales().flags().Importacao_Livre);
    store.db.exec("NOTIFY venda");

    ASSERT_TRUE(testsupport::waitFor([&] { return importacao("003") == "0"; }, testsupport::kWindowRunMs));
    EXPECT_EQ(importacao("005"), "1");
    // No import ran: its label would name the database.
    EXPECT_EQ(sales().findChild<QLabel*>("Label6")->text(), "");
}

TEST_F(SalesWindow, VendaRunsTheImportAndShowsTheSale)
{
    TestDatabase pdv(Template::Terminal);
    store.add({.num = "001", .banco = pdv.name()});
    ringUpSale(pdv);
    store.db.exec("UPDATE CONFIG SET CONSISTIR_PDV = 'True'");
    start();
    ASSERT_TRUE(sales().flags().Consistir_Pendente);
    store.db.exec("UPDATE LICENCA_IF SET IMPORTACAO = 1");

    store.db.exec("NOTIFY venda");

    ASSERT_TRUE(testsupport::waitFor([&] { return importacao("001") == "0"; }, testsupport::kWindowRunMs));
    ASSERT_TRUE(testsupport::waitFor([&] { return sales().flags().Importacao_Livre; }, testsupport::kWindowRunMs));
    EXPECT_EQ(pdv.scalar("SELECT exportado FROM transacoes"), "2");
    EXPECT_EQ(store.db.scalar("SELECT count(*) FROM transacoes"), "1");
    EXPECT_FALSE(pane("Memo2")->toPlainText().isEmpty());
    EXPECT_TRUE(sales().findChild<QLabel*>("Label6")->text().startsWith("Banco: " + store.db.name() + " - "));
    // The check preceded this first import only.
    EXPECT_FALSE(sales().flags().Consistir_Pendente);
    EXPECT_TRUE(sales().flags().Saida_Liberada);
    EXPECT_TRUE(dialogs->shown.empty()) << dialogs->texts().join(" / ").toStdString();
}

TEST_F(SalesWindow, VendaArrivingBeforeTheWindowShowsIsServedOnceItShows)
{
    TestDatabase pdv(Template::Terminal);
    store.add({.num = "001", .banco = pdv.name()});
    ringUpSale(pdv);
    store.useIni(folder);
    windows = app::createWindows();
    store.db.exec("UPDATE LICENCA_IF SET IMPORTACAO = 1");
    // As when the start-up's connects let the notification through early.
    auto* listener = sales().findChild<db::Listener*>("EventoVendaPdv");
    ASSERT_NE(listener, nullptr);
    sales().EventoTransacaoPdvAlert(*listener, "venda", QString());
    EXPECT_EQ(importacao("001"), "1") << "withdrawn before imports were free";

    sales().show();

    ASSERT_TRUE(testsupport::waitFor([&] { return importacao("001") == "0"; }, testsupport::kWindowRunMs)) << importacao("001").toStdString();
    ASSERT_TRUE(testsupport::waitFor([&] { return sales().flags().Importacao_Livre; }, testsupport::kWindowRunMs));
    EXPECT_EQ(pdv.scalar("SELECT exportado FROM transacoes"), "2");
    EXPECT_EQ(store.db.scalar("SELECT count(*) FROM transacoes"), "1");
}

// The server link mostly drops during an import, so a catch-up mostly
// arrives inside one: the sales listener's own, or the update window's,
// whose handler clears every request afterwards. The sale and the fiscal
// request raised meanwhile are served once the import ends.
TEST_F(SalesWindow, ACatchUpDuringAnImportServesTheRequestsAfterIt)
{
    TestDatabase importing(Template::Terminal);
    TestDatabase vendas(Template::Terminal);
    TestDatabase fiscal(Template::Terminal);
    store.add({.num = "001", .banco = importing.name()});
    store.add({.num = "002", .banco = vendas.name()});
    store.add({.num = "003", .banco = fiscal.name()});
    start();
    // The update window's catch-up needs its listener.
    windows->update->show();
    ASSERT_TRUE(testsupport::waitFor([&] { return windows->update->listenerActive(); }, testsupport::kWindowRunMs));

    struct Case {
        const char* listener;
        std::function<void()> catchUp;
    };
    const Case cases[] = {
        {"sales", [&] { sales().catchUpAfterOutage(); }},
        {"update", [&] { windows->update->catchUpAfterOutage(); }},
    };
    int round = 0;
    for (const Case& c : cases) {
        SCOPED_TRACE(c.listener);
        ++round;
        ringUpSale(importing, round);
        ringUpSale(vendas, 10 + round);
        fiscal.exec(QString("INSERT INTO REGISTRO_60A (DT_EMISSAO, NUM_SERIE, SIT_TRIBUTARIA, VALOR_TOTALIZADOR, "
                            "EXPORTADO) VALUES (DATE '2024-03-05' + %1, 'SN3', 'T1', 100, 0)")
                        .arg(round));

        bool caughtUp = false;
        common::setEventPump([&] {
            if (!caughtUp && !sales().flags().Importacao_Livre) {
                caughtUp = true;
                store.db.exec("UPDATE LICENCA_IF SET IMPORTACAO = 1 WHERE NUM_ECF = '002'");
                store.db.exec("UPDATE LICENCA_IF SET IMPORTACAO = 3 WHERE NUM_ECF = '003'");
                c.catchUp();
            }
            QCoreApplication::processEvents();
        });
        common::ScopeExit pumpBack([] { common::setEventPump({}); });
        store.db.exec("UPDATE LICENCA_IF SET IMPORTACAO = 1 WHERE NUM_ECF = '001'");
        store.db.exec("NOTIFY venda");

        const auto served = [&] {
            return vendas.scalar("SELECT count(*) FROM TRANSACOES WHERE EXPORTADO <> 2") == "0"
                && fiscal.scalar("SELECT count(*) FROM REGISTRO_60A WHERE EXPORTADO <> 2") == "0";
        };
        ASSERT_TRUE(testsupport::waitFor(served, testsupport::kWindowRunMs))
            << store.db.rows("SELECT num_ecf, importacao FROM licenca_if ORDER BY 1").join(" ").toStdString();
        ASSERT_TRUE(testsupport::waitFor([&] {
            return sales().runsSettled() && importacao("002") == "0" && importacao("003") == "0";
        }, testsupport::kWindowRunMs));
        EXPECT_TRUE(caughtUp);
        EXPECT_EQ(importing.scalar("SELECT count(*) FROM TRANSACOES WHERE EXPORTADO <> 2"), "0");
        EXPECT_EQ(store.db.scalar("SELECT count(*) FROM TRANSACOES"), QString::number(2 * round));
        EXPECT_EQ(store.db.scalar("SELECT count(*) FROM REGISTRO_60A"), QString::number(round));
    }
    EXPECT_TRUE(dialogs->shown.empty()) << dialogs->texts().join(" / ").toStdString();
}

TEST_F(SalesWindow, ExitAsksFirstAndIsRefusedWhileAnImportRuns)
{
    store.add({.num = "001"});
    start();

    dialogs->answers = {false};
    click("Button1");
    EXPECT_EQ(ender.calls, 0);
    dialogs->answers = {true};
    click("Button1");
    EXPECT_EQ(ender.calls, 1);
    EXPECT_EQ(dialogs->texts(), (QStringList{kPerguntaSaida, kPerguntaSaida}));

    // Pressed while a notification-started import lets events run.
    dialogs->shown.clear();
    bool pressed = false;
    common::setEventPump([&] {
        if (!pressed) {
            pressed = true;
            QTest::mouseClick(button("Button1"), Qt::LeftButton);
        }
        QCoreApplication::processEvents();
    });
    store.db.exec("UPDATE LICENCA_IF SET IMPORTACAO = 1");
    store.db.exec("NOTIFY venda");
    const bool finished = testsupport::waitFor([&] { return importacao("001") == "0" && sales().flags().Saida_Liberada; },
                                                testsupport::kWindowRunMs);
    common::setEventPump({});
    ASSERT_TRUE(finished);
    EXPECT_TRUE(pressed);
    EXPECT_EQ(ender.calls, 1);
    ASSERT_EQ(dialogs->shown.size(), 1u);
    EXPECT_EQ(dialogs->shown[0].kind, "info");
    EXPECT_EQ(dialogs->shown[0].text, kRecusaSaida);
}

TEST_F(SalesWindow, CloseRequestFollowsTheExitRules)
{
    start();
    QSignalSpy closed(&sales(), &sales::TFrmConversor_Vendas::closed);

    sales().flags().Saida_Liberada = false;
    EXPECT_FALSE(sales().close());
    EXPECT_EQ(dialogs->texts(), QStringList{kRecusaSaida});

    sales().flags().Saida_Liberada = true;
    dialogs->answers = {false};
    EXPECT_FALSE(sales().close());
    EXPECT_TRUE(sales().isVisible());

    dialogs->answers = {true};
    EXPECT_TRUE(sales().close());
    EXPECT_EQ(closed.count(), 1);
    EXPECT_EQ(ender.calls, 0);
}

TEST_F(SalesWindow, MonitorSwitchPausesAndResumes)
{
    start();
    const char* panes[] = {"Memo1", "Memo2", "Memo3", "Memo4", "Memo5", "Memo6"};
    for (const char* p : panes)
        pane(p)->setPlainText("venda anterior");

    click("Button3");
    EXPECT_FALSE(sales().flags().Importacao_Livre);
    EXPECT_EQ(button("Button3")->text(), "Habilitar Monitor");
    for (const char* p : panes) {
        EXPECT_TRUE(pane(p)->toPlainText().isEmpty()) << p;
        EXPECT_EQ(pane(p)->palette().color(QPalette::Base), QColor(255, 0, 0)) << p;
    }
    saveScreenshot(sales(), "sales_window_paused");

    pane("Memo1")->setPlainText("durante a pausa");
    click("Button3");
    EXPECT_TRUE(sales().flags().Importacao_Livre);
    EXPECT_EQ(button("Button3")->text(), "Desabilitar Monitor");
    EXPECT_EQ(pane("Memo1")->toPlainText(), "durante a pausa");
    for (const char* p : panes)
        EXPECT_EQ(pane(p)->palette().color(QPalette::Base), QColor(Qt::white)) << p;

    // An import ending during a pause frees imports; the caption stays until
    // the button is pressed again.
    click("Button3");
    sales().cargaVendas().run();
    EXPECT_TRUE(sales().flags().Importacao_Livre);
    EXPECT_EQ(button("Button3")->text(), "Habilitar Monitor");
    click("Button3");
    EXPECT_TRUE(sales().flags().Importacao_Livre);
    EXPECT_EQ(button("Button3")->text(), "Desabilitar Monitor");
}

TEST_F(SalesWindow, AtualizarDadosProbesAndRequestsImports)
{
    store.add({.num = "001"});
    store.add({.num = "002", .reachable = false});
    store.add({.num = "003"});
    start();
    saveScreenshot(sales(), "sales_window");
    store.db.exec("UPDATE LICENCA_IF SET STATUS = 'D', IMPORTACAO = 0, ECF_STATUS = 0");
    store.db.exec("UPDATE LICENCA_IF SET ECF_STATUS = 1 WHERE NUM_ECF = '003'");
    auto* exportar = windows->update->findChild<QPushButton*>("btn_exportar_cliente");
    ASSERT_TRUE(exportar->isEnabled());

    click("Button2");

    EXPECT_EQ(store.db.rows("SELECT num_ecf, status, importacao FROM licenca_if ORDER BY 1"),
              (QStringList{"001|A|1", "002|D|0", "003|A|0"}));
    // Habilitarbotoes of the update window ran: it has had no status pass,
    // so its terminals do not count as on line.
    EXPECT_FALSE(exportar->isEnabled());
    EXPECT_TRUE(dialogs->shown.empty()) << dialogs->texts().join(" / ").toStdString();

    // Without the update window the call is skipped.
    windows->update->close();
    ASSERT_TRUE(testsupport::waitFor([&] { return windows->update.isNull(); }, testsupport::kWindowRunMs));
    store.db.exec("UPDATE LICENCA_IF SET IMPORTACAO = 0");
    click("Button2");
    EXPECT_EQ(importacao("001"), "1");
    EXPECT_TRUE(dialogs->shown.empty()) << dialogs->texts().join(" / ").toStdString();
}

TEST_F(SalesWindow, ConsistencyButtonRunsTheCheck)
{
    store.db.exec("UPDATE CONFIG SET CONSISTIR_PDV = 'True'");
    start();
    ASSERT_TRUE(button("btnconsistir")->isEnabled());
    ASSERT_TRUE(sales().flags().Consistir_Pendente);

    click("btnconsistir");

    EXPECT_FALSE(sales().flags().Consistir_Pendente);
    EXPECT_EQ(dialogs->texts(), QStringList{"Processo conclu\u00eddo com sucesso."});
}

// The notification handler's choices, with recorded runs standing in for
// the check and the import.
class VendaNotification : public ::testing::Test {
protected:
    VendaNotification() : server(store.db.params())
    {
        server.open();
        for (const char* num : {"003", "005", "007"})
            store.add({.num = num, .reachable = false});
        store.db.exec("UPDATE LICENCA_IF SET ECF_STATUS = 1 WHERE NUM_ECF = '007'");
    }

    Store store;
    db::Connection server;
};

TEST_F(VendaNotification, StartsRunsOrWithdrawsTheFirstRequest)
{
    struct Case {
        const char* name;
        const char* channel;
        QStringList requesting; // IMPORTACAO 1; 007 is marked unreachable
        bool livre;
        bool pendente;
        QStringList runs;       // what ran, with Saida_Liberada as it was then
        QStringList importacao; // 003, 005, 007 afterwards
    };
    const Case cases[] = {
        {"nothing requested", "venda", {}, true, true, {}, {"0", "0", "0"}},
        {"only a marked terminal", "venda", {"007"}, true, false, {}, {"0", "0", "1"}},
        {"paused", "venda", {"003", "005"}, false, false, {}, {"0", "1", "0"}},
        {"check pending", "venda", {"003", "005"}, true, true,
         {"consistir saida=1", "carga saida=0"}, {"1", "1", "0"}},
        {"no check pending", "venda", {"005"}, true, false, {"carga saida=0"}, {"0", "1", "0"}},
        {"syncreboot", "syncreboot", {"003"}, false, false, {}, {"1", "0", "0"}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        store.db.exec("UPDATE LICENCA_IF SET IMPORTACAO = 0");
        for (const QString& num : c.requesting)
            store.db.exec("UPDATE LICENCA_IF SET IMPORTACAO = 1 WHERE NUM_ECF = '" + num + "'");
        sales::SalesFlags flags{c.livre, true, c.pendente};
        QStringList runs;
        bool imported = false;
        const sales::SalesRuns recorded{
            [&] {
                runs << QString("consistir saida=%1").arg(flags.Saida_Liberada);
                flags.Consistir_Pendente = false;
            },
            [&] {
                runs << QString("carga saida=%1").arg(flags.Saida_Liberada);
                imported = true;
            }};

        sales::handleSalesNotification(c.channel, server, flags, recorded);

        EXPECT_EQ(runs, c.runs);
        // Barred while the import ran (its run says so), allowed again after.
        if (imported) {
            EXPECT_TRUE(flags.Saida_Liberada);
        }
        EXPECT_EQ(store.db.rows("SELECT importacao FROM licenca_if ORDER BY num_ecf"), c.importacao);
    }
}

TEST_F(VendaNotification, FailedImportDoesNotBarExit)
{
    store.db.exec("UPDATE LICENCA_IF SET IMPORTACAO = 1 WHERE NUM_ECF = '003'");
    sales::SalesFlags flags{true, true, false};
    const sales::SalesRuns failing{{}, [] { throw std::runtime_error("terminal list failed"); }};

    EXPECT_THROW(sales::handleSalesNotification("venda", server, flags, failing), std::runtime_error);
    EXPECT_TRUE(flags.Saida_Liberada);
}

// The server restarts as a notification is handled: one line, no box, and
// every request stays for the next notification.
TEST_F(VendaNotification, ALostServerLinkIsALineAndLeavesTheRequests)
{
    store.db.exec("UPDATE LICENCA_IF SET IMPORTACAO = 1 WHERE NUM_ECF IN ('003', '005')");
    sales::SalesFlags flags{true, true, false};
    QStringList lines;
    QStringList runs;
    sales::SalesRuns told{{}, [&] { runs << "vendas"; }};
    told.serverLost = [&](const QString& line) { lines << line; };

    // A run that lets the lost link out is told like the handler's own.
    sales::SalesRuns lostInRun = told;
    lostInRun.cargaVendas = [] { throw db::BrokenConnection("server closed the connection unexpectedly"); };
    sales::handleSalesNotification("venda", server, flags, lostInRun);
    EXPECT_TRUE(flags.Saida_Liberada);

    db::Query pid(server);
    pid.setText("SELECT pg_backend_pid() AS PID");
    pid.open();
    testsupport::execAdmin(QString("SELECT pg_terminate_backend(%1, 5000)").arg(pid.field("PID").asInteger()));
    sales::handleSalesNotification("venda", server, flags, told);

    ASSERT_EQ(lines.size(), 2) << lines.join(" / ").toStdString();
    EXPECT_EQ(lines[0], QStringLiteral("Servidor: importa\u00e7\u00e3o interrompida - server closed the "
                                       "connection unexpectedly"));
    EXPECT_TRUE(lines[1].startsWith(QStringLiteral("Servidor: importa\u00e7\u00e3o interrompida - ")))
        << lines[1].toStdString();
    EXPECT_TRUE(runs.isEmpty());
    EXPECT_EQ(store.db.rows("SELECT importacao FROM licenca_if ORDER BY num_ecf"), (QStringList{"1", "1", "0"}));
}

// The exit and the close ask in a modal box, and a Yes ends the program:
// pressed while a statement waits for its answer (events run meanwhile),
// they are served once it is answered, not inside the wait.
TEST_F(SalesWindow, ExitAndCloseWaitForTheStatementInProgress)
{
    start();
    QSignalSpy closed(&sales(), &sales::TFrmConversor_Vendas::closed);
    struct Case {
        const char* name;
        std::function<void()> press;
        std::function<bool()> done;
    };
    const Case cases[] = {
        {"Sair", [&] { click("Button1"); }, [&] { return ender.calls == 1; }},
        {"close", [&] { sales().close(); }, [&] { return closed.count() == 1; }},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        dialogs->shown.clear();
        std::size_t askedInside = 99;
        QTimer::singleShot(50, &sales(), [&] {
            c.press();
            askedInside = dialogs->shown.size();
        });
        db::Query slow(sales().server());
        slow.setText("SELECT pg_sleep(1.5)");
        slow.open();

        EXPECT_EQ(askedInside, 0u);
        ASSERT_TRUE(testsupport::waitFor(c.done));
        EXPECT_EQ(dialogs->texts(), QStringList{kPerguntaSaida});
    }
}

// A click on "Consistir Vendas (Ecf)" during an import waits for the
// import's end. The import may end right before another statement (the
// catch-up's next channel) waits for its answer: the check then waits for
// that one too, rather than send on a link that is waiting.
TEST_F(SalesWindow, AConsistencyClickHeldDuringAnImportRunsOnceNoStatementWaits)
{
    TestDatabase pdv(Template::Terminal);
    store.add({.num = "001", .banco = pdv.name()});
    ringUpSale(pdv);
    store.db.exec("UPDATE CONFIG SET DIAS_CONSISTIR = 1");
    start();
    ASSERT_TRUE(button("btnconsistir")->isEnabled());
    store.db.exec("UPDATE LICENCA_IF SET IMPORTACAO = 1");

    // Holds LICENCA_IF from the import's last turn for a while, so the
    // catch-up's next request list waits for it.
    testsupport::PgConn locker = testsupport::connectBare(store.db.name());
    QTimer release;
    release.setSingleShot(true);
    QObject::connect(&release, &QTimer::timeout, [&] { PQclear(PQexec(locker.get(), "ROLLBACK")); });
    bool clicked = false;
    bool locked = false;
    common::setEventPump([&] {
        if (!clicked) {
            clicked = true;
            click("btnconsistir");
        } else if (!locked && importacao("001") == "0") {
            locked = true;
            PQclear(PQexec(locker.get(), "BEGIN; LOCK TABLE LICENCA_IF IN ACCESS EXCLUSIVE MODE"));
            release.start(500);
        }
        QCoreApplication::processEvents();
    });
    common::ScopeExit pumpBack([] { common::setEventPump({}); });

    sales().catchUpAfterOutage();

    ASSERT_TRUE(locked);
    const QString done = QStringLiteral("Processo conclu\u00eddo com sucesso.");
    EXPECT_TRUE(testsupport::waitFor([&] { return dialogs->texts().contains(done); }, testsupport::kWindowRunMs));
    EXPECT_EQ(dialogs->texts(), QStringList{done});
    EXPECT_EQ(pdv.scalar("SELECT exportado FROM transacoes"), "2");
}

// Exit stays barred during the fiscal import as during the sales import,
// and is allowed again when it ends.
TEST_F(VendaNotification, TheFiscalImportBarsExitWhileItRuns)
{
    store.db.exec("UPDATE LICENCA_IF SET IMPORTACAO = 3 WHERE NUM_ECF = '003'");
    sales::SalesFlags flags{true, true, true};
    QStringList runs;
    const sales::SalesRuns recorded{[&] { runs << "consistir"; }, [&] { runs << "vendas"; },
                                    [&] { runs << QString("registro saida=%1").arg(flags.Saida_Liberada); }};

    sales::handleSalesNotification("registro", server, flags, recorded);

    // Barred while it ran, allowed again after; the check goes with sales
    // imports only.
    EXPECT_EQ(runs, QStringList{"registro saida=0"});
    EXPECT_TRUE(flags.Saida_Liberada);
}

} // namespace
