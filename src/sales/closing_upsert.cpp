#include "sales/closing_upsert.h"

#include "db/errors.h"
#include "db/query.h"
#include "db/sequences.h"
#include "sales/run_ending.h"
#include "sales/sale_tables.h"
#include "sales/statement_cycle.h"
#include "sales/upsert_context.h"
#include "ui/dialogs.h"
#include "ui/standard_error.h"

#include <algorithm>
#include <vector>

namespace sales {
namespace {

// Three lines.
const char* const kClosingLookup = "SELECT *\n"
                                   "FROM FECHAMENTO_CUPOM\n"
                                   "WHERE CUPOM = :CUPOM AND CAIXA_ID = :CAIXA_ID AND DATA = :DATA AND "
                                   "VALOR_FINALIZADORA = :VALOR_FINALIZADORA ";
const char* const kInsertClosing
    = "INSERT INTO FECHAMENTO_CUPOM(CUPOM,CAIXA_ID, OPERADOR_ID , FINALIZADORA_ID, LEGENDA, DATA, "
      "HORA,VALOR_CUPOM, "
      "ACRESCIMO,  DESCONTO, VALOR_FINALIZADORA, FISCAL,FECHAMENTO_ID, ENTIDADE_ID, "
      "CLIENTE_ID)VALUES(:CUPOM, "
      ":CAIXA_ID, :OPERADOR_ID, :FINALIZADORA_ID, :LEGENDA, :DATA, :HORA, :VALOR_CUPOM, :ACRESCIMO, "
      ":DESCONTO,         "
      ":VALOR_FINALIZADORA,      :FISCAL,:FECHAMENTO_ID,:ENTIDADE_ID,:CLIENTE_ID)";
// One line, found by its position among the receipt's lines of its amount.
const char* const kUpdateClosing = "UPDATE FECHAMENTO_CUPOM SET LEGENDA = :LEGENDA, FINALIZADORA_ID = "
                                   ":FINALIZADORA_ID, FISCAL = :FISCAL WHERE FECHAMENTO_ID = :FECHAMENTO_ID";
// On the terminal: the line's position among its receipt's lines of the
// same amount.
const char* const kTerminalPosition
    = "SELECT COUNT(*) AS POSICAO FROM FECHAMENTO_CUPOM WHERE CUPOM = :CUPOM AND CAIXA_ID = :CAIXA_ID AND "
      "DATA = :DATA AND VALOR_FINALIZADORA = :VALOR_FINALIZADORA AND FECHAMENTO_ID <= :FECHAMENTO_ID";

void bindKey(db::Query& q, const ClosingKey& key)
{
    q.bindText("CUPOM", key.cupom);
    q.bindInteger("CAIXA_ID", key.caixaId);
    q.bindDateTime("DATA", key.data);
    q.bindFloat("VALOR_FINALIZADORA", key.valor);
}

// The server's lines of `key` as they stood when this copy run first met it.
const std::vector<qint64>& serverLines(UpsertContext& ctx, const ClosingKey& key)
{
    auto it = ctx.closingsBefore.find(key);
    if (it != ctx.closingsBefore.end())
        return it->second;
    db::Query& lookup = ctx.statement(kClosingLookup);
    bindKey(lookup, key);
    ctx.findsRow(lookup);
    std::vector<qint64> ids;
    for (; !lookup.eof(); lookup.next())
        ids.push_back(lookup.field("FECHAMENTO_ID").asInteger());
    std::sort(ids.begin(), ids.end());
    return ctx.closingsBefore.emplace(key, std::move(ids)).first->second;
}

// 1 for the terminal's first line of `key`, 2 for its second, ...
qint64 terminalPosition(UpsertContext& ctx, const SourceRow& s, const ClosingKey& key)
{
    if (!ctx.terminal)
        throw db::UsageError(QStringLiteral("The closing's terminal is not known"));
    db::Query position(*ctx.terminal);
    position.setText(QString::fromUtf8(kTerminalPosition));
    bindKey(position, key);
    position.bindInteger("FECHAMENTO_ID", s.integer("FECHAMENTO_ID"));
    try {
        position.prepare();
        position.open();
    } catch (const std::exception& e) {
        // The one statement of the hook on the terminal: its lost link is
        // the terminal's, not the server's.
        raiseIfTerminalLinkFailed(e);
        throw;
    }
    // A line the terminal cannot place (a null among its key columns) is
    // taken for the first.
    return std::max<qint64>(1, position.field("POSICAO").asInteger());
}

// The server row an earlier run brought for this line, 0 when none: the
// terminal's n-th line of a receipt and amount is the server's n-th.
qint64 ownServerLine(UpsertContext& ctx, const SourceRow& s)
{
    const ClosingKey key { s.text("CUPOM"), s.integer("CAIXA_ID"), s.dateTime("DATA"),
        s.decimal("VALOR_FINALIZADORA") };
    const std::vector<qint64>& lines = serverLines(ctx, key);
    if (lines.empty())
        return 0;
    const qint64 n = terminalPosition(ctx, s, key);
    return n <= static_cast<qint64>(lines.size()) ? lines[static_cast<std::size_t>(n - 1)] : 0;
}

} // namespace

void upsertFechamento(UpsertContext& ctx, const SourceRow& s)
{
    const qint64 own = ownServerLine(ctx, s);

    auto refused = [&ctx, rowKey = UpsertContext::keyOf(s, saleTable(SaleTable::FechamentoCupom).giveBackKey)](
                      const std::exception& e) {
        ctx.givenBack.push_back(rowKey);
        // The box lets events run: no write may be out unanswered meanwhile.
        ctx.settleQuietly();
        ui::dialogs().error(QStringLiteral("Erro Fechamento Cupom:\rErro: ") + ui::failureText(e));
    };
    try {
        db::Query* write = nullptr;
        if (own == 0) {
            ctx.settle(); // the draw below goes on its own
            const qint64 id = db::nextFechamentoId(ctx.server);
            db::Query& insert = ctx.statement(kInsertClosing);
            insert.bindInteger("FECHAMENTO_ID", id);
            for (const char* c : { "CUPOM", "LEGENDA", "HORA", "FISCAL" })
                insert.bindText(c, s.text(c));
            for (const char* c :
                { "CAIXA_ID", "OPERADOR_ID", "FINALIZADORA_ID", "ENTIDADE_ID", "CLIENTE_ID" })
                insert.bindInteger(c, s.integer(c));
            insert.bindDateTime("DATA", s.dateTime("DATA"));
            for (const char* c : { "VALOR_CUPOM", "ACRESCIMO", "DESCONTO", "VALOR_FINALIZADORA" })
                insert.bindFloat(c, s.decimal(c));
            write = &insert;
        } else {
            db::Query& update = ctx.statement(kUpdateClosing);
            update.bindInteger("FECHAMENTO_ID", own);
            update.bindText("LEGENDA", s.text("LEGENDA"));
            update.bindInteger("FINALIZADORA_ID", s.integer("FINALIZADORA_ID"));
            update.bindText("FISCAL", s.text("FISCAL"));
            write = &update;
        }
        ctx.pumpEvents(); // before the write is held back, never while it is
        ctx.sendWrite(*write, [] { }, refused);
    } catch (const std::exception& e) {
        // A lost link ends the run; the row is left for the next one.
        if (!refusedForItsData(e))
            throw;
        // The error box lets events run: nothing may be unanswered then.
        ctx.settle();
        refused(e);
    }
}

} // namespace sales
