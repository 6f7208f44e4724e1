// Customer balances computed on a server database the test made: which
// instalments count, the cheques held, the earliest due date, and the export
// rows with their widths and order.

#include "support/test_db.h"

#include "db/connection.h"
#include "db/memtable.h"
#include "db/query.h"
#include "update/clientes_table.h"
#include "update/clientes_view.h"
#include "update/saldo_clientes.h"

#include <gtest/gtest.h>

namespace {

using testsupport::Template;
using testsupport::TestDatabase;
using update::Vencimento;

// Records the progress pane; nothing else is used while rows are built.
class PaneLog : public update::ClientesView {
public:
    void clearMemo1() override { log << "<clear>"; }
    void addMemo1(const QString& line) override { log << line; }
    void clearMemo2() override {}
    void addMemo2(const QString&) override {}
    void addInterruptionLine(const QString&) override {}
    void setProgress(int) override {}
    void repaintProgress() override {}
    void setExportButtonEnabled(bool) override {}
    bool ecfChecked(int) const override { return false; }
    void checkEcf(int) override {}
    bool todasEcfs() const override { return false; }
    void checkTodasEcfs() override {}
    void enableTodasEcfs() override {}
    bool chkTotal() const override { return false; }
    void checkChkTotal() override {}
    void checkEveryBoxButTotal() override {}
    void uncheckEveryBox() override {}

    QStringList log;
};

// Current company 3; payment methods 1 (no customer), 2 (bound to customer
// 9), 3 (CLIENTE_ID NULL), 4 (negative).
class Saldos : public ::testing::Test {
protected:
    Saldos() : server(Template::Server), connection(server.params())
    {
        server.exec("INSERT INTO FINALIZADORAS (FINALIZADORA_ID, DESCRICAO, CLIENTE_ID) VALUES "
                    "(1, 'A PRAZO', 0), (2, 'CONVENIO', 9), (3, 'SEM DONO', NULL), (4, 'NEGATIVA', -1)");
        connection.open();
    }

    void customer(int id, const QString& nome = "CLIENTE")
    {
        server.exec(QString("INSERT INTO CLIENTES (CLIENTE_ID, NOME, LIMITE, DT_ATUALIZACAO) VALUES (%1, '%2', "
                            "500, current_date)")
                        .arg(id)
                        .arg(nome));
    }

    struct Parcela {
        int empresa = 3;
        QString conduta = "01";
        QString condPagto = "A PRAZO";
        int finalizadora = 1;
        QString parcelaId = "1";
        QString tipo = "T";
        QString agrupamento = "0";
        QString valor = "100.00";
        QString bancoId = "0";
        int dueInDays = -1;  // from today
    };

    void instalment(int cliente, const Parcela& p)
    {
        const int transacao = ++lastTransaction;
        server.exec(QString("INSERT INTO TRANSACOES (TRANSACAO_ID, CLIENTE_ID, EMPRESA_ID, CONDUTA, COND_PAGTO, "
                            "FINALIZADORA_ID, PARCELA_ID, VALOR) VALUES (%1, %2, %3, '%4', '%5', %6, '%7', %8)")
                        .arg(transacao)
                        .arg(cliente)
                        .arg(p.empresa)
                        .arg(p.conduta, p.condPagto)
                        .arg(p.finalizadora)
                        .arg(p.parcelaId, p.valor));
        server.exec(QString("INSERT INTO TRANSPARCELAS (TRANSACAO_ID, PARCELA_ID, TIPO_TRANSACAO, BANCO_ID, "
                            "DT_VENCIMENTO, VALOR, AGRUPAMENTO) VALUES (%1, '1', '%2', %3, current_date + %4, %5, "
                            "%6)")
                        .arg(transacao)
                        .arg(p.tipo, p.bancoId)
                        .arg(p.dueInDays)
                        .arg(p.valor, p.agrupamento));
    }

    update::SaldosCliente compute(int cliente, Vencimento variant)
    {
        update::SaldoClientes saldos(connection, 3, variant);
        return saldos.calcular(cliente, QDate::currentDate());
    }

    TestDatabase server;
    db::Connection connection;
    int lastTransaction = 0;
};

TEST_F(Saldos, EachConditionOfAnInstalment)
{
    const QDate yesterday = QDate::currentDate().addDays(-1);
    const QDate none = update::zeroDate();
    struct Case {
        const char* name;
        Parcela p;
        double saldo;        // 100 when it counts
        QDate dueAuto;       // PR_VENCIMENTO in the automatic load
        QDate dueManual;     // and in the manual export
    };
    const Case cases[] = {
        {"counted", {}, 100, yesterday, yesterday},
        {"grouped", {.agrupamento = "1"}, 0, yesterday, yesterday},
        {"grouping null", {.agrupamento = "NULL"}, 100, yesterday, yesterday},
        {"zero value", {.valor = "0"}, 0, none, none},
        {"negative value", {.valor = "-5"}, 0, none, none},
        {"held by a bank", {.bancoId = "2"}, 0, none, none},
        {"other company", {.empresa = 1}, 0, yesterday, yesterday},
        {"other conduct", {.conduta = "02"}, 0, yesterday, yesterday},
        {"cash sale", {.condPagto = "A VISTA"}, 0, none, none},
        {"not receivable", {.tipo = "R"}, 0, none, none},
        {"customer method, 0000F", {.finalizadora = 2, .parcelaId = "0000F"}, 100, yesterday, yesterday},
        {"customer method, F", {.finalizadora = 2, .parcelaId = "F"}, 100, yesterday, yesterday},
        {"customer method, other", {.finalizadora = 2, .parcelaId = "1"}, 0, none, yesterday},
        {"method owner NULL", {.finalizadora = 3, .parcelaId = "F"}, 0, none, yesterday},
        {"method owner negative", {.finalizadora = 4, .parcelaId = "F"}, 0, none, yesterday},
        {"due tomorrow", {.dueInDays = 1}, 100, none, none},
        {"due today", {.dueInDays = 0}, 100, QDate::currentDate(), QDate::currentDate()},
    };
    int id = 100;
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        customer(++id);
        instalment(id, c.p);

        const auto automatico = compute(id, Vencimento::Automatico);
        const auto manual = compute(id, Vencimento::Manual);

        EXPECT_DOUBLE_EQ(automatico.saldo, c.saldo);
        EXPECT_DOUBLE_EQ(manual.saldo, c.saldo);
        EXPECT_EQ(automatico.prVencimento, c.dueAuto);
        EXPECT_EQ(manual.prVencimento, c.dueManual);
        EXPECT_DOUBLE_EQ(automatico.valorConta, c.dueAuto == none ? 0 : 100);
        EXPECT_DOUBLE_EQ(manual.valorConta, c.dueManual == none ? 0 : 100);
        EXPECT_DOUBLE_EQ(manual.saldoCheque, 0);
    }
}

TEST_F(Saldos, EarliestDueInstalmentGivesItsOwnValueAndEverythingOpenCounts)
{
    customer(7);
    instalment(7, {.valor = "30.00", .dueInDays = -5});
    instalment(7, {.valor = "40.00", .dueInDays = -5});
    instalment(7, {.valor = "99.00", .dueInDays = -2});
    instalment(7, {.valor = "7.25", .dueInDays = 30});

    for (Vencimento variant : {Vencimento::Automatico, Vencimento::Manual}) {
        const auto s = compute(7, variant);
        EXPECT_DOUBLE_EQ(s.saldo, 176.25); // overdue and future alike
        EXPECT_EQ(s.prVencimento, QDate::currentDate().addDays(-5));
        // One of the two due that day, never their sum.
        EXPECT_TRUE(s.valorConta == 30 || s.valorConta == 40) << s.valorConta;
    }
}

TEST_F(Saldos, ChequesHeldByTheStoreAndACustomerWithNothing)
{
    customer(7);
    customer(8);
    server.exec("INSERT INTO CHEQUES_RECEBIDOS (CLIENTE_ID, VALOR, BANCO_ID) VALUES "
                "(7, 50.10, NULL), (7, 25.00, 0), (7, 1000.00, 5), (8, 9.99, 5)");

    const auto seven = compute(7, Vencimento::Manual);
    EXPECT_DOUBLE_EQ(seven.saldoCheque, 75.10);

    const auto eight = compute(8, Vencimento::Automatico);
    EXPECT_DOUBLE_EQ(eight.saldo, 0);
    EXPECT_DOUBLE_EQ(eight.saldoCheque, 0);
    EXPECT_EQ(eight.prVencimento, QDate(1899, 12, 30));
    EXPECT_DOUBLE_EQ(eight.valorConta, 0);
}

TEST_F(Saldos, ExportRowsAreCutToTheirWidthsAndReadBackByName)
{
    const QString longName = "maria " + QString(74, 'X'); // 80 characters
    server.exec(QString("INSERT INTO CLIENTES (CLIENTE_ID, NOME, CNPJ, ENDERECO, MUNICIPIO, LIMITE, LIMITE_CHEQUE, "
                        "BLOQUEADO, STATUS, EMAIL) VALUES "
                        "(123, '%1', '12.345.678/0001-90', 'RUA DAS FLORES', 'CAMPINAS', 800.5, NULL, 'NAO', 'A', "
                        "'maria@loja.com'), (2, 'Bruno', NULL, NULL, NULL, NULL, 50, NULL, NULL, NULL), "
                        "(1, 'Carlos', NULL, NULL, NULL, 0, 0, NULL, NULL, NULL)")
                    .arg(longName));
    instalment(123, {.valor = "150.50", .dueInDays = 0});
    db::Query cursor(connection);
    cursor.setText("SELECT * FROM CLIENTES  ORDER BY CLIENTE_ID");
    cursor.open();
    auto table = update::criarTabelaClientes();
    update::SaldoClientes saldos(connection, 3, Vencimento::Manual);
    PaneLog pane;

    update::montarClientes(cursor, *table, saldos, pane);

    // One progress line per customer in cursor order, names cut to 40, then
    // the pane is cleared.
    EXPECT_EQ(pane.log, (QStringList{"000001 - Carlos", "000002 - Bruno", "000123 - " + longName.left(40),
                                     "<clear>"}));
    ASSERT_EQ(table->recordCount(), 3);
    QStringList order;
    for (table->first(); !table->eof(); table->next())
        order << table->field("NOME").asString();
    EXPECT_EQ(order, (QStringList{"Bruno", "Carlos", longName.left(70)})); // by name, case ignored

    table->first();
    table->next();
    table->next();
    EXPECT_EQ(table->field("CLIENTE_ID").asInteger(), 123);
    EXPECT_EQ(table->field("CNPJ").asString(), "12.345.678/0001-90");
    EXPECT_DOUBLE_EQ(table->field("LIMITE").asFloat(), 800.5);
    EXPECT_DOUBLE_EQ(table->field("LIMITE_CHEQUE").asFloat(), 0); // NULL number
    EXPECT_DOUBLE_EQ(table->field("SALDO").asFloat(), 150.5);
    EXPECT_EQ(table->field("PR_VENCIMENTO").asDateTime().date(), QDate::currentDate());
    EXPECT_DOUBLE_EQ(table->field("VALOR_CONTA").asFloat(), 150.5);
    EXPECT_EQ(table->field("EMAIL").asString(), "maria@loja.com");

    // A second row for the same customer is refused by the unique index.
    cursor.first();
    EXPECT_ANY_THROW(update::montarClientes(cursor, *table, saldos, pane));
    EXPECT_EQ(table->recordCount(), 3);
}

} // namespace
