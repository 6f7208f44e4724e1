#include "db/prepared_statement.h"

#include "db/errors.h"
#include "db/pg_error.h"
#include "db/statement_counts.h"

#include <QString>
#include <atomic>

namespace db {
namespace {

QByteArray freshName()
{
    static std::atomic<quint64> counter{0};
    return "qs_" + QByteArray::number(++counter);
}

} // namespace

PreparedStatement::PreparedStatement(QByteArray sql)
    : sql_(std::move(sql))
    , name_(freshName())
{
}

PreparedStatement::PreparedStatement(QByteArray sql, std::vector<Oid> types)
    : sql_(std::move(sql))
    , name_(freshName())
    , givenTypes_(std::move(types))
{
}

void PreparedStatement::prepare(PGconn* conn)
{
    if (prepared_)
        return;
    countPreparation();
    PgResultPtr result(PQprepare(conn, name_.constData(), sql_.constData(), static_cast<int>(givenTypes_.size()),
                                        givenTypes_.empty() ? nullptr : givenTypes_.data()));
    if (!succeeded(result.get()))
        raiseFailure(conn, result.get(), QString::fromUtf8(sql_));
    prepared_ = true;
}

bool PreparedStatement::send(PGconn* conn, const char* const* values, int count)
{
    if (!prepared_)
        throw UsageError(QStringLiteral("A statement was sent before it was prepared: ") + QString::fromUtf8(sql_));
    return PQsendQueryPrepared(conn, name_.constData(), count, values, nullptr, nullptr, 0) == 1;
}

PgResultPtr PreparedStatement::execute(PGconn* conn, const std::vector<const char*>& values)
{
    prepare(conn);
    countStatement(conn, QByteArrayView(sql_));
    if (!send(conn, values.data(), static_cast<int>(values.size())))
        raiseFailure(conn, nullptr, QString::fromUtf8(sql_));
    PgResultPtr result = awaitResult(conn);
    if (!succeeded(result.get()))
        raiseFailure(conn, result.get(), QString::fromUtf8(sql_));
    return result;
}

const std::vector<Oid>& PreparedStatement::paramTypes(PGconn* conn)
{
    if (typesKnown_)
        return paramTypes_;
    prepare(conn);
    countPreparation();
    PgResultPtr described(PQdescribePrepared(conn, name_.constData()));
    if (!succeeded(described.get()))
        raiseFailure(conn, described.get(), QString::fromUtf8(sql_));
    paramTypes_.clear();
    for (int i = 0; i < PQnparams(described.get()); ++i)
        paramTypes_.push_back(PQparamtype(described.get(), i));
    typesKnown_ = true;
    return paramTypes_;
}

void PreparedStatement::deallocate(PGconn* conn) noexcept
{
    if (!prepared_)
        return;
    prepared_ = false;
    typesKnown_ = false;
    if (!conn || PQstatus(conn) != CONNECTION_OK || PQtransactionStatus(conn) == PQTRANS_INERROR)
        return;
    countStatement(conn, QByteArrayView("DEALLOCATE"));
    PgResultPtr ignored(PQexec(conn, ("DEALLOCATE " + name_).constData()));
}

void PreparedStatement::forget()
{
    prepared_ = false;
    typesKnown_ = false;
    paramTypes_.clear();
}

PgResultPtr awaitResult(PGconn* conn)
{
    PgResultPtr kept;
    while (PgResultPtr next{PQgetResult(conn)}) {
        const ExecStatusType status = PQresultStatus(next.get());
        if (!kept || PQresultStatus(kept.get()) != PGRES_FATAL_ERROR)
            kept = std::move(next);
        // COPY waits for the caller's data: no further result comes by itself.
        if (status == PGRES_COPY_IN || status == PGRES_COPY_OUT || status == PGRES_COPY_BOTH)
            break;
    }
    return kept;
}

} // namespace db
