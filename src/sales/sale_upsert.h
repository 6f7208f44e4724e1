#pragma once
// The hook's branches for sale headers, items and instalments: each source
// row is written into the server with a fresh server sale id and the link
// TRANSACAO_ORIGEM, unless it is already there. The engine writes nothing.

namespace sales {

class SourceRow;
struct UpsertContext;

// Insert errors are shown ("Erro Transacoes principal:\rErro: ") and the
// row is handed back; an error of the duplicate test ends the copy run.
void upsertTransacao(UpsertContext& ctx, const SourceRow& source);
// Insert errors are shown ("Erro transitens:\rErro: ") and the row handed
// back; an item whose sale is not on the server is handed back silently.
void upsertTransitem(UpsertContext& ctx, const SourceRow& source);
// Every error ends the copy run; an instalment whose sale is not on the
// server is handed back.
void upsertTransparcela(UpsertContext& ctx, const SourceRow& source);

} // namespace sales
