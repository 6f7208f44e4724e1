#include "sales/fiscal_commit.h"

#include "db/connection.h"
#include "db/link_failure.h"
#include "db/query.h"
#include "db/scoped_transaction.h"
#include "sales/statement_cycle.h"

namespace sales {
namespace {

const char* const kCurrentTxid = "SELECT txid_current() AS TXID";
const char* const kTxidStatus = "SELECT txid_status(:TXID) AS STATUS";

// What the server did with a transaction whose commit answer was lost.
enum class Outcome {
    Committed,
    RolledBack,
    Running, // its session has not ended yet
    Unknowable, // too old to tell, or the server cannot say: sent again, as before
};

void run(db::Connection& connection, const char* sql)
{
    db::Query q(connection);
    q.setText(QString::fromUtf8(sql));
    execute(q);
}

// Runs a step on the server; a failure of its link becomes ServerLinkLost.
template <typename Step>
auto onServer(Step step) -> decltype(step())
{
    try {
        return step();
    } catch (const std::exception& e) {
        if (db::isLinkFailure(e))
            throw ServerLinkLost(db::failureReason(e));
        throw;
    }
}

qint64 currentTxid(db::Connection& server)
{
    db::Query q(server);
    q.setText(QString::fromUtf8(kCurrentTxid));
    openFindsRow(q);
    return q.field("TXID").asInteger();
}

// Asked on a new link: the statement reconnects. Failures reach the caller.
Outcome outcomeOf(db::Connection& server, qint64 txid)
{
    db::Query q(server);
    q.setText(QString::fromUtf8(kTxidStatus));
    q.bindInteger("TXID", txid);
    openFindsRow(q);
    const QString status = q.field("STATUS").asString();
    if (status == QLatin1String("committed"))
        return Outcome::Committed;
    if (status == QLatin1String("aborted"))
        return Outcome::RolledBack;
    if (status == QLatin1String("in progress"))
        return Outcome::Running;
    return Outcome::Unknowable;
}

} // namespace

void FiscalCommit::commit(db::Connection& server, db::ScopedTransaction& serverWork, db::Connection& till,
                          const QString& numEcf, const FiscalTableCopy& table)
{
    const Key key{numEcf, table.table};
    // The till's rows are marked (and locked) while the server can still
    // roll back: a till that cannot mark them fails the whole table here.
    db::ScopedTransaction tillWork(till);
    run(till, table.doneSql);
    const qint64 txid = onServer([&] { return currentTxid(server); });

    try {
        serverWork.commit();
    } catch (const std::exception& e) {
        if (!db::isLinkFailure(e))
            throw;
        // The commit was sent and its answer lost: the server may have
        // committed. Its own record says which, once a new link is made;
        // while none can be made it is as open as a session still running.
        Outcome outcome = Outcome::Running;
        try {
            outcome = outcomeOf(server, txid);
        } catch (const std::exception& check) {
            if (!db::isLinkFailure(check))
                outcome = Outcome::Unknowable;
        }
        if (outcome == Outcome::Running)
            undecided_[key] = txid;
        if (outcome != Outcome::Committed)
            throw ServerLinkLost(db::failureReason(e));
    }

    try {
        tillWork.commit();
    } catch (...) {
        // The server has the rows; the till may still show them at 1.
        owed_.insert(key);
        throw;
    }
}

bool FiscalCommit::settle(db::Connection& server, db::Connection& till, const QString& numEcf,
                          const FiscalTableCopy& table)
{
    const Key key{numEcf, table.table};
    if (const auto open = undecided_.find(key); open != undecided_.end()) {
        Outcome outcome = Outcome::Unknowable;
        try {
            outcome = onServer([&] { return outcomeOf(server, open->second); });
        } catch (const ServerLinkLost&) {
            throw;
        } catch (const std::exception&) {
            // The server cannot say: the rows go again, as they always did.
        }
        if (outcome == Outcome::Running)
            return false;
        if (outcome == Outcome::Committed)
            owed_.insert(key);
        undecided_.erase(open);
    }
    if (owed_.count(key)) {
        // Nothing but this import marks these tables 0 -> 1, so the rows at
        // 1 are exactly those the server holds.
        run(till, table.doneSql);
        owed_.erase(key);
    }
    return true;
}

} // namespace sales
