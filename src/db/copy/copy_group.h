#pragma once
// Writing a whole commit group of an always-insert run in one exchange with
// the server instead of one round trip per row.

#include "db/connection.h"
#include "db/copy/copy_writer.h"

#include <optional>

namespace db::copy {

class AppendStage;

class GroupInserter {
public:
    // `refuse`: a group the server refuses is undone and reported by
    // refused() instead of raising its row's error.
    explicit GroupInserter(CopyWriter& writer, bool refuse = false);
    // Appending through `stage`: the rows whose key the destination lacks
    // are written. A group the server refuses is undone and reported by
    // append() as refused, for the caller to write row by row.
    GroupInserter(CopyWriter& writer, const AppendStage& stage);
    // Append-update through `stage` (AppendStage::upsertStatements()), in
    // transactions of the run's own.
    struct Upsert {};
    GroupInserter(CopyWriter& writer, const AppendStage& stage, Upsert);
    // A group left unanswered by an error on its way out is heard out and,
    // when still undecided, rolled back.
    ~GroupInserter();
    GroupInserter(const GroupInserter&) = delete;
    GroupInserter& operator=(const GroupInserter&) = delete;

    // Writes the rows as one commit group, in a transaction of its own
    // committed at its end (or, when the caller holds one, under a savepoint
    // in it), and returns the rows
    // written. On failure nothing of the group stays (the caller's
    // transaction is left for the caller to roll back), the failing row's
    // own error is raised and `failedRow` is set to its index in the group
    // (-1 when no single row is to blame).
    int write(const RowBuffer& rows, int& failedRow);
    // write() in two steps, so the caller can read the next group while the
    // server takes this one: start() sends the rows (encoded with
    // encode()), complete() reads the outcome as write() returns it. The
    // destination link is held in between; `rows` must stay as they are.
    QByteArray encode(const RowBuffer& rows) const;
    void start(const RowBuffer& rows, const QByteArray& encoded);
    int complete(int& failedRow);
    // Appending: the group last completed was undone instead of written
    // (complete() then returned 0).
    bool refused() const { return refused_; }

private:
    void send(const RowBuffer& rows, const QByteArray& encoded);
    int finish(int& failedRow);
    // Hears out and undoes a group an error left unanswered.
    void abandon() noexcept;

    CopyWriter& writer_;
    std::optional<Connection::Exchange> exchange_;
    QByteArray copyText_;
    bool staged_ = false;  // the rows written are the INSERT's and UPDATE's
    bool refuse_ = false;
    bool refused_ = false;
    const RowBuffer* inFlight_ = nullptr;
    PgResultPtr failure_;
    int written_ = 0;
    bool answered_ = false;
};

} // namespace db::copy
