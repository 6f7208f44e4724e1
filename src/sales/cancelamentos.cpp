#include "sales/cancelamentos.h"

#include "common/event_pump.h"
#include "common/formatar_numero.h"
#include "db/query.h"
#include "sales/import_cells.h"
#include "sales/run_ending.h"
#include "db/scoped_transaction.h"
#include "sales/statement_cycle.h"
#include "sales/upsert_context.h"

#include <vector>

namespace sales {
namespace {

// The join is with the terminal's own copy of LICENCA_IF.
const char* const kCancelledSales
    = "SELECT DT_TRANS, NUM_DOC, BANCO_ID,DT_TRANS,SERIAL FROM TRANSACOES INNER JOIN LICENCA_IF ON "
      "TRANSACOES.BANCO_ID = CAST(LICENCA_IF.NUM_ECF AS INTEGER)WHERE EXPORTADO = 3 ";
// One cancellation at a time, once the server has carried it out.
const char* const kCancellationDone = "UPDATE TRANSACOES SET EXPORTADO = 4 WHERE EXPORTADO = 3 AND NUM_DOC = "
                                      ":NUM_DOC AND BANCO_ID = :BANCO_ID "
                                      "AND DT_TRANS = :DT_TRANS";

const char* const kDeleteSale = "DELETE FROM TRANSACOES WHERE NUM_DOC= :NUM_DOC AND BANCO_ID = :BANCO_ID AND "
                                "DT_TRANS =:DT_TRANS AND MODELO = :MODELO";
const char* const kFindSale = "SELECT TRANSACAO_ID FROM TRANSACOES WHERE NUM_DOC= :NUM_DOC AND BANCO_ID = "
                              ":BANCO_ID AND DT_TRANS =:DT_TRANS AND MODELO = :MODELO";
const char* const kDeleteInstalments = "DELETE FROM TRANSPARCELAS WHERE TRANSACAO_ID = :TRANSACAO_ID";
const char* const kDeleteClosings
    = "DELETE FROM FECHAMENTO_CUPOM WHERE CUPOM = :CUPOM AND CAIXA_ID = :CAIXA_ID AND DATA =:DATA";
// Three lines.
const char* const kDeleteLocations = "DELETE FROM LOCALIZACAO_ESTOQUE_PRODUTOS\n"
                                     "WHERE\n"
                                     "(TRANSACAO_ID = :TRANSACAO_ID)";

struct CancelledSale {
    QString numDoc;
    qint64 bancoId = 0;
    QDateTime dtTrans;
};

// The cells name the last sale or cancellation carried out on the server:
// a cancellation that fails puts them back as they were.
class CellsRestoredUnlessKept {
public:
    explicit CellsRestoredUnlessKept(ImportCells& cells)
        : cells_(cells)
        , before_(cells)
    {
    }
    ~CellsRestoredUnlessKept()
    {
        if (kept_)
            return;
        cells_.Ultima_Transacao = before_.Ultima_Transacao;
        cells_.Ultimo_Cupom = before_.Ultimo_Cupom;
        cells_.Ultimo_Caixa = before_.Ultimo_Caixa;
    }
    CellsRestoredUnlessKept(const CellsRestoredUnlessKept&) = delete;
    CellsRestoredUnlessKept& operator=(const CellsRestoredUnlessKept&) = delete;

    void keep() { kept_ = true; }

private:
    ImportCells& cells_;
    const ImportCells before_;
    bool kept_ = false;
};

void bindSale(db::Query& q, const CancelledSale& sale)
{
    q.bindText("NUM_DOC", sale.numDoc);
    q.bindInteger("BANCO_ID", sale.bancoId);
    q.bindDateTime("DT_TRANS", sale.dtTrans);
}

// The server's part of one cancellation.
void carryOutOnServer(db::Connection& server, ImportCells& cells, const StockLocationSettings& stock,
    const CancelledSale& sale)
{
    CellsRestoredUnlessKept restore(cells);
    cells.Ultima_Transacao = 0;
    cells.Ultimo_Cupom = wholeNumber(sale.numDoc);
    cells.Ultimo_Caixa = sale.bancoId;

    // All of one cancellation or none of it: a retry then finds the sale
    // as it was and does not send it to the server a second time.
    db::ScopedTransaction transaction(server);
    db::Query q(server);
    q.setText(kDeleteSale);
    bindSale(q, sale);
    q.bindText("MODELO", QStringLiteral("2D"));
    execute(q);

    q.setText(kFindSale);
    bindSale(q, sale);
    q.bindText("MODELO", QStringLiteral("65"));
    const qint64 nfceSaleId = openFindsRow(q) ? q.field("TRANSACAO_ID").asInteger() : 0;

    q.setText(kDeleteInstalments);
    q.bindInteger("TRANSACAO_ID", nfceSaleId);
    execute(q);

    q.setText(kDeleteClosings);
    q.bindText("CUPOM", common::Formatar_Numero(sale.numDoc, 8, 0));
    q.bindInteger("CAIXA_ID", sale.bancoId);
    q.bindDateTime("DATA", sale.dtTrans);
    execute(q);

    if (stock.enabled) {
        q.setText(kDeleteLocations);
        q.bindInteger("TRANSACAO_ID", nfceSaleId);
        execute(q);
    }

    transaction.commit();
    restore.keep();
}

// A failure of a link ends the terminal's work (its terminal's) or the run
// (the server's) instead of passing on to the next cancellation, which
// would only meet it again.
void carryOut(db::Connection& pdv, db::Connection& server, ImportCells& cells,
    const StockLocationSettings& stock, const CancelledSale& sale)
{
    try {
        carryOutOnServer(server, cells, stock, sale);
    } catch (const std::exception& e) {
        raiseIfServerLinkFailed(e);
        throw;
    }
    try {
        db::Query done(pdv);
        done.setText(kCancellationDone);
        bindSale(done, sale);
        execute(done);
    } catch (const std::exception& e) {
        raiseIfTerminalLinkFailed(e);
        throw;
    }
}

} // namespace

bool carryOutCancellations(
    db::Connection& pdv, db::Connection& server, ImportCells& cells, const StockLocationSettings& stock)
{
    std::vector<CancelledSale> sales;
    {
        db::Query list(pdv);
        list.setText(kCancelledSales);
        list.prepare();
        list.open();
        for (; !list.eof(); list.next())
            sales.push_back({ list.field("NUM_DOC").asString(), list.field("BANCO_ID").asInteger(),
                list.field("DT_TRANS").asDateTime() });
    }
    if (sales.empty())
        return false;
    common::pumpEvents();

    for (const CancelledSale& sale : sales) {
        try {
            carryOut(pdv, server, cells, stock, sale);
        } catch (const std::exception& e) {
            if (!refusedForItsData(e))
                throw;
            // Left at 3: the next import tries it again.
        }
    }
    return true;
}

} // namespace sales
