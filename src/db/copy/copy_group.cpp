#include "db/copy/copy_group.h"

#include <algorithm>
#include <atomic>

namespace db::copy {
namespace {

// Statements per sync: keeps the results the server queues for us small,
// so neither side can stall writing to the other.
constexpr int pipelineChunk = 500;

// Pipeline mode for the life of the object; whatever is still pending when
// it goes (after an error) is read and dropped first.
class Pipeline {
public:
    explicit Pipeline(PGconn* conn) : conn_(conn)
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
        if (!PQsendQueryParams(conn_, sql, 0, nullptr, nullptr, nullptr, nullptr, 0))
            raiseFailure(conn_, nullptr, QString::fromLatin1(sql));
        ++queued_;
    }
    void sendPrepared(PreparedStatement& statement, const std::vector<const char*>& params)
    {
        statement.send(params);
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
            PgResult result(PQgetResult(conn_));
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
            PgResult end(PQgetResult(conn_)); // the null that ends each statement's results
        }
        PgResult sync(PQgetResult(conn_));
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
        for (int i = 0; i < 2 * queued_ + 2 && (queued_ > 0 || synced_); ++i) {
            PgResult result(PQgetResult(conn_));
            if (result && PQresultStatus(result.get()) == PGRES_PIPELINE_SYNC)
                break;
        }
    }

    PGconn* conn_;
    int queued_ = 0;
    bool synced_ = false;
};

// Inside the caller's transaction a group is guarded by a savepoint, so a
// failed group can be undone without undoing the caller's earlier work.
const char* const kGroupSavepoint = "SAVEPOINT qs_copy_group";
const char* const kGroupRelease = "RELEASE SAVEPOINT qs_copy_group";
const char* const kGroupUndo = "ROLLBACK TO SAVEPOINT qs_copy_group; RELEASE SAVEPOINT qs_copy_group";

// What opens a group: its own transaction, or the savepoint in the caller's.
const char* groupOpening(const CopyWriter& writer)
{
    return writer.callerTransaction() ? kGroupSavepoint : "BEGIN";
}

// Undoes whatever the group wrote; never raises.
void undoGroup(const CopyWriter& writer)
{
    PGconn* conn = writer.connection();
    if (PQstatus(conn) != CONNECTION_OK || PQtransactionStatus(conn) == PQTRANS_IDLE)
        return;
    PgResult ignored(PQexec(conn, writer.callerTransaction() ? kGroupUndo : "ROLLBACK"));
}

// Sends the rows through `statement`, `pipelineChunk` per sync, stopping at
// the first failure. `opening`: a command sent first (BEGIN or the group's
// savepoint, left open), or nullptr. Returns the failing row's index with
// its result, -1 when none failed.
int insertPipelined(CopyWriter& writer, PreparedStatement& statement, const RowBuffer& rows, const char* opening,
                    PgResult& failure, int& written)
{
    PGconn* conn = writer.connection();
    statement.prepare(); // pipeline mode cannot wait for it
    std::vector<const char*> params;
    Pipeline pipeline(conn);
    int lead = 0; // the opening sent ahead of the first chunk
    if (opening) {
        pipeline.sendCommand(opening);
        lead = 1;
    }
    for (int first = 0; first < rows.rows(); first += pipelineChunk) {
        const int end = std::min(rows.rows(), first + pipelineChunk);
        for (int row = first; row < end; ++row) {
            rows.params(row, writer.layout().insertParams, params);
            pipeline.sendPrepared(statement, params);
        }
        const int failed = pipeline.syncAndRead(failure, written);
        if (failed >= 0)
            return failed < lead ? -1 : first + failed - lead;
        lead = 0;
    }
    return -1;
}

QByteArray stageName()
{
    static std::atomic<unsigned> counter{0};
    return "qs_copy_stage_" + QByteArray::number(++counter);
}

// The statements of one group, between its opening and its closing: COPY
// into the table, or into the stage and on from there leaving out the keys
// already there (in source order, so the first of two equal keys wins).
// The stage is emptied by TRUNCATE: deleted rows would stay in it until the
// caller's transaction ends and be read again by every later group.
QByteArray groupText(const CopyWriter& writer, const QByteArray& stage)
{
    const CopyLayout& layout = writer.layout();
    const QByteArray opening = groupOpening(writer);
    const QByteArray closing = writer.callerTransaction() ? kGroupRelease : "COMMIT";
    if (stage.isEmpty())
        return opening + "; " + layout.copySql + "; " + closing;
    return opening + "; COPY " + stage + " (" + layout.columnList + ") FROM STDIN; INSERT INTO " + layout.table
           + " (" + layout.columnList + ") SELECT " + layout.columnList + " FROM " + stage
           + " ORDER BY qs_ord ON CONFLICT (" + layout.keyList + ") DO NOTHING; TRUNCATE " + stage + "; "
           + closing;
}

} // namespace

GroupInserter::GroupInserter(CopyWriter& writer, bool skipFound)
    : writer_(writer),
      skipFound_(skipFound),
      stage_(skipFound ? stageName() : QByteArray()),
      copyText_(groupText(writer, stage_))
{
}

GroupInserter::~GroupInserter()
{
    if (inFlight_) {
        // Left behind by an error elsewhere: hear the group out so the
        // connection is usable again, and undo what is still undecided.
        PGconn* conn = writer_.connection();
        for (int step = 0; step < 16 && !answered_ && PQstatus(conn) == CONNECTION_OK; ++step) {
            PgResult result(PQgetResult(conn));
            if (!result)
                break;
            if (PQresultStatus(result.get()) == PGRES_COPY_IN)
                PQputCopyEnd(conn, "abandoned");
        }
        undoGroup(writer_);
    }
    dropStage();
}

// The stage holds the written columns as the table types them, and the
// order rows came in.
void GroupInserter::makeStage()
{
    if (!skipFound_ || stageMade_)
        return;
    const CopyLayout& layout = writer_.layout();
    PGconn* conn = writer_.connection();
    exec(conn, "CREATE TEMPORARY TABLE " + stage_ + " AS SELECT " + layout.columnList + " FROM " + layout.table
                   + " WITH NO DATA");
    stageMade_ = true;
    exec(conn, "ALTER TABLE " + stage_ + " ADD COLUMN qs_ord bigserial");
}

void GroupInserter::dropStage() noexcept
{
    PGconn* conn = writer_.connection();
    if (!stageMade_ || PQstatus(conn) != CONNECTION_OK || PQtransactionStatus(conn) == PQTRANS_INERROR)
        return;
    stageMade_ = false;
    PgResult ignored(PQexec(conn, ("DROP TABLE IF EXISTS " + stage_).constData()));
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
    makeStage();
    inFlight_ = &rows;
    failure_.reset();
    written_ = 0;
    answered_ = false;

    PGconn* conn = writer_.connection();
    if (!PQsendQuery(conn, copyText_.constData()))
        raiseFailure(conn, nullptr, QString::fromUtf8(copyText_));
    // The opening's result, then COPY asking for the data (or refusing at once).
    for (int step = 0; step < 4; ++step) {
        PgResult result(PQgetResult(conn));
        if (!result) {
            answered_ = true;
            return;
        }
        switch (PQresultStatus(result.get())) {
        case PGRES_COPY_IN:
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
    PGconn* conn = writer_.connection();
    // Rows land in the table by COPY, or by the INSERT from the stage.
    const QByteArray writingVerb = skipFound_ ? "INSERT" : "COPY";

    // COPY's outcome, the closing's, then the null that ends the text's results;
    // the bound guards against a peer that stops making sense.
    for (int step = 0; step < 16 && !answered_; ++step) {
        PgResult result(PQgetResult(conn));
        if (!result) {
            answered_ = true;
            break;
        }
        if (PQresultStatus(result.get()) == PGRES_COMMAND_OK) {
            if (QByteArray(PQcmdStatus(result.get())).startsWith(writingVerb))
                written_ += affectedRows(result.get());
        } else if (!failure_)
            failure_ = std::move(result);
    }
    inFlight_ = nullptr;
    if (!answered_)
        raiseFailure(conn, failure_.get(), QString::fromUtf8(copyText_));
    if (!failure_)
        return written_;

    undoGroup(writer_);
    if (PQstatus(conn) != CONNECTION_OK)
        raiseFailure(conn, failure_.get(), QString::fromUtf8(writer_.layout().copySql));
    // COPY tells which line failed only in the server's own language; the
    // group is sent again row by row, never kept, to find the row and raise
    // the very error it gets as an INSERT.
    PgResult rowFailure;
    int replayed = 0;
    PreparedStatement& oneRow = skipFound_ ? writer_.appendStatement() : writer_.insertStatement();
    failedRow = insertPipelined(writer_, oneRow, rows, groupOpening(writer_), rowFailure, replayed);
    undoGroup(writer_);
    if (rowFailure)
        raiseFailure(conn, rowFailure.get(), QString::fromUtf8(oneRow.sql()));
    raiseFailure(conn, failure_.get(), QString::fromUtf8(writer_.layout().copySql));
}

} // namespace db::copy
