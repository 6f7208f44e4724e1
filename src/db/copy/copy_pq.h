#pragma once
// The copy engine talks to the client library directly for its batched
// writes; these are its two shorthands on top of the layer's handles and
// error conversion.

#include "db/pg_error.h"
#include "db/pg_handles.h"

#include <QByteArray>
#include <vector>

namespace db::copy {

using PgResult = PgResultPtr;

// Raises (DatabaseError, or BrokenConnection) unless `result` succeeded.
void check(PGconn* conn, const PGresult* result, const QString& sql);

// Runs a statement with text parameters (nullptr is null); raises on failure.
PgResult exec(PGconn* conn, const QByteArray& sql, const std::vector<const char*>& params = {});

} // namespace db::copy
