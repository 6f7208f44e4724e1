#pragma once
// The hook's branches for NFC-e complements and cancelled NFC-e notes. A
// cancelled note of a sale on the server also books the cancellation sale
// (CONDUTA "18") with copies of the sale's items.

namespace sales {

class SourceRow;
struct UpsertContext;

// Every error ends the copy run, leaving the server's complement as it was.
// A complement replaces the server's one of its sale; without a sale it
// replaces the one stored earlier under its access key, or else is stored
// under a fresh id.
void upsertComplNfce(UpsertContext& ctx, const SourceRow& source);
// Errors of the booking are shown ("Erro Notas Canceladas Nfce:\rErro: "),
// nothing of it stays, and the row is handed back; other errors end the
// copy run. Without a sale the note is stored under a fresh id, unless a
// note with its access key is stored already.
void upsertNotaCancelada(UpsertContext& ctx, const SourceRow& source);

} // namespace sales
