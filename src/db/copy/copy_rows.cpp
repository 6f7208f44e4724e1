#include "db/copy/copy_rows.h"

#include "db/result_data.h"
#include "db/value_text.h"

#include <QRegularExpression>
#include <cmath>

namespace db::copy {
namespace {

// Adds one to a string of decimal digits.
QByteArray incremented(QByteArray digits)
{
    int i = digits.size() - 1;
    while (i >= 0 && digits[i] == '9')
        digits[i--] = '0';
    if (i < 0)
        digits.prepend('1');
    else
        ++digits[i];
    return digits;
}

// COPY's text format: backslash, tab, line feed and carriage return are
// escaped; runs without them (nearly every value) are copied whole.
void appendEscaped(const char* text, QByteArray& out)
{
    const char* run = text;
    const char* p = text;
    for (; *p; ++p) {
        const char c = *p;
        if (c != '\\' && c != '\t' && c != '\n' && c != '\r')
            continue;
        out.append(run, p - run);
        out.append('\\');
        out.append(c == '\t' ? 't' : c == '\n' ? 'n' : c == '\r' ? 'r' : '\\');
        run = p + 1;
    }
    out.append(run, p - run);
}

bool needsAdapting(const SourceColumn& column)
{
    return column.toInteger || column.kind == FieldKind::Float;
}

// Floats go as the shortest text that reads back as the same double, so no
// reader's own formatting invents or loses digits; decimals feeding an
// integer column are rounded.
QByteArray adapted(const SourceColumn& column, const QString& text)
{
    if (column.kind != FieldKind::Float)
        return integerText(text);
    const std::optional<double> value = parseDouble(text);
    if (!value)
        return text.toUtf8();
    return column.toInteger ? integerText(QString::number(*value, 'f', 6)) : formatDouble(*value).toUtf8();
}

} // namespace

QByteArray integerText(const QString& decimal)
{
    static const QRegularExpression plain(QStringLiteral("^\\s*([+-]?)(\\d*)\\.(\\d*)\\s*$"));
    const QRegularExpressionMatch m = plain.match(decimal);
    if (m.hasMatch() && (m.capturedLength(2) > 0 || m.capturedLength(3) > 0)) {
        QByteArray whole = m.captured(2).toLatin1();
        if (whole.isEmpty())
            whole = "0";
        const QString fraction = m.captured(3);
        if (!fraction.isEmpty() && fraction[0] >= QLatin1Char('5'))
            whole = incremented(whole);
        const bool negative = m.captured(1) == QLatin1String("-") && whole.count('0') != whole.size();
        return negative ? "-" + whole : whole;
    }
    bool ok = false;
    const double value = decimal.toDouble(&ok);
    if (ok && std::isfinite(value) && std::fabs(value) < 9.2e18)
        return QByteArray::number(static_cast<qlonglong>(std::llround(value)));
    return decimal.toUtf8();
}

RowBuffer::RowBuffer(std::vector<SourceColumn> columns)
    : columns_(std::move(columns)), columnCount_(static_cast<int>(columns_.size()))
{
}

void RowBuffer::clear()
{
    arena_.clear();
    offsets_.clear();
}

void RowBuffer::appendText(const QByteArray& text)
{
    offsets_.push_back(static_cast<int>(arena_.size()));
    arena_.append(text.constData(), static_cast<std::size_t>(text.size()));
    arena_.push_back('\0');
}

// Straight into the arena: one copy less per value than going through a
// QByteArray, which shows over a hundred thousand rows.
void RowBuffer::appendText(QStringView text)
{
    const std::size_t at = arena_.size();
    offsets_.push_back(static_cast<int>(at));
    arena_.resize(at + static_cast<std::size_t>(utf8_.requiredSpace(text.size())) + 1);
    char* end = utf8_.appendToBuffer(arena_.data() + at, text);
    arena_.resize(static_cast<std::size_t>(end - arena_.data()));
    arena_.push_back('\0');
}

void RowBuffer::capture(const Dataset& source)
{
    for (const SourceColumn& column : columns_) {
        if (source.isNull(column.index))
            offsets_.push_back(-1);
        else if (needsAdapting(column))
            appendText(adapted(column, source.text(column.index)));
        else
            appendText(QStringView(source.text(column.index)));
    }
}

void RowBuffer::capture(const ResultData& rows, int row)
{
    for (const SourceColumn& column : columns_) {
        if (rows.isNull(row, column.index)) {
            offsets_.push_back(-1);
        } else if (needsAdapting(column)) {
            appendText(adapted(column, rows.text(row, column.index)));
        } else {
            offsets_.push_back(static_cast<int>(arena_.size()));
            arena_.append(rows.raw(row, column.index), static_cast<std::size_t>(rows.rawLength(row, column.index)));
            arena_.push_back('\0');
        }
    }
}

void RowBuffer::params(int row, const std::vector<int>& positions, std::vector<const char*>& out) const
{
    out.clear();
    const int base = row * columnCount_;
    for (int position : positions) {
        const int offset = offsets_[static_cast<std::size_t>(base + position)];
        out.push_back(offset < 0 ? nullptr : arena_.data() + offset);
    }
}

void RowBuffer::appendCopyText(int first, int end, const std::vector<int>& positions, QByteArray& out) const
{
    for (int row = first; row < end; ++row) {
        const int base = row * columnCount_;
        bool firstColumn = true;
        for (int position : positions) {
            if (!firstColumn)
                out.append('\t');
            firstColumn = false;
            const int offset = offsets_[static_cast<std::size_t>(base + position)];
            if (offset < 0)
                out.append("\\N", 2);
            else
                appendEscaped(arena_.data() + offset, out);
        }
        out.append('\n');
    }
}

} // namespace db::copy
