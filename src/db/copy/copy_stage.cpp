#include "db/copy/copy_stage.h"

#include "db/connection.h"
#include "db/statement_counts.h"

namespace db::copy {
namespace {

const char* const stageTable = "pg_temp.qs_copy_stage";

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

// Several statements in one text: the extended protocol takes only one.
PgResult executeText(const Link& link, const QByteArray& text)
{
    countStatements(link.conn, text);
    if (!PQsendQuery(link.conn, text.constData()))
        raiseFailure(link.conn, nullptr, QString::fromUtf8(text));
    return lastResult(link);
}

} // namespace

AppendStage::AppendStage(CopyWriter& writer) : writer_(writer)
{
    const CopyLayout& layout = writer.layout();
    // The written columns with the destination's own types, so COPY reads
    // each value as the row's own INSERT would. A table left by a run cut
    // off on this session is replaced.
    const QByteArray create = "DROP TABLE IF EXISTS " + QByteArray(stageTable) + "; CREATE TEMPORARY TABLE "
                              + stageTable + " AS SELECT " + joined(layout.insertColumns) + " FROM "
                              + layout.table + " WITH NO DATA";
    // Inside the caller's transaction a refusal must not end it.
    const QByteArray text = writer.callerTransaction()
                                ? "SAVEPOINT qs_copy_stage; " + create + "; RELEASE SAVEPOINT qs_copy_stage"
                                : create;
    Connection::Exchange exchange(writer.connection());
    const Link link = writer.link();
    const PgResult answer = executeText(link, text);
    if (succeeded(answer.get())) {
        ready_ = true;
        return;
    }
    if (PQstatus(link.conn) != CONNECTION_OK)
        raiseFailure(link.conn, answer.get(), QString::fromUtf8(text));
    if (writer.callerTransaction())
        executeText(link, "ROLLBACK TO SAVEPOINT qs_copy_stage; RELEASE SAVEPOINT qs_copy_stage");
}

AppendStage::~AppendStage()
{
    if (!ready_ || writer_.connection().busy())
        return;
    const Link link = writer_.linkIfUnchanged();
    // In a failed transaction of the caller's the drop would fail too; the
    // caller's rollback takes the table with it.
    if (!link.conn || PQtransactionStatus(link.conn) == PQTRANS_INERROR)
        return;
    Connection::Exchange exchange(writer_.connection());
    execQuietly(link, "DROP TABLE IF EXISTS pg_temp.qs_copy_stage");
}

QByteArray AppendStage::groupStatements() const
{
    const CopyLayout& layout = writer_.layout();
    const QByteArray columns = joined(layout.insertColumns);
    QByteArray match;
    for (const QByteArray& k : layout.keyColumns) {
        if (!match.isEmpty())
            match += " AND ";
        match += "d." + k + " = s." + k;
    }
    // OFFSET 0 keeps the test a probe of the key's index per row: as an
    // anti-join the planner, knowing nothing of the fresh table, would read
    // the whole destination for every group.
    return "COPY " + QByteArray(stageTable) + " (" + columns + ") FROM STDIN; INSERT INTO " + layout.table + " ("
           + columns + ") SELECT " + joined(layout.insertColumns, "s.") + " FROM " + stageTable
           + " AS s WHERE NOT EXISTS (SELECT 1 FROM " + layout.table + " AS d WHERE " + match
           + " OFFSET 0); DELETE FROM " + stageTable;
}

QByteArray AppendStage::upsertStatements() const
{
    const CopyLayout& layout = writer_.layout();
    const QByteArray match = keyMatch(layout);
    const QByteArray set = setFromSource(layout);
    // The group's rows have no statistics worth a hash join over the whole
    // destination: each goes in through the key's index.
    const QByteArray copy = groupStatements();
    const int insertAt = copy.indexOf("; INSERT INTO ");
    return "SET LOCAL enable_hashjoin = off; SET LOCAL enable_mergejoin = off; " + copy.left(insertAt)
           + "; UPDATE " + layout.table + " AS t SET " + set + " FROM " + stageTable + " AS s WHERE " + match
           + copy.mid(insertAt);
}

} // namespace db::copy
