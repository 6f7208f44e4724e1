#pragma once
// What a copy run writes into: the table behind the writer's SELECT, the
// columns that SELECT names and the table's primary key, read from the
// server rather than parsed from the text.

#include <QByteArray>
#include <QString>
#include <vector>

namespace db {
struct Link;
}

namespace db::copy {

struct TargetColumn {
    QString name;        // as the SELECT names it; matched to the source without case
    QByteArray quoted;   // the table's column, quoted for SQL
    unsigned typeOid = 0;
};

struct CopyTarget {
    QByteArray table;                  // quoted (and schema-qualified when needed)
    std::vector<TargetColumn> columns; // the SELECT's list, in order, each once
    std::vector<TargetColumn> key;     // primary key in index order; empty when none
};

// Describes `writerSql` without running it. Raises UsageError when its
// columns are not all plain columns of one table, DatabaseError when the
// server rejects the text.
CopyTarget describeTarget(const Link& link, const QString& writerSql);

bool isIntegerType(unsigned typeOid);

} // namespace db::copy
