#pragma once
// Carga_Registro: brings the fiscal day records of every terminal that asked
// for them (LICENCA_IF.IMPORTACAO = 3) into the server, table by table:
// REGISTRO_60I, REGISTRO_60D, REGISTRO_60M, REGISTRO_60R, REGISTRO_60A,
// REDUCOES_Z. For a device and day the server keeps the latest set the
// terminal sent: its rows of that day are replaced. Runs on the window's
// thread; pending events run between the steps.

#include "sales/carga_vendas.h"

#include <QString>
#include <memory>

namespace sales {

// The last device and day whose server rows a run replaced, for the
// current terminal; empty at start and after each terminal. A set serial
// number makes the end of the terminal show the last sale in the monitor.
struct FiscalCells {
    QString numSerie; // NUM_SERIE
    QString dtEmissao; // DT_EMISSAO as a short date text
};

class Carga_Registro {
public:
    // Shares the terminal connection Conexao_Pdv and the import cells with
    // the sales import.
    Carga_Registro(SalesImportLinks links, Carga_Vendas& vendas);
    ~Carga_Registro();
    Carga_Registro(const Carga_Registro&) = delete;
    Carga_Registro& operator=(const Carga_Registro&) = delete;

    // One run over every active, reachable terminal with IMPORTACAO = 3.
    // A terminal that cannot be connected is skipped; a failing table ends
    // that table only, leaving the server as it was for it and its rows
    // marked 1 for the next run. A server that goes away ends the run with
    // one line in the status pane and in its copy log, never an error: rows
    // and requests wait for the next run. Other failures of the status
    // pass, the labels or the terminal list end the run with the error.
    // Importacao_Livre is set again however the run ends.
    void run();

    const FiscalCells& cells() const;

private:
    struct Impl;
    std::unique_ptr<Impl> impl_;
};

} // namespace sales
