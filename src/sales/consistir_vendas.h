#pragma once
// Consistir_Vendas: finds the server's recent "2D" sales whose items do not
// add up to their header, or that have no fiscal complement (COMPL_NFISCAL),
// and sets their items and instalments on their terminal back to new
// (EXPORTADO = 0), so that the next sales import sends them again. Then
// rewrites every terminal's status from a fresh probe and asks every active
// terminal for a sales import. Runs on the window's thread; pending events
// run between rows.

#include "db/memtable.h"

#include <QSet>
#include <QString>
#include <functional>

namespace db {
class Connection;
class Dataset;
class Query;
} // namespace db
namespace terminals {
class StatusLinesView;
}

namespace sales {

class SalesView;

struct ConsistirLinks {
    db::Connection& server; // Quibor_Server of the sales window
    const db::Dataset& config; // the window's CONFIG view, as last read (DIAS_CONSISTIR, TIMEOUT_ECFS)
    SalesView& view; // ProgressBar1
    terminals::StatusLinesView& statusPane; // MemoPdv2
    std::function<void(const QString&)> statusLabel; // Label8
    // Replaces Conexao_Pdv with a connection built from the current row of
    // a LICENCA_IF result and opens it; raises when it cannot.
    std::function<db::Connection&(const db::Dataset&)> novaConexaoPdv;
    // Conexao_Pdv as it is now (nullptr when there is none).
    std::function<db::Connection*()> conexaoPdv;
    bool& consistirPendente; // the window's Consistir_Pendente
};

class Consistir_Vendas {
public:
    explicit Consistir_Vendas(ConsistirLinks links);

    // One check. A terminal that does not answer, refuses the login or
    // refuses the re-flag is skipped for this check (one line in the status
    // pane names it; its sales stay unbalanced and are found next time).
    // Any other failure ends the check with the error and leaves
    // Consistir_Pendente set; a lost server link ends it too, told by a
    // line "Servidor: importação interrompida - " + reason in the status
    // pane, and raises ui::AlreadyTold (no box). A call made while a check
    // runs does nothing.
    void run();

    // The check that precedes a sales import: a failure is shown as a line
    // in the status pane instead of ending the caller, so the import still
    // runs.
    void runBeforeImport();

    // The sales found by the last check, ordered by DT_TRANS, then BANCO_ID.
    const db::MemTable& Fdac_Temp() const { return Fdac_Temp_; }

private:
    void runCheck();
    void createTable();
    void collect(db::Query& sales, bool unbalancedOnly);
    void reflag();
    void reflagSale(const db::Dataset& terminal, qint64 transacaoOrigem);
    db::Connection& terminalConnection(const db::Dataset& terminal);

    ConsistirLinks links_;
    db::MemTable Fdac_Temp_;
    // Sale ids in Fdac_Temp: both statements may find the same sale, which
    // is then re-flagged once.
    QSet<qint64> listed_;
    bool running_ = false;
    // The connection this check opened last, and for which terminal.
    const db::Connection* opened_ = nullptr;
    QString openedFor_;
};

} // namespace sales
