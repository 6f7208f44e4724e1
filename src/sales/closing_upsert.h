#pragma once
// The hook's branch for receipt closings: one server row per payment line,
// updated when a line with the same receipt, till, date and amount is
// already there, inserted with a fresh FECHAMENTO_ID otherwise.

namespace sales {

class SourceRow;
struct UpsertContext;

// Write errors are shown ("Erro Fechamento Cupom:\rErro: ") and the row is
// handed back; an error of the lookup ends the copy run.
void upsertFechamento(UpsertContext& ctx, const SourceRow& source);

} // namespace sales
