#pragma once
// One statement prepared on the server under a name of its own, so other
// statements can run on the same session between its uses. It keeps no
// link: every call is handed the session, so nothing holds a handle that a
// reconnect may have freed. Names are unique in the process.

#include "db/link_wait.h"
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

    // Prepares it on the link unless done already; raises on failure.
    void prepare(const Link& link);
    // Sends it with text values (nullptr is null) and does not wait; false
    // when it could not be sent. It must be prepared already: in pipeline
    // mode nothing may wait for a prepare.
    bool send(PGconn* conn, const char* const* values, int count);
    // Prepares it when needed, runs it and waits; raises on failure.
    PgResultPtr execute(const Link& link, const std::vector<const char*>& values);

    // The parameter types the server inferred, asked once: bytes go
    // differently to a bytea and to a text.
    const std::vector<Oid>& paramTypes(const Link& link);

    // Drops it from the session. Never raises; inside a failed transaction
    // the server refuses even this, and the name just lives on unused until
    // the session ends.
    void deallocate(const Link& link) noexcept;
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

} // namespace db
