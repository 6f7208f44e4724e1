#pragma once
// Which source columns feed which destination columns, and the statements
// a run sends. Columns are matched by name without case; destination
// columns the source lacks are left out so the table's defaults apply.

#include "db/copy/copy_rows.h"
#include "db/copy/copy_target.h"

#include <QByteArray>
#include <vector>

namespace db::copy {

struct CopyLayout {
    std::vector<SourceColumn> captured;  // what a RowBuffer reads per row

    // Positions into the captured row, per statement, in parameter order.
    std::vector<int> insertParams;
    std::vector<int> keyParams;
    std::vector<int> updateParams;  // SET values, then the key

    QByteArray table;  // quoted destination table
    // Quoted destination columns: those written (insert order), the key,
    // and those an update sets (updateParams order, key left out).
    std::vector<QByteArray> insertColumns;
    std::vector<unsigned> insertTypes;  // their type OIDs
    std::vector<QByteArray> keyColumns;
    std::vector<QByteArray> setColumns;

    QByteArray insertSql;
    QByteArray copySql;
    QByteArray lookupSql;  // empty when the table has no primary key
    QByteArray updateSql;
};

// `needKey`: the run finds or updates destination rows by the table's
// primary key; raises UsageError when the table has none or the source
// lacks one of its columns. Also raises when no source column matches.
CopyLayout buildLayout(const Dataset& source, const CopyTarget& target, bool needKey);

// For a set-based update of the destination `t` from a set of rows `s`
// with the same column names: "t.k = s.k AND ..." over the key, and
// "c = s.c, ..." over the columns an update sets.
QByteArray keyMatch(const CopyLayout& layout);
QByteArray setFromSource(const CopyLayout& layout);

} // namespace db::copy
