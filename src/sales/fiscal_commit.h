#pragma once
// The end of one fiscal table's copy: the server's transaction and the
// till's 1 -> 2 of the same rows. Some of these tables have no key, so a row
// the server holds while the till still shows it at 1 would be inserted
// again by the next run. The till's update therefore runs, in a transaction
// of its own, before the server commits (a lock or a silent till fails it
// while the server can still roll back) and is committed right after. What a
// lost link leaves open between the two commits is remembered per terminal
// and table, and settled before that table is copied again.

#include "sales/fiscal_tables.h"
#include "sales/run_ending.h"

#include <QString>
#include <map>
#include <set>
#include <utility>

namespace db {
class Connection;
class ScopedTransaction;
} // namespace db

namespace sales {

// The server's link failed: the run ends and the rows wait for the next.
using ServerLinkLost = ServerLost;

class FiscalCommit {
public:
    // Commits `serverWork` (the day's deletes and the copy of `table`'s rows
    // at 1 from `till`) and marks those rows 2 on the till. Raises when
    // either side failed; then the rows are at 1 on the till and on the
    // server at most once, and the next run knows which. A failure of the
    // server's link raises ServerLinkLost.
    void commit(db::Connection& server, db::ScopedTransaction& serverWork, db::Connection& till,
                const QString& numEcf, const FiscalTableCopy& table);

    // Before `table` of terminal `numEcf` is copied again: rows at 1 that
    // the server already holds are marked 2 on the till without a copy.
    // False while the server's outcome of an earlier commit is still open:
    // the table waits for a later run.
    bool settle(db::Connection& server, db::Connection& till, const QString& numEcf, const FiscalTableCopy& table);

private:
    using Key = std::pair<QString, FiscalTable>;
    // Server transactions whose commit answer was lost, by their id.
    std::map<Key, qint64> undecided_;
    // The server holds the rows at 1; the till's 1 -> 2 is still owed.
    std::set<Key> owed_;
};

} // namespace sales
