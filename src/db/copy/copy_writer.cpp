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
    // A link busy with another sender (held writes of a hook) keeps the
    // names: they live on unused until its session ends.
    if (connection_.busy())
        return;
    const Link link = linkIfUnchanged();
    Connection::Exchange exchange(connection_);
    for (PreparedStatement* statement : {&insert_, &lookup_, &update_})
        statement->deallocate(link);
}

Link CopyWriter::link()
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
    if (!connection_.handle())
        throw BrokenConnection(QStringLiteral("The destination connection was closed during the copy"));
    return connection_.link();
}

Link CopyWriter::linkIfUnchanged() const noexcept
{
    Link link = connection_.link();
    if (connection_.linkGeneration() != generation_)
        link.conn = nullptr;
    return link;
}

bool CopyWriter::exists(const RowBuffer& rows, int row)
{
    rows.params(row, layout_.keyParams, params_);
    Connection::Exchange exchange(connection_);
    return PQntuples(lookup_.execute(link(), params_).get()) > 0;
}

int CopyWriter::insert(const RowBuffer& rows, int row)
{
    rows.params(row, layout_.insertParams, params_);
    Connection::Exchange exchange(connection_);
    return affectedRows(insert_.execute(link(), params_).get());
}

int CopyWriter::update(const RowBuffer& rows, int row)
{
    rows.params(row, layout_.updateParams, params_);
    Connection::Exchange exchange(connection_);
    return affectedRows(update_.execute(link(), params_).get());
}

// Under the caller's transaction a group is a savepoint: a failed row then
// undoes its group only, and the caller's transaction stays usable.
void CopyWriter::begin()
{
    if (groupOpen_)
        return;
    Connection::Exchange exchange(connection_);
    exec(link(), callerTransaction_ ? "SAVEPOINT qs_copy_rows" : "BEGIN");
    groupOpen_ = true;
}

void CopyWriter::commit()
{
    if (!groupOpen_)
        return;
    Connection::Exchange exchange(connection_);
    const Link l = link();
    groupOpen_ = false;
    if (callerTransaction_) {
        exec(l, "RELEASE SAVEPOINT qs_copy_rows");
        return;
    }
    const PgResult answer = exec(l, "COMMIT");
    if (rolledBack(answer.get()))
        throw DatabaseError(QStringLiteral("The copy's transaction had failed: the server rolled it back"),
                            QStringLiteral("25P02"), QStringLiteral("COMMIT"));
}

void CopyWriter::rollback() noexcept
{
    if (!groupOpen_)
        return;
    groupOpen_ = false;
    // A replaced session took the group with it; a busy one is another
    // sender's, and this run's group went with the error that got here.
    if (connection_.busy())
        return;
    Connection::Exchange exchange(connection_);
    execQuietly(linkIfUnchanged(), callerTransaction_ ? "ROLLBACK TO SAVEPOINT qs_copy_rows" : "ROLLBACK");
}

} // namespace db::copy
