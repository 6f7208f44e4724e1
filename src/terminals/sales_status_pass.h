#pragma once
// VerificarConexao of the sales window: probes every active terminal, writes
// one green or red line per terminal 1..33 into MemoPdv2, marks the silent
// ones (ECF_STATUS = 1), then probes the server database itself.
//
// All probes (terminals and server) run at once before any result is applied,
// so a pass lasts about one time-out however many terminals are silent; the
// results are then applied row by row in NUM_ECF order, exactly as a
// one-by-one pass would, and pending events run once after each row.

#include "terminals/status_view.h"

#include <memory>

namespace db {
class Connection;
class Dataset;
class Query;
} // namespace db

namespace terminals {

struct SalesStatusLinks {
    db::Connection& server;     // Quibor_Server of the sales window
    db::Query& qListPdv;        // QList_Pdv: left open on the active terminals
    const db::Dataset& config;  // the window's CONFIG view (TIMEOUT_ECFS, as last read)
    StatusLinesView& view;      // MemoPdv2
};

class SalesStatusPass {
public:
    explicit SalesStatusPass(SalesStatusLinks links);
    ~SalesStatusPass();
    SalesStatusPass(const SalesStatusPass&) = delete;
    SalesStatusPass& operator=(const SalesStatusPass&) = delete;

    // Runs at the start of an import run. Failure to read the terminal list
    // raises (the caller's run ends with it). A failure after that (a
    // NUM_ECF that is not a whole number, a failed marking statement) is
    // shown as "Erro Verifica Conexao:\rErro Verifica conexao: " + its text
    // through ui::dialogs().error() and ends the pass, followed by
    // ui::dialogs().plain("Servidor Fora do Ar!") when the server is off
    // line. A lost server link is no box: it is raised, like a server the
    // probe found away (db::BrokenConnection "Servidor Fora do Ar!"), and
    // ends the caller's run, which says so in its pane.
    void VerificarConexao();

    // The server answered the last pass. False until the first pass.
    bool Servidor_Online() const { return servidorOnline_; }

private:
    SalesStatusLinks links_;
    std::unique_ptr<db::Query> qUpdate_;
    bool servidorOnline_ = false;
};

} // namespace terminals
