// The copy hook's six branches, driven through real import runs.

#include "sales_store.h"

#include "common/event_pump.h"
#include "common/scope_exit.h"
#include "sales/import_cells.h"

#include <gtest/gtest.h>

#include <functional>
#include <utility>
#include <vector>

using namespace salestest;

namespace {

void resend(SalesStore& store, int n, const QString& table)
{
    store.pdv(n).exec("UPDATE " + table + " SET EXPORTADO = 0");
}

QStringList statesOf(SalesStore& store, const QString& table)
{
    return store.states(1, table, table == "TRANSITENS" ? "TRANSACAO_ID, SEQUENCIA" : QString());
}

// A row the terminal sends again is found as the one already on the server,
// and a row that only looks like another is not taken for it.
TEST(SaleUpsert, ARowSentAgainFindsItsOwnRow)
{
    struct Case {
        const char* what;
        std::function<void(SalesStore&)> ringUp;
        const char* table; // sent again
        const char* query;
        QStringList rows;
    };
    const Case cases[] = {
        { "the same document number on another day is another sale",
            [](SalesStore& store) {
                store.addSale(1, Sale { .id = 1, .numDoc = "77", .date = "2024-03-05" });
                store.addSale(1, Sale { .id = 2, .numDoc = "77", .date = "2024-03-06" });
            },
            "TRANSACOES", "SELECT NUM_DOC, DT_TRANS FROM TRANSACOES ORDER BY 2",
            { "77|2024-03-05", "77|2024-03-06" } },
        // NUM_DOC is the server's id for these.
        { "sales numbered by the server are recognised",
            [](SalesStore& store) {
                store.addSale(1, Sale { .id = 1, .numDoc = "5", .conduta = "02" });
                store.addSale(1, Sale { .id = 2, .numDoc = "5", .conduta = "03" });
            },
            "TRANSACOES", "SELECT TRANSACAO_ID::text = NUM_DOC::text, CONDUTA FROM TRANSACOES ORDER BY 2",
            { "t|02", "t|03" } },
        { "items of the same product arrive once each",
            [](SalesStore& store) {
                const Sale s {};
                store.addSale(1, s);
                store.addItem(1, s, 1, 10, "4.00");
                store.addItem(1, s, 2, 10, "6.00");
            },
            "TRANSITENS", "SELECT SEQUENCIA, PRODUTO_ID, VR_TOTAL FROM TRANSITENS ORDER BY 1",
            { "1|10|4.00", "2|10|6.00" } },
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        SalesStore store;
        c.ringUp(store);
        store.importAll();
        resend(store, 1, c.table);
        store.importAll();
        EXPECT_EQ(store.server.rows(c.query), c.rows);
    }
}

TEST(SaleUpsert, ItemsAndInstalmentsWaitForTheirSale)
{
    SalesStore store;
    const Sale s { .id = 1, .numDoc = "9" };
    store.addItem(1, s, 1, 10);
    store.addInstalment(1, s);

    store.importAll();
    EXPECT_EQ(store.count("TRANSITENS"), "0");
    EXPECT_EQ(store.count("TRANSPARCELAS"), "0");
    EXPECT_EQ(store.states(1, "TRANSITENS"), QStringList { "0" });
    EXPECT_EQ(store.states(1, "TRANSPARCELAS"), QStringList { "0" });
    EXPECT_TRUE(store.dialogs->shown.empty());

    store.addSale(1, s);
    store.importAll();
    const QString saleId = store.server.scalar("SELECT TRANSACAO_ID FROM TRANSACOES");
    EXPECT_EQ(store.server.rows("SELECT TRANSACAO_ID FROM TRANSITENS"), QStringList { saleId });
    EXPECT_EQ(store.server.rows("SELECT TRANSACAO_ID FROM TRANSPARCELAS"), QStringList { saleId });
    EXPECT_EQ(store.states(1, "TRANSITENS"), QStringList { "2" });
    EXPECT_EQ(store.states(1, "TRANSPARCELAS"), QStringList { "2" });
}

// A row the server refuses: one error box with its table's prefix and the
// server's text, the row left for the next import while the rest arrive, the
// cells naming only a sale that did arrive, and the row brought by the next
// import once the server takes it.
struct Refusal {
    const char* what;
    std::function<void(SalesStore&)> ringUp;
    std::function<void(SalesStore&)> refuse;
    std::function<void(SalesStore&)> accept;
    const char* messagePrefix;
    const char* messageNames; // in the server's text
    std::vector<std::pair<const char*, QStringList>> states; // EXPORTADO after the refusal, key order
    const char* arrived;      // what is on the server; %1 is GEN_TRANSACOES' first value
    QStringList arrivedFirst;
    QStringList arrivedAtLast;
};

// Sale by sale: its number, its id as drawn from GEN_TRANSACOES, its items
// and instalments; then every item and instalment on the server.
const char* const kSalesArrived
    = "SELECT NUM_DOC, TRANSACAO_ID - %1, (SELECT count(*) FROM TRANSITENS i WHERE i.TRANSACAO_ID = "
      "t.TRANSACAO_ID), (SELECT count(*) FROM TRANSPARCELAS p WHERE p.TRANSACAO_ID = t.TRANSACAO_ID) FROM "
      "TRANSACOES t UNION ALL SELECT 'all', NULL, (SELECT count(*) FROM TRANSITENS), (SELECT count(*) FROM "
      "TRANSPARCELAS) ORDER BY 1";

// Three sales, 11 to 13, each with an item and an instalment.
void threeSales(SalesStore& store)
{
    for (int id = 1; id <= 3; ++id) {
        const Sale s { .id = id, .numDoc = QString::number(10 + id) };
        store.addSale(1, s);
        store.addItem(1, s, 1, 10);
        store.addInstalment(1, s);
    }
}

std::function<void(SalesStore&)> refuseWhen(const char* table, const char* when, const char* message)
{
    return [=](SalesStore& store) { refuse(store, table, when, message); };
}
std::function<void(SalesStore&)> acceptAgain(const char* table)
{
    return [=](SalesStore& store) { allow(store, table); };
}

TEST(RefusedRow, IsShownLeftForTheNextImportAndArrivesOnceTheServerTakesIt)
{
    const Sale plain {};
    const Refusal cases[] = {
        { "a sale number that is not a number",
            [](SalesStore& store) {
                store.addSale(1, Sale { .id = 1, .numDoc = "12" });
                store.addSale(1, Sale { .id = 2, .numDoc = "13" });
            },
            [](SalesStore& store) { store.pdv(1).exec("UPDATE TRANSACOES SET NUM_DOC = '12A' WHERE TRANSACAO_ID = 1"); },
            [](SalesStore& store) { store.pdv(1).exec("UPDATE TRANSACOES SET NUM_DOC = '12' WHERE TRANSACAO_ID = 1"); },
            "Erro Transacoes principal:\rErro: ", "12A",
            { { "TRANSACOES", { "0", "2" } } },
            // The refused sale spent the first id.
            kSalesArrived, { "13|1|0|0", "all|<null>|0|0" }, { "12|2|0|0", "13|1|0|0", "all|<null>|0|0" } },
        { "a sale between two others, its refusal read with the next sale's lookup", threeSales,
            refuseWhen("TRANSACOES", "NEW.NUM_DOC = '12'", "sale 12 blocked"), acceptAgain("TRANSACOES"),
            "Erro Transacoes principal:\rErro: ", "sale 12 blocked",
            { { "TRANSACOES", { "2", "0", "2" } }, { "TRANSITENS", { "2", "0", "2" } },
                { "TRANSPARCELAS", { "2", "0", "2" } } },
            kSalesArrived, { "11|0|1|1", "13|2|1|1", "all|<null>|2|2" },
            { "11|0|1|1", "12|3|1|1", "13|2|1|1", "all|<null>|3|3" } },
        { "the last sale, its refusal read when the run ends", threeSales,
            refuseWhen("TRANSACOES", "NEW.NUM_DOC = '13'", "sale 13 blocked"), acceptAgain("TRANSACOES"),
            "Erro Transacoes principal:\rErro: ", "sale 13 blocked",
            { { "TRANSACOES", { "2", "2", "0" } }, { "TRANSITENS", { "2", "2", "0" } },
                { "TRANSPARCELAS", { "2", "2", "0" } } },
            kSalesArrived, { "11|0|1|1", "12|1|1|1", "all|<null>|2|2" },
            { "11|0|1|1", "12|1|1|1", "13|3|1|1", "all|<null>|3|3" } },
        { "an item",
            [&](SalesStore& store) {
                store.addSale(1, plain);
                store.addItem(1, plain, 1, 10);
                store.addItem(1, plain, 2, 666);
            },
            refuseWhen("TRANSITENS", "NEW.PRODUTO_ID = 666", "product 666 blocked"), acceptAgain("TRANSITENS"),
            "Erro transitens:\rErro: ", "product 666 blocked", { { "TRANSITENS", { "2", "0" } } },
            "SELECT PRODUTO_ID FROM TRANSITENS ORDER BY 1", { "10" }, { "10", "666" } },
        { "a receipt closing", [](SalesStore& store) { store.addClosing(1, Sale { .id = 1, .numDoc = "57" }); },
            refuseWhen("FECHAMENTO_CUPOM", "TRUE", "closings blocked"), acceptAgain("FECHAMENTO_CUPOM"),
            "Erro Fechamento Cupom:\rErro: ", "closings blocked", { { "FECHAMENTO_CUPOM", { "0" } } },
            "SELECT CUPOM FROM FECHAMENTO_CUPOM", {}, { "00000057" } },
    };
    for (const Refusal& c : cases) {
        SCOPED_TRACE(c.what);
        SalesStore store;
        c.ringUp(store);
        c.refuse(store);
        // Fresh sequence: its first value is last_value.
        QString arrived = c.arrived;
        arrived.replace("%1", store.server.scalar("SELECT last_value FROM GEN_TRANSACOES"));

        store.importAll();

        ASSERT_EQ(store.dialogs->shown.size(), 1u) << store.dialogs->texts().join("\n").toStdString();
        EXPECT_EQ(store.dialogs->shown[0].kind, "error");
        EXPECT_TRUE(store.dialogs->shown[0].text.startsWith(c.messagePrefix)) << store.dialogs->texts()[0].toStdString();
        EXPECT_TRUE(store.dialogs->shown[0].text.contains(c.messageNames)) << store.dialogs->texts()[0].toStdString();
        for (const auto& [table, states] : c.states)
            EXPECT_EQ(statesOf(store, table), states) << table;
        EXPECT_EQ(store.server.rows(arrived), c.arrivedFirst);
        // The cells and ULTIMA_TRANS name the last sale that did arrive.
        const QStringList last
            = store.server.rows("SELECT TRANSACAO_ID, NUM_DOC FROM TRANSACOES ORDER BY TRANSACAO_ID DESC LIMIT 1");
        if (!last.isEmpty()) {
            const QStringList cols = last[0].split('|');
            EXPECT_EQ(store.import->cells().Ultima_Transacao, cols[0].toLongLong());
            EXPECT_EQ(store.import->cells().Ultimo_Cupom, cols[1].toLongLong());
            EXPECT_EQ(store.server.scalar("SELECT ULTIMA_TRANS FROM LICENCA_IF"), cols[0]);
        }

        c.accept(store);
        store.importAll();
        EXPECT_EQ(store.server.rows(arrived), c.arrivedAtLast);
        for (const auto& [table, states] : c.states)
            EXPECT_EQ(statesOf(store, table), QStringList(states.size(), "2")) << table;
        EXPECT_EQ(store.dialogs->shown.size(), 1u) << store.dialogs->texts().join("\n").toStdString();
    }
}

TEST(SaleUpsert, StockLocationRowsOnlyWhenTheSwitchReadsExactlyTrue)
{
    for (const QString& value : { QString("True"), QString("true"), QString("False") }) {
        SalesStore store;
        store.server.exec("UPDATE CONFIG SET CONTROLE_ESTQ_LOC = '" + value + "'");
        store.reopenConfig();
        const Sale s {};
        store.addSale(1, s);
        store.addItem(1, s, 1, 10);
        store.importAll();

        const QStringList expected
            = value == "True" ? QStringList { "10|4|LOJA|2024-03-05|1.500" } : QStringList {};
        EXPECT_EQ(store.server.rows("SELECT PRODUTO_ID, LOCALIZACAO_ID, DESCRICAO, DT_SAIDA, QUANTIDADE "
                                    "FROM LOCALIZACAO_ESTOQUE_PRODUTOS"),
            expected)
            << value.toStdString();
    }
}

TEST(ClosingUpsert, EveryPaymentLineArrivesAndASecondCopyUpdatesItsOwnRow)
{
    SalesStore store;
    const Sale s { .id = 1, .numDoc = "57" };
    store.addClosing(1, s, 1, "15.00");
    store.addClosing(1, s, 2, "15.00"); // same amount as the first line
    store.addClosing(1, s, 3, "5.00");
    store.importAll();

    const QString byId = "SELECT FINALIZADORA_ID, LEGENDA, VALOR_FINALIZADORA FROM FECHAMENTO_CUPOM ORDER BY "
                         "VALOR_FINALIZADORA, FECHAMENTO_ID";
    EXPECT_EQ(store.server.rows(byId), (QStringList { "3|FIN 3|5.00", "1|FIN 1|15.00", "2|FIN 2|15.00" }));
    const QString ids = store.server.rows("SELECT FECHAMENTO_ID FROM FECHAMENTO_CUPOM ORDER BY 1").join(",");

    // The second line changed on the terminal; all three are sent again,
    // then the second alone.
    store.pdv(1).exec("UPDATE FECHAMENTO_CUPOM SET FINALIZADORA_ID = 4, LEGENDA = 'FIN 4', FISCAL = 'N' "
                      "WHERE FINALIZADORA_ID = 2");
    resend(store, 1, "FECHAMENTO_CUPOM");
    store.importAll();
    store.pdv(1).exec("UPDATE FECHAMENTO_CUPOM SET EXPORTADO = 0 WHERE FINALIZADORA_ID = 4");
    store.importAll();

    EXPECT_EQ(store.server.rows(byId), (QStringList { "3|FIN 3|5.00", "1|FIN 1|15.00", "4|FIN 4|15.00" }));
    EXPECT_EQ(store.count("FECHAMENTO_CUPOM", "FISCAL = 'N'"), "1");
    EXPECT_EQ(store.server.rows("SELECT FECHAMENTO_ID FROM FECHAMENTO_CUPOM ORDER BY 1").join(","), ids);
    EXPECT_EQ(store.states(1, "FECHAMENTO_CUPOM"), (QStringList { "2", "2", "2" }));
}

TEST(ClosingUpsert, PaymentLinesReadOutOfTheirOrderStillArriveOnceEach)
{
    SalesStore store;
    const Sale s { .id = 1, .numDoc = "58" };
    store.addClosing(1, s, 1, "15.00");
    store.addClosing(1, s, 2, "15.00");
    // The terminal's second line now stands first where the reader looks.
    store.pdv(1).exec("UPDATE FECHAMENTO_CUPOM SET FECHAMENTO_ID = 10 - FECHAMENTO_ID");

    const QString lines = "SELECT FINALIZADORA_ID, LEGENDA FROM FECHAMENTO_CUPOM ORDER BY 1";
    for (int copy = 1; copy <= 2; ++copy) {
        if (copy == 2)
            resend(store, 1, "FECHAMENTO_CUPOM");
        store.importAll();
        EXPECT_EQ(store.server.rows(lines), (QStringList { "1|FIN 1", "2|FIN 2" })) << "copy " << copy;
    }
}

TEST(NfceUpsert, AComplementWithoutItsSaleGetsAFreshIdAndItsSaleOneLater)
{
    SalesStore store;
    const Sale s { .id = 1, .numDoc = "57", .modelo = "65" };
    store.addComplement(1, s, "<primeira/>");
    store.importAll();

    const QString orphanId = store.server.scalar("SELECT TRANSACAO_ID FROM COMPL_NFCEFISCAL");
    EXPECT_EQ(store.import->cells().Novo_Id, orphanId.toLongLong());
    EXPECT_EQ(store.count("TRANSACOES"), "0");
    EXPECT_EQ(store.states(1, "COMPL_NFCEFISCAL"), QStringList { "2" });

    store.addSale(1, s);
    resend(store, 1, "COMPL_NFCEFISCAL");
    store.importAll();
    const QString saleId = store.server.scalar("SELECT TRANSACAO_ID FROM TRANSACOES");
    EXPECT_EQ(store.server.rows("SELECT TRANSACAO_ID FROM COMPL_NFCEFISCAL ORDER BY 1"),
        (QStringList { orphanId, saleId }));

    // The terminal's complement replaces the server's one of the sale.
    store.pdv(1).exec("UPDATE COMPL_NFCEFISCAL SET ARQUIVO_XML = '<segunda/>', EXPORTADO = 0");
    store.importAll();
    EXPECT_EQ(store.server.rows("SELECT ARQUIVO_XML FROM COMPL_NFCEFISCAL WHERE TRANSACAO_ID = " + saleId),
        QStringList { "<segunda/>" });
    EXPECT_EQ(store.count("COMPL_NFCEFISCAL"), "2");
}

TEST(NfceUpsert, NotesWithoutTheirSaleAreFoundAgainByTheirAccessKey)
{
    SalesStore store;
    store.addComplement(1, Sale { .id = 1, .numDoc = "57" }, "<primeira/>");
    store.addCancelledNote(1, Sale { .id = 2, .numDoc = "58" });
    // Without an access key two complements cannot be told apart: both stay.
    store.addComplement(1, Sale { .id = 3, .numDoc = "59" });
    store.addComplement(1, Sale { .id = 4, .numDoc = "60" });
    store.pdv(1).exec("UPDATE COMPL_NFCEFISCAL SET CHAVE_NFCE = NULL WHERE TRANSACAO_ID = 503");
    store.pdv(1).exec("UPDATE COMPL_NFCEFISCAL SET CHAVE_NFCE = '' WHERE TRANSACAO_ID = 504");
    store.importAll();
    ASSERT_EQ(store.count("COMPL_NFCEFISCAL"), "3");
    const QString complementId
        = store.server.scalar("SELECT TRANSACAO_ID FROM COMPL_NFCEFISCAL WHERE CHAVE_NFCE = 'CHAVE501'");
    const QString note = store.server.scalar("SELECT TRANSACAO_ID FROM NOTAS_CANCELADAS_NFCE");
    const qint64 novoId = store.import->cells().Novo_Id;

    // Sent again, the complement changed on the terminal meanwhile.
    store.pdv(1).exec("UPDATE COMPL_NFCEFISCAL SET ARQUIVO_XML = '<segunda/>', EXPORTADO = 0 "
                      "WHERE TRANSACAO_ID = 501");
    resend(store, 1, "NOTAS_CANCELADAS_NFCE");
    store.importAll();

    EXPECT_EQ(
        store.server.rows("SELECT TRANSACAO_ID, ARQUIVO_XML FROM COMPL_NFCEFISCAL WHERE CHAVE_NFCE = 'CHAVE501'"),
        QStringList { complementId + "|<segunda/>" });
    EXPECT_EQ(store.count("COMPL_NFCEFISCAL"), "3");
    EXPECT_EQ(store.server.rows("SELECT TRANSACAO_ID FROM NOTAS_CANCELADAS_NFCE"), QStringList { note });
    EXPECT_EQ(store.import->cells().Novo_Id, novoId) << "no id drawn for a note already stored";
    EXPECT_EQ(store.states(1, "COMPL_NFCEFISCAL"), (QStringList { "2", "2", "2" }));
    EXPECT_EQ(store.states(1, "NOTAS_CANCELADAS_NFCE"), QStringList { "2" });
}

TEST(NfceUpsert, AComplementThatCannotBeWrittenLeavesTheServersOneInPlace)
{
    SalesStore store;
    const Sale s { .id = 1, .numDoc = "57", .modelo = "65" };
    store.addSale(1, s);
    store.addComplement(1, s, "<autorizada/>");
    store.importAll();
    const QString saleId = store.server.scalar("SELECT TRANSACAO_ID FROM TRANSACOES");

    refuse(store, "COMPL_NFCEFISCAL", "NEW.ARQUIVO_XML = '<ruim/>'", "xml refused");
    store.pdv(1).exec("UPDATE COMPL_NFCEFISCAL SET ARQUIVO_XML = '<ruim/>', EXPORTADO = 0");
    store.importAll();

    EXPECT_EQ(store.server.rows("SELECT TRANSACAO_ID, ARQUIVO_XML FROM COMPL_NFCEFISCAL"),
        QStringList { saleId + "|<autorizada/>" });
    EXPECT_EQ(store.states(1, "COMPL_NFCEFISCAL"), QStringList { "1" });

    allow(store, "COMPL_NFCEFISCAL");
    store.pdv(1).exec("UPDATE COMPL_NFCEFISCAL SET ARQUIVO_XML = '<corrigida/>'");
    store.importAll();
    EXPECT_EQ(store.server.rows("SELECT TRANSACAO_ID, ARQUIVO_XML FROM COMPL_NFCEFISCAL"),
        QStringList { saleId + "|<corrigida/>" });
    EXPECT_EQ(store.states(1, "COMPL_NFCEFISCAL"), QStringList { "2" });
}

TEST(NfceUpsert, ACancelledNoteBooksItsCancellationOnce)
{
    SalesStore store;
    const Sale s { .id = 1, .numDoc = "57", .modelo = "65", .valor = "30.00" };
    store.addSale(1, s);
    store.addItem(1, s, 1, 10);
    store.addItem(1, s, 2, 20);
    store.addComplement(1, s, "<nfe-autorizada/>");
    store.importAll();
    const QString saleId = store.server.scalar("SELECT TRANSACAO_ID FROM TRANSACOES");

    store.addCancelledNote(1, s, "<terminal/>");
    store.importAll();
    store.pdv(1).exec("UPDATE NOTAS_CANCELADAS_NFCE SET EXPORTADO = 0");
    store.importAll();

    EXPECT_EQ(store.server.rows(
                  "SELECT TRANSACAO_ID, ARQUIVO_XML, TRANSMISSAO, SINTEGRA FROM NOTAS_CANCELADAS_NFCE"),
        QStringList { saleId + "|<nfe-autorizada/>|CANCELADA|<null>" });
    EXPECT_EQ(store.count("COMPL_NFCEFISCAL"), "0");
    EXPECT_EQ(store.server.rows("SELECT CONDUTA, DEPTO, TPCTB, C_CUSTO_ID, CONTAAUX_ID, HISTORICO, VALOR, "
                                "AUTORIZ_ID, BANCO_ID, DT_TRANS FROM TRANSACOES WHERE TRANSACAO_ID <> "
                  + saleId),
        QStringList { "18|07|2|1|0|CANCELAMENTO NFCe 57|30.00|21|1|2024-03-05" });
    EXPECT_EQ(store.server.rows(
                  "SELECT PRODUTO_ID, CFOP FROM TRANSITENS WHERE TRANSACAO_ID <> " + saleId + " ORDER BY 1"),
        (QStringList { "10|5556", "20|5556" }));
    EXPECT_EQ(store.count("TRANSACOES"), "2");
    EXPECT_TRUE(store.dialogs->shown.empty());
}

TEST(NfceUpsert, ACancelledNoteWithoutItsSaleIsKeptUnderAFreshId)
{
    SalesStore store;
    store.addCancelledNote(1, Sale { .id = 1, .numDoc = "57" }, "<terminal/>");
    store.importAll();

    EXPECT_EQ(store.server.rows(
                  "SELECT TRANSACAO_ID, ARQUIVO_XML, TRANSMISSAO, SINTEGRA FROM NOTAS_CANCELADAS_NFCE"),
        QStringList { QString::number(store.import->cells().Novo_Id) + "|<terminal/>|ERRO|X" });
    EXPECT_EQ(store.count("TRANSACOES"), "0");
    EXPECT_EQ(store.states(1, "NOTAS_CANCELADAS_NFCE"), QStringList { "2" });
}

TEST(NfceUpsert, ACancellationBookingThatFailsLeavesNothingAndIsSentAgain)
{
    SalesStore store;
    const Sale s { .id = 1, .numDoc = "57", .modelo = "65" };
    store.addSale(1, s);
    store.addItem(1, s, 1, 10);
    store.addComplement(1, s);
    store.importAll();
    const QString saleId = store.server.scalar("SELECT TRANSACAO_ID FROM TRANSACOES");

    refuse(store, "TRANSITENS", "NEW.CFOP = '5556'", "cancellation items blocked");
    store.addCancelledNote(1, s);
    store.importAll();

    ASSERT_EQ(store.dialogs->texts().size(), 1);
    EXPECT_TRUE(store.dialogs->texts()[0].startsWith("Erro Notas Canceladas Nfce:\rErro: "));
    EXPECT_EQ(store.count("NOTAS_CANCELADAS_NFCE"), "0");
    EXPECT_EQ(store.server.rows("SELECT TRANSACAO_ID FROM COMPL_NFCEFISCAL"), QStringList { saleId });
    EXPECT_EQ(store.count("TRANSACOES"), "1");
    EXPECT_EQ(store.states(1, "NOTAS_CANCELADAS_NFCE"), QStringList { "0" });

    allow(store, "TRANSITENS");
    store.importAll();
    EXPECT_EQ(store.server.rows("SELECT TRANSACAO_ID FROM NOTAS_CANCELADAS_NFCE"), QStringList { saleId });
    EXPECT_EQ(store.count("TRANSACOES", "CONDUTA = '18'"), "1");
    EXPECT_EQ(store.count("TRANSITENS", "CFOP = '5556'"), "1");
    EXPECT_EQ(store.states(1, "NOTAS_CANCELADAS_NFCE"), QStringList { "2" });
}

} // namespace
