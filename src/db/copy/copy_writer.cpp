#include "db/copy/copy_writer.h"

namespace db::copy {

int affectedRows(const PGresult* result)
{
    return QByteArray(PQcmdTuples(const_cast<PGresult*>(result))).toInt();
}

CopyWriter::CopyWriter(PGconn* conn, const CopyLayout& layout, bool callerTransaction)
    : conn_(conn),
      layout_(layout),
      callerTransaction_(callerTransaction),
      insert_(conn, layout.insertSql),
      append_(conn, layout.appendSql),
      lookup_(conn, layout.lookupSql),
      update_(conn, layout.updateSql)
{
}

bool CopyWriter::exists(const RowBuffer& rows, int row)
{
    rows.params(row, layout_.keyParams, params_);
    return PQntuples(lookup_.execute(params_).get()) > 0;
}

int CopyWriter::insert(const RowBuffer& rows, int row)
{
    rows.params(row, layout_.insertParams, params_);
    return affectedRows(insert_.execute(params_).get());
}

int CopyWriter::update(const RowBuffer& rows, int row)
{
    rows.params(row, layout_.updateParams, params_);
    return affectedRows(update_.execute(params_).get());
}

void CopyWriter::begin()
{
    if (callerTransaction_ || groupOpen_)
        return;
    exec(conn_, "BEGIN");
    groupOpen_ = true;
}

void CopyWriter::commit()
{
    if (!groupOpen_)
        return;
    groupOpen_ = false;
    exec(conn_, "COMMIT");
}

void CopyWriter::rollback() noexcept
{
    if (!groupOpen_)
        return;
    groupOpen_ = false;
    if (PQstatus(conn_) == CONNECTION_OK)
        PgResult ignored(PQexec(conn_, "ROLLBACK"));
}

} // namespace db::copy
