#pragma once
// What every import run (sales and fiscal records) shares: the flag that
// keeps a second import from starting meanwhile, and the start of a run.

#include "sales/carga_vendas.h"

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

} // namespace sales
