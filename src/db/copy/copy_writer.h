#pragma once
// The destination side of a copy run, one row at a time: find, insert or
// update a row, and the run's own transaction around a commit group.

#include "db/copy/copy_layout.h"
#include "db/copy/copy_statement.h"

namespace db::copy {

class CopyWriter {
public:
    // `callerTransaction`: the caller holds a transaction around the whole
    // copy, so begin, commit and rollback do nothing.
    CopyWriter(PGconn* conn, const CopyLayout& layout, bool callerTransaction);

    PGconn* connection() const { return conn_; }
    const CopyLayout& layout() const { return layout_; }
    bool callerTransaction() const { return callerTransaction_; }
    PreparedStatement& insertStatement() { return insert_; }
    PreparedStatement& appendStatement() { return append_; }

    bool exists(const RowBuffer& rows, int row);
    int insert(const RowBuffer& rows, int row);  // rows written
    int update(const RowBuffer& rows, int row);  // rows written

    // A commit group is opened only when a row is about to be written, so a
    // group that would hold nothing is never sent.
    void begin();
    void commit();
    // Never raises: it runs while another error is on its way out.
    void rollback() noexcept;
    bool groupOpen() const { return groupOpen_; }

private:
    PGconn* conn_;
    const CopyLayout& layout_;
    bool callerTransaction_;
    bool groupOpen_ = false;
    PreparedStatement insert_;
    PreparedStatement append_;
    PreparedStatement lookup_;
    PreparedStatement update_;
    std::vector<const char*> params_;
};

// Count of rows an INSERT or UPDATE reports.
int affectedRows(const PGresult* result);

} // namespace db::copy
