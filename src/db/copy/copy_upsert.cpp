#include "db/copy/copy_upsert.h"

#include "db/connection.h"
#include "db/statement_counts.h"

#include <string>
#include <unordered_set>

namespace db::copy {
namespace {

// A statement's parameters are counted in 16 bits.
constexpr int kMaxParams = 65535;

// Per group: BEGIN, three planner settings, the upsert, COMMIT.
constexpr int kStatements = 6;

QByteArray joined(const std::vector<QByteArray>& columns, const QByteArray& prefix = {})
{
    QByteArray out;
    for (const QByteArray& c : columns) {
        if (!out.isEmpty())
            out += ", ";
        out += prefix + c;
    }
    return out;
}

// "VALUES ($1, $2), ($3, $4)"
QByteArray valuesList(int rowCount, int width)
{
    QByteArray out = "VALUES ";
    for (int row = 0; row < rowCount; ++row) {
        out += row == 0 ? "(" : ", (";
        for (int c = 0; c < width; ++c) {
            if (c > 0)
                out += ", ";
            out += "$" + QByteArray::number(row * width + c + 1);
        }
        out += ")";
    }
    return out;
}

void rollbackQuietly(const Link& link)
{
    if (PQstatus(link.conn) == CONNECTION_OK && PQtransactionStatus(link.conn) != PQTRANS_IDLE)
        execQuietly(link, "ROLLBACK");
}

// Pipeline mode for the life of the object.
class Pipeline {
public:
    explicit Pipeline(PGconn* conn) : conn_(conn)
    {
        if (!PQenterPipelineMode(conn_))
            raiseFailure(conn_, nullptr, QStringLiteral("pipeline mode"));
    }
    ~Pipeline() { PQexitPipelineMode(conn_); }
    Pipeline(const Pipeline&) = delete;
    Pipeline& operator=(const Pipeline&) = delete;

private:
    PGconn* conn_;
};

void sendCommand(PGconn* conn, const char* sql)
{
    countStatement(QByteArrayView(sql), false);
    if (!PQsendQueryParams(conn, sql, 0, nullptr, nullptr, nullptr, nullptr, 0))
        raiseFailure(conn, nullptr, QString::fromLatin1(sql));
}

} // namespace

GroupUpserter::GroupUpserter(CopyWriter& writer)
    : writer_(writer)
{
}

GroupUpserter::~GroupUpserter()
{
    // Released from the session the run used, never from one that replaced
    // it, nor while another sender holds it.
    const Link link = writer_.linkIfUnchanged();
    if (!link.conn || writer_.connection().busy())
        return;
    Connection::Exchange exchange(writer_.connection());
    for (auto& [size, statements] : statements_)
        if (statements.upsert)
            statements.upsert->deallocate(link);
}

GroupUpserter::Statements& GroupUpserter::statementsFor(int rowCount)
{
    Statements& s = statements_[rowCount];
    if (s.upsert)
        return s;
    const CopyLayout& layout = writer_.layout();
    const QByteArray& table = layout.table;
    const QByteArray values = valuesList(rowCount, static_cast<int>(layout.insertColumns.size()));
    const QByteArray match = keyMatch(layout);
    const QByteArray set = setFromSource(layout);
    // Typed as the destination's columns, so the values arrive exactly as
    // a row's own INSERT or UPDATE would hand them over.
    std::vector<unsigned> types;
    types.reserve(static_cast<std::size_t>(rowCount) * layout.insertTypes.size());
    for (int row = 0; row < rowCount; ++row)
        types.insert(types.end(), layout.insertTypes.begin(), layout.insertTypes.end());

    // One statement reads the values once; both parts see the destination
    // as it was, so the rows the UPDATE finds are the ones the INSERT skips.
    const QByteArray columns = joined(layout.insertColumns);
    s.upsert = std::make_unique<PreparedStatement>(
        "WITH s (" + columns + ") AS (" + values + "), u AS (UPDATE " + table + " AS t SET " + set
            + " FROM s WHERE " + match + " RETURNING 1), i AS (INSERT INTO " + table + " (" + columns + ") SELECT "
            + joined(layout.insertColumns, "s.") + " FROM s WHERE NOT EXISTS (SELECT 1 FROM " + table
            + " AS t WHERE " + match + ") RETURNING 1) SELECT (SELECT count(*) FROM u) + (SELECT count(*) FROM i)",
        types);
    // Pipeline mode cannot wait for a preparation.
    s.upsert->prepare(writer_.link());
    return s;
}

int GroupUpserter::write(const RowBuffer& rows, int& failedRow)
{
    failedRow = -1;
    if (rows.rows() == 0)
        return 0;
    if (setBasedPossible(rows)) {
        if (!stage_) {
            stage_.emplace(writer_);
            if (stage_->ready())
                staged_ = std::make_unique<GroupInserter>(writer_, *stage_, GroupInserter::Upsert{});
        }
        if (staged_) {
            staged_->start(rows, staged_->encode(rows));
            int ignored = -1;
            const int written = staged_->complete(ignored);
            if (!staged_->refused())
                return written;
        } else {
            bool refused = false;
            const int written = writeSetBased(rows, refused);
            if (!refused)
                return written;
        }
    }
    return writeRowByRow(rows, failedRow);
}

bool GroupUpserter::setBasedPossible(const RowBuffer& rows)
{
    const CopyLayout& layout = writer_.layout();
    if (static_cast<long long>(rows.rows()) * static_cast<long long>(layout.insertColumns.size()) > kMaxParams)
        return false;
    std::unordered_set<std::string> seen;
    std::string key;
    for (int row = 0; row < rows.rows(); ++row) {
        rows.params(row, layout.keyParams, params_);
        key.clear();
        for (const char* part : params_) {
            // A null key finds nothing; row by row says what becomes of it.
            if (!part)
                return false;
            key += part;
            key += '\x1f';
        }
        // The second row of a key must update what the first one wrote.
        if (!seen.insert(key).second)
            return false;
    }
    return true;
}

int GroupUpserter::writeSetBased(const RowBuffer& rows, bool& refused)
{
    Connection::Exchange exchange(writer_.connection());
    const Link link = writer_.link();
    PGconn* conn = link.conn;
    Statements& statements = statementsFor(rows.rows());
    const std::vector<int>& positions = writer_.layout().insertParams;
    std::vector<const char*> all;
    all.reserve(static_cast<std::size_t>(rows.rows()) * positions.size());
    for (int row = 0; row < rows.rows(); ++row) {
        rows.params(row, positions, params_);
        all.insert(all.end(), params_.begin(), params_.end());
    }

    int written = 0;
    PgResult failure;
    {
        Pipeline pipeline(conn);
        sendCommand(conn, "BEGIN");
        // A list of values has no statistics worth a hash join over the
        // whole destination: each row goes in through the key's index.
        sendCommand(conn, "SET LOCAL enable_hashjoin = off");
        sendCommand(conn, "SET LOCAL enable_mergejoin = off");
        // Planned once for every group of its size, not once per group.
        sendCommand(conn, "SET LOCAL plan_cache_mode = force_generic_plan");
        countStatement(QByteArrayView(statements.upsert->sql()), false);
        if (!statements.upsert->send(conn, all.data(), static_cast<int>(all.size())))
            raiseFailure(conn, nullptr, QString::fromUtf8(statements.upsert->sql()));
        sendCommand(conn, "COMMIT");
        if (!PQpipelineSync(conn))
            raiseFailure(conn, nullptr, QStringLiteral("pipeline sync"));
        for (int i = 0; i < kStatements; ++i) {
            PgResult result = nextResult(link);
            if (!result)
                raiseFailure(conn, nullptr, QStringLiteral("pipeline"));
            const ExecStatusType status = PQresultStatus(result.get());
            if (status == PGRES_TUPLES_OK) {
                written += QByteArray(PQgetvalue(result.get(), 0, 0)).toInt();
            } else if (status == PGRES_COMMAND_OK) {
                // COMMIT of a failed transaction answers ROLLBACK.
                if (QByteArray(PQcmdStatus(result.get())) == "ROLLBACK" && !failure)
                    failure = std::move(result);
            } else if (!failure) {
                failure = std::move(result);
            }
            PgResult end = nextResult(link); // the null that ends each statement's results
        }
        PgResult sync = nextResult(link);
        if (!sync || PQresultStatus(sync.get()) != PGRES_PIPELINE_SYNC)
            raiseFailure(conn, sync.get(), QStringLiteral("pipeline sync"));
    }
    if (!failure)
        return written;

    rollbackQuietly(link);
    if (PQstatus(conn) != CONNECTION_OK)
        raiseFailure(conn, failure.get(), QString::fromUtf8(statements.upsert->sql()));
    refused = true;
    return 0;
}

int GroupUpserter::writeRowByRow(const RowBuffer& rows, int& failedRow)
{
    int written = 0;
    writer_.begin();
    for (int row = 0; row < rows.rows(); ++row) {
        failedRow = row;
        written += writer_.exists(rows, row) ? writer_.update(rows, row) : writer_.insert(rows, row);
    }
    failedRow = -1;
    writer_.commit();
    return written;
}

} // namespace db::copy
