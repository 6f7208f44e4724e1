#include "db/pg_error.h"

#include "db/errors.h"

namespace db {

bool succeeded(const PGresult* result)
{
    if (!result)
        return false;
    const ExecStatusType status = PQresultStatus(result);
    return status == PGRES_COMMAND_OK || status == PGRES_TUPLES_OK || status == PGRES_EMPTY_QUERY;
}

bool rolledBack(const PGresult* commitResult)
{
    return commitResult && qstrcmp(PQcmdStatus(const_cast<PGresult*>(commitResult)), "ROLLBACK") == 0;
}

QString connectionMessage(PGconn* conn)
{
    if (!conn)
        return QStringLiteral("out of memory allocating the connection");
    return QString::fromUtf8(PQerrorMessage(conn)).trimmed();
}

void raiseFailure(PGconn* conn, const PGresult* result, const QString& sql)
{
    QString message = result ? QString::fromUtf8(PQresultErrorMessage(result)).trimmed() : QString();
    if (message.isEmpty())
        message = connectionMessage(conn);
    const char* state = result ? PQresultErrorField(result, PG_DIAG_SQLSTATE) : nullptr;
    const QString sqlState = state ? QString::fromLatin1(state) : QString();

    // Class 08 is the server's "connection exception"; a lost socket shows
    // as a bad connection status, often with no SQLSTATE at all.
    const bool linkLost = !conn || PQstatus(conn) == CONNECTION_BAD || sqlState.startsWith(QLatin1String("08"));
    if (linkLost)
        throw BrokenConnection(message, sqlState, sql);
    throw DatabaseError(message, sqlState, sql);
}

} // namespace db
