#include "sales/monitor_venda.h"

#include "common/event_pump.h"
#include "common/formatar_numero.h"
#include "db/query.h"
#include "sales/run_ending.h"
#include "sales/sales_view.h"
#include "sales/statement_cycle.h"
#include "ui/dialogs.h"
#include "ui/standard_error.h"

#include <QLocale>

namespace sales {
namespace {

const char* const kHeader = "SELECT * FROM TRANSACOES WHERE TRANSACAO_ID = :TRANSACAO_ID AND (MODELO = "
                            ":MODELO OR MODELO = :MODELO2)";
const char* const kItems = "SELECT * FROM TRANSITENS WHERE TRANSACAO_ID = :TRANSACAO_ID ORDER BY SEQUENCIA";
const char* const kInstalments = "SELECT * FROM TRANSPARCELAS WHERE TRANSACAO_ID = :TRANSACAO_ID";
const char* const kTouchCustomer = "UPDATE CLIENTES SET DT_ATUALIZACAO = :DATA WHERE CLIENTE_ID =:CLIENTE_ID";
const char* const kClosings = "SELECT * FROM FECHAMENTO_CUPOM WHERE CAIXA_ID = :CAIXA_ID AND CUPOM = :CUPOM";
// Three lines.
const char* const kNfceSale = "SELECT DT_ENT_SAI , NUM_DOC, CHAVE_NFE, BANCO_ID,VALOR\n"
                              "FROM TRANSACOES\n"
                              "WHERE TRANSACAO_ID =:TRANSACAO_ID AND MODELO =:MODELO";
// Three lines.
const char* const kNfceTransmission = "SELECT CHAVE_NFCE, DT_EMISSAO , TRANSMISSAO,ECF,VALOR \n"
                                      "FROM COMPL_NFCEFISCAL\n"
                                      "WHERE TRANSACAO_ID =:TRANSACAO_ID";
const char* const kTouchProduct
    = "UPDATE PRODUTOS SET DT_ATUALIZACAO = DT_ATUALIZACAO WHERE PRODUTO_ID = :PRODUTO_ID";

// Renders field values the way the panes show them, in the locale's separators.
class Render {
public:
    explicit Render(const db::Dataset& row)
        : row_(row)
    {
    }

    // The value as the data layer writes it; a decimal column's point
    // becomes the locale's separator (3.305 reads 3,305 where the comma is
    // the decimal separator, not three thousand). Whole numbers, codes,
    // texts and dates stay as they are.
    QString text(const char* column) const
    {
        const QLatin1String name(column);
        QString value = row_.field(name).asString();
        const db::FieldKind kind = row_.fieldKind(row_.fieldIndex(name));
        if (kind == db::FieldKind::Float || kind == db::FieldKind::Numeric)
            value.replace(u'.', QLocale().decimalPoint());
        return value;
    }
    QString date(const char* column) const
    {
        return QLocale().toString(
            row_.field(QLatin1String(column)).asDateTime().date(), QLocale::ShortFormat);
    }
    // Shortest decimal form, no thousands separators.
    QString general(const char* column) const
    {
        QLocale locale;
        locale.setNumberOptions(QLocale::OmitGroupSeparator);
        return locale.toString(
            row_.field(QLatin1String(column)).asFloat(), 'f', QLocale::FloatingPointShortest);
    }
    // Thousands separators and exactly two decimals.
    QString twoDecimals(const char* column) const
    {
        return QLocale().toString(row_.field(QLatin1String(column)).asFloat(), 'f', 2);
    }

private:
    const db::Dataset& row_;
};

class Display {
public:
    Display(MonitorView& view, MonitorPane pane)
        : view_(view)
        , pane_(pane)
    {
    }
    void line(const char* caption, const QString& value)
    {
        view_.appendMonitorLine(pane_, QString::fromUtf8(caption) + value);
    }

private:
    MonitorView& view_;
    MonitorPane pane_;
};

// Appends `lines` for every row of `q` to `pane`, letting events run after each row.
template <typename Lines> void showRows(db::Query& q, MonitorView& view, MonitorPane pane, Lines lines)
{
    Display display(view, pane);
    for (q.first(); !q.eof(); q.next()) {
        lines(display, Render(q));
        common::pumpEvents();
    }
}

void show(db::Connection& server, MonitorView& view, qint64 transacaoId, qint64 cupom, qint64 caixa)
{
    db::Query q(server); // QListaMenu

    q.setText(kHeader);
    q.bindInteger("TRANSACAO_ID", transacaoId);
    q.bindText("MODELO", QStringLiteral("2D"));
    q.bindText("MODELO2", QStringLiteral("65"));
    openFindsRow(q);
    const qint64 clienteId = q.isEmpty() ? 0 : q.field("CLIENTE_ID").asInteger();
    showRows(q, view, MonitorPane::Memo2, [](Display& d, const Render& r) {
        d.line("Transação: ", r.text("TRANSACAO_ID"));
        d.line("Data : ", r.date("DT_TRANS"));
        d.line("Hora: ", r.text("HORA"));
        d.line("Pagamento: ", r.text("COND_PAGTO"));
        d.line("Código Cliente: ", r.text("CLIENTE_ID"));
        d.line("Ecf.: ", r.text("BANCO_ID"));
        d.line("Documento: ", r.text("NUM_DOC"));
        d.line("Itens: ", r.text("ITENS"));
        d.line("Unidades: ", r.text("UNIDADES"));
        d.line("Valor: ", r.general("VALOR"));
    });

    q.setText(kItems);
    q.bindInteger("TRANSACAO_ID", transacaoId);
    openFindsRow(q);
    const qint64 produtoId = q.isEmpty() ? 0 : q.field("PRODUTO_ID").asInteger();
    showRows(q, view, MonitorPane::Memo3, [](Display& d, const Render& r) {
        d.line("Transação: ", r.text("TRANSACAO_ID"));
        d.line("Produto : ", r.text("PRODUTO_ID"));
        d.line("Descrição: ", r.text("DESCRICAO"));
        d.line("QUANTIDADE: ", r.text("QUANTIDADE"));
        d.line("Vr. Unitario: ", r.text("VR_UNITARIO"));
        d.line("Valor Total: ", r.general("VR_TOTAL"));
    });

    q.setText(kInstalments);
    q.bindInteger("TRANSACAO_ID", transacaoId);
    openFindsRow(q);
    if (!q.isEmpty()) {
        // The customer owes something new: the next export of changed
        // customers sends its balance to the terminals.
        db::Query touch(server); // IQuery_Update
        touch.setText(kTouchCustomer);
        touch.bindDateTime("DATA", QDateTime(QDate::currentDate(), QTime(0, 0)));
        touch.bindInteger("CLIENTE_ID", clienteId);
        execute(touch);
    }
    showRows(q, view, MonitorPane::Memo4, [](Display& d, const Render& r) {
        d.line("Transação: ", r.text("TRANSACAO_ID"));
        d.line("Parcela : ", r.text("PARCELA_ID"));
        d.line("Vencimento: ", r.date("DT_VENCIMENTO"));
        d.line("Valor Total: ", r.general("VALOR"));
    });

    q.setText(kClosings);
    q.bindInteger("CAIXA_ID", caixa);
    q.bindText("CUPOM", common::Formatar_Numero(QString::number(cupom), 8, 0));
    openFindsRow(q);
    showRows(q, view, MonitorPane::Memo1, [](Display& d, const Render& r) {
        d.line("Cupom: ", r.text("CUPOM"));
        d.line("Data : ", r.date("DATA"));
        d.line("Hora: ", r.text("HORA"));
        d.line("Legenda: ", r.text("LEGENDA"));
        d.line("Valor Cupom: ", r.twoDecimals("VALOR_CUPOM"));
    });

    q.setText(kNfceSale);
    q.bindInteger("TRANSACAO_ID", transacaoId);
    q.bindText("MODELO", QStringLiteral("65"));
    openFindsRow(q);
    showRows(q, view, MonitorPane::Memo5, [](Display& d, const Render& r) {
        d.line("Documento: ", r.text("NUM_DOC"));
        d.line("Data : ", r.date("DT_ENT_SAI"));
        d.line("Ecf: ", common::Formatar_Numero(r.text("BANCO_ID"), 3, 0));
        d.line("Chave Nfce: ", r.text("CHAVE_NFE"));
        d.line("Valor: ", r.twoDecimals("VALOR"));
    });

    q.setText(kNfceTransmission);
    q.bindInteger("TRANSACAO_ID", transacaoId);
    openFindsRow(q);
    showRows(q, view, MonitorPane::Memo6, [](Display& d, const Render& r) {
        d.line("Data: ", r.date("DT_EMISSAO"));
        d.line("Chave Nfce: ", r.text("CHAVE_NFCE"));
        d.line("ECF : ", r.text("ECF"));
        d.line("Valor : ", r.twoDecimals("VALOR"));
        d.line("Transmissão: ", r.text("TRANSMISSAO"));
    });

    db::Query product(server);
    product.setText(kTouchProduct);
    product.bindInteger("PRODUTO_ID", produtoId);
    execute(product);
}

} // namespace

void Monitor_Venda(db::Connection& server, MonitorView& view, qint64 transacaoId, qint64 cupom, qint64 caixa)
{
    try {
        show(server, view, transacaoId, cupom, caixa);
    } catch (const std::exception& e) {
        // A lost link ends the caller's run instead: nothing a click fixes.
        raiseIfServerLinkFailed(e);
        ui::dialogs().error(QStringLiteral("Erro ATUALIZAR MENU:\rErro: ") + ui::failureText(e));
    }
}

} // namespace sales
