#include "db/copy/copy_target.h"

#include "db/copy/copy_pq.h"
#include "db/errors.h"
#include "db/statement_counts.h"

#include <QStringList>
#include <algorithm>
#include <map>

namespace db::copy {
namespace {

struct TableColumn {
    QString name;
    QByteArray quoted;
    unsigned typeOid = 0;
};

// The statement is only described, never run: reading the destination's
// rows is not this run's business.
PgResult describe(const Link& link, const QString& sql)
{
    PGconn* conn = link.conn;
    const QByteArray text = sql.toUtf8();
    countPreparation();
    if (!PQsendPrepare(conn, "", text.constData(), 0, nullptr))
        raiseFailure(conn, nullptr, sql);
    PgResult prepared = lastResult(link);
    check(conn, prepared.get(), sql);
    if (!PQsendDescribePrepared(conn, ""))
        raiseFailure(conn, nullptr, sql);
    PgResult described = lastResult(link);
    check(conn, described.get(), sql);
    return described;
}

std::map<int, TableColumn> tableColumns(const Link& conn, const QByteArray& tableOid)
{
    const PgResult r = exec(conn,
                            "SELECT a.attnum, a.attname, quote_ident(a.attname), a.atttypid "
                            "FROM pg_catalog.pg_attribute a "
                            "WHERE a.attrelid = $1::oid AND a.attnum > 0 AND NOT a.attisdropped",
                            {tableOid.constData()});
    std::map<int, TableColumn> out;
    for (int row = 0; row < PQntuples(r.get()); ++row) {
        out[QByteArray(PQgetvalue(r.get(), row, 0)).toInt()] = {
            QString::fromUtf8(PQgetvalue(r.get(), row, 1)),
            QByteArray(PQgetvalue(r.get(), row, 2)),
            QByteArray(PQgetvalue(r.get(), row, 3)).toUInt(),
        };
    }
    return out;
}

QByteArray tableName(const Link& conn, const QByteArray& tableOid)
{
    const PgResult r = exec(conn, "SELECT $1::oid::regclass::text", {tableOid.constData()});
    return QByteArray(PQgetvalue(r.get(), 0, 0));
}

// Column numbers of the primary key, in index order ("1 3" in pg_index).
std::vector<int> primaryKey(const Link& conn, const QByteArray& tableOid)
{
    const PgResult r = exec(conn,
                            "SELECT i.indkey FROM pg_catalog.pg_index i "
                            "WHERE i.indrelid = $1::oid AND i.indisprimary",
                            {tableOid.constData()});
    std::vector<int> out;
    if (PQntuples(r.get()) == 0)
        return out;
    const QStringList parts = QString::fromUtf8(PQgetvalue(r.get(), 0, 0)).split(' ', Qt::SkipEmptyParts);
    for (const QString& part : parts)
        out.push_back(part.toInt());
    return out;
}

} // namespace

CopyTarget describeTarget(const Link& conn, const QString& writerSql)
{
    const PgResult described = describe(conn, writerSql);
    const int count = PQnfields(described.get());
    if (count == 0)
        throw UsageError(QStringLiteral("The writer's statement names no columns: %1").arg(writerSql));

    const Oid table = PQftable(described.get(), 0);
    for (int c = 0; c < count; ++c) {
        if (PQftable(described.get(), c) == InvalidOid || PQftablecol(described.get(), c) <= 0
            || PQftable(described.get(), c) != table)
            throw UsageError(QStringLiteral("Column %1 of the writer's statement is not a column of its one table: %2")
                                 .arg(QString::fromUtf8(PQfname(described.get(), c)), writerSql));
    }

    const QByteArray tableOid = QByteArray::number(table);
    const std::map<int, TableColumn> all = tableColumns(conn, tableOid);
    auto columnAt = [&](int attnum) -> const TableColumn& {
        const auto it = all.find(attnum);
        if (it == all.end())
            throw UsageError(QStringLiteral("Column number %1 of the destination table is gone").arg(attnum));
        return it->second;
    };

    CopyTarget target;
    target.table = tableName(conn, tableOid);
    std::vector<int> seen;
    for (int c = 0; c < count; ++c) {
        const int attnum = PQftablecol(described.get(), c);
        if (std::find(seen.begin(), seen.end(), attnum) != seen.end())
            continue;
        seen.push_back(attnum);
        const TableColumn& column = columnAt(attnum);
        target.columns.push_back({QString::fromUtf8(PQfname(described.get(), c)), column.quoted, column.typeOid});
    }
    for (int attnum : primaryKey(conn, tableOid)) {
        const TableColumn& column = columnAt(attnum);
        target.key.push_back({column.name, column.quoted, column.typeOid});
    }
    return target;
}

bool isIntegerType(unsigned typeOid)
{
    constexpr unsigned int8Oid = 20, int2Oid = 21, int4Oid = 23;
    return typeOid == int8Oid || typeOid == int2Oid || typeOid == int4Oid;
}

} // namespace db::copy
