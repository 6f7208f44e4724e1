#pragma once
// What every import run (sales and fiscal records) shares: the flag that
// keeps a second import from starting meanwhile, and the start of a run.

#include "sales/carga_vendas.h"
#include "sales/run_ending.h"

#include <QString>
#include <functional>

namespace db {
class Connection;
class Dataset;
} // namespace db

namespace sales {

// Imports may start again when the run ends, whichever way it ends: a run
// that stopped on an error must not keep every later one out.
class ImportsBusy {
public:
    explicit ImportsBusy(bool& livre)
        : livre_(livre)
    {
        livre_ = false;
    }
    ~ImportsBusy() { livre_ = true; }
    ImportsBusy(const ImportsBusy&) = delete;
    ImportsBusy& operator=(const ImportsBusy&) = delete;

private:
    bool& livre_;
};

// The status pass, then Label6 in green with "Banco: " + the INI base name
// + " - " + the server's business date, Label9 cleared, window repainted.
// Failures reach the caller.
void startImportRun(const SalesImportLinks& links);

// Raises TerminalSkipped when `failure`, met while serving the terminal of
// `terminal`, means that terminal cannot be served now; returns otherwise.
// A ServerLost is raised on as it is.
void skipIfUnavailable(const db::Connection* terminal, const std::exception& failure);

// Serves every active terminal that `requestsSql` selects, in order: imports
// it (a terminal that fails is skipped, so the next one is still served),
// then closes its request whatever happened, moving the progress bar and
// letting events run between terminals. A TerminalSkipped is told in the
// status pane as "Ecf07 - " + `runName` + ": caixa ignorado - " + reason.
// A ServerLost ends the serving at once and is raised on: neither the
// terminal in hand nor those after it have their request closed, so the
// next run serves them.
void serveRequests(const SalesImportLinks& links, const char* requestsSql, const QString& runName,
                   const std::function<void(const db::Dataset&)>& importTerminal,
                   const std::function<void(const QString&)>& closeTerminal);

// The server's link failed (`failure`): the run ends, and says so in one red
// line of the status pane, "Servidor: importação interrompida - " + the
// failure's reason, and in the same words at the end of the run's copy log
// `logFile` (none when empty). Never a box: nothing is wrong with the rows,
// and the next run brings them.
void reportServerInterrupted(SalesView& view, const QString& logFile, const std::exception& failure);

} // namespace sales
