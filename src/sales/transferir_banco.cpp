#include "sales/transferir_banco.h"

#include "db/copy/copy_run.h"
#include "sales/cheque_lookup.h"
#include "sales/closing_upsert.h"
#include "sales/nfce_upsert.h"
#include "sales/run_ending.h"
#include "sales/sale_upsert.h"

namespace sales {

Transferir_banco::Transferir_banco(db::Connection& server, ImportCells& cells)
    : ctx_(server, cells)
{
}

db::FindDestRecord Transferir_banco::hook()
{
    return [this](db::CopyRun& sender, bool& found) { Transferir_bancoFindDestRecord(sender, found); };
}

void Transferir_banco::Transferir_bancoFindDestRecord(db::CopyRun& ASender, bool& AFound)
{
    // Whatever happens, the engine itself writes nothing but new cheques.
    AFound = true;
    if (!executing_)
        return;

    const SourceRow source(ASender.source(), ctx_.sourceColumns);
    ctx_.terminal = ASender.config().readerConnection;
    try {
        upsert(source, AFound);
    } catch (const std::exception& e) {
        // Every statement of the branches goes to the server but one, which
        // tells its own lost link apart: any other lost link is the server's.
        raiseIfServerLinkFailed(e);
        throw;
    }
}

void Transferir_banco::settle()
{
    try {
        ctx_.settle();
    } catch (const std::exception& e) {
        raiseIfServerLinkFailed(e);
        throw;
    }
}

void Transferir_banco::upsert(const SourceRow& source, bool& AFound)
{
    switch (*executing_) {
    case SaleTable::Transacoes:
        upsertTransacao(ctx_, source);
        break;
    case SaleTable::Transitens:
        upsertTransitem(ctx_, source);
        break;
    case SaleTable::Transparcelas:
        upsertTransparcela(ctx_, source);
        break;
    case SaleTable::FechamentoCupom:
        upsertFechamento(ctx_, source);
        break;
    case SaleTable::ComplNfceFiscal:
        ctx_.settle();
        upsertComplNfce(ctx_, source);
        break;
    case SaleTable::NotasCanceladasNfce:
        ctx_.settle();
        upsertNotaCancelada(ctx_, source);
        break;
    case SaleTable::ChequesRecebidos:
        ctx_.settle();
        AFound = chequeOnServer(ctx_, source);
        break;
    }
}

std::vector<RowKey> Transferir_banco::takeGivenBack()
{
    std::vector<RowKey> rows;
    rows.swap(ctx_.givenBack);
    return rows;
}

Transferir_banco::Executing::Executing(Transferir_banco& hook, SaleTable table)
    : hook_(hook)
{
    hook_.executing_ = table;
    hook_.ctx_.givenBack.clear();
    hook_.ctx_.sourceColumns.clear();
    hook_.ctx_.closingsBefore.clear();
}

Transferir_banco::Executing::~Executing()
{
    // A run that ended by an error still hears its last writes out; one
    // that ended well was settled by its driver.
    hook_.ctx_.settleQuietly();
    hook_.executing_.reset();
    hook_.ctx_.terminal = nullptr;
}

} // namespace sales
