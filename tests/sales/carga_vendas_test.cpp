// The sales import driver against a real store: one server and terminal
// databases on the test cluster.

#include "sales_store.h"

#include "common/event_pump.h"
#include "common/scope_exit.h"
#include "db/errors.h"
#include "db/query.h"
#include "sales/import_cells.h"
#include "support/copy_log_sections.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QLocale>
#include <gtest/gtest.h>

#include <map>

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

// Terminal 1 drops the import's link the first time a row of `table` is
// about to move from EXPORTADO `from` to `to`; that statement does not
// take effect. The sequence counts attempts outside any transaction.
void loseLinkOnce(SalesStore& store, const QString& table, int from, int to)
{
    const QString name = QString("lose_%1_%2_%3").arg(table.toLower()).arg(from).arg(to);
    store.pdv(1).exec("CREATE SEQUENCE " + name);
    store.pdv(1).exec(QString("CREATE FUNCTION %1() RETURNS trigger LANGUAGE plpgsql AS $$ BEGIN "
                              "IF nextval('%1') = 1 THEN PERFORM pg_terminate_backend(pg_backend_pid()); "
                              "RAISE EXCEPTION 'link lost'; END IF; RETURN NEW; END $$")
                          .arg(name));
    store.pdv(1).exec(QString("CREATE TRIGGER %1 BEFORE UPDATE ON %2 FOR EACH ROW WHEN (OLD.EXPORTADO = %3 "
                              "AND NEW.EXPORTADO = %4) EXECUTE FUNCTION %1()")
                          .arg(name, table)
                          .arg(from)
                          .arg(to));
}

bool linkWasLost(SalesStore& store, const QString& table, int from, int to)
{
    return store.pdv(1).scalar(
               QString("SELECT is_called FROM lose_%1_%2_%3").arg(table.toLower()).arg(from).arg(to))
        == "t";
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
    // The status pass lets events run between its probes.
    store.statusPass = [] { common::pumpEvents(); };

    int turns = 0;
    int turnsWhileFree = 0;
    common::setEventPump([&] {
        ++turns;
        turnsWhileFree += store.importacaoLivre ? 1 : 0;
    });
    store.runImport();
    common::setEventPump({});

    EXPECT_GT(turns, 0);
    EXPECT_EQ(turnsWhileFree, 0) << "no second import may start while this one runs";
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

// A run over several terminals keeps every terminal's copy in each table's
// one log, each under its terminal's header, refused rows included.
TEST(CargaVendas, TheLogOfARunHoldsEveryTerminalsSection)
{
    SalesStore store(2);
    for (int n = 1; n <= 2; ++n) {
        store.addSale(n, Sale { .id = 1, .numDoc = QString::number(40 + n) });
        store.addCheque(n, QString("BAD%1").arg(n));
    }
    store.server.exec("CREATE FUNCTION refuse_bad() RETURNS trigger LANGUAGE plpgsql AS "
                      "$$ BEGIN IF NEW.NUM_CHEQUE LIKE 'BAD%' THEN RAISE EXCEPTION 'cheque % recusado', "
                      "NEW.NUM_CHEQUE; END IF; RETURN NEW; END $$");
    store.server.exec("CREATE TRIGGER refuse_bad BEFORE INSERT ON CHEQUES_RECEBIDOS FOR EACH ROW "
                      "EXECUTE FUNCTION refuse_bad()");

    store.importAll();

    const std::vector<testsupport::LogSection> cheques = testsupport::logSections("Log_Cheques.log");
    ASSERT_EQ(testsupport::logSectionTitles(cheques), (QStringList { "Ecf 001", "Ecf 002" }));
    EXPECT_TRUE(cheques[0].entries.contains("cheque BAD1 recusado")) << cheques[0].entries.toStdString();
    EXPECT_TRUE(cheques[1].entries.contains("cheque BAD2 recusado")) << cheques[1].entries.toStdString();
    const std::vector<testsupport::LogSection> sales = testsupport::logSections("Log_Transacoes.log");
    ASSERT_EQ(testsupport::logSectionTitles(sales), (QStringList { "Ecf 001", "Ecf 002" }));
    for (const testsupport::LogSection& section : sales)
        EXPECT_TRUE(section.entries.endsWith("nenhum erro registrado")) << section.entries.toStdString();
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

TEST(CargaVendas, AFailedCancellationLeavesTheLastSaleCellsAsTheyWere)
{
    SalesStore store;
    store.addSale(1, Sale { .id = 1, .numDoc = "10" });
    store.addSale(1, Sale { .id = 2, .numDoc = "30" });
    store.importAll();
    const sales::ImportCells before = store.import->cells();
    ASSERT_EQ(before.Ultimo_Cupom, 30);
    ASSERT_GT(before.Ultima_Transacao, 0);

    store.server.exec("CREATE FUNCTION refuse() RETURNS trigger LANGUAGE plpgsql AS "
                      "$$ BEGIN RAISE EXCEPTION 'closings locked'; END $$");
    store.server.exec("CREATE TRIGGER refuse BEFORE DELETE ON FECHAMENTO_CUPOM FOR EACH STATEMENT "
                      "EXECUTE FUNCTION refuse()");
    store.pdv(1).exec("UPDATE TRANSACOES SET EXPORTADO = 3 WHERE TRANSACAO_ID = 1");
    store.importAll();

    ASSERT_EQ(store.states(1, "TRANSACOES"), (QStringList { "3", "2" }));
    const sales::ImportCells& after = store.import->cells();
    EXPECT_EQ(after.Ultima_Transacao, before.Ultima_Transacao);
    EXPECT_EQ(after.Ultimo_Cupom, before.Ultimo_Cupom);
    EXPECT_EQ(after.Ultimo_Caixa, before.Ultimo_Caixa);
}

TEST(CargaVendas, TheTerminalConnectionCannotBeReplacedWhileAnImportRuns)
{
    SalesStore store;
    const Sale s {};
    store.addSale(1, s);
    store.addItem(1, s, 1, 10);
    store.addItem(1, s, 2, 20);
    store.request(1);
    db::Query licencaIf(*store.serverConnection);
    licencaIf.setText("SELECT * FROM LICENCA_IF");
    licencaIf.prepare();
    licencaIf.open();

    int turns = 0;
    int refused = 0;
    common::setEventPump([&] {
        ++turns;
        try {
            store.import->novaConexaoPdv(licencaIf); // as a handler run inside the import might
        } catch (const db::UsageError&) {
            ++refused;
        }
    });
    store.runImport();
    common::setEventPump({});

    EXPECT_GT(turns, 0);
    EXPECT_EQ(refused, turns);
    EXPECT_EQ(store.count("TRANSACOES"), "1");
    EXPECT_EQ(store.count("TRANSITENS"), "2");
    EXPECT_EQ(store.states(1, "TRANSITENS"), (QStringList { "2", "2" }));

    // Between imports the connection is free to replace.
    EXPECT_TRUE(store.import->novaConexaoPdv(licencaIf).connected());
}

TEST(CargaVendas, AChequeAlreadyOnTheServerIsNotInsertedAgain)
{
    SalesStore store;
    // A cheque, and six more that each differ from it in one of the columns
    // that tell cheques apart (CPF_CNPJ, NUM_CHEQUE, DT_CHEQUE, VALOR,
    // NUM_DOC, ECF).
    for (const char* values : { "NULL, 'C1', '2024-03-05', 50.00, '1', 1",
             "'123.456.789-00', 'C1', '2024-03-05', 50.00, '1', 1", "NULL, 'C2', '2024-03-05', 50.00, '1', 1",
             "NULL, 'C1', '2024-03-06', 50.00, '1', 1", "NULL, 'C1', '2024-03-05', 50.01, '1', 1",
             "NULL, 'C1', '2024-03-05', 50.00, '2', 1", "NULL, 'C1', '2024-03-05', 50.00, '1', 2" })
        store.pdv(1).exec(QString("INSERT INTO CHEQUES_RECEBIDOS (CPF_CNPJ, NUM_CHEQUE, DT_CHEQUE, VALOR, NUM_DOC, "
                                  "ECF) VALUES (%1)")
                              .arg(values));
    store.importAll();
    ASSERT_EQ(store.count("CHEQUES_RECEBIDOS"), "7");

    // The terminal never learnt that they arrived.
    store.pdv(1).exec("UPDATE CHEQUES_RECEBIDOS SET EXPORTADO = 1");
    store.addCheque(1, "C3");
    store.importAll();

    EXPECT_EQ(store.count("CHEQUES_RECEBIDOS"), "8");
    EXPECT_EQ(store.states(1, "CHEQUES_RECEBIDOS"), QStringList(8, "2"));
}

TEST(CargaVendas, ALinkLostWhileRowsAreMarkedImportedWritesNoRowTwice)
{
    SalesStore store;
    const Sale s { .id = 1, .numDoc = "57", .modelo = "65" };
    fullSale(store, 1, s);
    // An NFC-e complement and a cancelled note whose sales never arrive.
    store.addComplement(1, Sale { .id = 2, .numDoc = "58" });
    store.addCancelledNote(1, Sale { .id = 3, .numDoc = "59" });
    store.addCheque(1, "C1");
    const QStringList tables = kHookedTables + QStringList { "CHEQUES_RECEBIDOS" };
    for (const QString& table : tables)
        loseLinkOnce(store, table, 1, 2);

    // Each import loses the link at the first table not yet marked
    // imported; the next one copies that table's rows again.
    for (int run = 0; run <= tables.size(); ++run)
        store.importAll();

    for (const QString& table : tables) {
        EXPECT_TRUE(linkWasLost(store, table, 1, 2)) << table.toStdString();
        for (const QString& state : store.states(1, table))
            EXPECT_EQ(state, "2") << table.toStdString();
    }
    EXPECT_EQ(store.count("TRANSACOES"), "1");
    EXPECT_EQ(store.count("TRANSITENS"), "2");
    EXPECT_EQ(store.count("TRANSPARCELAS"), "1");
    EXPECT_EQ(store.count("FECHAMENTO_CUPOM"), "1");
    EXPECT_EQ(store.count("COMPL_NFCEFISCAL"), "2");
    EXPECT_EQ(store.count("NOTAS_CANCELADAS_NFCE"), "1");
    EXPECT_EQ(store.count("CHEQUES_RECEBIDOS"), "1");
    EXPECT_TRUE(store.dialogs->shown.empty()) << store.dialogs->texts().join("\n").toStdString();
}

TEST(CargaVendas, ALinkLostWhileRowsAreHandedBackLosesNoRow)
{
    SalesStore store;
    const Sale s { .id = 1, .numDoc = "57" };
    // Their sale has not arrived: the import hands them back.
    store.addItem(1, s, 1, 10);
    store.addItem(1, s, 2, 20);
    store.addInstalment(1, s);
    loseLinkOnce(store, "TRANSITENS", 1, 0);

    store.importAll();
    ASSERT_TRUE(linkWasLost(store, "TRANSITENS", 1, 0));
    // Neither handed back nor marked imported: taken again by the next import.
    EXPECT_EQ(store.states(1, "TRANSITENS", "SEQUENCIA"), (QStringList { "1", "1" }));
    EXPECT_EQ(store.states(1, "TRANSPARCELAS"), QStringList { "0" });
    EXPECT_EQ(store.server.scalar("SELECT IMPORTACAO FROM LICENCA_IF"), "0");

    store.addSale(1, s);
    store.importAll();
    const QString saleId = store.server.scalar("SELECT TRANSACAO_ID FROM TRANSACOES");
    EXPECT_EQ(store.server.rows("SELECT TRANSACAO_ID, PRODUTO_ID FROM TRANSITENS ORDER BY 2"),
        (QStringList { saleId + "|10", saleId + "|20" }));
    EXPECT_EQ(store.server.rows("SELECT TRANSACAO_ID FROM TRANSPARCELAS"), QStringList { saleId });
    EXPECT_EQ(store.states(1, "TRANSITENS", "SEQUENCIA"), (QStringList { "2", "2" }));
    EXPECT_EQ(store.states(1, "TRANSPARCELAS"), QStringList { "2" });
}

// The server ends the import's session (a restart, an administrator) the
// first time a `event` on `table` meets `when`; that statement does not take
// effect.
void loseServerLinkOnce(SalesStore& store, const QString& table, const QString& event, const QString& when)
{
    const QString name = "lose_server_" + table.toLower();
    store.server.exec("CREATE SEQUENCE " + name);
    store.server.exec(QString("CREATE FUNCTION %1() RETURNS trigger LANGUAGE plpgsql AS $$ BEGIN IF %2 THEN "
                              "IF nextval('%1') = 1 THEN PERFORM pg_terminate_backend(pg_backend_pid()); "
                              "RAISE EXCEPTION 'link lost'; END IF; END IF; RETURN NEW; END $$")
                          .arg(name, when));
    store.server.exec(QString("CREATE TRIGGER %1 BEFORE %2 ON %3 FOR EACH ROW EXECUTE FUNCTION %1()")
                          .arg(name, event, table));
}

// Every file of the log folder that holds `line`, and whether it is the
// file's last line.
std::map<QString, bool> logsHolding(const QString& line)
{
    std::map<QString, bool> found;
    const QDir logs(common::programPath("QuiborSync_Logs"));
    for (const QString& name : logs.entryList(QDir::Files)) {
        QFile file(logs.filePath(name));
        if (!file.open(QIODevice::ReadOnly | QIODevice::Text))
            continue;
        const QStringList lines = QString::fromUtf8(file.readAll()).split('\n', Qt::SkipEmptyParts);
        if (lines.contains(line))
            found[name] = lines.last() == line;
    }
    return found;
}

// The server restarts in the middle of an import: nobody is there to click,
// and nothing is wrong with the rows. The run ends with one line in the
// status pane and in the copy log, shows no box, keeps every row at 0 or 1
// and leaves the request it was serving, and those after it, for the next
// run, which brings every row once.
TEST(CargaVendas, AServerLinkLostEndsTheRunWithALineAndTheNextRunBringsEveryRowOnce)
{
    struct Case {
        const char* what;
        const char* table;
        const char* event;
        const char* when;
        const char* firstRequest = "001|1"; // after the lost link
    };
    const Case cases[] = {
        { "a sale whose insert is held with the next ones", "TRANSACOES", "INSERT", "NEW.NUM_DOC = '12'" },
        { "an item whose insert is held", "TRANSITENS", "INSERT", "NEW.SEQUENCIA = 2" },
        { "an instalment", "TRANSPARCELAS", "INSERT", "TRUE" },
        { "a receipt closing", "FECHAMENTO_CUPOM", "INSERT", "TRUE" },
        { "an NFC-e complement, written on its own", "COMPL_NFCEFISCAL", "INSERT", "TRUE" },
        { "the reset of the request being served", "LICENCA_IF", "UPDATE", "NEW.IMPORTACAO = 0" },
        // After the request's reset: terminal 1 was served.
        { "the sale monitor's customer touch", "CLIENTES", "UPDATE", "TRUE", "001|0" },
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        SalesStore store(2);
        store.serverConnection->setAutoReconnect(true); // as the window's
        for (int n = 1; n <= 2; ++n)
            for (int id = 1; id <= 3; ++id)
                fullSale(store, n, Sale { .id = id, .numDoc = QString::number(n * 10 + id) });
        loseServerLinkOnce(store, c.table, c.event, c.when);

        store.importAll();

        ASSERT_EQ(store.server.scalar("SELECT is_called FROM lose_server_" + QString(c.table).toLower()), "t");
        EXPECT_TRUE(store.dialogs->shown.empty()) << store.dialogs->texts().join("\n").toStdString();
        ASSERT_EQ(store.view.skipped.size(), 1) << store.view.skipped.join("\n").toStdString();
        const QString line = store.view.skipped[0];
        EXPECT_TRUE(line.startsWith("Servidor: importa\u00e7\u00e3o interrompida - ")) << line.toStdString();
        EXPECT_TRUE(line.contains("terminating connection due to administrator command")) << line.toStdString();
        const std::map<QString, bool> logs = logsHolding(line);
        ASSERT_EQ(logs.size(), 1u) << "the log the run was writing";
        EXPECT_TRUE(logs.begin()->second) << logs.begin()->first.toStdString();
        EXPECT_TRUE(store.importacaoLivre);
        EXPECT_EQ(store.server.rows("SELECT NUM_ECF, IMPORTACAO FROM LICENCA_IF ORDER BY 1"),
            (QStringList { c.firstRequest, "002|1" }));
        for (const QString& table : kHookedTables)
            for (const QString& state : store.states(2, table))
                EXPECT_EQ(state, "0") << table.toStdString();
        // The cells name a sale that reached the server, or none.
        const qint64 last = store.import->cells().Ultima_Transacao;
        if (last > 0) {
            EXPECT_EQ(store.count("TRANSACOES", "TRANSACAO_ID = " + QString::number(last)), "1");
        }

        store.request(2);
        store.runImport();

        EXPECT_EQ(store.count("TRANSACOES"), "6");
        EXPECT_EQ(store.count("TRANSITENS"), "12");
        EXPECT_EQ(store.count("TRANSPARCELAS"), "6");
        EXPECT_EQ(store.count("FECHAMENTO_CUPOM"), "6");
        EXPECT_EQ(store.count("COMPL_NFCEFISCAL"), "6");
        for (int n = 1; n <= 2; ++n)
            for (const QString& table : kHookedTables)
                for (const QString& state : store.states(n, table))
                    EXPECT_EQ(state, "2") << n << " " << table.toStdString();
        EXPECT_EQ(store.server.rows("SELECT NUM_ECF, IMPORTACAO FROM LICENCA_IF ORDER BY 1"),
            (QStringList { "001|0", "002|0" }));
        EXPECT_EQ(store.view.skipped.size(), 1);
        EXPECT_TRUE(store.dialogs->shown.empty()) << store.dialogs->texts().join("\n").toStdString();
    }
}

// Closings sent again are placed by a look at the terminal from inside the
// hook: a terminal lost there is skipped with its line, like a terminal
// lost anywhere else, and no closing's box is shown.
TEST(CargaVendas, ATerminalLostWhileTheHookLooksAtItIsSkippedWithoutABox)
{
    SalesStore store;
    const Sale s { .id = 1, .numDoc = "57" };
    store.addSale(1, s);
    store.addClosing(1, s, 1, "10.00");
    store.addClosing(1, s, 2, "20.00");
    store.importAll();
    ASSERT_EQ(store.count("FECHAMENTO_CUPOM"), "2");

    store.pdv(1).exec("UPDATE FECHAMENTO_CUPOM SET EXPORTADO = 0");
    // The terminal's session ends between the first closing and the second
    // (the second of the phase's turns: the first follows the marking).
    int turns = 0;
    common::setEventPump([&] {
        if (store.pdv(1).scalar("SELECT count(*) FROM FECHAMENTO_CUPOM WHERE EXPORTADO = 1") != "0" && ++turns == 2)
            testsupport::execAdmin(QString("SELECT pg_terminate_backend(pid, 5000) FROM pg_stat_activity WHERE "
                                           "datname = '%1' AND pid <> pg_backend_pid()")
                                       .arg(store.pdv(1).name()));
        QCoreApplication::processEvents();
    });
    const common::ScopeExit restorePump([] { common::setEventPump({}); });
    store.importAll();
    ASSERT_GE(turns, 2);

    EXPECT_TRUE(store.dialogs->shown.empty()) << store.dialogs->texts().join("\n").toStdString();
    ASSERT_EQ(store.view.skipped.size(), 1) << store.view.skipped.join("\n").toStdString();
    EXPECT_TRUE(store.view.skipped[0].startsWith("Ecf01 - Importar Vendas: caixa ignorado - "))
        << store.view.skipped[0].toStdString();
    EXPECT_EQ(store.states(1, "FECHAMENTO_CUPOM"), (QStringList { "1", "1" }));

    store.importAll();
    EXPECT_EQ(store.count("FECHAMENTO_CUPOM"), "2");
    EXPECT_EQ(store.states(1, "FECHAMENTO_CUPOM"), (QStringList { "2", "2" }));
    EXPECT_TRUE(store.dialogs->shown.empty()) << store.dialogs->texts().join("\n").toStdString();
}

} // namespace
