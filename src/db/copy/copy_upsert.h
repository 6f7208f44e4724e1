#pragma once
// Append-update without a hook, a whole commit group at a time: one
// statement updates the rows found by key and inserts the others, reading
// the group as a list of values; it goes with the group's BEGIN and COMMIT
// in one exchange with the server instead of two round trips per row. The outcome
// is that of the row by row path: found rows updated, the others inserted,
// update and insert triggers as for single rows, earlier groups kept when
// one fails.

#include "db/copy/copy_group.h"
#include "db/copy/copy_stage.h"
#include "db/copy/copy_writer.h"

#include <map>
#include <memory>
#include <optional>

namespace db::copy {

class GroupUpserter {
public:
    explicit GroupUpserter(CopyWriter& writer);
    ~GroupUpserter();
    GroupUpserter(const GroupUpserter&) = delete;
    GroupUpserter& operator=(const GroupUpserter&) = delete;

    // Writes and commits the rows; returns the rows written. A group the
    // set-based write cannot take (a key twice or null in it, a row the
    // destination refuses) is written row by row instead, which raises the
    // failing row's own error with `failedRow` set to its index in the
    // group; that group's open transaction is then left to the caller's
    // rollback.
    int write(const RowBuffer& rows, int& failedRow);

private:
    struct Statements {
        std::unique_ptr<PreparedStatement> upsert;
    };
    // Prepared once per group size (the full groups and the last one).
    Statements& statementsFor(int rowCount);
    bool setBasedPossible(const RowBuffer& rows);
    int writeSetBased(const RowBuffer& rows, bool& refused);
    int writeRowByRow(const RowBuffer& rows, int& failedRow);

    CopyWriter& writer_;
    // A group goes by COPY through a temporary table when one could be
    // made, else as a list of values.
    std::optional<AppendStage> stage_;
    std::unique_ptr<GroupInserter> staged_;
    std::map<int, Statements> statements_;
    std::vector<const char*> params_;
};

} // namespace db::copy
