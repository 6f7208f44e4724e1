#pragma once
// The copy engine talks to the client library directly for its batched
// writes; these are its shorthands on top of the layer's handles, its one
// way to wait and its error conversion.

#include "db/link_wait.h"
#include "db/pg_error.h"
#include "db/pg_handles.h"

#include <QByteArray>
#include <vector>

namespace db::copy {

using PgResult = PgResultPtr;

// Raises (DatabaseError, or BrokenConnection) unless `result` succeeded.
void check(PGconn* conn, const PGresult* result, const QString& sql);

// Runs a statement with text parameters (nullptr is null); raises on failure.
PgResult exec(const Link& link, const QByteArray& sql, const std::vector<const char*>& params = {});

// Runs a statement whose outcome nobody reads any more (an undo on the way
// out of an error). Never raises; nothing is sent on a link already lost.
void execQuietly(const Link& link, const char* sql) noexcept;

} // namespace db::copy
