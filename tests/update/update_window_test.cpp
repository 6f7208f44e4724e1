// The update window created as the program creates it (constructed, then
// its creation steps), against a server database the test made.

#include "support/program_fixture.h"

#include "ecf_boxes.h"

#include "db/connection.h"
#include "db/query.h"
#include "update/update_notification.h"
#include "update/update_window.h"

#include <QCheckBox>
#include <QGroupBox>
#include <QPushButton>
#include <QSignalSpy>
#include <QTest>

namespace {

using namespace progtest;

const char* const kExportButtons[] = {"btn_exportar_cliente", "btn_exportar_produto", "btn_finalizadoras",
                                      "Btn_Ibtp",             "btn_tributos",         "btn_operadores",
                                      "Btn_Configuracoes",    "Btn_Entidades"};

class UpdateWindow : public ::testing::Test {
protected:
    update::TFrmConversor& create()
    {
        store.useIni(folder);
        window = std::make_unique<update::TFrmConversor>();
        window->setAttribute(Qt::WA_DeleteOnClose, false); // the test owns it
        window->FormCreate();
        return *window;
    }

    QCheckBox* box(int n) { return updatetest::ecfBox(*window, n); }
    QPushButton* button(const char* name) { return window->findChild<QPushButton*>(name); }

    QList<int> ticked() { return updatetest::tickedBoxes(*window); }

    ProgramFolder folder;
    testsupport::ScopedRecordingDialogs dialogs;
    Store store;
    std::unique_ptr<update::TFrmConversor> window;
};

TEST_F(UpdateWindow, CreationConnectsTheReachableActiveTerminals)
{
    store.add({.num = "001"});
    store.add({.num = "002", .reachable = false});
    store.add({.num = "005", .status = "D"});
    store.add({.num = "034"});

    auto& w = create();

    EXPECT_TRUE(dialogs->shown.empty()) << dialogs->texts().join(" / ").toStdString();
    EXPECT_TRUE(w.listenerActive());
    EXPECT_TRUE(w.qConfig().isOpen());
    EXPECT_TRUE(box(1)->isEnabled());
    EXPECT_TRUE(w.slotSet().isOpen(1));
    for (int n : {2, 5, 33, 34, 40}) {
        EXPECT_FALSE(box(n)->isEnabled()) << n;
        EXPECT_EQ(box(n)->text(), QString("Ecf%1").arg(n, 3, 10, QChar('0')));
    }
    EXPECT_FALSE(w.slotSet().isOpen(2));
    // Creation neither marks nor releases anybody.
    EXPECT_EQ(store.db.scalar("SELECT string_agg(ecf_status::text, ',' ORDER BY num_ecf) FROM licenca_if"),
              "0,0,0,0");
}

TEST_F(UpdateWindow, UnreachableServerIsReportedAndNothingElseRuns)
{
    folder.writeIni(testsupport::testHost(), testsupport::refusedPort(), "loja", "postgres", "pw");
    window = std::make_unique<update::TFrmConversor>();
    window->setAttribute(Qt::WA_DeleteOnClose, false);
    window->FormCreate();

    ASSERT_EQ(dialogs->shown.size(), 1u);
    EXPECT_EQ(dialogs->shown[0].kind, "plain");
    EXPECT_FALSE(window->listenerActive());

    window->show();
    ASSERT_EQ(dialogs->shown.size(), 2u);
    EXPECT_EQ(dialogs->shown[1].kind, "plain");
}

TEST_F(UpdateWindow, ShowEnablesTheExportButtonsOnlyWhenEveryTerminalAnswers)
{
    struct Case {
        bool secondReachable;
        bool buttonsEnabled;
    };
    for (const Case c : {Case{true, true}, Case{false, false}}) {
        SCOPED_TRACE(c.secondReachable);
        store.db.exec("DELETE FROM LICENCA_IF");
        store.add({.num = "001"});
        store.add({.num = "002", .reachable = c.secondReachable});

        create().show();

        for (const char* name : kExportButtons)
            EXPECT_EQ(button(name)->isEnabled(), c.buttonsEnabled) << name;
        EXPECT_TRUE(button("btn_Liberar_Caixas")->isEnabled());
        EXPECT_EQ(box(2)->isEnabled(), c.secondReachable);
        EXPECT_EQ(store.db.scalar("SELECT ecf_status FROM licenca_if WHERE num_ecf = '002'"),
                  c.secondReachable ? "0" : "1");
        EXPECT_TRUE(dialogs->shown.empty()) << dialogs->texts().join(" / ").toStdString();
    }
    saveScreenshot(*window, "update_window");
}

TEST_F(UpdateWindow, TodasAsEcfsTicksOnlyTheEnabledBoxes)
{
    for (int n = 1; n <= 8; ++n)
        store.add({.num = QString("%1").arg(n, 3, 10, QChar('0')), .reachable = n != 3 && n != 7});
    create().show();
    auto* todas = window->findChild<QCheckBox*>("Todas_Ecfs");

    QTest::mouseClick(todas, Qt::LeftButton);
    EXPECT_EQ(ticked(), (QList<int>{1, 2, 4, 5, 6, 8}));

    // "Exportar todos Registros" locks the terminal choice until unticked.
    auto* total = window->findChild<QCheckBox*>("Chk_Total");
    auto* group = window->findChild<QGroupBox*>("GroupBox1");
    QTest::mouseClick(total, Qt::LeftButton);
    EXPECT_FALSE(group->isEnabled());
    QTest::mouseClick(box(1), Qt::LeftButton);
    EXPECT_TRUE(box(1)->isChecked());
    QTest::mouseClick(total, Qt::LeftButton);
    EXPECT_TRUE(group->isEnabled());

    QTest::mouseClick(todas, Qt::LeftButton);
    EXPECT_TRUE(ticked().isEmpty());
    saveScreenshot(*window, "update_window_boxes");
}

// Requests are closed by the runs that serve them; a notification that
// serves none leaves every one of them, the sales window's included.
TEST_F(UpdateWindow, ANotificationLeavesTheRequestsItDidNotServe)
{
    store.add({.num = "001"});
    store.add({.num = "002", .status = "D"});
    store.add({.num = "003", .reachable = false});
    create().show(); // 003 does not answer: the export buttons stay disabled
    store.db.exec("UPDATE LICENCA_IF SET IMPORTACAO = 1, CARGA_TOTAL = 1 WHERE NUM_ECF = '001'");
    store.db.exec("UPDATE LICENCA_IF SET IMPORTACAO = 3 WHERE NUM_ECF = '002'");
    store.db.exec("UPDATE LICENCA_IF SET IMPORTACAO = 14, CARGA_TOTAL = 1 WHERE NUM_ECF = '003'");
    const QStringList before = store.db.rows("SELECT num_ecf, importacao, carga_total FROM licenca_if ORDER BY 1");

    for (const char* channel : {"produtos_ecf", "tributos_manual"}) {
        QSignalSpy handled(window.get(), &update::TFrmConversor::notificationHandled);
        store.db.exec(QString("NOTIFY ") + channel);
        ASSERT_TRUE(testsupport::waitFor([&] { return !handled.isEmpty(); }, testsupport::kWindowRunMs)) << channel;
        EXPECT_EQ(store.db.rows("SELECT num_ecf, importacao, carga_total FROM licenca_if ORDER BY 1"), before)
            << channel;
    }
    EXPECT_TRUE(dialogs->shown.empty()) << dialogs->texts().join(" / ").toStdString();
}

TEST_F(UpdateWindow, ReleaseMarksEveryActiveTerminalEligible)
{
    store.add({.num = "001", .ecfStatus = 1});
    store.add({.num = "002", .reachable = false});
    store.add({.num = "003", .status = "D", .ecfStatus = 1});
    create();

    QTest::mouseClick(button("btn_Liberar_Caixas"), Qt::LeftButton);

    // 002 was marked by the pass and released again at once.
    EXPECT_EQ(store.db.rows("SELECT num_ecf, ecf_status, exportacao FROM licenca_if ORDER BY 1"),
              (QStringList{"001|0|1", "002|0|1", "003|1|0"}));
    EXPECT_EQ(dialogs->texts(), QStringList{"Caixas Liberados com sucesso."});
}

// The handler's choices, with a shell that records what it is asked to do.
class RecordingShell : public update::UpdateShell {
public:
    void setPanelEnabled(bool enabled) override { log << (enabled ? "panel on" : "panel off"); }
    bool runButtonEnabled(update::UpdateRun) const override { return buttonsEnabled; }
    void startRun(update::UpdateRun run) override { log << QString("run %1").arg(static_cast<int>(run)); }

    bool buttonsEnabled = true;
    QStringList log;
};

QString runOf(update::UpdateRun run)
{
    return QString("run %1").arg(static_cast<int>(run));
}

TEST(UpdateNotification, StartsAtMostOneRunAndLeavesTheRequestsToIt)
{
    using update::UpdateRun;
    Store store;
    store.add({.num = "001", .reachable = false});
    store.add({.num = "002", .reachable = false, .status = "D"});
    db::Connection server(store.db.params());
    server.open();
    db::Query qConfig(server);
    qConfig.setText("SELECT * FROM CONFIG");

    struct Case {
        const char* channel;
        QString pending = "001";      // row given IMPORTACAO 11; "" for none
        bool buttons = true;
        bool manualProd = false;
        update::UpdateFlags flags{};
        QStringList log{};
    };
    const QStringList autoProdutos{"panel off", runOf(UpdateRun::CargaAutoProdutos), "panel on"};
    const QStringList autoClientes{"panel off", runOf(UpdateRun::CargaAutoClientes), "panel on"};
    const Case cases[] = {
        {"produtos", "", true, false, {}, autoProdutos},
        {"produtos", "", true, true, {}, {}},
        {"produtos", "", true, false, {.Carga_Auto_Produtos = true}, {}},
        {"clientes", "", true, true, {}, autoClientes},
        {"clientes", "", true, false, {.Exportando_Clientes = true}, {}},
        {"clientes_manual", "001", true, false, {}, {runOf(UpdateRun::ExportarClientes)}},
        {"clientes_manual_total", "001", true, false, {}, {runOf(UpdateRun::ExportarClientes)}},
        {"clientes_manual", "", true, false, {}, {}},
        {"clientes_manual", "002", true, false, {}, {}},
        {"clientes_manual", "001", false, false, {}, {}},
        {"clientes_manual", "001", true, false, {.Exportando_Clientes = true}, {}},
        {"produtos_manual", "001", true, false, {}, {runOf(UpdateRun::ExportarProdutos)}},
        {"produtos_manual_total", "001", true, false, {.Exportando_Produtos = true}, {}},
        {"finalizadoras_manual", "001", true, false, {}, {runOf(UpdateRun::Finalizadoras)}},
        {"finalizadoras_manual", "001", false, false, {}, {}},
        {"configuracoes_manual", "001", true, false, {}, {runOf(UpdateRun::Configuracoes)}},
        {"tributos_manual", "001", true, false, {}, {runOf(UpdateRun::Tributos)}},
        {"operadores_manual", "001", true, false, {}, {runOf(UpdateRun::Operadores)}},
        {"ibpt_manual", "001", true, false, {}, {runOf(UpdateRun::Ibpt)}},
        {"produtos_ecf", "001", true, false, {}, {}},
        {"clientes_ecf", "001", true, false, {}, {}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(QString("%1 pending=%2 buttons=%3").arg(c.channel, c.pending).arg(c.buttons).toStdString());
        store.db.exec(QString("UPDATE CONFIG SET CARGA_MANUAL_PROD = '%1'").arg(c.manualProd ? "True" : "False"));
        store.db.exec("UPDATE LICENCA_IF SET IMPORTACAO = 1, CARGA_TOTAL = 1");
        if (!c.pending.isEmpty())
            store.db.exec("UPDATE LICENCA_IF SET IMPORTACAO = 11 WHERE NUM_ECF = '" + c.pending + "'");
        RecordingShell shell;
        shell.buttonsEnabled = c.buttons;
        update::UpdateFlags flags = c.flags;

        update::handleUpdateNotification(c.channel, server, qConfig, flags, shell);

        EXPECT_EQ(shell.log, c.log);
        // The handler closes nothing itself: the run it starts closes what
        // it serves, and a request it could not start stays.
        const QString p1 = c.pending == "001" ? "11|1" : "1|1";
        const QString p2 = c.pending == "002" ? "11|1" : "1|1";
        EXPECT_EQ(store.db.rows("SELECT importacao, carga_total FROM licenca_if ORDER BY num_ecf"),
                  (QStringList{p1, p2}));
    }
}

// The automatic customer load lets events through; a "clientes" handled
// inside it must neither start a second load there nor be lost.
TEST(UpdateNotification, ClientesDuringAnAutomaticLoadIsServedOnceAfterIt)
{
    Store store;
    db::Connection server(store.db.params());
    server.open();
    db::Query qConfig(server);
    qConfig.setText("SELECT * FROM CONFIG");
    update::UpdateFlags flags;

    class NestingShell : public RecordingShell {
    public:
        void startRun(update::UpdateRun run) override
        {
            log << "load";
            if (++loads == 1) {
                for (int i = 0; i < 2; ++i)
                    update::handleUpdateNotification("clientes", *server, *qConfig, *flags, *this);
            }
            log << "end";
            flags->Carga_Auto_Clientes = false; // as the load does at its end
            EXPECT_EQ(run, update::UpdateRun::CargaAutoClientes);
        }
        int loads = 0;
        db::Connection* server = nullptr;
        db::Query* qConfig = nullptr;
        update::UpdateFlags* flags = nullptr;
    } shell;
    shell.server = &server;
    shell.qConfig = &qConfig;
    shell.flags = &flags;

    update::handleUpdateNotification("clientes", server, qConfig, flags, shell);

    EXPECT_EQ(shell.log, (QStringList{"panel off", "load", "end", "load", "end", "panel on"}));
    EXPECT_FALSE(flags.Clientes_Pendente);
}

} // namespace
