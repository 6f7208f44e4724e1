#pragma once
// Writing a whole commit group of an always-insert run in one exchange with
// the server instead of one round trip per row. A group is sent, then heard
// out later, so the next group can be read from the source meanwhile.

#include "db/copy/copy_writer.h"

namespace db::copy {

class GroupInserter {
public:
    // `skipFound`: a row whose key the destination already holds is left
    // out (append without a hook) instead of failing the group. COPY cannot
    // leave rows out, so such groups go through a temporary table of the
    // run's own.
    explicit GroupInserter(CopyWriter& writer, bool skipFound = false);
    // A group still unanswered (another error is on its way out) is heard
    // out and, when still undecided, undone; the temporary table goes.
    ~GroupInserter();
    GroupInserter(const GroupInserter&) = delete;
    GroupInserter& operator=(const GroupInserter&) = delete;

    // The rows as the server is sent them; separate from send() so it can
    // be done while the previous group is still being written.
    QByteArray encode(const RowBuffer& rows) const;

    // Sends the rows as one commit group without waiting for the outcome:
    // in a transaction of its own committed at its end, or, when the caller
    // holds one, under a savepoint released at its end. `rows` must stay
    // unchanged until finish().
    void send(const RowBuffer& rows, const QByteArray& encoded);
    bool pending() const { return inFlight_ != nullptr; }

    // Waits for the group sent last and returns the rows it wrote. On
    // failure nothing of the group stays (a caller's transaction is back
    // where it was before the group), the failing row's own error is raised
    // and `failedRow` is set to its index in the group (-1 when no single
    // row is to blame).
    int finish(int& failedRow);

private:
    void makeStage();
    void dropStage() noexcept;

    CopyWriter& writer_;
    bool skipFound_;
    QByteArray stage_;       // the temporary table, when skipping
    bool stageMade_ = false;
    QByteArray copyText_;
    const RowBuffer* inFlight_ = nullptr;
    PgResultPtr failure_;
    int written_ = 0;
    bool answered_ = false;
};

} // namespace db::copy
