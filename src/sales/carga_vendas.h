#pragma once
// Carga_Vendas: moves the new sale rows of every terminal that asked for a
// sales import into the server, table by table, carries out the
// cancellations made on the terminals, resets the requests and records the
// last imported sale. Runs on the window's thread; pending events run
// between rows (common::pumpEvents()).

#include "sales/import_cells.h"

#include <QString>
#include <functional>
#include <memory>

namespace db {
class Connection;
class Dataset;
} // namespace db

namespace sales {

class SalesView;

// What the import borrows from the sales window for its lifetime.
struct SalesImportLinks {
    db::Connection& server; // Quibor_Server of the sales window
    SalesView& view;
    bool& importacaoLivre; // the window's Importacao_Livre
    std::function<void()> verificarConexao; // the window's status pass; empty: none
    std::function<QString()> baseName; // INI "Base Name" of "Conexão Postgres" (LeIni)
    const db::Dataset& config; // the window's CONFIG view, on its first row
    const db::Dataset& abertura; // the window's abertura view, on its first row
};

class Carga_Vendas {
public:
    explicit Carga_Vendas(SalesImportLinks links);
    ~Carga_Vendas();
    Carga_Vendas(const Carga_Vendas&) = delete;
    Carga_Vendas& operator=(const Carga_Vendas&) = delete;

    // One import run over every active, reachable terminal with
    // IMPORTACAO = 1. Per-terminal failures are swallowed; failures of the
    // status pass, the labels or the terminal list end the run with the
    // error. A failure of the server link (lost, restarting, a statement
    // given up on) anywhere in the run ends it without an error: one line
    // "Servidor: importação interrompida - " + reason in the status pane
    // and in the copy log being written, no box; the rows stay at 0 or 1
    // and every request not yet closed stays for the next run. Imports are
    // free again when the run ends, whichever way.
    void run();

    // Shared with the fiscal-records import and the window.
    ImportCells& cells();
    // The run-time terminal connection of the last terminal handled
    // (nullptr before the first). Replaced at the start of every terminal.
    db::Connection* conexaoPdv();
    // Replaces Conexao_Pdv with a fresh connection built from the current
    // row of a LICENCA_IF result and opens it; raises on failure. While an
    // import runs (a caller inside one of its event-pump turns) it raises
    // db::UsageError and leaves the connection alone: the running copy
    // reads from it.
    db::Connection& novaConexaoPdv(const db::Dataset& licencaIfRow);

    // Connect time-out of Conexao_Pdv, in seconds (a dead terminal must not
    // hold the window for long).
    void setTerminalConnectTimeout(int seconds);

private:
    struct Impl;
    std::unique_ptr<Impl> impl_;
};

} // namespace sales
