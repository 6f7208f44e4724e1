#pragma once
// What every import run (sales and fiscal records) shares: the flag that
// keeps a second import from starting meanwhile, and the start of a run.

#include "sales/carga_vendas.h"

#include <functional>

namespace db {
class Dataset;
}

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

// Serves every active terminal that `requestsSql` selects, in order: imports
// it (a terminal that fails is skipped, so the next one is still served),
// then closes its request whatever happened, moving the progress bar and
// letting events run between terminals.
void serveRequests(const SalesImportLinks& links, const char* requestsSql,
                   const std::function<void(const db::Dataset&)>& importTerminal,
                   const std::function<void(const QString&)>& closeTerminal);

} // namespace sales
