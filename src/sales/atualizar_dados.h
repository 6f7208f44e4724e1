#pragma once
// "Atualizar Dados": rewrites every terminal's STATUS from a fresh probe and
// asks every active terminal not marked unreachable for a sales import. The
// next "venda" serves the requests; nothing is imported here.

namespace db {
class Connection;
class Dataset;
} // namespace db

namespace sales {

// `config` is the sales window's CONFIG view (TIMEOUT_ECFS, as last read).
// The first failing statement ends the run with its error.
void Atualizar_Dados(db::Connection& server, const db::Dataset& config);

} // namespace sales
