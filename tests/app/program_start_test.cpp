// The program's start: both windows created as the program creates them,
// against a server database the test made.

#include "support/program_fixture.h"

#include "app/startup.h"
#include "common/event_pump.h"
#include "db/connection.h"
#include "db/query.h"
#include "sales/sales_window.h"
#include "ui/status_pane.h"
#include "update/update_window.h"

#include <QLabel>
#include <QPushButton>
#include <QTableView>
#include <QTest>

#include <csignal>
#include <sys/wait.h>
#include <unistd.h>

namespace {

using namespace progtest;

QString labelText(QWidget& w, const char* name)
{
    auto* label = w.findChild<QLabel*>(name);
    return label ? label->text() : QStringLiteral("<none>");
}

QString serverScalar(sales::TFrmConversor_Vendas& w, const QString& sql)
{
    db::Query q(w.server());
    q.setText(sql);
    q.open();
    return q.field(0).asString();
}

class ProgramStart : public ::testing::Test {
protected:
    ProgramFolder folder;
    testsupport::ScopedRecordingDialogs dialogs;
};

TEST_F(ProgramStart, StartsAgainstTheServerOfTheIniFile)
{
    Store store;
    store.add({.num = "001"});
    store.db.exec("UPDATE ABERTURA SET DT_SYNC = DATE '2000-01-01', HR_SYNC = NULL");
    store.useIni(folder);

    auto w = app::createWindows();
    auto& sales = *w->sales;

    EXPECT_TRUE(dialogs->shown.empty()) << dialogs->texts().join(" / ").toStdString();
    EXPECT_FALSE(w->mustEnd);
    EXPECT_EQ(sales.windowTitle(), " QuiborSync(2.0.1 | 01-11-2022) -Atualizar Vendas(Servidor)");
    EXPECT_EQ(labelText(sales, "Label5"), "Ip: " + testsupport::testHost());
    EXPECT_EQ(labelText(sales, "Label6"), "");
    EXPECT_EQ(QCoreApplication::applicationName(), "QuiborSync.EXE");
    EXPECT_TRUE(sales.listenerActive());
    EXPECT_EQ(store.db.scalar("SELECT versao_sync FROM config"), "2.0.1|01-11-2022");
    EXPECT_EQ(store.db.rows("SELECT dt_sync = current_date, hr_sync IS NOT NULL, reset FROM abertura"),
              QStringList{"t|t|0"});
    // The active company with the highest id; the inactive 5 is passed over.
    EXPECT_EQ(sales.qEmpresa().field("EMPRESA_ID").asInteger(), 3);

    // The terminal pass reached the window: its line, its slot, the grid.
    auto* pane = sales.findChild<ui::StatusPane*>("MemoPdv2");
    ASSERT_EQ(pane->lines().size(), 1);
    EXPECT_TRUE(pane->lines()[0].text.startsWith("Ecf01 - ON - "));
    EXPECT_EQ(pane->lines()[0].color, QColor(0, 128, 0));
    EXPECT_TRUE(sales.slotSet().isOpen(1));
    auto* grid = sales.findChild<QTableView*>("DBGrid1");
    ASSERT_EQ(grid->model()->rowCount(), 1);
    EXPECT_EQ(grid->model()->index(0, 0).data().toString(), "001");
    EXPECT_EQ(grid->model()->headerData(2, Qt::Horizontal).toString(), "Endere\u00e7o");

    // The update window has its own connection, slots and listener.
    ASSERT_TRUE(w->update);
    EXPECT_TRUE(w->update->server().connected());
    EXPECT_TRUE(w->update->listenerActive());
    EXPECT_TRUE(w->update->slotSet().isOpen(1));
}

TEST_F(ProgramStart, EncodedUserNameReachesTheServer)
{
    Store store;
    const QString role = QString("qs_sync_%1").arg(getpid());
    testsupport::execAdmin(QString("DROP ROLE IF EXISTS %1").arg(role));
    testsupport::execAdmin(QString("CREATE ROLE %1 LOGIN PASSWORD 'Data pw'").arg(role));
    store.db.exec(QString("GRANT ALL ON ALL TABLES IN SCHEMA public TO %1").arg(role));
    folder.writeIni(testsupport::testHost(), testsupport::testPort(), store.db.name(), role, "Data pw");

    {
        auto w = app::createWindows();
        EXPECT_TRUE(dialogs->shown.empty()) << dialogs->texts().join(" / ").toStdString();
        EXPECT_TRUE(w->sales->server().connected());
        EXPECT_EQ(serverScalar(*w->sales, "SELECT current_user"), role);
        EXPECT_EQ(store.db.scalar("SELECT versao_sync FROM config"), "2.0.1|01-11-2022");
        ASSERT_TRUE(w->update);
        EXPECT_EQ(w->update->server().params().value("User_Name"), role);
        EXPECT_TRUE(w->update->server().connected());
    }
    store.db.exec(QString("REVOKE ALL ON ALL TABLES IN SCHEMA public FROM %1").arg(role));
    testsupport::execAdmin(QString("DROP ROLE IF EXISTS %1").arg(role));
}

TEST_F(ProgramStart, IniWithoutUserNameKeepsTheBuiltInParameters)
{
    // Password present, User Name empty: the INI is not used at all, and the
    // built-in server (nothing listens there in the test bed) is refused.
    // Each value differs from the built-in one, so any that got through shows.
    const QString port = QString::number(testsupport::testPort());
    folder.writeRawIni(QString("[Conex\u00e3o Postgres]\r\nServer Name=localhost\r\nPorta=%1\r\nBase Name=x\r\n"
                               "User Name=\r\nPassword=%2\r\n")
                           .arg(port)
                           .arg(encoded("pw"))
                           .toUtf8());

    auto w = app::createWindows();
    ASSERT_TRUE(w->update);

    struct Link {
        const char* name;
        const db::Connection& connection;
        db::ConnectionParams builtIn;
    };
    const Link links[] = {
        {"sales server", w->sales->server(), db::ConnectionParams::serverDefaultsSales()},
        {"update server", w->update->server(), db::ConnectionParams::serverDefaultsUpdate()},
        // No terminal is registered: every slot keeps the list it was made with.
        {"sales slot 1", w->sales->slotSet().slot(1), db::ConnectionParams::terminalDefaults()},
        {"sales slot 33", w->sales->slotSet().slot(33), db::ConnectionParams::terminalDefaults()},
        {"update slot 1", w->update->slotSet().slot(1), db::ConnectionParams::terminalDefaults()},
        {"update slot 33", w->update->slotSet().slot(33), db::ConnectionParams::terminalDefaults()},
    };
    for (const Link& l : links) {
        SCOPED_TRACE(l.name);
        const db::ConnectionParams& params = l.connection.params();
        EXPECT_NE(params.value("Server"), "localhost");
        EXPECT_NE(params.value("Port"), port);
        EXPECT_NE(params.value("Database"), "x");
        EXPECT_NE(params.value("User_Name"), "");
        EXPECT_NE(params.value("Password"), "pw");
        EXPECT_EQ(params.lines(), l.builtIn.lines());
    }
}

TEST_F(ProgramStart, UnreachableServerSkipsTheRestButCreatesBothWindows)
{
    folder.writeIni(testsupport::testHost(), testsupport::refusedPort(), "loja", "postgres", "pw");

    auto w = app::createWindows();
    auto& sales = *w->sales;

    // The standard error box with the failure's own text comes first; the
    // update window's own failed open follows.
    ASSERT_FALSE(dialogs->shown.empty());
    EXPECT_EQ(dialogs->shown[0].kind, "plain");
    EXPECT_FALSE(dialogs->shown[0].text.isEmpty());
    EXPECT_EQ(labelText(sales, "Label5"), "Monitor");
    EXPECT_EQ(labelText(sales, "Label6"), "Monitor");
    EXPECT_EQ(sales.windowTitle(), "QuiborSync(1.0.0) -Atualizar Vendas(Servidor)");
    EXPECT_FALSE(sales.listenerActive());
    EXPECT_FALSE(sales.findChild<QPushButton*>("btnconsistir")->isEnabled());
    EXPECT_FALSE(w->mustEnd);
    EXPECT_TRUE(w->update);

    // Shown: the flags are set before CONFIG fails to be read.
    dialogs->shown.clear();
    sales.show();
    EXPECT_TRUE(sales.flags().Importacao_Livre);
    EXPECT_TRUE(sales.flags().Saida_Liberada);
    ASSERT_EQ(dialogs->shown.size(), 1u);
    EXPECT_EQ(dialogs->shown[0].kind, "plain");
}

TEST_F(ProgramStart, TerminalNumberThatIsNotANumberStopsOnlyTheTerminalPass)
{
    Store store;
    store.add({.num = "A1"});
    store.db.exec("UPDATE ABERTURA SET DT_SYNC = DATE '2000-01-01'");
    store.useIni(folder);

    auto w = app::createWindows();

    ASSERT_FALSE(dialogs->shown.empty());
    EXPECT_EQ(dialogs->shown[0].kind, "error");
    EXPECT_TRUE(dialogs->shown[0].text.startsWith("Erro Abertura:\rErro Abertura"));
    EXPECT_GT(dialogs->shown[0].text.size(), QString("Erro Abertura:\rErro Abertura").size());
    // No abertura stamp; the listener and the version stamp still follow.
    EXPECT_EQ(store.db.scalar("SELECT dt_sync FROM abertura"), "2000-01-01");
    EXPECT_TRUE(w->sales->listenerActive());
    EXPECT_EQ(store.db.scalar("SELECT versao_sync FROM config"), "2.0.1|01-11-2022");
}

TEST_F(ProgramStart, CheckButtonNeedsDaysOrConsistirPdvExactlyTrueWhichAlsoQueuesACheck)
{
    struct Case {
        const char* consistirPdv;
        int dias;
        bool buttonEnabled;
        bool checkPending;
    };
    const Case cases[] = {
        {"False", 5, true, false},
        {"True", 0, true, true},
        {"true", 0, false, false},
        {"False", 0, false, false},
        {"True", 3, true, true},
    };
    Store store;
    store.useIni(folder);
    for (const Case& c : cases) {
        SCOPED_TRACE(QString("%1/%2").arg(c.consistirPdv).arg(c.dias).toStdString());
        store.db.exec(QString("UPDATE CONFIG SET CONSISTIR_PDV = '%1', DIAS_CONSISTIR = %2")
                          .arg(c.consistirPdv)
                          .arg(c.dias));
        auto w = app::createWindows();
        EXPECT_EQ(w->sales->findChild<QPushButton*>("btnconsistir")->isEnabled(), c.buttonEnabled);
        w->sales->show();
        EXPECT_EQ(w->sales->flags().Consistir_Pendente, c.checkPending);
        EXPECT_TRUE(dialogs->shown.empty()) << dialogs->texts().join(" / ").toStdString();
    }
}

TEST_F(ProgramStart, SecondStartIsRefusedWhileTheFirstRuns)
{
    Store store;
    store.useIni(folder);

    auto first = app::createWindows();
    ASSERT_FALSE(first->mustEnd);
    store.db.exec("UPDATE CONFIG SET VERSAO_SYNC = NULL");

    auto second = app::createWindows();
    EXPECT_TRUE(second->mustEnd);
    ASSERT_EQ(dialogs->shown.size(), 1u);
    EXPECT_EQ(dialogs->shown[0].kind, "info");
    EXPECT_EQ(dialogs->shown[0].text, "Sistema j\u00e1 est\u00e1 em execu\u00e7\u00e3o, favor verificar.");
    // The second copy ran its start all the same, update window included.
    EXPECT_EQ(store.db.scalar("SELECT versao_sync FROM config"), "2.0.1|01-11-2022");
    EXPECT_TRUE(second->update);

    // The mark goes with the first copy's update window: the second copy
    // leaving changes nothing, the first one's window closing frees it.
    second.reset();
    EXPECT_EQ(app::otherCopy(), app::OtherCopy::Running);
    first->update->close();
    ASSERT_TRUE(testsupport::waitFor([&] { return first->update.isNull(); }));
    EXPECT_EQ(app::otherCopy(), app::OtherCopy::None);

    dialogs->shown.clear();
    auto third = app::createWindows();
    EXPECT_FALSE(third->mustEnd);
    EXPECT_TRUE(dialogs->shown.empty());
}

// A mark that cannot be read is no proof that no other copy runs: the copy
// says why and ends, its start otherwise run as a second copy's is.
TEST_F(ProgramStart, StartThatCannotReadTheMarkEndsAndSaysWhy)
{
    Store store;
    store.useIni(folder);
    const QString unreachable = folder.dir.filePath("missing/instance.lock");
    app::setInstanceMarkerPath(unreachable);

    auto w = app::createWindows();

    EXPECT_TRUE(w->mustEnd);
    ASSERT_EQ(dialogs->shown.size(), 1u) << dialogs->texts().join(" / ").toStdString();
    EXPECT_EQ(dialogs->shown[0].kind, "error");
    EXPECT_TRUE(dialogs->shown[0].text.startsWith("N\u00e3o foi poss\u00edvel verificar se o sistema j\u00e1 est\u00e1 "
                                                  "em execu\u00e7\u00e3o:\r"));
    EXPECT_TRUE(dialogs->shown[0].text.contains(unreachable));
    EXPECT_TRUE(w->update);
}

TEST_F(ProgramStart, MarkOfACopyThatDiesDisappearsWithIt)
{
    int ready[2];
    ASSERT_EQ(pipe(ready), 0);
    const pid_t child = fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
        app::InstanceMarker mark;
        const char held = mark.held() ? 'y' : 'n';
        if (write(ready[1], &held, 1) != 1)
            _exit(1);
        pause();
        _exit(0);
    }
    close(ready[1]);
    char held = 0;
    ASSERT_EQ(read(ready[0], &held, 1), 1);
    close(ready[0]);
    EXPECT_EQ(held, 'y');
    EXPECT_EQ(app::otherCopy(), app::OtherCopy::Running);

    kill(child, SIGKILL);
    waitpid(child, nullptr, 0);
    EXPECT_EQ(app::otherCopy(), app::OtherCopy::None);
}

// The update window reaches the sales window and its current company only
// through what the program's entry links.
TEST_F(ProgramStart, ManualCustomerExportReachesTheSalesWindow)
{
    Store store;
    store.add({.num = "001"});
    store.db.exec("INSERT INTO CLIENTES (CLIENTE_ID, NOME, DT_ATUALIZACAO) VALUES (1, 'ANA', current_date)");
    store.useIni(folder);
    auto w = app::createWindows();
    app::showWindows(*w);
    ASSERT_TRUE(w->update);
    EXPECT_EQ(w->update->empresaAtual(), 3);

    QList<bool> monitorDuringRun;
    common::setEventPump([&] { monitorDuringRun << w->sales->monitorLigado(); });
    QTest::mouseClick(w->update->findChild<QPushButton*>("btn_exportar_cliente"), Qt::LeftButton);
    common::setEventPump({});

    EXPECT_TRUE(dialogs->shown.empty()) << dialogs->texts().join(" / ").toStdString();
    ASSERT_FALSE(monitorDuringRun.isEmpty());
    EXPECT_FALSE(monitorDuringRun.contains(true)); // paused for the run
    EXPECT_TRUE(w->sales->monitorLigado());
    EXPECT_TRUE(w->sales->flags().Importacao_Livre);
    // No request was pending: "Atualizar Dados" asked every active terminal for its sales.
    EXPECT_EQ(store.db.scalar("SELECT importacao FROM licenca_if"), "1");
}

} // namespace
