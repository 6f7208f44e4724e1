#include "db/value_text.h"

#include "common/windows1252.h"
#include "db/pg_handles.h"

#include <QLocale>
#include <QRegularExpression>
#include <cmath>

namespace db {
namespace {

// Bytes bound for a text column: already UTF-8 goes as is, anything else
// was written in the 8-bit code page and is converted, so the server never
// sees an invalid byte sequence.
QByteArray bytesAsText(const QByteArray& bytes)
{
    return common::isUtf8(bytes) ? bytes : common::fromWindows1252(bytes).toUtf8();
}

void putDigits(char* out, int value, int width)
{
    for (int i = width - 1; i >= 0; --i) {
        out[i] = static_cast<char>('0' + value % 10);
        value /= 10;
    }
}

struct ParamTextVisitor {
    bool toBytea;

    std::optional<QByteArray> operator()(const Null&) const { return std::nullopt; }
    std::optional<QByteArray> operator()(const QString& v) const { return v.toUtf8(); }
    std::optional<QByteArray> operator()(qint64 v) const { return QByteArray::number(v); }
    std::optional<QByteArray> operator()(double v) const { return formatDouble(v).toLatin1(); }
    std::optional<QByteArray> operator()(const QDate& v) const
    {
        if (!v.isValid())
            return std::nullopt;
        return formatDate(v).toLatin1();
    }
    std::optional<QByteArray> operator()(const QTime& v) const
    {
        if (!v.isValid())
            return std::nullopt;
        return formatTime(v).toLatin1();
    }
    std::optional<QByteArray> operator()(const QDateTime& v) const
    {
        if (!v.isValid())
            return std::nullopt;
        const QDateTime local = v.timeSpec() == Qt::LocalTime ? v : v.toLocalTime();
        const QDate date = local.date();
        if (date.year() < 1 || date.year() > 9999)
            return formatDateTime(v).toLatin1();
        // yyyy-MM-dd HH:mm:ss.zzz, written straight into the bytes sent.
        const QTime time = local.time();
        QByteArray text(23, Qt::Uninitialized);
        char* out = text.data();
        putDigits(out, date.year(), 4);
        out[4] = '-';
        putDigits(out + 5, date.month(), 2);
        out[7] = '-';
        putDigits(out + 8, date.day(), 2);
        out[10] = ' ';
        putDigits(out + 11, time.hour(), 2);
        out[13] = ':';
        putDigits(out + 14, time.minute(), 2);
        out[16] = ':';
        putDigits(out + 17, time.second(), 2);
        out[19] = '.';
        putDigits(out + 20, time.msec(), 3);
        return text;
    }
    std::optional<QByteArray> operator()(const QByteArray& v) const
    {
        if (toBytea)
            return QByteArray("\\x") + v.toHex();
        return bytesAsText(v);
    }
};

bool isDigit(QChar c)
{
    return c.unicode() >= u'0' && c.unicode() <= u'9';
}

int digitsAt(const QString& t, qsizetype from, qsizetype count)
{
    int n = 0;
    for (qsizetype i = from; i < from + count; ++i)
        n = n * 10 + (t[i].unicode() - u'0');
    return n;
}

// The server's own forms, "yyyy-MM-dd" and "yyyy-MM-dd HH:mm:ss", read
// without the general patterns; nullopt sends anything else to them.
std::optional<QDateTime> serverDateTime(const QString& t)
{
    const qsizetype n = t.size();
    if (n != 10 && n != 19)
        return std::nullopt;
    for (qsizetype i = 0; i < n; ++i) {
        const bool separator = i == 4 || i == 7 || i == 10 || i == 13 || i == 16;
        if (!separator && !isDigit(t[i]))
            return std::nullopt;
    }
    if (t[4] != u'-' || t[7] != u'-')
        return std::nullopt;
    const QDate date(digitsAt(t, 0, 4), digitsAt(t, 5, 2), digitsAt(t, 8, 2));
    if (!date.isValid())
        return std::nullopt;
    if (n == 10)
        return QDateTime(date, QTime(0, 0));
    if (t[10] != u' ' || t[13] != u':' || t[16] != u':')
        return std::nullopt;
    const QTime time(digitsAt(t, 11, 2), digitsAt(t, 14, 2), digitsAt(t, 17, 2), 0);
    if (!time.isValid())
        return std::nullopt;
    return QDateTime(date, time);
}

// Plain decimals of at most 15 digits ("-12.50"): both the digits and the
// power of ten are exact doubles, so one division rounds as a full
// conversion would. nullopt sends anything else to the general reader.
std::optional<double> plainDecimal(const QString& t)
{
    const qsizetype n = t.size();
    qsizetype i = 0;
    const bool negative = n > 0 && t[0] == u'-';
    if (negative)
        ++i;
    qint64 mantissa = 0;
    int digits = 0;
    int decimals = 0;
    bool point = false;
    for (; i < n; ++i) {
        const QChar c = t[i];
        if (isDigit(c)) {
            if (++digits > 15)
                return std::nullopt;
            mantissa = mantissa * 10 + (c.unicode() - u'0');
            if (point)
                ++decimals;
        } else if (c == u'.' && !point && digits > 0) {
            point = true;
        } else {
            return std::nullopt;
        }
    }
    if (digits == 0 || (point && decimals == 0))
        return std::nullopt;
    static constexpr double kPowers[] = {1e0, 1e1, 1e2, 1e3, 1e4, 1e5, 1e6, 1e7,
                                         1e8, 1e9, 1e10, 1e11, 1e12, 1e13, 1e14, 1e15};
    const double v = static_cast<double>(mantissa) / kPowers[decimals];
    return negative ? -v : v;
}

// Unsigned or minus-signed digits that cannot overflow.
std::optional<qint64> plainInteger(const QString& t)
{
    const qsizetype n = t.size();
    const qsizetype start = n > 0 && t[0] == u'-' ? 1 : 0;
    if (n == start || n - start > 18)
        return std::nullopt;
    qint64 v = 0;
    for (qsizetype i = start; i < n; ++i) {
        if (!isDigit(t[i]))
            return std::nullopt;
        v = v * 10 + (t[i].unicode() - u'0');
    }
    return start ? -v : v;
}

int fractionToMs(const QString& digits)
{
    if (digits.isEmpty())
        return 0;
    // Keep milliseconds, the finest a QTime holds; truncating never rolls
    // 59.9995 over into the next second.
    return digits.left(3).leftJustified(3, '0').toInt();
}

} // namespace

std::optional<QByteArray> parameterText(const Value& v, bool toBytea)
{
    return std::visit(ParamTextVisitor{toBytea}, v);
}

QString formatDouble(double v)
{
    if (std::isnan(v))
        return QStringLiteral("NaN");
    if (std::isinf(v))
        return v > 0 ? QStringLiteral("Infinity") : QStringLiteral("-Infinity");
    return QString::number(v, 'g', QLocale::FloatingPointShortest);
}

QString formatDate(const QDate& v)
{
    // The ISO form is the pattern's text for years 1 to 9999, made faster.
    if (v.year() >= 1 && v.year() <= 9999)
        return v.toString(Qt::ISODate);
    return v.toString(QStringLiteral("yyyy-MM-dd"));
}

QString formatTime(const QTime& v)
{
    return v.toString(Qt::ISODateWithMs); // HH:mm:ss.zzz
}

QString formatDateTime(const QDateTime& v)
{
    const QDateTime local = v.timeSpec() == Qt::LocalTime ? v : v.toLocalTime();
    return formatDate(local.date()) + u' ' + formatTime(local.time());
}

std::optional<qint64> parseInteger(const QString& text)
{
    if (auto v = plainInteger(text))
        return v;
    static const QRegularExpression whole(QStringLiteral("^\\s*[+-]?\\d+\\s*$"));
    if (!whole.match(text).hasMatch())
        return std::nullopt;
    bool ok = false;
    const qint64 v = text.trimmed().toLongLong(&ok);
    if (!ok)
        return std::nullopt;
    return v;
}

std::optional<double> parseDouble(const QString& text)
{
    if (auto v = plainDecimal(text))
        return v;
    const QString t = text.trimmed();
    if (t.compare(QLatin1String("NaN"), Qt::CaseInsensitive) == 0)
        return std::nan("");
    if (t.compare(QLatin1String("Infinity"), Qt::CaseInsensitive) == 0)
        return HUGE_VAL;
    if (t.compare(QLatin1String("-Infinity"), Qt::CaseInsensitive) == 0)
        return -HUGE_VAL;
    bool ok = false;
    const double v = QLocale::c().toDouble(t, &ok);
    if (!ok)
        return std::nullopt;
    return v;
}

std::optional<QDateTime> parseDateTime(const QString& text)
{
    static const QRegularExpression datePart(QStringLiteral("^(\\d{4,})-(\\d{1,2})-(\\d{1,2})"));
    static const QRegularExpression timePart(QStringLiteral("^(\\d{1,2}):(\\d{2})(?::(\\d{2})(?:\\.(\\d+))?)?"));
    static const QRegularExpression zonePart(QStringLiteral("^\\s*(?:Z|[+-]\\d{2}(?::?\\d{2}(?::?\\d{2})?)?)?$"));
    if (auto v = serverDateTime(text))
        return v;

    const QString t = text.trimmed();
    qsizetype pos = 0;
    static const QDate zeroDate = zeroDateTime().date();
    QDate date = zeroDate;
    const QRegularExpressionMatch d = datePart.match(t);
    if (d.hasMatch()) {
        date = QDate(d.captured(1).toInt(), d.captured(2).toInt(), d.captured(3).toInt());
        if (!date.isValid())
            return std::nullopt;
        pos = d.capturedEnd();
        if (pos < t.size() && (t[pos] == u' ' || t[pos] == u'T'))
            ++pos;
    }
    QTime time(0, 0);
    const QRegularExpressionMatch h = timePart.match(QStringView(t).mid(pos));
    if (h.hasMatch()) {
        const int hour = h.captured(1).toInt();
        const int minute = h.captured(2).toInt();
        const int second = h.captured(3).toInt();
        const int ms = fractionToMs(h.captured(4));
        // The server writes 24:00:00 for the end of a day.
        if (hour == 24 && minute == 0 && second == 0 && ms == 0) {
            date = date.addDays(1);
        } else {
            time = QTime(hour, minute, second, ms);
            if (!time.isValid())
                return std::nullopt;
        }
        pos += h.capturedEnd();
    } else if (!d.hasMatch()) {
        return std::nullopt;
    }
    if (!zonePart.match(QStringView(t).mid(pos)).hasMatch())
        return std::nullopt;
    return QDateTime(date, time);
}

QByteArray decodeBytea(const QString& text)
{
    const QByteArray escaped = text.toLatin1();
    size_t length = 0;
    PgMemPtr bytes(PQunescapeBytea(reinterpret_cast<const unsigned char*>(escaped.constData()), &length));
    if (!bytes)
        return {};
    return QByteArray(reinterpret_cast<const char*>(bytes.get()), static_cast<qsizetype>(length));
}

double dayCount(const QDateTime& v)
{
    static const QDate zeroDate = zeroDateTime().date();
    const qint64 days = zeroDate.daysTo(v.date());
    const double fraction = v.time().msecsSinceStartOfDay() / 86400000.0;
    return days >= 0 ? days + fraction : days - fraction;
}

} // namespace db
