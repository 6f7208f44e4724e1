#pragma once
// Received cheques are copied by the engine alone, all of a run or none of
// it. They are committed on the server before the terminal marks them
// imported, so a link lost in between sends them again: the hook tells the
// engine which of them the server already holds.

namespace sales {

class SourceRow;
struct UpsertContext;

// True when the server holds a cheque with the same CPF_CNPJ, NUM_CHEQUE,
// DT_CHEQUE, VALOR, ECF and NUM_DOC (a column empty on both sides counts
// as the same). Errors end the copy run.
bool chequeOnServer(UpsertContext& ctx, const SourceRow& source);

} // namespace sales
