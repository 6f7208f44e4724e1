#include "db/memtable.h"

#include "db/errors.h"
#include "db/value_text.h"

#include <algorithm>
#include <cmath>

namespace db {
namespace {

UsageError notInsertMode()
{
    return UsageError(QStringLiteral("The table is not in insert mode"));
}

// Stores `v` as a field of type `type` holds it; raises on a value that
// does not convert.
Value convertFor(MemTable::Type type, int size, const Value& v)
{
    if (std::holds_alternative<Null>(v))
        return Null{};
    switch (type) {
    case MemTable::Type::Integer:
        if (auto i = std::get_if<qint64>(&v))
            return *i;
        if (auto d = std::get_if<double>(&v)) {
            if (!std::isfinite(*d))
                throw UsageError(QStringLiteral("'%1' is not a valid integer value").arg(formatDouble(*d)));
            return static_cast<qint64>(std::llround(*d));
        }
        if (auto s = std::get_if<QString>(&v)) {
            if (auto i = parseInteger(*s))
                return *i;
            throw UsageError(QStringLiteral("'%1' is not a valid integer value").arg(*s));
        }
        break;
    case MemTable::Type::Text: {
        QString text;
        if (auto s = std::get_if<QString>(&v))
            text = *s;
        else if (auto i = std::get_if<qint64>(&v))
            text = QString::number(*i);
        else if (auto d = std::get_if<double>(&v))
            text = formatDouble(*d);
        else if (auto dt = std::get_if<QDateTime>(&v))
            text = formatDateTime(*dt);
        else
            break;
        // A text field has a width; a longer value is cut to it.
        if (size > 0 && text.size() > size)
            text.truncate(size);
        return text;
    }
    case MemTable::Type::Float:
        if (auto d = std::get_if<double>(&v))
            return *d;
        if (auto i = std::get_if<qint64>(&v))
            return static_cast<double>(*i);
        if (auto s = std::get_if<QString>(&v)) {
            if (auto d = parseDouble(*s))
                return *d;
            throw UsageError(QStringLiteral("'%1' is not a valid floating point value").arg(*s));
        }
        break;
    case MemTable::Type::Date:
        if (auto dt = std::get_if<QDateTime>(&v))
            return dt->isValid() ? Value(dt->date()) : Value(Null{});
        if (auto s = std::get_if<QString>(&v)) {
            if (auto dt = parseDateTime(*s))
                return dt->date();
            throw UsageError(QStringLiteral("'%1' is not a valid date and time").arg(*s));
        }
        break;
    }
    throw UsageError(QStringLiteral("The value does not fit a field of this type"));
}

QString cellText(const Value& v)
{
    if (auto s = std::get_if<QString>(&v))
        return *s;
    if (auto i = std::get_if<qint64>(&v))
        return QString::number(*i);
    if (auto d = std::get_if<double>(&v))
        return formatDouble(*d);
    if (auto date = std::get_if<QDate>(&v))
        return formatDate(*date);
    return {};
}

// Key of a row under a unique index, for the duplicate check.
QString uniqueKey(const std::vector<Value>& row, const std::vector<int>& columns)
{
    QString key;
    for (int c : columns) {
        key += std::holds_alternative<Null>(row[c]) ? QStringLiteral("\x1e") : cellText(row[c]);
        key += u'\x1f';
    }
    return key;
}

} // namespace

void MemTable::addField(const QString& name, Type type, int size)
{
    if (created_)
        throw UsageError(QStringLiteral("Fields cannot be added to a created table"));
    if (fieldIndex(name) >= 0)
        throw UsageError(QStringLiteral("Field '%1' is defined twice").arg(name));
    fields_.push_back({name, type, size});
}

void MemTable::addIndex(const QString& name, const QString& fields, bool primary)
{
    if (created_)
        throw UsageError(QStringLiteral("Indexes cannot be added to a created table"));
    IndexDef index{name, {}, primary};
    for (const QString& field : fields.split(u';', Qt::SkipEmptyParts))
        index.columns.push_back(requireField(field.trimmed()));
    if (index.columns.empty())
        throw UsageError(QStringLiteral("Index '%1' names no field").arg(name));
    indexes_.push_back(std::move(index));
}

void MemTable::create()
{
    created_ = true;
    editing_ = false;
    rows_.clear();
    order_.clear();
    uniqueKeys_.assign(indexes_.size(), {});
    activeIndex_ = -1;
    if (!activeIndexName_.isEmpty())
        setIndex(activeIndexName_);
    first();
}

void MemTable::append()
{
    if (!created_)
        throw UsageError(QStringLiteral("The table has not been created"));
    pending_.assign(fields_.size(), Null{});
    editing_ = true;
}

void MemTable::setValue(const QString& field, const Value& v)
{
    if (!editing_)
        throw notInsertMode();
    const int column = requireField(field);
    const FieldDef& def = fields_[column];
    pending_[column] = convertFor(def.type, def.size, v);
}

void MemTable::setText(const QString& field, const QString& v)
{
    setValue(field, v);
}

void MemTable::setInteger(const QString& field, qint64 v)
{
    setValue(field, v);
}

void MemTable::setFloat(const QString& field, double v)
{
    setValue(field, v);
}

void MemTable::setDateTime(const QString& field, const QDateTime& v)
{
    setValue(field, v);
}

void MemTable::post()
{
    if (!editing_)
        throw notInsertMode();
    std::vector<QString> keys(indexes_.size());
    for (std::size_t i = 0; i < indexes_.size(); ++i) {
        if (!indexes_[i].primary)
            continue;
        keys[i] = uniqueKey(pending_, indexes_[i].columns);
        if (uniqueKeys_[i].contains(keys[i])) {
            QStringList values;
            for (int c : indexes_[i].columns)
                values << cellText(pending_[c]);
            throw UsageError(QStringLiteral("Key violation: the key '%1' already exists").arg(values.join(u';')));
        }
    }
    for (std::size_t i = 0; i < indexes_.size(); ++i)
        if (indexes_[i].primary)
            uniqueKeys_[i].insert(keys[i]);

    rows_.push_back(std::move(pending_));
    pending_.clear();
    editing_ = false;
    const std::size_t added = rows_.size() - 1;
    // Keep the active order: the new row goes after its equals.
    auto at = order_.end();
    if (activeIndex_ >= 0) {
        at = std::upper_bound(order_.begin(), order_.end(), added,
                              [this](std::size_t a, std::size_t b) { return lessInIndex(a, b); });
    }
    cursor_ = static_cast<std::size_t>(order_.insert(at, added) - order_.begin());
    eof_ = false;
}

void MemTable::cancel()
{
    pending_.clear();
    editing_ = false;
}

void MemTable::setIndex(const QString& name)
{
    activeIndexName_ = name;
    if (!created_)
        return; // chosen before the table exists; applied by create()
    activeIndex_ = -1;
    if (!name.isEmpty()) {
        for (std::size_t i = 0; i < indexes_.size(); ++i)
            if (indexes_[i].name.compare(name, Qt::CaseInsensitive) == 0)
                activeIndex_ = static_cast<int>(i);
        if (activeIndex_ < 0)
            throw UsageError(QStringLiteral("Index '%1' not found").arg(name));
    }
    reorder();
    first();
}

void MemTable::emptyTable()
{
    rows_.clear();
    order_.clear();
    for (auto& keys : uniqueKeys_)
        keys.clear();
    editing_ = false;
    first();
}

int MemTable::fieldCount() const
{
    return static_cast<int>(fields_.size());
}

QString MemTable::fieldName(int column) const
{
    return fields_.at(column).name;
}

FieldKind MemTable::fieldKind(int column) const
{
    switch (fields_.at(column).type) {
    case Type::Integer: return FieldKind::Integer;
    case Type::Float: return FieldKind::Float;
    case Type::Date: return FieldKind::Date;
    case Type::Text: break;
    }
    return FieldKind::Text;
}

void MemTable::first()
{
    cursor_ = 0;
    eof_ = order_.empty();
}

void MemTable::next()
{
    // Past the last row the cursor stays on it, with the end flag set.
    if (cursor_ + 1 < order_.size())
        ++cursor_;
    else
        eof_ = true;
}

bool MemTable::eof() const
{
    return eof_;
}

int MemTable::recordCount() const
{
    return static_cast<int>(rows_.size());
}

bool MemTable::isNull(int column) const
{
    if (order_.empty())
        return true;
    return std::holds_alternative<Null>(currentRow().at(column));
}

QString MemTable::text(int column) const
{
    if (order_.empty())
        return {};
    return cellText(currentRow().at(column));
}

int MemTable::fieldIndex(const QString& name) const
{
    for (std::size_t i = 0; i < fields_.size(); ++i)
        if (fields_[i].name.compare(name, Qt::CaseInsensitive) == 0)
            return static_cast<int>(i);
    return -1;
}

int MemTable::requireField(const QString& name) const
{
    const int column = fieldIndex(name);
    if (column < 0)
        throw UsageError(QStringLiteral("Field '%1' not found").arg(name));
    return column;
}

const MemTable::Row& MemTable::currentRow() const
{
    return rows_[order_[std::min(cursor_, order_.size() - 1)]];
}

bool MemTable::lessInIndex(std::size_t a, std::size_t b) const
{
    for (int c : indexes_[activeIndex_].columns) {
        const int cmp = compareValues(rows_[a][c], rows_[b][c]);
        if (cmp != 0)
            return cmp < 0;
    }
    return false;
}

void MemTable::reorder()
{
    order_.resize(rows_.size());
    for (std::size_t i = 0; i < order_.size(); ++i)
        order_[i] = i;
    if (activeIndex_ >= 0) {
        // Stable: rows with equal keys keep the order they were added in.
        std::stable_sort(order_.begin(), order_.end(),
                         [this](std::size_t a, std::size_t b) { return lessInIndex(a, b); });
    }
}

int MemTable::compareValues(const Value& a, const Value& b)
{
    const bool aNull = std::holds_alternative<Null>(a);
    const bool bNull = std::holds_alternative<Null>(b);
    if (aNull || bNull)
        return aNull == bNull ? 0 : (aNull ? -1 : 1); // nulls first
    if (auto x = std::get_if<QString>(&a))
        if (auto y = std::get_if<QString>(&b))
            return x->compare(*y, Qt::CaseInsensitive);
    if (auto x = std::get_if<qint64>(&a))
        if (auto y = std::get_if<qint64>(&b))
            return *x < *y ? -1 : (*x > *y ? 1 : 0);
    if (auto x = std::get_if<double>(&a))
        if (auto y = std::get_if<double>(&b))
            return *x < *y ? -1 : (*x > *y ? 1 : 0);
    if (auto x = std::get_if<QDate>(&a))
        if (auto y = std::get_if<QDate>(&b))
            return *x < *y ? -1 : (*x > *y ? 1 : 0);
    return 0;
}

} // namespace db
