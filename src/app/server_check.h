#pragma once
// Tries a server connection before it is written anywhere, and says in one
// line what stands in the way: a host not found or not reachable, a port
// nobody listens on, a password refused, a database missing, no right to
// read LICENCA_IF.

#include "db/connection_params.h"

#include <QString>
#include <chrono>

namespace app {

struct ServerCheck {
    bool ok = false;
    QString failure;   // one line, when not ok
    qint64 terminals = 0; // rows of LICENCA_IF, when ok
};

// Each step (the host's answer, the login, the read) is bounded by
// `timeout`. Changes nothing on the server.
ServerCheck checkServer(const db::ConnectionParams& params, std::chrono::seconds timeout);

} // namespace app
