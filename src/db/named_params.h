#pragma once
// Turns ":NAME" parameters into $1..$n. Colons inside string literals, quoted
// identifiers, comments and "::" casts are left alone.

#include <QString>
#include <QStringList>

namespace db {

struct PositionalSql {
    QString sql;        // with $1..$n
    QStringList names;  // upper-cased, index i is $i+1
};

PositionalSql toPositional(const QString& sql);

} // namespace db
