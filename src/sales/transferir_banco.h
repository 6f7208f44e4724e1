#pragma once
// Transferir_bancoFindDestRecord: the find-destination hook of the sales
// import's copy runs. It writes every source row into the server itself
// and answers "found", so the engine writes nothing; only for received
// cheques, which the engine inserts, it answers whether the server already
// holds the cheque. It acts only on the table whose copy run is executing.

#include "sales/sale_tables.h"
#include "sales/upsert_context.h"

#include <optional>

namespace db {
class Connection;
class CopyRun;
} // namespace db

namespace sales {

class Transferir_banco {
public:
    Transferir_banco(db::Connection& server, ImportCells& cells);

    void setStockSettings(StockLocationSettings stock) { ctx_.stock = std::move(stock); }
    const StockLocationSettings& stockSettings() const { return ctx_.stock; }

    // Work on a new terminal starts.
    void beginTerminal()
    {
        ctx_.saleInserted = false;
        ctx_.knownSales.forget();
    }
    // Sales may have been deleted on the server.
    void salesRemoved() { ctx_.knownSales.forget(); }
    // A sale of the current terminal reached the server.
    bool saleInserted() const { return ctx_.saleInserted; }

    // The hook to give a copy run. Rows go to the branch of the table whose
    // run is executing (see Executing) and nowhere else.
    db::FindDestRecord hook();

    void Transferir_bancoFindDestRecord(db::CopyRun& ASender, bool& AFound);

    // Hears out the writes still unanswered at the end of a copy run.
    // A failure of the server link (here and in the hook) is raised as
    // ServerLost: it ends the run, never shows a row's box.
    void settle();

    // Keys of the rows of the last copy run that must be sent again.
    std::vector<RowKey> takeGivenBack();

    // Marks the copy run of `table` as executing for the object's lifetime.
    class Executing {
    public:
        Executing(Transferir_banco& hook, SaleTable table);
        ~Executing();
        Executing(const Executing&) = delete;
        Executing& operator=(const Executing&) = delete;

    private:
        Transferir_banco& hook_;
    };

private:
    void upsert(const SourceRow& source, bool& AFound);

    UpsertContext ctx_;
    std::optional<SaleTable> executing_;
};

} // namespace sales
