#pragma once
// The destination side of a copy run, one row at a time: find, insert or
// update a row, and the run's own transaction around a commit group.

#include "db/copy/copy_layout.h"
#include "db/copy/copy_pq.h"
#include "db/prepared_statement.h"

namespace db {
class Connection;
}

namespace db::copy {

class CopyWriter {
public:
    // `callerTransaction`: the caller holds a transaction around the whole
    // copy, so begin, commit and rollback work on a savepoint inside it.
    CopyWriter(Connection& connection, const CopyLayout& layout, bool callerTransaction);
    // Its statements are released from the session when the run ends.
    ~CopyWriter();
    CopyWriter(const CopyWriter&) = delete;
    CopyWriter& operator=(const CopyWriter&) = delete;

    // The destination session, looked up afresh for every use: a hook's
    // statement or the listener's recovery may have reconnected it since,
    // freeing the handle the run saw last. What the run held on a replaced
    // session went with it; when that is an open group or the caller's
    // transaction, the run fails here (BrokenConnection). Otherwise it
    // carries on over the new link, preparing its statements there again.
    Link link();
    // The session as the run last saw it, or one without a handle when it
    // was replaced or closed meanwhile: for clean-up that must not touch a
    // new session.
    Link linkIfUnchanged() const noexcept;

    // The destination connection, held by every exchange of the run's own
    // (Connection::Exchange): nothing else may send on it meanwhile.
    Connection& connection() { return connection_; }

    const CopyLayout& layout() const { return layout_; }
    bool callerTransaction() const { return callerTransaction_; }
    PreparedStatement& insertStatement() { return insert_; }

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
    Connection& connection_;
    quint64 generation_;
    const CopyLayout& layout_;
    bool callerTransaction_;
    bool groupOpen_ = false;
    PreparedStatement insert_;
    PreparedStatement lookup_;
    PreparedStatement update_;
    std::vector<const char*> params_;
};

// Count of rows an INSERT or UPDATE reports.
int affectedRows(const PGresult* result);

} // namespace db::copy
