#pragma once
// The hook's branch for receipt closings: one server row per payment line.
// Lines of one receipt (till, date) with the same amount are told apart by
// their order: the terminal's n-th such line is the server's n-th. A line
// sent again updates its own row; one the server lacks is inserted with a
// fresh FECHAMENTO_ID.

namespace sales {

class SourceRow;
struct UpsertContext;

// Write errors are shown ("Erro Fechamento Cupom:\rErro: ") and the row is
// handed back; an error of the lookups ends the copy run.
void upsertFechamento(UpsertContext& ctx, const SourceRow& source);

} // namespace sales
