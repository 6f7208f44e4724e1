#pragma once
// Turns a failed client-library call into the layer's errors, keeping the
// server's own text and SQLSTATE.

#include "db/pg_handles.h"

#include <QString>

namespace db {

// True when `result` is a success (rows or a command).
bool succeeded(const PGresult* result);

// Raises DatabaseError, or BrokenConnection when the link is gone. `result`
// may be null (the client library could not even send the statement).
[[noreturn]] void raiseFailure(PGconn* conn, const PGresult* result, const QString& sql);

// True for the answer to a COMMIT that rolled back instead: after a failed
// statement the server ends the transaction so, and reports success.
bool rolledBack(const PGresult* commitResult);

// The client library's last message, without its trailing line break.
QString connectionMessage(PGconn* conn);

} // namespace db
