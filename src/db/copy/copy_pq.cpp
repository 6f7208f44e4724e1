#include "db/copy/copy_pq.h"

#include "db/statement_counts.h"

namespace db::copy {

void check(PGconn* conn, const PGresult* result, const QString& sql)
{
    if (!succeeded(result))
        raiseFailure(conn, result, sql);
}

PgResult exec(PGconn* conn, const QByteArray& sql, const std::vector<const char*>& params)
{
    countStatement(conn, QByteArrayView(sql));
    PgResult result(PQexecParams(conn, sql.constData(), static_cast<int>(params.size()), nullptr,
                                 params.data(), nullptr, nullptr, 0));
    check(conn, result.get(), QString::fromUtf8(sql));
    return result;
}

} // namespace db::copy
