// The sale monitor: six panes, the customer touch and the product touch.

#include "sales_store.h"

#include "sales/monitor_venda.h"

#include <QLocale>
#include <gtest/gtest.h>

using namespace salestest;
using sales::MonitorPane;

namespace {

// Formats in a comma locale for the duration of a test.
class BrazilianLocale {
public:
    BrazilianLocale() { QLocale::setDefault(QLocale(QLocale::Portuguese, QLocale::Brazil)); }
    ~BrazilianLocale() { QLocale::setDefault(QLocale::system()); }
};

class MonitorVenda : public ::testing::Test {
protected:
    MonitorVenda()
    {
        store.server.exec(
            "INSERT INTO PRODUTOS (PRODUTO_ID, DESCRICAO) VALUES (10, 'ARROZ'), (20, 'FEIJAO')");
        store.server.exec(
            "INSERT INTO TRANSACOES (TRANSACAO_ID, TRANSACAO_ORIGEM, BANCO_ID, NUM_DOC, DT_TRANS, "
            "DT_ENT_SAI, MODELO, CLIENTE_ID, VALOR, HORA, COND_PAGTO, ITENS, UNIDADES, CHAVE_NFE) "
            "VALUES (900, 1, 3, '57', '2024-03-05', '2024-03-05', '65', 7, 1234.5, '10:15:00', "
            "'PRAZO 30.60', 2, 3.305, 'CHAVE57')");
        store.server.exec(
            "INSERT INTO TRANSITENS (TRANSACAO_ID, SEQUENCIA, PRODUTO_ID, DESCRICAO, QUANTIDADE, "
            "VR_UNITARIO, VR_TOTAL) VALUES (900, 2, 20, 'FEIJAO', 1, 10, 1222), "
            "(900, 1, 10, 'ARROZ', 2.5, 5, 12.5)");
        store.server.exec(
            "INSERT INTO FECHAMENTO_CUPOM (CUPOM, CAIXA_ID, LEGENDA, DATA, HORA, VALOR_CUPOM) VALUES "
            "('00000057', 3, 'DINHEIRO', '2024-03-05', '10:16:00', 1234.5), "
            "('00000057', 4, 'OUTRO CAIXA', '2024-03-05', '10:16:00', 1)");
        store.server.exec(
            "INSERT INTO COMPL_NFCEFISCAL (TRANSACAO_ID, CHAVE_NFCE, DT_EMISSAO, TRANSMISSAO, ECF, "
            "VALOR) VALUES (900, 'CHAVE57', '2024-03-05', 'OK', '003', 1234.5)");
    }

    void show(qint64 sale, qint64 cupom, qint64 caixa)
    {
        sales::Monitor_Venda(*store.serverConnection, store.view, sale, cupom, caixa);
    }
    QString customerTouched()
    {
        return store.server.scalar("SELECT DT_ATUALIZACAO FROM CLIENTES WHERE CLIENTE_ID = 7");
    }
    QStringList productsTouched()
    {
        return store.server.rows(
            "SELECT PRODUTO_ID FROM PRODUTOS WHERE DT_HR_ALTERACAO IS NOT NULL ORDER BY 1");
    }

    BrazilianLocale locale;
    SalesStore store { 0 };
};

TEST_F(MonitorVenda, ShowsEveryPaneInTheLocalesSeparators)
{
    show(900, 57, 3);

    const QString date = QLocale().toString(QDate(2024, 3, 5), QLocale::ShortFormat);
    // Decimal columns shown as they are stored take the decimal comma; whole
    // numbers, codes and texts (a dot in "PRAZO 30.60") keep theirs.
    EXPECT_EQ(store.view.pane(MonitorPane::Memo2),
        (QStringList { "Transação: 900", "Data : " + date, "Hora: 10:15:00", "Pagamento: PRAZO 30.60",
            "Código Cliente: 7", "Ecf.: 3", "Documento: 57", "Itens: 2", "Unidades: 3,305",
            "Valor: 1234,5" }));
    EXPECT_EQ(store.view.pane(MonitorPane::Memo3),
        (QStringList { "Transação: 900", "Produto : 10", "Descrição: ARROZ", "QUANTIDADE: 2,500",
            "Vr. Unitario: 5,000", "Valor Total: 12,5", "Transação: 900", "Produto : 20", "Descrição: FEIJAO",
            "QUANTIDADE: 1,000", "Vr. Unitario: 10,000", "Valor Total: 1222" }));
    EXPECT_TRUE(store.view.pane(MonitorPane::Memo4).isEmpty());
    EXPECT_EQ(store.view.pane(MonitorPane::Memo1),
        (QStringList { "Cupom: 00000057", "Data : " + date, "Hora: 10:16:00", "Legenda: DINHEIRO",
            "Valor Cupom: 1.234,50" }));
    EXPECT_EQ(store.view.pane(MonitorPane::Memo5),
        (QStringList {
            "Documento: 57", "Data : " + date, "Ecf: 003", "Chave Nfce: CHAVE57", "Valor: 1.234,50" }));
    EXPECT_EQ(store.view.pane(MonitorPane::Memo6),
        (QStringList {
            "Data: " + date, "Chave Nfce: CHAVE57", "ECF : 003", "Valor : 1.234,50", "Transmissão: OK" }));
    // No instalments: the customer is not touched; the first item's product is.
    EXPECT_EQ(customerTouched(), "<null>");
    EXPECT_EQ(productsTouched(), QStringList { "10" });
    EXPECT_TRUE(store.dialogs->shown.empty());

    // A second call adds below the first.
    show(900, 57, 3);
    EXPECT_EQ(store.view.pane(MonitorPane::Memo2).size(), 20);
}

TEST_F(MonitorVenda, InstalmentsTouchTheCustomerOnce)
{
    store.server.exec("INSERT INTO TRANSPARCELAS (TRANSACAO_ID, PARCELA_ID, DT_VENCIMENTO, VALOR) VALUES "
                      "(900, '1', '2024-04-05', 617.25), (900, '2', '2024-05-05', 617.25)");
    store.server.exec("CREATE TABLE touches (n integer)");
    store.server.exec("CREATE FUNCTION count_touch() RETURNS trigger LANGUAGE plpgsql AS "
                      "$$ BEGIN INSERT INTO touches VALUES (1); RETURN NEW; END $$");
    store.server.exec(
        "CREATE TRIGGER count_touch AFTER UPDATE ON CLIENTES FOR EACH ROW EXECUTE FUNCTION count_touch()");

    show(900, 57, 3);

    EXPECT_EQ(customerTouched(), QDate::currentDate().toString(Qt::ISODate));
    EXPECT_EQ(store.server.scalar("SELECT count(*) FROM touches"), "1");
    EXPECT_EQ(store.view.pane(MonitorPane::Memo4),
        (QStringList { "Transação: 900", "Parcela : 1",
            "Vencimento: " + QLocale().toString(QDate(2024, 4, 5), QLocale::ShortFormat),
            "Valor Total: 617,25", "Transação: 900", "Parcela : 2",
            "Vencimento: " + QLocale().toString(QDate(2024, 5, 5), QLocale::ShortFormat),
            "Valor Total: 617,25" }));
}

TEST_F(MonitorVenda, SaleZeroShowsOnlyTheCancelledReceiptsClosing)
{
    show(0, 57, 3);

    for (MonitorPane p : { MonitorPane::Memo2, MonitorPane::Memo3, MonitorPane::Memo4, MonitorPane::Memo5,
             MonitorPane::Memo6 })
        EXPECT_TRUE(store.view.pane(p).isEmpty());
    EXPECT_EQ(store.view.pane(MonitorPane::Memo1).size(), 5);
    EXPECT_TRUE(productsTouched().isEmpty());
    EXPECT_TRUE(store.dialogs->shown.empty());
}

TEST_F(MonitorVenda, AnErrorEndsTheDisplayWithItsMessageAndKeepsEarlierLines)
{
    store.server.exec("DROP TABLE FECHAMENTO_CUPOM");

    show(900, 57, 3);

    EXPECT_EQ(store.view.pane(MonitorPane::Memo2).size(), 10);
    EXPECT_TRUE(store.view.pane(MonitorPane::Memo5).isEmpty());
    EXPECT_TRUE(productsTouched().isEmpty());
    ASSERT_EQ(store.dialogs->shown.size(), 1u);
    EXPECT_EQ(store.dialogs->shown[0].kind, "error");
    EXPECT_TRUE(store.dialogs->shown[0].text.startsWith("Erro ATUALIZAR MENU:\rErro: "));
    EXPECT_TRUE(store.dialogs->shown[0].text.contains("fechamento_cupom"));
}

} // namespace
