#pragma once
// One statement prepared on the server under a name of its own, so other
// statements can run on the same session between its uses. It keeps no
// link: every call is handed the session, so nothing holds a handle that a
// reconnect may have freed. Names are unique in the process.

#include "db/pg_handles.h"

#include <QByteArray>
#include <vector>

namespace db {

class PreparedStatement {
public:
    explicit PreparedStatement(QByteArray sql);
    // Parameters of the given types (the server infers the others).
    PreparedStatement(QByteArray sql, std::vector<Oid> types);

    const QByteArray& sql() const { return sql_; }
    const QByteArray& name() const { return name_; }

    // Prepares it on `conn` unless done already; raises on failure.
    void prepare(PGconn* conn);
    // Sends it with text values (nullptr is null) and does not wait; false
    // when it could not be sent. It must be prepared already: in pipeline
    // mode nothing may wait for a prepare.
    bool send(PGconn* conn, const char* const* values, int count);
    // Prepares it when needed, runs it and waits; raises on failure.
    PgResultPtr execute(PGconn* conn, const std::vector<const char*>& values);

    // The parameter types the server inferred, asked once: bytes go
    // differently to a bytea and to a text.
    const std::vector<Oid>& paramTypes(PGconn* conn);

    // Drops it from the session. Never raises; inside a failed transaction
    // the server refuses even this, and the name just lives on unused until
    // the session ends.
    void deallocate(PGconn* conn) noexcept;
    // The session it lived on is gone: the next use prepares it again.
    void forget();

private:
    QByteArray sql_;
    QByteArray name_;
    bool prepared_ = false;
    bool typesKnown_ = false;
    std::vector<Oid> paramTypes_;
    std::vector<Oid> givenTypes_;
};

// Waits for every result of what was sent last and returns one: the first
// error when something failed, else the last result (what PQexec returns,
// for callers that send and wait apart).
PgResultPtr awaitResult(PGconn* conn);

} // namespace db
