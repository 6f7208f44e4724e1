#include "db/copy/copy_writer.h"

#include "db/connection.h"
#include "db/errors.h"

namespace db::copy {

int affectedRows(const PGresult* result)
{
    return QByteArray(PQcmdTuples(const_cast<PGresult*>(result))).toInt();
}

CopyWriter::CopyWriter(Connection& connection, const CopyLayout& layout, bool callerTransaction)
    : connection_(connection),
      generation_(connection.linkGeneration()),
      layout_(layout),
      callerTransaction_(callerTransaction),
      insert_(layout.insertSql),
      lookup_(layout.lookupSql),
      update_(layout.updateSql)
{
}

CopyWriter::~CopyWriter()
{
    PGconn* conn = linkIfUnchanged();
    for (PreparedStatement* statement : {&insert_, &lookup_, &update_})
        statement->deallocate(conn);
}

PGconn* CopyWriter::link()
{
    if (connection_.linkGeneration() != generation_) {
        if (groupOpen_ || callerTransaction_) {
            groupOpen_ = false;
            throw BrokenConnection(QStringLiteral("The link to the destination was replaced during the copy; "
                                                  "the rows of its open transaction were not written"));
        }
        generation_ = connection_.linkGeneration();
        for (PreparedStatement* statement : {&insert_, &lookup_, &update_})
            statement->forget();
    }
    PGconn* conn = connection_.handle();
    if (!conn)
        throw BrokenConnection(QStringLiteral("The destination connection was closed during the copy"));
    return conn;
}

PGconn* CopyWriter::linkIfUnchanged() const noexcept
{
    return connection_.linkGeneration() == generation_ ? connection_.handle() : nullptr;
}

bool CopyWriter::exists(const RowBuffer& rows, int row)
{
    rows.params(row, layout_.keyParams, params_);
    return PQntuples(lookup_.execute(link(), params_).get()) > 0;
}

int CopyWriter::insert(const RowBuffer& rows, int row)
{
    rows.params(row, layout_.insertParams, params_);
    return affectedRows(insert_.execute(link(), params_).get());
}

int CopyWriter::update(const RowBuffer& rows, int row)
{
    rows.params(row, layout_.updateParams, params_);
    return affectedRows(update_.execute(link(), params_).get());
}

// Under the caller's transaction a group is a savepoint: a failed row then
// undoes its group only, and the caller's transaction stays usable.
void CopyWriter::begin()
{
    if (groupOpen_)
        return;
    exec(link(), callerTransaction_ ? "SAVEPOINT qs_copy_rows" : "BEGIN");
    groupOpen_ = true;
}

void CopyWriter::commit()
{
    if (!groupOpen_)
        return;
    PGconn* conn = link();
    groupOpen_ = false;
    if (callerTransaction_) {
        exec(conn, "RELEASE SAVEPOINT qs_copy_rows");
        return;
    }
    const PgResult answer = exec(conn, "COMMIT");
    if (rolledBack(answer.get()))
        throw DatabaseError(QStringLiteral("The copy's transaction had failed: the server rolled it back"),
                            QStringLiteral("25P02"), QStringLiteral("COMMIT"));
}

void CopyWriter::rollback() noexcept
{
    if (!groupOpen_)
        return;
    groupOpen_ = false;
    // A replaced session took the group with it.
    PGconn* conn = linkIfUnchanged();
    if (conn && PQstatus(conn) == CONNECTION_OK)
        PgResult ignored(PQexec(conn, callerTransaction_ ? "ROLLBACK TO SAVEPOINT qs_copy_rows" : "ROLLBACK"));
}

} // namespace db::copy
