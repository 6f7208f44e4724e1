#include "update/saldo_clientes.h"

#include "common/event_pump.h"
#include "common/formatar_numero.h"
#include "db/connection.h"
#include "db/memtable.h"
#include "db/query.h"
#include "update/clientes_view.h"

#include <QDateTime>

namespace update {
namespace {

const char* const kSaldo =
    "SELECT SUM(TRANSPARCELAS.VALOR) AS VALOR\n"
    "FROM TRANSPARCELAS\n"
    "INNER JOIN TRANSACOES\n"
    "ON (TRANSPARCELAS.TRANSACAO_ID = TRANSACOES.TRANSACAO_ID)\n"
    "INNER JOIN CLIENTES\n"
    "ON (TRANSACOES.CLIENTE_ID = CLIENTES.CLIENTE_ID)\n"
    "INNER JOIN FINALIZADORAS\n"
    "ON ((FINALIZADORAS.FINALIZADORA_ID = TRANSACOES.FINALIZADORA_ID) AND ((FINALIZADORAS.CLIENTE_ID = 0) OR "
    "(FINALIZADORAS.CLIENTE_ID > 0  AND ((TRANSACOES.PARCELA_ID = :PARCELA_ID) OR (TRANSACOES.PARCELA_ID = "
    ":PARCELA_ID2))))) \n"
    "WHERE\n"
    "(TRANSPARCELAS.TIPO_TRANSACAO = :TIPO_TRANSACAO)\n"
    "AND ((TRANSPARCELAS.AGRUPAMENTO = 0) OR (TRANSPARCELAS.AGRUPAMENTO IS NULL))\n"
    "AND (TRANSPARCELAS.VALOR > 0)\n"
    "AND (TRANSPARCELAS.BANCO_ID = 0)\n"
    "AND (TRANSACOES.EMPRESA_ID = :EMPRESA_ID)\n"
    "AND (TRANSACOES.CONDUTA = :CONDUTA)\n"
    "AND (TRANSACOES.COND_PAGTO = :COND_PAGTO)\n"
    "AND (TRANSACOES.CLIENTE_ID = :CLIENTE_ID)";

const char* const kCheques =
    "SELECT SUM(CHEQUES_RECEBIDOS.VALOR) AS VALOR\n"
    "FROM CHEQUES_RECEBIDOS\n"
    "INNER JOIN CLIENTES\n"
    "ON (CHEQUES_RECEBIDOS.CLIENTE_ID = CLIENTES.CLIENTE_ID)\n"
    "WHERE\n"
    "(CLIENTES.CLIENTE_ID = :CLIENTE_ID)\n"
    "AND ((BANCO_ID = 0) OR (BANCO_ID IS NULL))";

const char* const kVencimentoAutomatico =
    "SELECT CLIENTES.CLIENTE_ID, TRANSPARCELAS.DT_VENCIMENTO,TRANSPARCELAS.VALOR\n"
    "FROM CLIENTES CLIENTES\n"
    "INNER JOIN TRANSACOES TRANSACOES\n"
    "ON (CLIENTES.CLIENTE_ID = TRANSACOES.CLIENTE_ID)\n"
    "INNER JOIN FINALIZADORAS\n"
    "ON (FINALIZADORAS.FINALIZADORA_ID = TRANSACOES.FINALIZADORA_ID) AND ((FINALIZADORAS.CLIENTE_ID = 0) OR "
    "(FINALIZADORAS.CLIENTE_ID > 0  AND ((TRANSACOES.PARCELA_ID = :PARCELA_ID) OR (TRANSACOES.PARCELA_ID = "
    ":PARCELA_ID2))))\n"
    "INNER JOIN TRANSPARCELAS TRANSPARCELAS\n"
    "ON (TRANSACOES.TRANSACAO_ID = TRANSPARCELAS.TRANSACAO_ID)\n"
    "WHERE (CLIENTES.CLIENTE_ID = :CLIENTE_ID)\n"
    "AND (TRANSPARCELAS.DT_VENCIMENTO <= :DT_VENCIMENTO)\n"
    "AND (TRANSPARCELAS.VALOR > 0)\n"
    "AND (TRANSPARCELAS.BANCO_ID = 0)\n"
    "AND (TRANSPARCELAS.TIPO_TRANSACAO = :TIPO_TRANSACAO)\n"
    "AND (TRANSACOES.COND_PAGTO = :COND_PAGTO)\n"
    "ORDER BY DT_VENCIMENTO";

const char* const kVencimentoManual =
    "SELECT CLIENTES.CLIENTE_ID, TRANSPARCELAS.DT_VENCIMENTO,TRANSPARCELAS.VALOR\n"
    "FROM CLIENTES CLIENTES\n"
    "INNER JOIN TRANSACOES \n"
    "ON (CLIENTES.CLIENTE_ID = TRANSACOES.CLIENTE_ID)\n"
    "INNER JOIN TRANSPARCELAS \n"
    "ON (TRANSACOES.TRANSACAO_ID = TRANSPARCELAS.TRANSACAO_ID)\n"
    "WHERE (CLIENTES.CLIENTE_ID = :CLIENTE_ID)\n"
    "AND (TRANSPARCELAS.DT_VENCIMENTO <= :DT_VENCIMENTO)\n"
    "AND (TRANSPARCELAS.VALOR > 0)\n"
    "AND (TRANSPARCELAS.BANCO_ID = 0)\n"
    "AND (TRANSPARCELAS.TIPO_TRANSACAO = :TIPO_TRANSACAO)\n"
    "AND (TRANSACOES.COND_PAGTO = :COND_PAGTO)\n"
    "ORDER BY DT_VENCIMENTO";

// Fixed values of the queries.
const QString kTipoTransacao = QStringLiteral("T");
const QString kConduta = QStringLiteral("01");
const QString kCondPagto = QStringLiteral("A PRAZO");
const QString kParcelaId = QStringLiteral("0000F");
const QString kParcelaId2 = QStringLiteral("F");

std::unique_ptr<db::Query> statement(db::Connection& server, const char* sql)
{
    auto q = std::make_unique<db::Query>(server);
    q->setText(QString::fromUtf8(sql));
    return q;
}

// Sets the fields in table order: copied ones from the customer row,
// computed ones from `s`.
void fillRow(db::MemTable& table, const db::Dataset& cliente, const SaldosCliente& s)
{
    // Texts are cut to the table's widths; a NULL number reads as 0.
    auto text = [&](const char* name) {
        table.setText(QLatin1String(name), cliente.field(QLatin1String(name)).asString());
    };
    table.setInteger("CLIENTE_ID", cliente.field("CLIENTE_ID").asInteger());
    for (const char* name : {"NOME", "CNPJ", "ENDERECO", "BAIRRO", "MUNICIPIO"})
        text(name);
    table.setFloat("LIMITE", cliente.field("LIMITE").asFloat());
    table.setFloat("SALDO", s.saldo);
    for (const char* name : {"BLOQUEADO", "STATUS", "CARTAO_IDENT1", "CARTAO_IDENT2", "CARTAO_IDENT3",
                             "CARTAO_IDENT4", "SENHA", "OBSERVACAO", "BLOQ_CHEQUE"})
        text(name);
    table.setDateTime("PR_VENCIMENTO", QDateTime(s.prVencimento, QTime(0, 0)));
    table.setFloat("VALOR_CONTA", s.valorConta);
    table.setFloat("LIMITE_CHEQUE", cliente.field("LIMITE_CHEQUE").asFloat());
    table.setFloat("SALDO_CHEQUE", s.saldoCheque);
    for (const char* name : {"ESTADO", "IBGE", "NUMERO", "COD_PAIS", "EMAIL"})
        text(name);
}

} // namespace

QDate zeroDate()
{
    return QDate(1899, 12, 30);
}

SaldoClientes::SaldoClientes(db::Connection& server, qint64 empresaId, Vencimento variant)
    : empresaId_(empresaId)
    , variant_(variant)
    , saldo_(statement(server, kSaldo))
    , cheques_(statement(server, kCheques))
    , vencimento_(statement(server, variant == Vencimento::Automatico ? kVencimentoAutomatico : kVencimentoManual))
{
}

SaldoClientes::~SaldoClientes() = default;

SaldosCliente SaldoClientes::calcular(qint64 clienteId, const QDate& hoje)
{
    SaldosCliente s;

    db::Query& saldo = *saldo_;
    saldo.bindText("PARCELA_ID", kParcelaId);
    saldo.bindText("PARCELA_ID2", kParcelaId2);
    saldo.bindText("TIPO_TRANSACAO", kTipoTransacao);
    saldo.bindInteger("EMPRESA_ID", empresaId_);
    saldo.bindText("CONDUTA", kConduta);
    saldo.bindText("COND_PAGTO", kCondPagto);
    saldo.bindInteger("CLIENTE_ID", clienteId);
    saldo.prepare();

    db::Query& cheques = *cheques_;
    cheques.bindInteger("CLIENTE_ID", clienteId);
    cheques.prepare();

    db::Query& vencimento = *vencimento_;
    if (variant_ == Vencimento::Automatico) {
        vencimento.bindText("PARCELA_ID", kParcelaId);
        vencimento.bindText("PARCELA_ID2", kParcelaId2);
    }
    vencimento.bindInteger("CLIENTE_ID", clienteId);
    vencimento.bindDateTime("DT_VENCIMENTO", QDateTime(hoje, QTime(0, 0)));
    vencimento.bindText("TIPO_TRANSACAO", kTipoTransacao);
    vencimento.bindText("COND_PAGTO", kCondPagto);
    vencimento.prepare();

    // The three questions of one customer go to the server in one exchange.
    db::Query::openTogether({&saldo, &cheques, &vencimento});
    s.saldo = saldo.field("VALOR").asFloat(); // a sum over no row is null: 0
    s.saldoCheque = cheques.field("VALOR").asFloat();
    // Ascending due dates: the first row is the earliest; a tie is decided
    // by the server's order, and its value is that one instalment's.
    if (vencimento.isEmpty()) {
        s.prVencimento = zeroDate();
    } else {
        s.prVencimento = vencimento.field("DT_VENCIMENTO").asDateTime().date();
        s.valorConta = vencimento.field("VALOR").asFloat();
    }
    saldo.close();
    cheques.close();
    vencimento.close();
    return s;
}

void montarClientes(db::Dataset& clientes, db::MemTable& table, SaldoClientes& saldos, ClientesView& view)
{
    for (clientes.first(); !clientes.eof(); clientes.next()) {
        const qint64 id = clientes.field("CLIENTE_ID").asInteger();
        const SaldosCliente s = saldos.calcular(id, QDate::currentDate());
        table.append();
        try {
            fillRow(table, clientes, s);
            table.post();
        } catch (...) {
            table.cancel();
            throw;
        }
        common::pumpEvents();
        view.addMemo1(common::Formatar_Numero(QString::number(id), 6, 0) + QStringLiteral(" - ")
                      + clientes.field("NOME").asString().left(40));
    }
    view.clearMemo1();
}

} // namespace update
