#pragma once
// Append without a hook, a whole commit group at a time: the group goes by
// COPY into a temporary table of the destination's written columns, and one
// INSERT takes from it the rows whose key the destination lacks. The text
// that does so for a group is sent as one, so a group costs one exchange
// with the server instead of two round trips per row.
//
// The outcome is the row by row path's only when no two rows of a group
// share a key (the second would find the first); a group that has them
// fails on the key and is then written row by row.

#include "db/copy/copy_writer.h"

namespace db::copy {

class AppendStage {
public:
    // Creates the table on the destination session; when the server
    // refuses (no right to temporary tables, say) nothing is left behind and
    // ready() is false: the run then goes row by row.
    explicit AppendStage(CopyWriter& writer);
    // Drops the table from the session it was made on.
    ~AppendStage();
    AppendStage(const AppendStage&) = delete;
    AppendStage& operator=(const AppendStage&) = delete;

    bool ready() const { return ready_; }
    // COPY into the table, the INSERT of the rows not found, and the
    // table emptied for the next group; joined by "; ".
    QByteArray groupStatements() const;
    // The same for append-update: the rows found are updated first, then
    // the others inserted. Only for a group whose keys are all set and
    // differ (an UPDATE takes one row of several that find it), in a
    // transaction of the run's own (its planner settings end with it).
    QByteArray upsertStatements() const;

private:
    CopyWriter& writer_;
    bool ready_ = false;
};

} // namespace db::copy
