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

    QByteArray table;       // quoted
    QByteArray columnList;  // the written columns, quoted, as the statements name them
    QByteArray keyList;     // the primary key's columns; empty without one

    QByteArray insertSql;
    QByteArray copySql;
    QByteArray lookupSql;  // empty when the table has no primary key
    // The insert that leaves out a row whose key is there (append without a
    // hook); empty when the table has no primary key.
    QByteArray appendSql;
    QByteArray updateSql;
};

// `needKey`: the run finds or updates destination rows by the table's
// primary key; raises UsageError when the table has none or the source
// lacks one of its columns. Also raises when no source column matches.
CopyLayout buildLayout(const Dataset& source, const CopyTarget& target, bool needKey);

} // namespace db::copy
