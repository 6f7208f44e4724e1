#include "db/dataset.h"

#include "db/errors.h"
#include "db/value_text.h"

#include <cmath>
#include <limits>

namespace db {
namespace {

bool boolText(const QString& text)
{
    // The server writes t/f; other datasets may write words or digits.
    return text.startsWith(u't', Qt::CaseInsensitive) || text == QLatin1String("1");
}

UsageError notInteger(const QString& text)
{
    return UsageError(QStringLiteral("'%1' is not a valid integer value").arg(text));
}

UsageError notFloat(const QString& text)
{
    return UsageError(QStringLiteral("'%1' is not a valid floating point value").arg(text));
}

UsageError notDateTime(const QString& text)
{
    return UsageError(QStringLiteral("'%1' is not a valid date and time").arg(text));
}

} // namespace

Field Dataset::field(const QString& name) const
{
    const int column = fieldIndex(name);
    if (column < 0)
        throw UsageError(QStringLiteral("Field '%1' not found").arg(name));
    return Field(*this, column);
}

bool Field::isNull() const
{
    return set_->isNull(column_);
}

QString Field::asString() const
{
    if (isNull())
        return {};
    const QString text = set_->text(column_);
    switch (set_->fieldKind(column_)) {
    case FieldKind::Boolean:
        return boolText(text) ? QStringLiteral("True") : QStringLiteral("False");
    case FieldKind::Bytes:
        return QString::fromUtf8(decodeBytea(text));
    default:
        return text;
    }
}

qint64 Field::asInteger() const
{
    if (isNull())
        return 0;
    const QString text = set_->text(column_);
    switch (set_->fieldKind(column_)) {
    case FieldKind::Boolean:
        return boolText(text) ? 1 : 0;
    case FieldKind::Integer:
    case FieldKind::Text:
        if (auto v = parseInteger(text))
            return *v;
        throw notInteger(text);
    case FieldKind::Float:
    case FieldKind::Numeric: {
        // Fractions round to the nearest whole number, halves away from
        // zero: 12.5 reads 13, -12.5 reads -13.
        const auto v = parseDouble(text);
        constexpr double kLimit = 9.2233720368547748e18; // first double past qint64
        if (!v || !std::isfinite(*v) || std::fabs(std::round(*v)) >= kLimit)
            throw notInteger(text);
        return static_cast<qint64>(std::llround(*v));
    }
    default:
        throw notInteger(text);
    }
}

double Field::asFloat() const
{
    if (isNull())
        return 0.0;
    const QString text = set_->text(column_);
    switch (set_->fieldKind(column_)) {
    case FieldKind::Boolean:
        return boolText(text) ? 1.0 : 0.0;
    case FieldKind::Date:
    case FieldKind::Time:
    case FieldKind::DateTime:
        return dayCount(asDateTime());
    case FieldKind::Bytes:
        throw notFloat(text);
    default:
        if (auto v = parseDouble(text))
            return *v;
        throw notFloat(text);
    }
}

QDateTime Field::asDateTime() const
{
    if (isNull())
        return zeroDateTime();
    const QString text = set_->text(column_);
    switch (set_->fieldKind(column_)) {
    case FieldKind::Text:
        if (text.trimmed().isEmpty())
            return zeroDateTime();
        [[fallthrough]];
    case FieldKind::Date:
    case FieldKind::Time:
    case FieldKind::DateTime:
        if (auto v = parseDateTime(text))
            return *v;
        throw notDateTime(text);
    default:
        throw notDateTime(text);
    }
}

QByteArray Field::asBytes() const
{
    if (isNull())
        return {};
    if (set_->fieldKind(column_) == FieldKind::Bytes)
        return decodeBytea(set_->text(column_));
    return asString().toUtf8();
}

Value Field::value() const
{
    if (isNull())
        return Null{};
    const QString text = set_->text(column_);
    switch (set_->fieldKind(column_)) {
    case FieldKind::Integer:
        if (auto v = parseInteger(text))
            return *v;
        return text;
    case FieldKind::Float:
        if (auto v = parseDouble(text))
            return *v;
        return text;
    case FieldKind::Date:
    case FieldKind::Time:
    case FieldKind::DateTime: {
        const auto v = parseDateTime(text);
        if (!v)
            return text; // e.g. "infinity": the server reads it back as is
        if (set_->fieldKind(column_) == FieldKind::Date)
            return v->date();
        if (set_->fieldKind(column_) == FieldKind::Time)
            return v->time();
        return *v;
    }
    case FieldKind::Bytes:
        return decodeBytea(text);
    case FieldKind::Boolean:
        return asString();
    case FieldKind::Numeric: // as text, so no digit is lost on the way
    case FieldKind::Text:
        break;
    }
    return text;
}

} // namespace db
