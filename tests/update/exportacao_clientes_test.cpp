// The customer exports run by the update window as the program creates it,
// against a server database and terminal databases the test made.

#include "ecf_boxes.h"
#include "support/copy_log_sections.h"
#include "support/program_fixture.h"
#include "support/tcp_proxy.h"

#include "common/event_pump.h"
#include "db/memtable.h"
#include "update/ecf_box.h"
#include "update/exportacao_clientes.h"
#include "update/update_window.h"

#include <QCheckBox>
#include <QFile>
#include <QLocale>
#include <QPlainTextEdit>
#include <QPointer>
#include <QProgressBar>
#include <QPushButton>
#include <QSignalSpy>
#include <QTest>
#include <QTextBlock>
#include <QTextDocument>
#include <functional>
#include <map>

namespace {

using namespace progtest;

using testsupport::numEcf;

// The sales window as the manual export sees it: a monitor switch that
// frees imports when switched on, as the real one does.
struct FakeSales {
    bool ligado = true;
    bool livre = true;
    int atualizar = 0;

    update::VendasLink link()
    {
        return {[this] { return ligado; },
                [this] { return livre; },
                [this] {
                    ligado = !ligado;
                    livre = ligado;
                },
                [this] { livre = false; },
                [this] { ++atualizar; }};
    }
};

// What the window showed each time a run let events through.
struct Turn {
    int progress;
    QString memo1;
    QList<int> boxes;  // ticked terminal boxes
    bool total;
    bool monitorOn;
};

// A terminal of the test store.
struct Pdv {
    bool refusesLogin = false;  // its database does not exist
    int ecfStatus = 0;
    int importacao = 0;
};

class ClientesExport : public ::testing::Test {
protected:
    ~ClientesExport() override
    {
        common::setEventPump({});
        QLocale::setDefault(QLocale::system());
    }

    // Terminal n with a database of its own.
    void addPdv(int n, Pdv p = {})
    {
        auto database = std::make_unique<TestDatabase>(Template::Terminal);
        store.add({.num = numEcf(n),
                   .ecfStatus = p.ecfStatus,
                   .importacao = p.importacao,
                   .banco = p.refusesLogin ? QString("qs_no_such_database") : database->name()});
        pdvs[n] = std::move(database);
    }
    TestDatabase& pdv(int n) { return *pdvs.at(n); }

    // A server customer, changed today unless told otherwise.
    void customer(int id, const QString& nome, bool today = true)
    {
        store.db.exec(QString("INSERT INTO CLIENTES (CLIENTE_ID, NOME, LIMITE, DT_ATUALIZACAO) VALUES "
                              "(%1, '%2', 300, current_date - %3)")
                          .arg(id)
                          .arg(nome)
                          .arg(today ? 0 : 1));
    }
    // An open instalment of the current company, due `days` from today.
    void instalment(int cliente, const QString& valor, int days = -1)
    {
        static int transacao = 0;
        ++transacao;
        store.db.exec(QString("INSERT INTO TRANSACOES (TRANSACAO_ID, CLIENTE_ID, EMPRESA_ID, CONDUTA, COND_PAGTO, "
                              "FINALIZADORA_ID, PARCELA_ID) VALUES (%1, %2, 3, '01', 'A PRAZO', 1, '1')")
                          .arg(transacao)
                          .arg(cliente));
        store.db.exec(QString("INSERT INTO TRANSPARCELAS (TRANSACAO_ID, PARCELA_ID, TIPO_TRANSACAO, BANCO_ID, "
                              "DT_VENCIMENTO, VALOR) VALUES (%1, '1', 'T', 0, current_date + %2, %3)")
                          .arg(transacao)
                          .arg(days)
                          .arg(valor));
    }

    update::TFrmConversor& create()
    {
        store.db.exec("INSERT INTO FINALIZADORAS (FINALIZADORA_ID, DESCRICAO, CLIENTE_ID) VALUES (1, 'PRAZO', 0)");
        store.useIni(folder);
        window = std::make_unique<update::TFrmConversor>();
        window->setAttribute(Qt::WA_DeleteOnClose, false); // the test owns it
        prepare(*window);
        window->show();
        return *window;
    }
    void prepare(update::TFrmConversor& w)
    {
        w.FormCreate();
        w.setEmpresaAtual([] { return 3; });
        w.setVendasLink(sales.link());
        w.clientes().setTerminalConnectTimeout(2);
    }

    QCheckBox* box(const QString& name) { return window->findChild<QCheckBox*>(name); }
    QCheckBox* box(int n) { return updatetest::ecfBox(*window, n); }
    QPushButton* button() { return window->findChild<QPushButton*>("btn_exportar_cliente"); }
    QStringList memo(const char* name) { return window->findChild<QPlainTextEdit*>(name)->toPlainText().split('\n'); }
    // Memo1's lines shown in red.
    QStringList redLines()
    {
        QStringList out;
        const QTextDocument* doc = window->findChild<QPlainTextEdit*>("Memo1")->document();
        for (QTextBlock b = doc->begin(); b.isValid(); b = b.next())
            if (b.begin() != b.end() && b.begin().fragment().charFormat().foreground().color() == QColor(255, 0, 0))
                out << b.text();
        return out;
    }
    QList<int> ticked() { return updatetest::tickedBoxes(*window); }

    // Records every turn of the event pump inside the runs.
    void recordTurns()
    {
        common::setEventPump([this] {
            turns.push_back({window->findChild<QProgressBar*>("ProgressBar1")->value(),
                             window->findChild<QPlainTextEdit*>("Memo1")->toPlainText(), ticked(),
                             box("Chk_Total")->isChecked(), sales.ligado});
        });
    }
    // Distinct progress values in the order shown, from the first step on:
    // how many turns the bar sits at 0 first depends on how long the
    // terminals take to connect.
    QList<int> progressShown() const
    {
        QList<int> out;
        for (const Turn& t : turns)
            if ((out.isEmpty() && t.progress != 0) || (!out.isEmpty() && out.back() != t.progress))
                out << t.progress;
        return out;
    }

    // Raises `channel` and waits until the window has handled it.
    void notifyAndWait(const QString& channel = "clientes")
    {
        QSignalSpy handled(window.get(), &update::TFrmConversor::notificationHandled);
        store.db.exec("NOTIFY " + channel);
        ASSERT_TRUE(testsupport::waitFor(
            [&] {
                for (const QList<QVariant>& args : handled)
                    if (args.value(0).toString() == channel)
                        return true;
                return false;
            },
            testsupport::kWindowRunMs));
    }
    void notifyClientes() { notifyAndWait("clientes"); }

    // NUM_ECF, stamped today, with a time.
    QStringList stamps()
    {
        return store.db.rows("SELECT num_ecf, coalesce(dt_sync_cli = current_date AND hr_sync_cli IS NOT NULL, "
                             "false) FROM licenca_if ORDER BY 1");
    }
    QStringList clientesOf(int n)
    {
        return pdv(n).rows("SELECT cliente_id, nome, saldo, pr_vencimento, valor_conta FROM clientes ORDER BY 1");
    }
    QString logText(const QString& name)
    {
        QFile f(folder.dir.filePath("QuiborSync_Logs/" + name));
        return f.open(QIODevice::ReadOnly) ? QString::fromUtf8(f.readAll()) : QString("<missing>");
    }
    QString dialogTexts() { return dialogs->texts().join(" / "); }
    // The run's log is there with a section for each of `terminals`, each
    // ending with the closing line of a copy without errors.
    void expectCleanLog(const QString& name, const QStringList& terminals)
    {
        const std::vector<testsupport::LogSection> log = testsupport::logSections(name);
        ASSERT_EQ(testsupport::logSectionTitles(log), terminals) << logText(name).toStdString();
        for (const testsupport::LogSection& section : log)
            EXPECT_TRUE(section.entries.section('\n', -1).startsWith(QString::fromUtf8("C\u00f3pia encerrada em "))
                        && section.entries.endsWith(": nenhum erro registrado"))
                << section.entries.toStdString();
    }

    ProgramFolder folder;
    testsupport::ScopedRecordingDialogs dialogs;
    Store store;
    std::map<int, std::unique_ptr<TestDatabase>> pdvs;
    FakeSales sales;
    std::unique_ptr<update::TFrmConversor> window;
    std::vector<Turn> turns;
};

const QString kYesterday = QDate::currentDate().addDays(-1).toString(Qt::ISODate);

TEST_F(ClientesExport, AutomaticLoadSendsTodaysChangesToEveryActiveReachableTerminal)
{
    addPdv(1);
    addPdv(2, {.ecfStatus = 1});
    addPdv(3);
    customer(1, "BEATRIZ");
    instalment(1, "80.00");
    customer(2, "ANA");
    customer(3, "ANTIGO", false);
    pdv(1).exec("INSERT INTO CLIENTES (CLIENTE_ID, NOME, SALDO) VALUES (2, 'ANA VELHA', 999), (50, 'APAGADO', 1)");
    create();
    recordTurns();

    notifyClientes();

    // Updated by CLIENTE_ID, added otherwise; nothing is deleted.
    const QString beatriz = "1|BEATRIZ|80.00|" + kYesterday + "|80.00";
    EXPECT_EQ(clientesOf(1), (QStringList{beatriz, "2|ANA|0.00|1899-12-30|0.00", "50|APAGADO|1.00|<null>|0.00"}));
    EXPECT_TRUE(clientesOf(2).isEmpty());
    EXPECT_EQ(clientesOf(3), (QStringList{beatriz, "2|ANA|0.00|1899-12-30|0.00"}));
    EXPECT_EQ(stamps(), (QStringList{"001|t", "002|f", "003|t"}));

    EXPECT_EQ(memo("Memo1"), (QStringList{"000002 - ANA", "000001 - BEATRIZ", "",
                                          "******Clientes alterados - 2 Ecf: 003! ******"}));
    EXPECT_EQ(progressShown(), (QList<int>{50, 100}));
    EXPECT_EQ(window->findChild<QProgressBar*>("ProgressBar1")->value(), 0);
    expectCleanLog("LogClientes_auto.log", {"Ecf 001", "Ecf 003"});
    EXPECT_FALSE(window->flags().Carga_Auto_Clientes);
    EXPECT_TRUE(window->findChild<QWidget*>("Panel_Exporta")->isEnabled());
    EXPECT_TRUE(dialogs->shown.empty()) << dialogTexts().toStdString();
}

TEST_F(ClientesExport, AutomaticLoadWithoutChangesStillServesAndSkipsATerminalThatRefuses)
{
    addPdv(1, {.refusesLogin = true});
    addPdv(2);
    customer(1, "ANTIGO", false);
    create();
    recordTurns();

    notifyClientes();

    EXPECT_TRUE(clientesOf(2).isEmpty());
    EXPECT_EQ(stamps(), (QStringList{"001|f", "002|t"}));
    // The terminal that could not be reached is a red line, kept through
    // the run's later clears of the pane.
    EXPECT_EQ(memo("Memo1"), redLines());
    ASSERT_EQ(redLines().size(), 1);
    EXPECT_TRUE(redLines()[0].startsWith("Ecf01 - Carga Autom\u00e1tica Clientes: caixa ignorado - "))
        << redLines()[0].toStdString();
    EXPECT_TRUE(redLines()[0].contains("qs_no_such_database")) << redLines()[0].toStdString();
    EXPECT_EQ(progressShown(), (QList<int>{50, 100}));
    EXPECT_TRUE(dialogs->shown.empty()) << dialogTexts().toStdString();
}

TEST_F(ClientesExport, AutomaticLoadThatFailsBuildingSendsTheRowsBuiltSoFar)
{
    addPdv(1);
    customer(1, "ANA");
    customer(2, "BRUNO");
    create();
    // The server refuses the balance query from the second customer on.
    bool renamed = false;
    common::setEventPump([&] {
        if (!renamed) {
            renamed = true;
            store.db.exec("ALTER TABLE FINALIZADORAS RENAME TO FINALIZADORAS_OLD");
        }
    });

    notifyClientes();

    ASSERT_EQ(dialogs->shown.size(), 1u) << dialogTexts().toStdString();
    EXPECT_EQ(dialogs->shown[0].kind, "error");
    EXPECT_TRUE(dialogs->shown[0].text.startsWith("Erro7:\rErro: ")) << dialogTexts().toStdString();
    EXPECT_TRUE(dialogs->shown[0].text.contains("finalizadoras")) << dialogTexts().toStdString();
    EXPECT_EQ(clientesOf(1), QStringList{"1|ANA|0.00|1899-12-30|0.00"});
    EXPECT_EQ(stamps(), QStringList{"001|t"});
}

TEST_F(ClientesExport, LongNameIsCutAndATerminalThatRefusesTheRowFailsAlone)
{
    for (int n = 1; n <= 3; ++n)
        addPdv(n);
    pdv(1).exec("ALTER TABLE CLIENTES ALTER COLUMN NOME TYPE varchar(10)");
    pdv(3).exec("ALTER TABLE CLIENTES ALTER COLUMN NOME TYPE varchar(10)");
    const QString longName = QString(80, 'M');
    customer(7, longName);
    create();

    notifyClientes();

    EXPECT_TRUE(clientesOf(1).isEmpty());
    EXPECT_EQ(pdv(2).scalar("SELECT nome FROM clientes"), longName.left(70));
    EXPECT_TRUE(clientesOf(3).isEmpty());
    EXPECT_EQ(stamps(), (QStringList{"001|f", "002|t", "003|f"}));
    // One log for the run, a section for each terminal with its own errors.
    const std::vector<testsupport::LogSection> log = testsupport::logSections("LogClientes_auto.log");
    ASSERT_EQ(testsupport::logSectionTitles(log), (QStringList{"Ecf 001", "Ecf 002", "Ecf 003"}))
        << logText("LogClientes_auto.log").toStdString();
    EXPECT_TRUE(log[0].entries.contains("character varying(10)")) << log[0].entries.toStdString();
    EXPECT_TRUE(log[1].entries.endsWith("nenhum erro registrado")) << log[1].entries.toStdString();
    EXPECT_TRUE(log[2].entries.contains("character varying(10)")) << log[2].entries.toStdString();
    EXPECT_TRUE(dialogs->shown.empty()) << dialogTexts().toStdString();
}

TEST_F(ClientesExport, ManualExportServesTheRequestedTerminalWithEveryCustomer)
{
    addPdv(1);
    addPdv(5, {.importacao = 10});
    store.db.exec("UPDATE LICENCA_IF SET CARGA_TOTAL = 1 WHERE NUM_ECF = '005'");
    customer(1, "CARLOS");
    customer(2, "BRUNO", false);
    instalment(2, "150.50", 3);
    QLocale::setDefault(QLocale(QLocale::Portuguese, QLocale::Brazil));
    create();
    recordTurns();

    QTest::mouseClick(button(), Qt::LeftButton);

    EXPECT_TRUE(dialogs->shown.empty()) << dialogTexts().toStdString();
    EXPECT_TRUE(clientesOf(1).isEmpty());
    EXPECT_EQ(clientesOf(5), (QStringList{"1|CARLOS|0.00|1899-12-30|0.00", "2|BRUNO|150.50|1899-12-30|0.00"}));
    EXPECT_EQ(store.db.rows("SELECT num_ecf, importacao, carga_total, exportacao FROM licenca_if ORDER BY 1"),
              (QStringList{"001|0|0|0", "005|0|0|0"}));
    EXPECT_EQ(stamps(), (QStringList{"001|f", "005|t"}));

    // During the run: the request's box and "Exportar todos Registros"
    // ticked, the monitor paused, the pane telling which terminal is served.
    ASSERT_FALSE(turns.empty());
    EXPECT_EQ(turns.front().boxes, QList<int>{5});
    EXPECT_TRUE(turns.front().total);
    EXPECT_FALSE(turns.front().monitorOn);
    EXPECT_EQ(turns.back().memo1, "Exportando 2 Clientes: -> Ecf: 05\n Aguarde...");

    // Afterwards: listings, every box unticked, the window back at rest.
    EXPECT_EQ(memo("Memo2"), (QStringList{"000002 - BRUNO - R$150,5", "000001 - CARLOS - R$0"}));
    EXPECT_EQ(memo("Memo1"), (QStringList{"", "******Clientes alterados - 2 Ecf: 05! ******", "Finalizado Clientes!"}));
    EXPECT_TRUE(ticked().isEmpty());
    EXPECT_FALSE(box("Chk_Total")->isChecked());
    EXPECT_TRUE(button()->isEnabled());
    EXPECT_FALSE(window->flags().Exportando_Clientes);
    EXPECT_TRUE(sales.ligado);
    EXPECT_EQ(sales.atualizar, 0); // a request was served
    expectCleanLog("LogClientes.log", {"Ecf 005"});
}

// "Exportar todos Registros" left clear: only the customers changed today
// go, and a terminal's copy of any other customer is left as it was.
TEST_F(ClientesExport, ManualExportWithoutSendAllSendsOnlyTodaysChanges)
{
    addPdv(1);
    addPdv(2);
    customer(1, "CARLOS");
    customer(2, "BRUNO", false);
    instalment(2, "150.50", 3);
    customer(3, "ANA", false);
    pdv(1).exec("INSERT INTO CLIENTES (CLIENTE_ID, NOME, SALDO) VALUES (2, 'BRUNO NO PDV', 5)");
    create();
    recordTurns();
    QTest::mouseClick(box(1), Qt::LeftButton);

    QTest::mouseClick(button(), Qt::LeftButton);

    EXPECT_TRUE(dialogs->shown.empty()) << dialogTexts().toStdString();
    ASSERT_FALSE(turns.empty());
    EXPECT_FALSE(turns.front().total);
    EXPECT_EQ(clientesOf(1), (QStringList{"1|CARLOS|0.00|1899-12-30|0.00", "2|BRUNO NO PDV|5.00|<null>|0.00"}));
    EXPECT_TRUE(clientesOf(2).isEmpty());
    EXPECT_EQ(stamps(), (QStringList{"001|t", "002|f"}));
    EXPECT_EQ(turns.back().memo1, "Exportando 1 Clientes: -> Ecf: 01\n Aguarde...");
    EXPECT_EQ(memo("Memo2"), QStringList{"000001 - CARLOS - R$0"});
    EXPECT_EQ(memo("Memo1"), (QStringList{"", "******Clientes alterados - 1 Ecf: 01! ******", "Finalizado Clientes!"}));
    EXPECT_EQ(sales.atualizar, 1); // no request was served
}

TEST_F(ClientesExport, AllTerminalsModeStampsOnlyTheTerminalsServed)
{
    addPdv(1, {.importacao = 10});
    addPdv(2, {.refusesLogin = true});
    addPdv(3);
    store.add({.num = "009", .status = "D", .importacao = 10});
    store.db.exec("UPDATE LICENCA_IF SET TODAS_ECFS = 1 WHERE NUM_ECF = '001'");
    customer(1, "CARLOS");
    create();
    recordTurns();

    QTest::mouseClick(button(), Qt::LeftButton);

    ASSERT_FALSE(turns.empty());
    QList<int> all;
    for (int n = 1; n <= update::kEcfBoxCount; ++n)
        all << n;
    EXPECT_EQ(turns.front().boxes, all); // every box, enabled or not
    EXPECT_EQ(clientesOf(1).size(), 1);
    EXPECT_EQ(clientesOf(3).size(), 1);
    // A failed or skipped terminal must not look served; only the requests
    // of the terminals served are closed.
    EXPECT_EQ(stamps(), (QStringList{"001|t", "002|f", "003|t", "009|f"}));
    EXPECT_EQ(store.db.scalar("SELECT count(DISTINCT (dt_sync_cli, hr_sync_cli)) FROM licenca_if "
                              "WHERE dt_sync_cli IS NOT NULL"),
              "1");
    EXPECT_EQ(store.db.rows("SELECT num_ecf, importacao, carga_total, todas_ecfs, exportacao FROM licenca_if "
                            "ORDER BY 1"),
              (QStringList{"001|0|0|0|0", "002|0|0|0|0", "003|0|0|0|0", "009|10|0|0|0"}));
    const QString skipped = "Ecf02 - Carga Clientes p/ Pdv: caixa ignorado - ";
    ASSERT_EQ(redLines().size(), 1);
    EXPECT_TRUE(redLines()[0].startsWith(skipped)) << redLines()[0].toStdString();
    EXPECT_EQ(memo("Memo1"),
              (QStringList{redLines()[0], "", "******Clientes alterados - 1 Ecf: 03! ******", "Finalizado Clientes!"}));
    // The run's log tells about each terminal, not the last one only, and
    // says why one was not served.
    const std::vector<testsupport::LogSection> log = testsupport::logSections("LogClientes.log");
    ASSERT_EQ(testsupport::logSectionTitles(log), (QStringList{"Ecf 001", "Ecf 002", "Ecf 003"}))
        << logText("LogClientes.log").toStdString();
    EXPECT_EQ(log[1].entries.trimmed(), redLines()[0]);
    EXPECT_TRUE(ticked().isEmpty());
    EXPECT_FALSE(box("Todas_Ecfs")->isChecked());
    EXPECT_TRUE(dialogs->shown.empty()) << dialogTexts().toStdString();
}

TEST_F(ClientesExport, MonitorIsPausedForTheRunAndPutBackAsItWas)
{
    addPdv(1);
    customer(1, "CARLOS"); // building the rows lets events through once
    create();
    recordTurns();

    struct Case {
        const char* name;
        bool ligado;
        bool livre;
        bool pausedDuring;
        bool livreAfter;
    };
    const Case cases[] = {
        {"on, no import", true, true, true, true},
        {"paused by hand", false, false, true, false},
        {"on, a sales import running below", true, false, true, false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        sales.ligado = c.ligado;
        sales.livre = c.livre;
        sales.atualizar = 0;
        turns.clear();

        // No box ticked, no mark, no request: nothing is sent, and the
        // sales window is asked for its "Atualizar Dados".
        QTest::mouseClick(button(), Qt::LeftButton);

        ASSERT_FALSE(turns.empty());
        EXPECT_EQ(turns.front().monitorOn, !c.pausedDuring);
        EXPECT_EQ(sales.ligado, c.ligado);
        EXPECT_EQ(sales.livre, c.livreAfter);
        EXPECT_EQ(sales.atualizar, 1);
        EXPECT_EQ(memo("Memo1"), QStringList{"Finalizado Clientes!"});
        EXPECT_TRUE(clientesOf(1).isEmpty());
    }
    EXPECT_TRUE(dialogs->shown.empty()) << dialogTexts().toStdString();
}

TEST_F(ClientesExport, FailedManualRunStillPutsTheWindowBackAtRest)
{
    addPdv(1);
    create();
    // The request columns the run reads are gone: it fails outside its
    // guarded steps.
    store.db.exec("ALTER TABLE LICENCA_IF DROP COLUMN TODAS_ECFS");
    store.db.exec("UPDATE LICENCA_IF SET IMPORTACAO = 10, EXPORTACAO = 1");
    QTest::mouseClick(box(1), Qt::LeftButton);

    QTest::mouseClick(button(), Qt::LeftButton);

    ASSERT_EQ(dialogs->shown.size(), 1u);
    EXPECT_EQ(dialogs->shown[0].kind, "plain");
    EXPECT_TRUE(dialogs->shown[0].text.contains("TODAS_ECFS")) << dialogTexts().toStdString();
    EXPECT_TRUE(button()->isEnabled());
    EXPECT_FALSE(window->flags().Exportando_Clientes);
    EXPECT_TRUE(ticked().isEmpty());
    EXPECT_EQ(store.db.scalar("SELECT exportacao FROM licenca_if"), "0");
    EXPECT_TRUE(sales.ligado);
    EXPECT_TRUE(sales.livre);
    EXPECT_EQ(stamps(), QStringList{"001|f"});

    // Later requests are served again (and fail again the same way).
    store.db.exec("UPDATE LICENCA_IF SET IMPORTACAO = 10");
    store.db.exec("NOTIFY clientes_manual");
    EXPECT_TRUE(testsupport::waitFor([&] { return dialogs->shown.size() == 2; }, 30000)) << dialogTexts().toStdString();
}

TEST_F(ClientesExport, WithoutAnExportTableNothingIsCopiedOrStamped)
{
    addPdv(1);
    customer(1, "CARLOS");
    pdv(1).exec("INSERT INTO CLIENTES (CLIENTE_ID, NOME, SALDO) VALUES (1, 'CARLOS', 999)");
    create();
    window->clientes().setCriarTabela([]() -> std::unique_ptr<db::MemTable> {
        throw std::runtime_error("sem mem\u00f3ria");
    });

    notifyClientes();
    EXPECT_EQ(dialogTexts(), "Erro6:\rErro: sem mem\u00f3ria");
    EXPECT_EQ(dialogs->shown[0].kind, "error");
    EXPECT_FALSE(window->flags().Carga_Auto_Clientes);
    EXPECT_EQ(window->clientes().Fdac_temp_auto(), nullptr);

    dialogs->shown.clear();
    QTest::mouseClick(box(1), Qt::LeftButton);
    QTest::mouseClick(button(), Qt::LeftButton);
    EXPECT_EQ(dialogTexts(), "sem mem\u00f3ria");
    EXPECT_EQ(dialogs->shown[0].kind, "plain");
    EXPECT_TRUE(button()->isEnabled());
    EXPECT_TRUE(ticked().isEmpty());

    // The stale balance stays, and nobody looks served.
    EXPECT_EQ(clientesOf(1), QStringList{"1|CARLOS|999.00|<null>|0.00"});
    EXPECT_EQ(stamps(), QStringList{"001|f"});
    EXPECT_EQ(store.db.scalar("SELECT exportacao FROM licenca_if"), "0");
}

TEST_F(ClientesExport, CloseDuringARunWaitsForItsEnd)
{
    addPdv(1);
    customer(1, "CARLOS");
    store.db.exec("INSERT INTO FINALIZADORAS (FINALIZADORA_ID, DESCRICAO, CLIENTE_ID) VALUES (1, 'PRAZO', 0)");
    store.useIni(folder);
    QPointer<update::TFrmConversor> w = new update::TFrmConversor(); // destroys itself when closed
    prepare(*w);
    w->show();
    int closes = 0;
    bool aliveAfterClose = false;
    common::setEventPump([&] {
        if (closes++ == 0) {
            w->close();
            QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
            aliveAfterClose = !w.isNull() && w->isVisible();
        }
    });

    QTest::mouseClick(w->findChild<QPushButton*>("btn_exportar_cliente"), Qt::LeftButton);

    EXPECT_TRUE(aliveAfterClose);
    ASSERT_FALSE(w.isNull());
    EXPECT_EQ(w->findChild<QPlainTextEdit*>("Memo1")->toPlainText(), "Finalizado Clientes!");
    EXPECT_FALSE(w->isVisible()); // closed once the run ended
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    EXPECT_TRUE(w.isNull());
    delete w.data();
}

// A terminal whose session ends in the middle of the copy (a database
// restarted, a link cut) is a red line, never a box: the other terminals are
// served, that one is neither stamped nor has its request closed, and the
// next request brings it every customer.
TEST_F(ClientesExport, TerminalLostMidCopyIsALineAndTheNextRequestServesIt)
{
    constexpr int kCustomers = 250; // three commit groups of the copy
    for (int n = 1; n <= 3; ++n)
        addPdv(n);
    // Terminal 2 ends its own session at the 150th customer inserted: the
    // first group of 100 is committed, the second is lost with the link.
    pdv(2).exec("CREATE SEQUENCE cut_at");
    pdv(2).exec("CREATE FUNCTION cut() RETURNS trigger LANGUAGE plpgsql AS $$ BEGIN "
                "IF nextval('cut_at') = 150 THEN PERFORM pg_terminate_backend(pg_backend_pid()); "
                "PERFORM pg_sleep(5); END IF; RETURN NEW; END $$");
    pdv(2).exec("CREATE TRIGGER cut BEFORE INSERT ON CLIENTES FOR EACH ROW EXECUTE FUNCTION cut()");
    store.db.exec(QString("INSERT INTO CLIENTES (CLIENTE_ID, NOME, LIMITE, DT_ATUALIZACAO) SELECT g, 'CLIENTE ' || "
                          "lpad(g::text, 3, '0'), 100, current_date FROM generate_series(1, %1) g")
                      .arg(kCustomers));
    create();

    struct Case {
        const char* channel;
        const char* run;     // as the terminal's line names it
        int request;         // IMPORTACAO of every terminal before the run
        const char* log;
    };
    const Case cases[] = {
        {"clientes", "Carga Autom\u00e1tica Clientes", 0, "LogClientes_auto.log"},
        {"clientes_manual", "Carga Clientes p/ Pdv", 10, "LogClientes.log"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.channel);
        for (int n = 1; n <= 3; ++n)
            pdv(n).exec("DELETE FROM CLIENTES");
        pdv(2).exec("ALTER SEQUENCE cut_at RESTART");
        store.db.exec(QString("UPDATE LICENCA_IF SET DT_SYNC_CLI = NULL, HR_SYNC_CLI = NULL, IMPORTACAO = %1")
                          .arg(c.request));
        dialogs->shown.clear();

        notifyAndWait(c.channel);

        EXPECT_TRUE(dialogs->shown.empty()) << dialogTexts().toStdString();
        ASSERT_EQ(redLines().size(), 1) << memo("Memo1").join(" / ").toStdString();
        const QString line = redLines()[0];
        EXPECT_TRUE(line.startsWith(QString("Ecf02 - %1: caixa ignorado - ").arg(c.run))) << line.toStdString();
        EXPECT_EQ(memo("Memo1").count(line), 1);
        EXPECT_EQ(pdv(1).scalar("SELECT count(*) FROM clientes"), QString::number(kCustomers));
        EXPECT_EQ(pdv(2).scalar("SELECT count(*) FROM clientes"), "100");
        EXPECT_EQ(pdv(3).scalar("SELECT count(*) FROM clientes"), QString::number(kCustomers));
        EXPECT_EQ(stamps(), (QStringList{"001|t", "002|f", "003|t"}));
        EXPECT_EQ(store.db.rows("SELECT importacao FROM licenca_if ORDER BY num_ecf"),
                  (QStringList{"0", QString::number(c.request), "0"}));
        // The same text in the run's log, under the terminal's section.
        const std::vector<testsupport::LogSection> log = testsupport::logSections(c.log);
        ASSERT_EQ(testsupport::logSectionTitles(log), (QStringList{"Ecf 001", "Ecf 002", "Ecf 003"}))
            << logText(c.log).toStdString();
        EXPECT_TRUE(log[1].entries.endsWith("\n" + line)) << log[1].entries.toStdString();

        // The next request brings terminal 2 every customer.
        notifyAndWait(c.channel);

        EXPECT_TRUE(dialogs->shown.empty()) << dialogTexts().toStdString();
        EXPECT_TRUE(redLines().isEmpty()) << redLines().join(" / ").toStdString();
        EXPECT_EQ(pdv(2).scalar("SELECT count(*) FROM clientes"), QString::number(kCustomers));
        EXPECT_EQ(stamps(), (QStringList{"001|t", "002|t", "003|t"}));
        EXPECT_EQ(store.db.scalar("SELECT count(*) FROM licenca_if WHERE importacao <> 0"), "0");
    }
}

// "clientes" follows a sales import in a store's day: the requests of the
// sales window (1, 3) and of other exports must outlive the customer load
// that serves their terminals.
TEST_F(ClientesExport, CustomerLoadLeavesEveryOtherRequestInPlace)
{
    addPdv(1, {.importacao = 1});
    addPdv(2, {.importacao = 3});
    addPdv(3, {.importacao = 14});
    store.db.exec("UPDATE LICENCA_IF SET CARGA_TOTAL = 1 WHERE NUM_ECF = '003'");
    customer(1, "CARLOS");
    create();

    notifyClientes();

    EXPECT_TRUE(dialogs->shown.empty()) << dialogTexts().toStdString();
    for (int n = 1; n <= 3; ++n)
        EXPECT_EQ(clientesOf(n).size(), 1) << n;
    EXPECT_EQ(stamps(), (QStringList{"001|t", "002|t", "003|t"}));
    EXPECT_EQ(store.db.rows("SELECT num_ecf, importacao, carga_total FROM licenca_if ORDER BY 1"),
              (QStringList{"001|1|0", "002|3|0", "003|14|1"}));
}

// The server going away in the middle of a run ends it with one red line,
// never a box, and nothing is stamped as sent; the window is back at rest
// and the next request serves everything.
TEST_F(ClientesExport, ServerLostDuringARunIsALineAndTheNextRequestServesIt)
{
    addPdv(1);
    customer(1, "CARLOS"); // building the rows lets events through
    customer(2, "BRUNO");
    testsupport::TcpProxy serverLink;
    store.db.exec("INSERT INTO FINALIZADORAS (FINALIZADORA_ID, DESCRICAO, CLIENTE_ID) VALUES (1, 'PRAZO', 0)");
    folder.writeIni(testsupport::testHost(), serverLink.port(), store.db.name(), testsupport::testUser(), "unused");
    window = std::make_unique<update::TFrmConversor>();
    window->setAttribute(Qt::WA_DeleteOnClose, false);
    prepare(*window);
    window->show();

    struct Case {
        const char* name;
        std::function<void()> start;
    };
    const Case cases[] = {
        {"clientes notification", [&] { notifyClientes(); }},
        {"manual export", [&] {
             QTest::mouseClick(box(1), Qt::LeftButton);
             QTest::mouseClick(button(), Qt::LeftButton);
         }},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        dialogs->shown.clear();
        bool cut = false;
        common::setEventPump([&] {
            if (!cut) {
                cut = true;
                serverLink.setMode(testsupport::TcpProxy::Mode::Refuse);
            }
        });

        c.start();

        common::setEventPump({});
        ASSERT_TRUE(cut);
        EXPECT_TRUE(dialogs->shown.empty()) << dialogTexts().toStdString();
        ASSERT_EQ(redLines().size(), 1) << memo("Memo1").join(" / ").toStdString();
        EXPECT_TRUE(redLines()[0].startsWith("Servidor: exporta\u00e7\u00e3o interrompida - "))
            << redLines()[0].toStdString();
        EXPECT_TRUE(clientesOf(1).isEmpty());
        EXPECT_FALSE(window->flags().Carga_Auto_Clientes);
        EXPECT_FALSE(window->flags().Exportando_Clientes);
        EXPECT_TRUE(button()->isEnabled());
        EXPECT_TRUE(ticked().isEmpty());
        EXPECT_TRUE(window->findChild<QWidget*>("Panel_Exporta")->isEnabled());
        serverLink.setMode(testsupport::TcpProxy::Mode::Forward);
        EXPECT_EQ(stamps(), QStringList{"001|f"});
    }

    // Anything else that meets the lost server (here the release button's
    // status pass) is the same line, never the standard error box.
    serverLink.setMode(testsupport::TcpProxy::Mode::Refuse);
    dialogs->shown.clear();
    QTest::mouseClick(window->findChild<QPushButton*>("btn_Liberar_Caixas"), Qt::LeftButton);
    EXPECT_TRUE(dialogs->shown.empty()) << dialogTexts().toStdString();
    ASSERT_FALSE(redLines().isEmpty());
    EXPECT_TRUE(redLines().back().startsWith("Servidor: exporta\u00e7\u00e3o interrompida - "))
        << redLines().back().toStdString();

    // Back: the next "clientes" (or the catch-up after the listener's
    // reconnect) brings terminal 1 its customers.
    serverLink.setMode(testsupport::TcpProxy::Mode::Forward);
    store.db.exec("NOTIFY clientes");
    EXPECT_TRUE(testsupport::waitFor([&] { return stamps() == QStringList{"001|t"}; }, testsupport::kWindowRunMs));
    EXPECT_EQ(clientesOf(1).size(), 2);
    EXPECT_TRUE(dialogs->shown.empty()) << dialogTexts().toStdString();
}

} // namespace
