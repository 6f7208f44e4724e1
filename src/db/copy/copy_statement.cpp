#include "db/copy/copy_statement.h"

#include <atomic>

namespace db::copy {
namespace {

QByteArray freshName()
{
    static std::atomic<unsigned> counter{0};
    return "qs_copy_" + QByteArray::number(++counter);
}

} // namespace

PreparedStatement::PreparedStatement(PGconn* conn, QByteArray sql)
    : conn_(conn), sql_(std::move(sql)), name_(freshName())
{
}

PreparedStatement::PreparedStatement(PGconn* conn, QByteArray sql, std::vector<unsigned> types)
    : conn_(conn), sql_(std::move(sql)), name_(freshName()), types_(std::move(types))
{
}

PreparedStatement::~PreparedStatement()
{
    // Inside a failed transaction the server refuses even this; the name is
    // never used again, so it just lives on until the session ends.
    if (!prepared_ || PQstatus(conn_) != CONNECTION_OK || PQtransactionStatus(conn_) == PQTRANS_INERROR)
        return;
    PgResult ignored(PQexec(conn_, ("DEALLOCATE " + name_).constData()));
}

void PreparedStatement::prepare()
{
    if (prepared_)
        return;
    PgResult result(PQprepare(conn_, name_.constData(), sql_.constData(), static_cast<int>(types_.size()),
                              types_.empty() ? nullptr : types_.data()));
    check(conn_, result.get(), QString::fromUtf8(sql_));
    prepared_ = true;
}

PgResult PreparedStatement::execute(const std::vector<const char*>& params)
{
    prepare();
    PgResult result(PQexecPrepared(conn_, name_.constData(), static_cast<int>(params.size()), params.data(),
                                   nullptr, nullptr, 0));
    check(conn_, result.get(), QString::fromUtf8(sql_));
    return result;
}

void PreparedStatement::send(const std::vector<const char*>& params)
{
    if (!PQsendQueryPrepared(conn_, name_.constData(), static_cast<int>(params.size()), params.data(), nullptr,
                             nullptr, 0))
        raiseFailure(conn_, nullptr, QString::fromUtf8(sql_));
}

} // namespace db::copy
