// The sales import driver against a real store: one server and terminal
// databases on the test cluster.

#include "sales_store.h"

#include "common/event_pump.h"
#include "sales/import_cells.h"

#include <QFile>
#include <QLocale>
#include <gtest/gtest.h>

using namespace salestest;
using sales::MonitorPane;

namespace {

const QStringList kHookedTables = { "TRANSACOES", "TRANSITENS", "TRANSPARCELAS", "FECHAMENTO_CUPOM",
    "COMPL_NFCEFISCAL", "NOTAS_CANCELADAS_NFCE" };

void fullSale(SalesStore& store, int n, const Sale& s)
{
    store.addSale(n, s);
    store.addItem(n, s, 1, 10);
    store.addItem(n, s, 2, 20);
    store.addInstalment(n, s);
    store.addClosing(n, s);
    store.addComplement(n, s);
}

TEST(CargaVendas, BringsASaleWithEveryPartToTheServerOnce)
{
    SalesStore store;
    const Sale s { .id = 1, .numDoc = "57" };
    fullSale(store, 1, s);
    store.addCheque(1, "C1");

    store.importAll();

    const QString saleId = store.server.scalar("SELECT TRANSACAO_ID FROM TRANSACOES");
    EXPECT_EQ(
        store.server.rows("SELECT TRANSACAO_ORIGEM, BANCO_ID, NUM_DOC, DT_SPED, MODELO FROM TRANSACOES"),
        QStringList { "501|1|57|2024-03-05|2D" });
    EXPECT_EQ(
        store.server.rows("SELECT TRANSACAO_ID, SEQUENCIA, PRODUTO_ID, MOVIMENTO FROM TRANSITENS ORDER BY 2"),
        (QStringList { saleId + "|1|10|0", saleId + "|2|20|0" }));
    EXPECT_EQ(store.server.rows("SELECT TRANSACAO_ID, PARCELA_ID, ECF FROM TRANSPARCELAS"),
        QStringList { saleId + "|1|1" });
    EXPECT_EQ(store.server.rows("SELECT CUPOM, CAIXA_ID, VALOR_FINALIZADORA FROM FECHAMENTO_CUPOM"),
        QStringList { "00000057|1|30.00" });
    EXPECT_EQ(store.server.rows("SELECT TRANSACAO_ID, ARQUIVO_XML FROM COMPL_NFCEFISCAL"),
        QStringList { saleId + "|<nfe/>" });
    EXPECT_EQ(store.count("CHEQUES_RECEBIDOS"), "1");

    for (const QString& table : kHookedTables + QStringList { "CHEQUES_RECEBIDOS" })
        for (const QString& state : store.states(1, table))
            EXPECT_EQ(state, "2") << table.toStdString();

    EXPECT_EQ(
        store.server.rows("SELECT IMPORTACAO, ULTIMA_TRANS FROM LICENCA_IF"), QStringList { "0|" + saleId });
    EXPECT_EQ(store.import->cells().Ultima_Transacao, saleId.toLongLong());
    EXPECT_EQ(store.import->cells().Ultimo_Cupom, 57);
    EXPECT_EQ(store.import->cells().Ultimo_Caixa, 1);

    EXPECT_EQ(
        store.view.label6, "Banco: loja - " + QLocale().toString(QDate(2024, 3, 5), QLocale::ShortFormat));
    EXPECT_TRUE(store.view.label9Cleared);
    EXPECT_EQ(store.view.progress, (std::vector<int> { 100, 100, 0 }));
    EXPECT_TRUE(store.importacaoLivre);
    EXPECT_TRUE(store.view.pane(MonitorPane::Memo2).contains("Transação: " + saleId));
    EXPECT_TRUE(store.dialogs->shown.empty()) << store.dialogs->texts().join("\n").toStdString();
    for (const char* log : { "Log_Transacoes", "Log_Transitens", "Log_Transparcelas", "Log_Fechamento",
             "Log_Compl_NfceFiscal", "Log_Cheques" })
        EXPECT_TRUE(QFile::exists(common::programPath(QString("QuiborSync_Logs\\%1.log").arg(log)))) << log;

    // The same rows sent again find their copies on the server.
    for (const QString& table : kHookedTables)
        store.pdv(1).exec("UPDATE " + table + " SET EXPORTADO = 0");
    store.importAll();
    EXPECT_EQ(store.count("TRANSACOES"), "1");
    EXPECT_EQ(store.count("TRANSITENS"), "2");
    EXPECT_EQ(store.count("TRANSPARCELAS"), "1");
    EXPECT_EQ(store.count("FECHAMENTO_CUPOM"), "1");
    EXPECT_EQ(store.count("COMPL_NFCEFISCAL"), "1");
    EXPECT_EQ(store.states(1, "TRANSITENS"), (QStringList { "2", "2" }));
    EXPECT_TRUE(store.dialogs->shown.empty());
}

TEST(CargaVendas, WithoutRequestsOnlyLabelsAndProgressMove)
{
    SalesStore store;
    store.addSale(1, Sale {});
    store.importacaoLivre = true;

    bool freeDuringRun = true;
    common::setEventPump([&] { freeDuringRun = freeDuringRun && store.importacaoLivre; });
    store.runImport();
    common::setEventPump({});

    EXPECT_FALSE(store.view.label6.isEmpty());
    EXPECT_EQ(store.view.progress, (std::vector<int> { 100, 0 }));
    EXPECT_TRUE(store.importacaoLivre);
    EXPECT_EQ(store.count("TRANSACOES"), "0");
    EXPECT_EQ(store.states(1, "TRANSACOES"), QStringList { "0" });
}

TEST(CargaVendas, ATerminalThatRefusesTheConnectionIsSkippedAndItsRequestClosed)
{
    SalesStore store(3);
    store.server.exec("UPDATE LICENCA_IF SET PORTA = '1' WHERE NUM_ECF = '002'");
    for (int n = 1; n <= 3; ++n)
        store.addSale(n, Sale { .id = n, .numDoc = QString::number(100 + n) });

    store.importAll();

    EXPECT_EQ(store.server.rows("SELECT BANCO_ID FROM TRANSACOES ORDER BY 1"), (QStringList { "1", "3" }));
    EXPECT_EQ(store.states(2, "TRANSACOES"), QStringList { "0" });
    EXPECT_EQ(store.server.rows("SELECT NUM_ECF, IMPORTACAO FROM LICENCA_IF ORDER BY 1"),
        (QStringList { "001|0", "002|0", "003|0" }));
    EXPECT_EQ(store.view.progress, (std::vector<int> { 33, 67, 100, 100, 0 }));
    EXPECT_EQ(store.view.statusRepaints, 3);
    EXPECT_TRUE(store.dialogs->shown.empty());
}

TEST(CargaVendas, WithoutTheLogFolderRowsWaitAtOneAndGoOnceItExists)
{
    SalesStore store;
    const Sale s {};
    fullSale(store, 1, s);
    store.addCheque(1, "C1");
    const QString logs = common::programPath("QuiborSync_Logs");
    ASSERT_TRUE(QDir(logs).removeRecursively());

    store.importAll();

    EXPECT_EQ(store.count("TRANSACOES"), "0");
    EXPECT_EQ(store.count("CHEQUES_RECEBIDOS"), "0");
    for (const QString& table : kHookedTables.mid(0, 5) + QStringList { "CHEQUES_RECEBIDOS" })
        for (const QString& state : store.states(1, table))
            EXPECT_EQ(state, "1") << table.toStdString();
    EXPECT_EQ(store.server.scalar("SELECT IMPORTACAO FROM LICENCA_IF"), "0");

    // Nothing new on the terminal: the rows left at 1 are enough to go.
    ASSERT_TRUE(QDir().mkpath(logs));
    store.importAll();

    EXPECT_EQ(store.count("TRANSACOES"), "1");
    EXPECT_EQ(store.count("TRANSITENS"), "2");
    EXPECT_EQ(store.count("TRANSPARCELAS"), "1");
    EXPECT_EQ(store.count("FECHAMENTO_CUPOM"), "1");
    EXPECT_EQ(store.count("COMPL_NFCEFISCAL"), "1");
    EXPECT_EQ(store.count("CHEQUES_RECEBIDOS"), "1");
    EXPECT_EQ(store.states(1, "TRANSITENS"), (QStringList { "2", "2" }));
}

TEST(CargaVendas, ASaleCancelledBeforeItWasSentIsInsertedThenRemoved)
{
    SalesStore store;
    const Sale s { .id = 1, .numDoc = "42", .exportado = 3 };
    store.addSale(1, s);
    store.addItem(1, s, 1, 10);
    store.addClosing(1, Sale { .id = 1, .numDoc = "42" });

    store.importAll();

    EXPECT_EQ(store.count("TRANSACOES"), "0");
    EXPECT_EQ(store.states(1, "TRANSACOES"), QStringList { "4" });
    // Its item finds no sale any more: not written, not marked imported.
    EXPECT_EQ(store.count("TRANSITENS"), "0");
    EXPECT_EQ(store.states(1, "TRANSITENS"), QStringList { "0" });
    // The monitor was called with sale 0: headers find nothing; the closing
    // pane looks up the cancelled receipt (its closing came in later).
    EXPECT_TRUE(store.view.pane(MonitorPane::Memo2).isEmpty());
    EXPECT_EQ(store.import->cells().Ultima_Transacao, 0);
    EXPECT_EQ(store.import->cells().Ultimo_Cupom, 42);
    EXPECT_EQ(store.server.scalar("SELECT ULTIMA_TRANS FROM LICENCA_IF"), "0");
}

TEST(CargaVendas, CancellationsRemoveA2DSaleButOnlyTrimAn65Sale)
{
    SalesStore store;
    store.server.exec("UPDATE CONFIG SET CONTROLE_ESTQ_LOC = 'True'");
    store.reopenConfig();
    const Sale paper { .id = 1, .numDoc = "10", .modelo = "2D" };
    const Sale nfce { .id = 2, .numDoc = "11", .modelo = "65" };
    for (const Sale& s : { paper, nfce }) {
        store.addSale(1, s);
        store.addItem(1, s, 1, 10);
        store.addInstalment(1, s);
        store.addClosing(1, s);
    }
    store.importAll();
    const QString paperId = store.server.scalar("SELECT TRANSACAO_ID FROM TRANSACOES WHERE MODELO = '2D'");
    const QString nfceId = store.server.scalar("SELECT TRANSACAO_ID FROM TRANSACOES WHERE MODELO = '65'");
    ASSERT_EQ(store.count("LOCALIZACAO_ESTOQUE_PRODUTOS"), "2");

    store.pdv(1).exec("UPDATE TRANSACOES SET EXPORTADO = 3");
    store.importAll();

    EXPECT_EQ(store.server.rows("SELECT TRANSACAO_ID FROM TRANSACOES"), QStringList { nfceId });
    EXPECT_EQ(store.server.rows("SELECT TRANSACAO_ID FROM TRANSPARCELAS"), QStringList { paperId });
    EXPECT_EQ(store.count("FECHAMENTO_CUPOM"), "0");
    EXPECT_EQ(
        store.server.rows("SELECT TRANSACAO_ID FROM LOCALIZACAO_ESTOQUE_PRODUTOS"), QStringList { paperId });
    EXPECT_EQ(store.states(1, "TRANSACOES"), (QStringList { "4", "4" }));
}

TEST(CargaVendas, ACancellationIsMarkedDoneOnlyWhenTheServerCarriedItOut)
{
    SalesStore store(1);
    // Sale 2's BANCO_ID names no terminal in the terminal's LICENCA_IF.
    store.addSale(1, Sale { .id = 1, .numDoc = "10", .exportado = 3 });
    store.pdv(1).exec("INSERT INTO TRANSACOES (TRANSACAO_ID, BANCO_ID, NUM_DOC, DT_TRANS, MODELO, EXPORTADO) "
                      "VALUES (2, 9, '20', '2024-03-05', '2D', 3)");
    store.addSale(1, Sale { .id = 3, .numDoc = "30" });
    store.importAll();
    ASSERT_EQ(store.states(1, "TRANSACOES"), (QStringList { "4", "3", "2" }));

    // The server refuses the cancellation: it stays at 3 until it works.
    store.server.exec("CREATE FUNCTION refuse() RETURNS trigger LANGUAGE plpgsql AS "
                      "$$ BEGIN RAISE EXCEPTION 'closings locked'; END $$");
    store.server.exec("CREATE TRIGGER refuse BEFORE DELETE ON FECHAMENTO_CUPOM FOR EACH STATEMENT "
                      "EXECUTE FUNCTION refuse()");
    store.pdv(1).exec("UPDATE TRANSACOES SET EXPORTADO = 3 WHERE TRANSACAO_ID = 3");
    store.importAll();
    EXPECT_EQ(store.states(1, "TRANSACOES"), (QStringList { "4", "3", "3" }));

    store.server.exec("DROP TRIGGER refuse ON FECHAMENTO_CUPOM");
    store.importAll();
    EXPECT_EQ(store.states(1, "TRANSACOES"), (QStringList { "4", "3", "4" }));
    EXPECT_EQ(store.count("TRANSACOES", "NUM_DOC = '30'"), "0");
    EXPECT_TRUE(store.dialogs->shown.empty());
}

TEST(CargaVendas, LastSaleOfATerminalIsNeverAnotherTerminalsSale)
{
    SalesStore store(2);
    store.addSale(1, Sale { .id = 1, .numDoc = "10" });
    store.addClosing(2, Sale { .id = 5, .numDoc = "50" });

    store.importAll();

    const QString saleId = store.server.scalar("SELECT TRANSACAO_ID FROM TRANSACOES");
    EXPECT_EQ(store.server.rows("SELECT NUM_ECF, ULTIMA_TRANS FROM LICENCA_IF ORDER BY 1"),
        (QStringList { "001|" + saleId, "002|0" }));
    EXPECT_EQ(store.count("FECHAMENTO_CUPOM", "CAIXA_ID = 2"), "1");
}

TEST(CargaVendas, AFailedChequeRunLeavesNoChequeBehind)
{
    SalesStore store;
    store.addCheque(1, "C1");
    store.addCheque(1, "BAD");
    store.server.exec("CREATE FUNCTION refuse_bad() RETURNS trigger LANGUAGE plpgsql AS "
                      "$$ BEGIN IF NEW.NUM_CHEQUE = 'BAD' THEN RAISE EXCEPTION 'bad cheque'; END IF; "
                      "RETURN NEW; END $$");
    store.server.exec("CREATE TRIGGER refuse_bad BEFORE INSERT ON CHEQUES_RECEBIDOS FOR EACH ROW "
                      "EXECUTE FUNCTION refuse_bad()");

    store.importAll();
    EXPECT_EQ(store.count("CHEQUES_RECEBIDOS"), "0");
    EXPECT_EQ(store.states(1, "CHEQUES_RECEBIDOS"), (QStringList { "1", "1" }));

    store.server.exec("DROP TRIGGER refuse_bad ON CHEQUES_RECEBIDOS");
    store.importAll();
    EXPECT_EQ(store.server.rows("SELECT NUM_CHEQUE FROM CHEQUES_RECEBIDOS ORDER BY 1"),
        (QStringList { "BAD", "C1" }));
    EXPECT_EQ(store.states(1, "CHEQUES_RECEBIDOS"), (QStringList { "2", "2" }));
}

TEST(CargaVendas, APhaseThatFailsSteersNoRowOfTheNextPhase)
{
    SalesStore store;
    const Sale s { .id = 1, .numDoc = "10" };
    fullSale(store, 1, s);
    store.server.exec("CREATE FUNCTION refuse() RETURNS trigger LANGUAGE plpgsql AS "
                      "$$ BEGIN RAISE EXCEPTION 'instalments locked'; END $$");
    store.server.exec(
        "CREATE TRIGGER refuse BEFORE INSERT ON TRANSPARCELAS FOR EACH ROW EXECUTE FUNCTION refuse()");

    store.importAll();

    EXPECT_EQ(store.states(1, "TRANSPARCELAS"), QStringList { "1" });
    EXPECT_EQ(store.count("TRANSPARCELAS"), "0");
    EXPECT_EQ(store.server.rows("SELECT CUPOM, VALOR_FINALIZADORA FROM FECHAMENTO_CUPOM"),
        QStringList { "00000010|30.00" });
    EXPECT_EQ(store.count("COMPL_NFCEFISCAL"), "1");
    EXPECT_EQ(store.states(1, "FECHAMENTO_CUPOM"), QStringList { "2" });
}

TEST(CargaVendas, ImportsAreFreeAgainAfterARunThatFailedAndANestedRunDoesNothing)
{
    SalesStore store;
    store.addSale(1, Sale {});
    store.request(1);

    int nestedCalls = 0;
    bool freeInside = true;
    common::setEventPump([&] {
        freeInside = freeInside && store.importacaoLivre;
        if (nestedCalls++ == 0)
            store.runImport(); // as a nested event would
    });
    store.runImport();
    common::setEventPump({});
    EXPECT_FALSE(freeInside);
    EXPECT_EQ(store.count("TRANSACOES"), "1");
    EXPECT_TRUE(store.importacaoLivre);

    sales::Carga_Vendas failing(
        sales::SalesImportLinks { *store.serverConnection, store.view, store.importacaoLivre,
            [] { throw std::runtime_error("status pass failed"); }, {}, *store.config, *store.abertura });
    EXPECT_THROW(failing.run(), std::runtime_error);
    EXPECT_TRUE(store.importacaoLivre);
}

} // namespace
