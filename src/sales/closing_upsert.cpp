#include "sales/closing_upsert.h"

#include "common/event_pump.h"
#include "db/sequences.h"
#include "sales/sale_tables.h"
#include "sales/statement_cycle.h"
#include "sales/upsert_context.h"
#include "ui/dialogs.h"
#include "ui/standard_error.h"

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
// Two lines.
const char* const kUpdateClosing = "UPDATE FECHAMENTO_CUPOM SET LEGENDA = :LEGENDA, FINALIZADORA_ID = "
                                   ":FINALIZADORA_ID, FISCAL = :FISCAL  WHERE CUPOM = :CUPOM\n"
                                   "AND  CAIXA_ID = :CAIXA_ID AND OPERADOR_ID = :OPERADOR_ID AND DATA = "
                                   ":DATA AND VALOR_FINALIZADORA = :VALOR_FINALIZADORA";

} // namespace

void upsertFechamento(UpsertContext& ctx, const SourceRow& s)
{
    db::Query& lookup = ctx.statement(kClosingLookup);
    lookup.bindText("CUPOM", s.text("CUPOM"));
    lookup.bindInteger("CAIXA_ID", s.integer("CAIXA_ID"));
    lookup.bindDateTime("DATA", s.dateTime("DATA"));
    lookup.bindFloat("VALOR_FINALIZADORA", s.decimal("VALOR_FINALIZADORA"));
    const bool found = openFindsRow(lookup);

    try {
        if (!found) {
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
            execute(insert);
        } else {
            db::Query& update = ctx.statement(kUpdateClosing);
            update.bindText("CUPOM", lookup.field("CUPOM").asString());
            update.bindInteger("CAIXA_ID", lookup.field("CAIXA_ID").asInteger());
            update.bindInteger("OPERADOR_ID", lookup.field("OPERADOR_ID").asInteger());
            update.bindDateTime("DATA", lookup.field("DATA").asDateTime());
            update.bindText("LEGENDA", s.text("LEGENDA"));
            update.bindInteger("FINALIZADORA_ID", s.integer("FINALIZADORA_ID"));
            update.bindFloat("VALOR_FINALIZADORA", s.decimal("VALOR_FINALIZADORA"));
            update.bindText("FISCAL", s.text("FISCAL"));
            execute(update);
        }
        common::pumpEvents();
    } catch (const std::exception& e) {
        ctx.giveBack(s, saleTable(SaleTable::FechamentoCupom).giveBackKey);
        ui::dialogs().error(QStringLiteral("Erro Fechamento Cupom:\rErro: ") + ui::failureText(e));
    }
}

} // namespace sales
