#include "db/copy/copy_layout.h"

#include "db/errors.h"

#include <algorithm>

namespace db::copy {
namespace {

// Position of the source column in `layout.captured`, adding it if new.
int capture(CopyLayout& layout, const Dataset& source, int index, const TargetColumn& column)
{
    for (std::size_t i = 0; i < layout.captured.size(); ++i) {
        if (layout.captured[i].index == index)
            return static_cast<int>(i);
    }
    const FieldKind kind = source.fieldKind(index);
    const bool decimal = kind == FieldKind::Numeric || kind == FieldKind::Float;
    layout.captured.push_back({index, kind, decimal && isIntegerType(column.typeOid)});
    return static_cast<int>(layout.captured.size()) - 1;
}

QByteArray placeholder(int n)
{
    return "$" + QByteArray::number(n);
}

} // namespace

CopyLayout buildLayout(const Dataset& source, const CopyTarget& target, bool needKey)
{
    CopyLayout layout;
    layout.table = target.table;
    QByteArray columnList;
    QByteArray values;
    std::vector<const TargetColumn*> written;
    for (const TargetColumn& column : target.columns) {
        const int index = source.fieldIndex(column.name);
        if (index < 0)
            continue;
        layout.insertParams.push_back(capture(layout, source, index, column));
        written.push_back(&column);
        layout.insertColumns.push_back(column.quoted);
        layout.insertTypes.push_back(column.typeOid);
        if (!columnList.isEmpty()) {
            columnList += ", ";
            values += ", ";
        }
        columnList += column.quoted;
        values += placeholder(static_cast<int>(layout.insertParams.size()));
    }
    if (written.empty())
        throw UsageError(QStringLiteral("No column of the source matches a column of %1")
                             .arg(QString::fromUtf8(target.table)));

    layout.insertSql = "INSERT INTO " + target.table + " (" + columnList + ") VALUES (" + values + ")";
    layout.copySql = "COPY " + target.table + " (" + columnList + ") FROM STDIN";

    if (target.key.empty()) {
        if (needKey)
            throw UsageError(QStringLiteral("The destination table %1 has no primary key to find its rows by")
                                 .arg(QString::fromUtf8(target.table)));
        return layout;
    }

    std::vector<int> keyPositions;
    QByteArray where;
    for (const TargetColumn& column : target.key) {
        const int index = source.fieldIndex(column.name);
        if (index < 0) {
            if (!needKey)
                return layout;
            throw UsageError(QStringLiteral("The source has no column %1 of the primary key of %2")
                                 .arg(column.name, QString::fromUtf8(target.table)));
        }
        keyPositions.push_back(capture(layout, source, index, column));
        layout.keyColumns.push_back(column.quoted);
    }

    layout.keyParams = keyPositions;
    for (std::size_t k = 0; k < target.key.size(); ++k) {
        if (k > 0)
            where += " AND ";
        where += target.key[k].quoted + " = " + placeholder(static_cast<int>(k) + 1);
    }
    layout.lookupSql = "SELECT 1 FROM " + target.table + " WHERE " + where + " LIMIT 1";

    // The key identifies the row, so it is not set again; a table whose
    // written columns are all key columns gets them set to themselves.
    auto isKey = [&](const TargetColumn* column) {
        for (const TargetColumn& k : target.key) {
            if (k.quoted == column->quoted)
                return true;
        }
        return false;
    };
    const bool onlyKey = std::all_of(written.begin(), written.end(), isKey);
    QByteArray set;
    for (std::size_t w = 0; w < written.size(); ++w) {
        if (isKey(written[w]) && !onlyKey)
            continue;
        layout.updateParams.push_back(layout.insertParams[w]);
        layout.setColumns.push_back(written[w]->quoted);
        if (!set.isEmpty())
            set += ", ";
        set += written[w]->quoted + " = " + placeholder(static_cast<int>(layout.updateParams.size()));
    }
    const int setCount = static_cast<int>(layout.updateParams.size());
    QByteArray updateWhere;
    for (std::size_t k = 0; k < target.key.size(); ++k) {
        if (k > 0)
            updateWhere += " AND ";
        updateWhere += target.key[k].quoted + " = " + placeholder(setCount + static_cast<int>(k) + 1);
        layout.updateParams.push_back(keyPositions[k]);
    }
    layout.updateSql = "UPDATE " + target.table + " SET " + set + " WHERE " + updateWhere;
    return layout;
}

QByteArray keyMatch(const CopyLayout& layout)
{
    QByteArray match;
    for (const QByteArray& k : layout.keyColumns) {
        if (!match.isEmpty())
            match += " AND ";
        match += "t." + k + " = s." + k;
    }
    return match;
}

QByteArray setFromSource(const CopyLayout& layout)
{
    QByteArray set;
    for (const QByteArray& c : layout.setColumns) {
        if (!set.isEmpty())
            set += ", ";
        set += c + " = s." + c;
    }
    return set;
}

} // namespace db::copy
