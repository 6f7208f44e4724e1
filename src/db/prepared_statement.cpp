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

void PreparedStatement::prepare(const Link& link)
{
    if (prepared_)
        return;
    countPreparation();
    if (!PQsendPrepare(link.conn, name_.constData(), sql_.constData(), static_cast<int>(givenTypes_.size()),
                       givenTypes_.empty() ? nullptr : givenTypes_.data()))
        raiseFailure(link.conn, nullptr, QString::fromUtf8(sql_));
    const PgResultPtr result = lastResult(link);
    if (!succeeded(result.get()))
        raiseFailure(link.conn, result.get(), QString::fromUtf8(sql_));
    prepared_ = true;
}

bool PreparedStatement::send(PGconn* conn, const char* const* values, int count)
{
    if (!prepared_)
        throw UsageError(QStringLiteral("A statement was sent before it was prepared: ") + QString::fromUtf8(sql_));
    return PQsendQueryPrepared(conn, name_.constData(), count, values, nullptr, nullptr, 0) == 1;
}

PgResultPtr PreparedStatement::execute(const Link& link, const std::vector<const char*>& values)
{
    prepare(link);
    countStatement(link.conn, QByteArrayView(sql_));
    if (!send(link.conn, values.data(), static_cast<int>(values.size())))
        raiseFailure(link.conn, nullptr, QString::fromUtf8(sql_));
    PgResultPtr result = lastResult(link);
    if (!succeeded(result.get()))
        raiseFailure(link.conn, result.get(), QString::fromUtf8(sql_));
    return result;
}

const std::vector<Oid>& PreparedStatement::paramTypes(const Link& link)
{
    if (typesKnown_)
        return paramTypes_;
    prepare(link);
    countPreparation();
    if (!PQsendDescribePrepared(link.conn, name_.constData()))
        raiseFailure(link.conn, nullptr, QString::fromUtf8(sql_));
    const PgResultPtr described = lastResult(link);
    if (!succeeded(described.get()))
        raiseFailure(link.conn, described.get(), QString::fromUtf8(sql_));
    paramTypes_.clear();
    for (int i = 0; i < PQnparams(described.get()); ++i)
        paramTypes_.push_back(PQparamtype(described.get(), i));
    typesKnown_ = true;
    return paramTypes_;
}

void PreparedStatement::deallocate(const Link& link) noexcept
{
    if (!prepared_)
        return;
    prepared_ = false;
    typesKnown_ = false;
    PGconn* conn = link.conn;
    if (!conn || PQstatus(conn) != CONNECTION_OK || PQpipelineStatus(conn) != PQ_PIPELINE_OFF)
        return;
    const PGTransactionStatusType status = PQtransactionStatus(conn);
    if (status == PQTRANS_INERROR || status == PQTRANS_ACTIVE)
        return;
    countStatement(conn, QByteArrayView("DEALLOCATE"));
    try {
        db::execute(link, "DEALLOCATE " + name_);
    } catch (...) {
        // A link lost meanwhile took the statement with it.
    }
}

void PreparedStatement::forget()
{
    prepared_ = false;
    typesKnown_ = false;
    paramTypes_.clear();
}

} // namespace db
