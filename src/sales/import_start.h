#pragma once
// What every import run (sales and fiscal records) shares: the flag that
// keeps a second import from starting meanwhile, and the start of a run.

#include "sales/carga_vendas.h"

#include <QString>
#include <functional>
#include <stdexcept>

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

// A terminal the run cannot serve now: its link could not be made or was
// lost, it stopped answering, or its till holds a lock the run needs. Its
// remaining tables are left as they are (rows at 0 or 1 wait for a later
// pass), and the run goes on with the next terminal.
class TerminalSkipped : public std::runtime_error {
public:
    explicit TerminalSkipped(const QString& reason)
        : std::runtime_error(reason.toStdString()), reason_(reason) {}
    const QString& reason() const { return reason_; }

private:
    QString reason_;
};

// Raises TerminalSkipped when `failure`, met while serving the terminal of
// `terminal`, means that terminal cannot be served now; returns otherwise.
void skipIfUnavailable(const db::Connection* terminal, const std::exception& failure);

// Serves every active terminal that `requestsSql` selects, in order: imports
// it (a terminal that fails is skipped, so the next one is still served),
// then closes its request whatever happened, moving the progress bar and
// letting events run between terminals. A TerminalSkipped is told in the
// status pane as "Ecf07 - " + `runName` + ": caixa ignorado - " + reason.
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
