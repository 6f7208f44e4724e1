#include "db/copy/copy_pq.h"

#include "db/statement_counts.h"

namespace db::copy {

void check(PGconn* conn, const PGresult* result, const QString& sql)
{
    if (!succeeded(result))
        raiseFailure(conn, result, sql);
}

PgResult exec(const Link& link, const QByteArray& sql, const std::vector<const char*>& params)
{
    countStatement(link.conn, QByteArrayView(sql));
    PgResult result = db::execute(link, sql, params);
    check(link.conn, result.get(), QString::fromUtf8(sql));
    return result;
}

void execQuietly(const Link& link, const char* sql) noexcept
{
    if (!link.conn || PQstatus(link.conn) != CONNECTION_OK)
        return;
    try {
        db::execute(link, sql);
    } catch (...) {
        // The link went meanwhile, and with it what was to be undone.
    }
}

} // namespace db::copy
