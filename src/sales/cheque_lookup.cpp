#include "sales/cheque_lookup.h"

#include "sales/statement_cycle.h"
#include "sales/upsert_context.h"

namespace sales {
namespace {

// Any of these columns may be null on a terminal: null matches null.
const char* const kChequeOnServer
    = "SELECT CHEQUE_ID FROM CHEQUES_RECEBIDOS WHERE CPF_CNPJ IS NOT DISTINCT FROM :CPF_CNPJ AND NUM_CHEQUE IS "
      "NOT DISTINCT FROM :NUM_CHEQUE AND DT_CHEQUE IS NOT DISTINCT FROM :DT_CHEQUE AND VALOR IS NOT DISTINCT "
      "FROM :VALOR AND ECF IS NOT DISTINCT FROM :ECF AND NUM_DOC IS NOT DISTINCT FROM :NUM_DOC";

} // namespace

bool chequeOnServer(UpsertContext& ctx, const SourceRow& s)
{
    db::Query& lookup = ctx.statement(kChequeOnServer);
    // Values as read, so that a null stays a null.
    for (const char* c : { "CPF_CNPJ", "NUM_CHEQUE", "DT_CHEQUE", "VALOR", "ECF", "NUM_DOC" })
        lookup.bind(c, s.field(c).value());
    return openFindsRow(lookup);
}

} // namespace sales
