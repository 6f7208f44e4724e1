// The sales consistency check against a real store, on its own and through
// the sales window (its button and the first "venda").

#include "sales_store.h"

#include "app/startup.h"
#include "common/event_pump.h"
#include "db/errors.h"
#include "db/listener.h"
#include "sales/consistir_vendas.h"
#include "sales/sales_window.h"
#include "support/program_fixture.h"
#include "support/silent_listener.h"
#include "terminals/status_view.h"
#include "ui/standard_error.h"

#include <QLabel>
#include <QPushButton>
#include <QTest>
#include <gtest/gtest.h>

using namespace salestest;

namespace {

const QString kConsistindo = "Consistindo Itens...";
const QString kConcluido = QStringLiteral("Processo conclu\u00eddo com sucesso.");

class RecordingLines : public terminals::StatusLinesView {
public:
    void clearStatusLines() override { lines.clear(); }
    void addStatusLine(const QString& text, terminals::LineColor color) override
    {
        lines << text;
        red = red && color == terminals::LineColor::Red;
    }
    QStringList lines;
    bool red = true;
};

// A sale as the server holds it: TRANSACAO_ORIGEM is id + 400; each item is
// "VR_TOTAL|VR_FRETE|VALOR_ICMS_DESON".
struct ServerSale {
    int id;
    int banco;
    int daysAgo = 0;
    QString valor = "30.00";
    QStringList items = { "10.00|1.50|1.50", "20.00|0|0" };
    bool complement = true; // has its COMPL_NFISCAL row
    QString modelo = "2D";
};

// A SalesStore with the check beside its sales import.
struct CheckStore : SalesStore {
    explicit CheckStore(int terminals)
        : SalesStore(terminals)
        , check(sales::ConsistirLinks { *serverConnection, *config, view, pane,
              [this](const QString& text) { labels << text; },
              [this](const db::Dataset& row) -> db::Connection& { return import->novaConexaoPdv(row); },
              [this] { return import->conexaoPdv(); }, pendente })
    {
        server.exec("UPDATE CONFIG SET DIAS_CONSISTIR = 2");
        reopenConfig();
    }

    // The sale on the server, and its items and instalment on terminal
    // `pdvNumber`, already imported (2).
    void add(const ServerSale& s, int pdvNumber)
    {
        server.exec(
            QString("INSERT INTO TRANSACOES (TRANSACAO_ID, TRANSACAO_ORIGEM, BANCO_ID, NUM_DOC, DT_TRANS, "
                    "MODELO, VALOR) VALUES (%1, %1 + 400, %2, '%1', current_date - %3, '%4', %5)")
                .arg(s.id)
                .arg(s.banco)
                .arg(s.daysAgo)
                .arg(s.modelo, s.valor));
        int sequencia = 0;
        for (const QString& item : s.items) {
            const QStringList v = item.split('|');
            server.exec(
                QString("INSERT INTO TRANSITENS (TRANSACAO_ID, SEQUENCIA, BANCO_ID, VR_TOTAL, VR_FRETE, "
                        "VALOR_ICMS_DESON) VALUES (%1, %2, %3, %4, %5, %6)")
                    .arg(s.id)
                    .arg(++sequencia)
                    .arg(s.banco)
                    .arg(v[0], v[1], v[2]));
        }
        if (s.complement)
            server.exec(
                QString("INSERT INTO COMPL_NFISCAL (TRANSACAO_ID, DT_SAIDA) VALUES (%1, current_date - %2)")
                    .arg(s.id)
                    .arg(s.daysAgo));
        pdv(pdvNumber).exec(
            QString("INSERT INTO TRANSITENS (TRANSACAO_ID, SEQUENCIA, BANCO_ID, PRODUTO_ID, "
                    "VR_TOTAL, EXPORTADO) VALUES (%1 + 400, 1, %2, 10, 10, 2), (%1 + 400, 2, %2, 20, "
                    "20, 2)")
                .arg(s.id)
                .arg(s.banco));
        pdv(pdvNumber).exec(QString("INSERT INTO TRANSPARCELAS (TRANSACAO_ID, PARCELA_ID, VALOR, EXPORTADO) "
                                    "VALUES (%1 + 400, '1', 30, 2)")
                                .arg(s.id));
    }

    // "origem:items:instalments" of every terminal row at 0.
    QStringList reflagged(int n)
    {
        return pdv(n).rows(
            "SELECT i.TRANSACAO_ID || ':' || count(*) || ':' || (SELECT count(*) FROM TRANSPARCELAS p "
            "WHERE p.TRANSACAO_ID = i.TRANSACAO_ID AND p.EXPORTADO = 0) FROM TRANSITENS i WHERE "
            "i.EXPORTADO = 0 GROUP BY i.TRANSACAO_ID ORDER BY 1");
    }

    QStringList table()
    {
        QStringList out;
        const db::MemTable& t = check.Fdac_Temp();
        for (const_cast<db::MemTable&>(t).first(); !t.eof(); const_cast<db::MemTable&>(t).next())
            out << t.field("TRANSACAO_ID").asString() + "|" + t.field("BANCO_ID").asString();
        return out;
    }

    RecordingLines pane;
    QStringList labels;
    bool pendente = true;
    sales::Consistir_Vendas check;
};

TEST(ConsistirVendas, ReflagsTheItemsOfSalesThatDoNotAddUpOrHaveNoComplement)
{
    CheckStore store(3);
    store.server.exec("UPDATE LICENCA_IF SET NUM_ECF = '012' WHERE NUM_ECF = '002'");
    store.server.exec("UPDATE LICENCA_IF SET STATUS = 'D' WHERE NUM_ECF = '003'");
    store.add({ .id = 101, .banco = 1 }, 1); // adds up, with complement
    store.add({ .id = 102, .banco = 1, .items = { "10.00|0|0" } }, 1);
    store.add({ .id = 103, .banco = 1, .daysAgo = 1, .valor = "25.00", .items = {} }, 1);
    store.add({ .id = 104, .banco = 12, .daysAgo = 2, .complement = false }, 2);
    // Found by both statements: kept once.
    store.add({ .id = 105, .banco = 12, .items = { "29.99|0|0" }, .complement = false }, 2);
    store.add({ .id = 106, .banco = 1, .daysAgo = 3, .items = {} }, 1); // before the period
    store.add({ .id = 107, .banco = 1, .items = {}, .complement = false, .modelo = "65" }, 1);
    store.add({ .id = 108, .banco = 3, .daysAgo = 1, .items = {} }, 3); // inactive terminal

    store.check.run();

    EXPECT_EQ(store.table(), (QStringList { "104|12", "103|1", "108|3", "102|1", "105|12" }));
    EXPECT_EQ(store.reflagged(1), (QStringList { "502:2:1", "503:2:1" }));
    EXPECT_EQ(store.reflagged(2), (QStringList { "504:2:1", "505:2:1" }));
    EXPECT_EQ(store.reflagged(3), QStringList {});
    // Every terminal that answers is active again and asked for its sales.
    EXPECT_EQ(store.server.rows("SELECT NUM_ECF, STATUS, IMPORTACAO FROM LICENCA_IF ORDER BY 1"),
        (QStringList { "001|A|1", "003|A|1", "012|A|1" }));
    EXPECT_FALSE(store.pendente);
    EXPECT_EQ(store.labels, (QStringList { kConsistindo, "" }));
    EXPECT_EQ(store.view.progress, (std::vector<int> { 100, 100, 100, 100, 100, 100, 0 }));
    EXPECT_TRUE(store.pane.lines.isEmpty());
    EXPECT_TRUE(store.dialogs->shown.empty()) << store.dialogs->texts().join("\n").toStdString();

    // DIAS_CONSISTIR 0: today only.
    store.server.exec("UPDATE CONFIG SET DIAS_CONSISTIR = 0");
    store.reopenConfig();
    store.check.run();
    EXPECT_EQ(store.table(), (QStringList { "102|1", "105|12" }));
}

// A terminal that cannot take the re-flag is skipped for this check with one
// line in the status pane, and the check completes for the others.
TEST(ConsistirVendas, ATerminalThatCannotBeReflaggedIsSkippedAndTheCheckCompletes)
{
    CheckStore store(5);
    testsupport::SilentListener silent;
    store.import->setTerminalConnectTimeout(1);
    store.server.exec(
        QString("UPDATE LICENCA_IF SET PORTA = '%1' WHERE NUM_ECF = '002'").arg(testsupport::refusedPort()));
    store.server.exec("UPDATE LICENCA_IF SET USUARIO = 'ninguem_aqui' WHERE NUM_ECF = '003'");
    store.pdv(4).exec("CREATE FUNCTION recusa() RETURNS trigger LANGUAGE plpgsql AS "
                      "$$ BEGIN RAISE EXCEPTION 'itens bloqueados'; END $$");
    store.pdv(4).exec(
        "CREATE TRIGGER recusa BEFORE UPDATE ON TRANSITENS FOR EACH ROW EXECUTE FUNCTION recusa()");
    store.server.exec(QString("UPDATE LICENCA_IF SET IP = '%1', PORTA = '%2' WHERE NUM_ECF = '005'")
                          .arg(silent.host(), silent.portText()));
    int id = 200;
    for (int n = 1; n <= 5; ++n)
        for (int sale = 0; sale < 2; ++sale)
            store.add({ .id = ++id, .banco = n, .items = {} }, n);

    store.check.run();

    EXPECT_EQ(store.reflagged(1), (QStringList { "601:2:1", "602:2:1" }));
    for (int n = 2; n <= 5; ++n)
        EXPECT_EQ(store.reflagged(n), QStringList {}) << n;
    ASSERT_EQ(store.pane.lines.size(), 4) << store.pane.lines.join("\n").toStdString();
    for (int n = 2; n <= 5; ++n)
        EXPECT_TRUE(store.pane.lines[n - 2].startsWith(QString("Ecf0%1 - ").arg(n)))
            << store.pane.lines[n - 2].toStdString();
    EXPECT_TRUE(store.pane.lines[2].contains("itens bloqueados"));
    EXPECT_TRUE(store.pane.red);
    EXPECT_FALSE(store.pendente);
    EXPECT_EQ(store.server.rows("SELECT NUM_ECF, STATUS, IMPORTACAO FROM LICENCA_IF ORDER BY 1"),
        (QStringList { "001|A|1", "002|D|0", "003|A|1", "004|A|1", "005|D|0" }));
    EXPECT_TRUE(store.dialogs->shown.empty()) << store.dialogs->texts().join("\n").toStdString();
}

TEST(ConsistirVendas, AServerFailureRaisesKeepsTheCheckPendingAndBeforeAnImportIsOnlyLogged)
{
    CheckStore store(1);
    store.add({ .id = 101, .banco = 1, .items = {} }, 1);
    store.server.exec("DROP TABLE COMPL_NFISCAL");

    EXPECT_THROW(store.check.run(), db::DatabaseError);
    EXPECT_TRUE(store.pendente);
    EXPECT_EQ(store.labels.last(), "");

    store.check.runBeforeImport();
    ASSERT_EQ(store.pane.lines.size(), 1);
    EXPECT_TRUE(store.pane.lines[0].startsWith("Consistir Vendas - Erro: "))
        << store.pane.lines[0].toStdString();
    EXPECT_TRUE(store.pane.lines[0].contains("compl_nfiscal"));
    EXPECT_TRUE(store.pendente);
    EXPECT_TRUE(store.dialogs->shown.empty());
}

// The server restarts in the middle of the check: a line in the pane, no
// box (neither the handler's standard one nor the success message), and the
// check stays pending. Before an import it is the one line.
TEST(ConsistirVendas, AServerLinkLostIsALineNeverABox)
{
    CheckStore store(1);
    store.serverConnection->setAutoReconnect(true); // as the window's
    store.add({ .id = 101, .banco = 1, .items = {} }, 1);
    // The status rewrite of every terminal (step 6) loses the session twice.
    store.server.exec("CREATE SEQUENCE lose_server");
    store.server.exec("CREATE FUNCTION lose_server() RETURNS trigger LANGUAGE plpgsql AS $$ BEGIN IF "
                      "nextval('lose_server') <= 2 THEN PERFORM pg_terminate_backend(pg_backend_pid()); "
                      "RAISE EXCEPTION 'link lost'; END IF; RETURN NEW; END $$");
    store.server.exec("CREATE TRIGGER lose_server BEFORE UPDATE ON LICENCA_IF FOR EACH ROW EXECUTE FUNCTION "
                      "lose_server()");

    // As the button runs it.
    EXPECT_FALSE(ui::runHandler([&] { store.check.run(); }));
    ASSERT_EQ(store.pane.lines.size(), 1);
    EXPECT_TRUE(store.pane.lines[0].startsWith(QStringLiteral("Servidor: importa\u00e7\u00e3o interrompida - ")))
        << store.pane.lines[0].toStdString();
    EXPECT_TRUE(store.pane.lines[0].contains("administrator command")) << store.pane.lines[0].toStdString();
    EXPECT_TRUE(store.pendente);
    EXPECT_EQ(store.labels.last(), "");

    store.check.runBeforeImport();
    ASSERT_EQ(store.pane.lines.size(), 2);
    EXPECT_TRUE(store.pane.lines[1].startsWith(QStringLiteral("Servidor: importa\u00e7\u00e3o interrompida - ")))
        << store.pane.lines[1].toStdString();
    EXPECT_TRUE(store.pendente);
    EXPECT_TRUE(store.dialogs->shown.empty()) << store.dialogs->texts().join(" / ").toStdString();

    // Back: the check completes.
    store.check.run();
    EXPECT_FALSE(store.pendente);
    EXPECT_EQ(store.pdv(1).scalar("SELECT count(*) FROM TRANSITENS WHERE EXPORTADO = 0"), "2");
}

// ---------------------------------------------------------------------------
// Through the real window.

class ConsistirWindow : public ::testing::Test {
protected:
    ConsistirWindow()
    {
        store.add({ .num = "001", .banco = pdv.name() });
        store.db.exec("INSERT INTO CLIENTES (CLIENTE_ID, NOME) VALUES (7, 'CLIENTE SETE')");
    }

    void start()
    {
        store.useIni(folder);
        windows = app::createWindows();
        sales().show();
        ASSERT_TRUE(dialogs->shown.empty()) << dialogs->texts().join(" / ").toStdString();
    }

    sales::TFrmConversor_Vendas& sales() { return *windows->sales; }
    QString label(const char* name) { return sales().findChild<QLabel*>(name)->text(); }
    void click(const char* name) { QTest::mouseClick(sales().findChild<QPushButton*>(name), Qt::LeftButton); }
    QString importacao() { return store.db.scalar("SELECT IMPORTACAO FROM LICENCA_IF"); }

    // A sale on the terminal, new (0) or already imported (2), with two
    // items and an instalment in the same state.
    void terminalSale(int id, int exportado)
    {
        pdv.exec(QString(
            "INSERT INTO TRANSACOES (TRANSACAO_ID, TRANSACAO_ORIGEM, BANCO_ID, NUM_DOC, DT_TRANS, "
            "DT_MOVIMENTO, DT_ENT_SAI, MODELO, CONDUTA, CLIENTE_ID, VALOR, EMPRESA_ID, CONTA_ID, "
            "FUNCIONARIO_ID, HORA, COND_PAGTO, ITENS, UNIDADES, CHAVE_NFE, EXPORTADO) VALUES (%1, %1 + "
            "500, 1, '%1', current_date, current_date, current_date, '2D', '01', 7, 30, 1, 11, 21, "
            "'10:15:00', 'A PRAZO', 2, 2, 'CHAVE%1', %2)")
                     .arg(id)
                     .arg(exportado));
        pdv.exec(
            QString("INSERT INTO TRANSITENS (TRANSACAO_ID, SEQUENCIA, BANCO_ID, DATA, PRODUTO_ID, DESCRICAO, "
                    "QUANTIDADE, VR_UNITARIO, VR_TOTAL, CST, CFOP, TP_PROD_SERV, EXPORTADO) VALUES "
                    "(%1 + 500, 1, 1, current_date, 10, 'PRODUTO 10', 1, 10, 10, '000', '5102', 'P', %2), "
                    "(%1 + 500, 2, 1, current_date, 20, 'PRODUTO 20', 1, 20, 20, '000', '5102', 'P', %2)")
                .arg(id)
                .arg(exportado));
        pdv.exec(QString(
            "INSERT INTO TRANSPARCELAS (TRANSACAO_ID, PARCELA_ID, TIPO_TRANSACAO, BANCO_ID, ECF, DATA, "
            "DT_VENCIMENTO, VALOR, DUPLICATA, EXPORTADO) VALUES (%1 + 500, '1', 'T', 0, 1, current_date, "
            "current_date + 30, 30, 'D%1', %2)")
                     .arg(id)
                     .arg(exportado));
    }

    progtest::ProgramFolder folder;
    testsupport::ScopedRecordingDialogs dialogs;
    progtest::RecordingEnder ender;
    progtest::Store store;
    TestDatabase pdv { Template::Terminal };
    std::unique_ptr<app::ProgramWindows> windows;
};

// The sale's header reached the server but its items were skipped and
// marked imported. The first "venda" after start runs the check, which
// re-flags them, and the import right after completes the sale.
TEST_F(ConsistirWindow, ASaleWhoseItemsWereSkippedIsCompletedByTheNextImport)
{
    terminalSale(1, 2);
    store.db.exec(
        "INSERT INTO TRANSACOES (TRANSACAO_ID, TRANSACAO_ORIGEM, BANCO_ID, NUM_DOC, DT_TRANS, MODELO, "
        "CLIENTE_ID, VALOR) VALUES (9001, 501, 1, '1', current_date, '2D', 7, 30)");
    store.db.exec("INSERT INTO COMPL_NFISCAL (TRANSACAO_ID, DT_SAIDA) VALUES (9001, current_date)");
    store.db.exec("UPDATE CONFIG SET CONSISTIR_PDV = 'True'");
    start();
    ASSERT_TRUE(sales().flags().Consistir_Pendente);
    store.db.exec("UPDATE LICENCA_IF SET IMPORTACAO = 1");

    store.db.exec("NOTIFY venda");

    ASSERT_TRUE(testsupport::waitFor([&] {
        return store.db.scalar("SELECT count(*) FROM TRANSITENS") == "2" && importacao() == "0"
            && sales().flags().Importacao_Livre;
    }, testsupport::kWindowRunMs));
    EXPECT_EQ(store.db.rows("SELECT TRANSACAO_ID, sum(VR_TOTAL) FROM TRANSITENS GROUP BY 1"),
        QStringList { "9001|30.00" });
    EXPECT_EQ(store.db.rows("SELECT TRANSACAO_ID, VALOR FROM TRANSPARCELAS"), QStringList { "9001|30.00" });
    EXPECT_EQ(store.db.scalar("SELECT count(*) FROM TRANSACOES"), "1");
    EXPECT_EQ(pdv.rows("SELECT DISTINCT EXPORTADO FROM TRANSITENS"), QStringList { "2" });
    EXPECT_FALSE(sales().flags().Consistir_Pendente);
    EXPECT_EQ(label("Label8"), "");
    EXPECT_TRUE(dialogs->shown.empty()) << dialogs->texts().join(" / ").toStdString();
}

TEST_F(ConsistirWindow, ACheckThatFailsBeforeTheImportDoesNotHoldItBack)
{
    terminalSale(1, 0);
    store.db.exec("DROP TABLE COMPL_NFISCAL");
    store.db.exec("UPDATE CONFIG SET CONSISTIR_PDV = 'True'");
    start();
    store.db.exec("UPDATE LICENCA_IF SET IMPORTACAO = 1");

    store.db.exec("NOTIFY venda");

    ASSERT_TRUE(testsupport::waitFor([&] {
        return store.db.scalar("SELECT count(*) FROM TRANSITENS") == "2" && sales().flags().Importacao_Livre;
    }, testsupport::kWindowRunMs));
    // Tried again before the next import.
    EXPECT_TRUE(sales().flags().Consistir_Pendente);
    EXPECT_TRUE(sales().flags().Saida_Liberada);
    EXPECT_TRUE(dialogs->shown.empty()) << dialogs->texts().join(" / ").toStdString();
}

// A click or a "venda" while a check runs, and a click while an import
// runs, wait for the running one instead of starting inside it.
TEST_F(ConsistirWindow, OneCheckAtATimeAndNoImportInsideIt)
{
    terminalSale(1, 0);
    store.db.exec(
        "INSERT INTO TRANSACOES (TRANSACAO_ID, TRANSACAO_ORIGEM, BANCO_ID, NUM_DOC, DT_TRANS, MODELO, "
        "VALOR) SELECT k, k, 1, k::text, current_date, '2D', 30 FROM generate_series(9001, 9020) k");
    store.db.exec("UPDATE CONFIG SET DIAS_CONSISTIR = 1"); // enables the button
    start();
    ASSERT_FALSE(sales().flags().Consistir_Pendente);
    auto* listener = sales().findChild<db::Listener*>("EventoVendaPdv");
    ASSERT_NE(listener, nullptr);
    store.db.exec("UPDATE LICENCA_IF SET IMPORTACAO = 1");

    QStringList violations;
    int boxesInCheck = 0;
    bool sentDuringCheck = false;
    bool clickedDuringImport = false;
    common::setEventPump([&] {
        const bool checking = label("Label8") == kConsistindo;
        if (checking && !sales().flags().Importacao_Livre)
            violations << "an import and a check at once";
        if (checking && !sentDuringCheck) {
            sentDuringCheck = true;
            boxesInCheck = static_cast<int>(dialogs->shown.size());
            click("btnconsistir");
            sales().EventoTransacaoPdvAlert(*listener, "venda", QString());
            if (static_cast<int>(dialogs->shown.size()) != boxesInCheck)
                violations << "a second check ran inside the first";
        }
        if (!sales().flags().Importacao_Livre && !clickedDuringImport) {
            clickedDuringImport = true;
            click("btnconsistir");
        }
        QCoreApplication::processEvents();
    });

    click("btnconsistir");
    // The held click and "venda" run after the first check, one at a time;
    // the click held during the import runs after it.
    const bool settled = testsupport::waitFor(
        [&] { return dialogs->shown.size() == 3 && sales().flags().Importacao_Livre; }, testsupport::kWindowRunMs);
    common::setEventPump({});

    ASSERT_TRUE(settled) << dialogs->texts().join(" / ").toStdString();
    EXPECT_TRUE(sentDuringCheck);
    EXPECT_TRUE(clickedDuringImport);
    EXPECT_TRUE(violations.isEmpty()) << violations.join(" / ").toStdString();
    EXPECT_EQ(dialogs->texts(), (QStringList { kConcluido, kConcluido, kConcluido }));
    EXPECT_EQ(pdv.scalar("SELECT EXPORTADO FROM TRANSACOES"), "2");
    EXPECT_EQ(store.db.scalar("SELECT count(*) FROM TRANSACOES WHERE TRANSACAO_ORIGEM = 501"), "1");
}

} // namespace
