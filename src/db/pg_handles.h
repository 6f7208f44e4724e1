#pragma once
// Owners for the client library's handles, so no early return or throw can
// leak a connection, a result or a notification.

#include <libpq-fe.h>

#include <memory>

namespace db {

struct PgConnDeleter {
    void operator()(PGconn* conn) const { PQfinish(conn); }
};
struct PgResultDeleter {
    void operator()(PGresult* res) const { PQclear(res); }
};
struct PgNotifyDeleter {
    void operator()(PGnotify* notify) const { PQfreemem(notify); }
};
struct PgMemDeleter {
    void operator()(void* p) const { PQfreemem(p); }
};

using PgConnPtr = std::unique_ptr<PGconn, PgConnDeleter>;
using PgResultPtr = std::unique_ptr<PGresult, PgResultDeleter>;
using PgNotifyPtr = std::unique_ptr<PGnotify, PgNotifyDeleter>;
using PgMemPtr = std::unique_ptr<unsigned char, PgMemDeleter>;

} // namespace db
