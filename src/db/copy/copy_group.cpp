#include "db/copy/copy_group.h"

#include "db/connection.h"
#include "db/copy/copy_stage.h"
#include "db/errors.h"
#include "db/statement_counts.h"

#include <algorithm>

namespace db::copy {
namespace {

// Statements per sync: keeps the results the server queues for us small,
// so neither side can stall writing to the other.
constexpr int pipelineChunk = 500;

// Pipeline mode for the life of the object; whatever is still pending when
// it goes (after an error) is read and dropped first.
class Pipeline {
public:
    explicit Pipeline(const Link& link) : link_(link), conn_(link.conn)
    {
        if (!PQenterPipelineMode(conn_))
            raiseFailure(conn_, nullptr, QStringLiteral("pipeline mode"));
    }
    ~Pipeline()
    {
        drain();
        PQexitPipelineMode(conn_);
    }
    Pipeline(const Pipeline&) = delete;
    Pipeline& operator=(const Pipeline&) = delete;

    void sendCommand(const char* sql)
    {
        countStatement(QByteArrayView(sql), false);
        if (!PQsendQueryParams(conn_, sql, 0, nullptr, nullptr, nullptr, nullptr, 0))
            raiseFailure(conn_, nullptr, QString::fromLatin1(sql));
        ++queued_;
    }
    void sendPrepared(PreparedStatement& statement, const std::vector<const char*>& params)
    {
        countStatement(QByteArrayView(statement.sql()), false);
        if (!statement.send(conn_, params.data(), static_cast<int>(params.size())))
            raiseFailure(conn_, nullptr, QString::fromUtf8(statement.sql()));
        ++queued_;
    }

    // Sends a sync and reads every queued result, adding the rows they
    // wrote to `written`. Returns the position (in sending order) of the
    // first statement that failed, with its result in `failure`; -1 when
    // all succeeded.
    int syncAndRead(PgResult& failure, int& written)
    {
        if (!PQpipelineSync(conn_))
            raiseFailure(conn_, nullptr, QStringLiteral("pipeline sync"));
        synced_ = true;
        int failed = -1;
        const int expected = queued_;
        for (int i = 0; i < expected; ++i) {
            PgResult result = nextResult(link_);
            --queued_;
            if (!result)
                raiseFailure(conn_, nullptr, QStringLiteral("pipeline"));
            const ExecStatusType status = PQresultStatus(result.get());
            if (status == PGRES_COMMAND_OK)
                written += affectedRows(result.get());
            if (status == PGRES_FATAL_ERROR && failed < 0) {
                failed = i;
                failure = std::move(result);
            }
            PgResult end = nextResult(link_); // the null that ends each statement's results
        }
        PgResult sync = nextResult(link_);
        synced_ = false;
        if (!sync || PQresultStatus(sync.get()) != PGRES_PIPELINE_SYNC)
            raiseFailure(conn_, sync.get(), QStringLiteral("pipeline sync"));
        return failed;
    }

private:
    void drain() noexcept
    {
        if (PQstatus(conn_) != CONNECTION_OK)
            return;
        if (queued_ > 0 && !synced_)
            PQpipelineSync(conn_);
        // Each statement ends with a null, then the sync's own result; the
        // bound only guards against a peer that stops answering sensibly.
        try {
            for (int i = 0; i < 2 * queued_ + 2 && (queued_ > 0 || synced_); ++i) {
                PgResult result = nextResult(link_);
                if (result && PQresultStatus(result.get()) == PGRES_PIPELINE_SYNC)
                    break;
            }
        } catch (...) {
            // A peer silent past its bound: the link is dropped already.
        }
    }

    Link link_;
    PGconn* conn_;
    int queued_ = 0;
    bool synced_ = false;
};

void rollbackQuietly(const Link& link)
{
    if (link.conn && PQstatus(link.conn) == CONNECTION_OK && PQtransactionStatus(link.conn) != PQTRANS_IDLE)
        execQuietly(link, "ROLLBACK");
}

// Inside the caller's transaction a group runs under a savepoint of its own,
// so a failed group can be undone without ending the caller's transaction.
const char* const groupSavepoint = "SAVEPOINT qs_copy_group";
const char* const groupRelease = "RELEASE SAVEPOINT qs_copy_group";

// Undoes what is still undecided of a group: the whole transaction of its
// own, or back to its savepoint in the caller's.
void undoGroup(const Link& link, bool callerTransaction)
{
    if (!callerTransaction) {
        rollbackQuietly(link);
        return;
    }
    if (link.conn && PQstatus(link.conn) == CONNECTION_OK && PQtransactionStatus(link.conn) != PQTRANS_IDLE)
        execQuietly(link, "ROLLBACK TO SAVEPOINT qs_copy_group");
}

// Sends the rows as prepared INSERTs, `pipelineChunk` per sync, stopping at
// the first failure. `begin`: open a transaction first (left open).
// Returns the failing row's index with its result, -1 when none failed.
int insertPipelined(CopyWriter& writer, const RowBuffer& rows, bool begin, PgResult& failure, int& written)
{
    const Link link = writer.link();
    PreparedStatement& insert = writer.insertStatement();
    insert.prepare(link); // pipeline mode cannot wait for it
    std::vector<const char*> params;
    Pipeline pipeline(link);
    int lead = 0; // the BEGIN sent ahead of the first chunk
    if (begin) {
        pipeline.sendCommand("BEGIN");
        lead = 1;
    }
    for (int first = 0; first < rows.rows(); first += pipelineChunk) {
        const int end = std::min(rows.rows(), first + pipelineChunk);
        for (int row = first; row < end; ++row) {
            rows.params(row, writer.layout().insertParams, params);
            pipeline.sendPrepared(insert, params);
        }
        const int failed = pipeline.syncAndRead(failure, written);
        if (failed >= 0)
            return failed < lead ? -1 : first + failed - lead;
        lead = 0;
    }
    return -1;
}

} // namespace

GroupInserter::GroupInserter(CopyWriter& writer, bool refuse)
    : writer_(writer),
      copyText_(writer.callerTransaction()
                    ? QByteArray(groupSavepoint) + "; " + writer.layout().copySql + "; " + groupRelease
                    : "BEGIN; " + writer.layout().copySql + "; COMMIT"),
      refuse_(refuse)
{
}

GroupInserter::GroupInserter(CopyWriter& writer, const AppendStage& stage)
    : writer_(writer),
      copyText_(writer.callerTransaction()
                    ? QByteArray(groupSavepoint) + "; " + stage.groupStatements() + "; " + groupRelease
                    : "BEGIN; " + stage.groupStatements() + "; COMMIT"),
      staged_(true),
      refuse_(true)
{
}

GroupInserter::GroupInserter(CopyWriter& writer, const AppendStage& stage, Upsert)
    : writer_(writer),
      copyText_("BEGIN; " + stage.upsertStatements() + "; COMMIT"),
      staged_(true),
      refuse_(true)
{
}

GroupInserter::~GroupInserter()
{
    abandon();
}

void GroupInserter::abandon() noexcept
{
    if (!inFlight_)
        return;
    inFlight_ = nullptr;
    // Left behind by an error elsewhere: hear the group out so the
    // connection is usable again, and undo what is still undecided.
    const Link link = writer_.linkIfUnchanged();
    if (!link.conn)
        return; // the group went with the session it was sent on
    try {
        for (int step = 0; step < 16 && PQstatus(link.conn) == CONNECTION_OK; ++step) {
            PgResult result = nextResult(link);
            if (!result)
                break;
            if (PQresultStatus(result.get()) == PGRES_COPY_IN)
                PQputCopyEnd(link.conn, "abandoned");
        }
    } catch (...) {
        return; // silent past its bound: the link is dropped already
    }
    undoGroup(link, writer_.callerTransaction());
}

int GroupInserter::write(const RowBuffer& rows, int& failedRow)
{
    failedRow = -1;
    Connection::Exchange exchange(writer_.connection());
    try {
        send(rows, encode(rows));
        return finish(failedRow);
    } catch (...) {
        // Heard out while the exchange still holds the link.
        abandon();
        throw;
    }
}

void GroupInserter::start(const RowBuffer& rows, const QByteArray& encoded)
{
    exchange_.emplace(writer_.connection());
    try {
        send(rows, encoded);
    } catch (...) {
        abandon();
        exchange_.reset();
        throw;
    }
}

int GroupInserter::complete(int& failedRow)
{
    failedRow = -1;
    try {
        const int written = finish(failedRow);
        exchange_.reset();
        return written;
    } catch (...) {
        abandon();
        exchange_.reset();
        throw;
    }
}

QByteArray GroupInserter::encode(const RowBuffer& rows) const
{
    QByteArray data;
    data.reserve(rows.rows() * 160);
    rows.appendCopyText(0, rows.rows(), writer_.layout().insertParams, data);
    return data;
}

void GroupInserter::send(const RowBuffer& rows, const QByteArray& data)
{
    inFlight_ = &rows;
    failure_.reset();
    written_ = 0;
    answered_ = false;
    refused_ = false;

    const Link link = writer_.link();
    PGconn* conn = link.conn;
    countStatements(conn, copyText_);
    if (!PQsendQuery(conn, copyText_.constData()))
        raiseFailure(conn, nullptr, QString::fromUtf8(copyText_));
    // BEGIN's (or SAVEPOINT's) result and the planner settings', then COPY
    // asking for the data (or refusing at once).
    for (int step = 0; step < 8; ++step) {
        PgResult result = nextResult(link);
        if (!result) {
            answered_ = true;
            return;
        }
        switch (PQresultStatus(result.get())) {
        case PGRES_COPY_IN:
            // Queued without blocking; finish() waits until it has left.
            if (PQputCopyData(conn, data.constData(), static_cast<int>(data.size())) != 1
                || PQputCopyEnd(conn, nullptr) != 1)
                raiseFailure(conn, nullptr, QString::fromUtf8(writer_.layout().copySql));
            return;
        case PGRES_COMMAND_OK:
            break;
        default:
            if (!failure_)
                failure_ = std::move(result);
        }
    }
    raiseFailure(conn, failure_.get(), QString::fromUtf8(copyText_));
}

int GroupInserter::finish(int& failedRow)
{
    failedRow = -1;
    if (!inFlight_)
        return 0;
    const RowBuffer& rows = *inFlight_;
    const Link link = writer_.linkIfUnchanged();
    PGconn* conn = link.conn;
    if (!conn) {
        inFlight_ = nullptr;
        throw BrokenConnection(QStringLiteral("The link to the destination was replaced while a group was written"));
    }

    // COPY's outcome, COMMIT's (or RELEASE's), then the null that ends the
    // text's results; the bound guards against a peer that stops making sense.
    for (int step = 0; step < 16 && !answered_; ++step) {
        PgResult result = nextResult(link);
        if (!result) {
            answered_ = true;
            break;
        }
        if (PQresultStatus(result.get()) == PGRES_COMMAND_OK) {
            // Through the stage, the rows written are the INSERT's and
            // UPDATE's, not those the stage took or gave back.
            const QByteArray command(PQcmdStatus(result.get()));
            if (!staged_ || command.startsWith("INSERT") || command.startsWith("UPDATE"))
                written_ += affectedRows(result.get());
        } else if (!failure_)
            failure_ = std::move(result);
    }
    inFlight_ = nullptr;
    if (!answered_)
        raiseFailure(conn, failure_.get(), QString::fromUtf8(copyText_));
    if (!failure_)
        return written_;

    const bool caller = writer_.callerTransaction();
    undoGroup(link, caller);
    if (PQstatus(conn) != CONNECTION_OK)
        raiseFailure(conn, failure_.get(), QString::fromUtf8(writer_.layout().copySql));
    if (refuse_) {
        // The caller tries another way: through the stage, or row by
        // row, which finds the row to blame or writes a group whose rows
        // share a key or meet rows already there.
        refused_ = true;
        return 0;
    }
    // COPY tells which line failed only in the server's own language; the
    // group is sent again row by row, never committed, to find the row and
    // raise the very error it gets as an INSERT.
    PgResult rowFailure;
    int replayed = 0;
    failedRow = insertPipelined(writer_, rows, !caller, rowFailure, replayed);
    undoGroup(link, caller);
    if (rowFailure)
        raiseFailure(conn, rowFailure.get(), QString::fromUtf8(writer_.layout().insertSql));
    raiseFailure(conn, failure_.get(), QString::fromUtf8(writer_.layout().copySql));
}

} // namespace db::copy
