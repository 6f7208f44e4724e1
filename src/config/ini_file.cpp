#include "config/ini_file.h"

#include <QFile>
#include <QStringDecoder>
#include <QStringTokenizer>

#include <array>

namespace app {
namespace {

// Windows-1252 differs from Latin-1 only in 0x80-0x9F. The five bytes the code
// page leaves undefined map to the same code point, as Windows itself does.
constexpr std::array<char16_t, 32> kCp1252High = {
    0x20AC, 0x0081, 0x201A, 0x0192, 0x201E, 0x2026, 0x2020, 0x2021,
    0x02C6, 0x2030, 0x0160, 0x2039, 0x0152, 0x008D, 0x017D, 0x008F,
    0x0090, 0x2018, 0x2019, 0x201C, 0x201D, 0x2022, 0x2013, 0x2014,
    0x02DC, 0x2122, 0x0161, 0x203A, 0x0153, 0x009D, 0x017E, 0x0178,
};

QString fromWindows1252(const QByteArray& bytes)
{
    QString text;
    text.reserve(bytes.size());
    for (const char c : bytes) {
        const auto byte = static_cast<unsigned char>(c);
        if (byte >= 0x80 && byte <= 0x9F)
            text.append(QChar(kCp1252High[byte - 0x80]));
        else
            text.append(QChar(char16_t(byte)));
    }
    return text;
}

// Files written by hand on the store's machines are UTF-8 or the ANSI code
// page; text that is not valid UTF-8 is taken as Windows-1252.
QString decodeIniText(QByteArray bytes)
{
    if (bytes.startsWith("\xFF\xFE") || bytes.startsWith("\xFE\xFF")) {
        QStringDecoder utf16(bytes.startsWith("\xFF\xFE") ? QStringDecoder::Utf16LE
                                                          : QStringDecoder::Utf16BE);
        return utf16.decode(bytes.mid(2));
    }
    if (bytes.startsWith("\xEF\xBB\xBF"))
        bytes.remove(0, 3);

    QStringDecoder utf8(QStringDecoder::Utf8, QStringDecoder::Flag::Stateless);
    QString text = utf8.decode(bytes);
    if (!utf8.hasError())
        return text;
    return fromWindows1252(bytes);
}

// Name between '[' and ']' of a section line; text after ']' is ignored.
QString sectionName(const QString& trimmedLine)
{
    const qsizetype close = trimmedLine.indexOf(QLatin1Char(']'));
    const qsizetype end = close < 0 ? trimmedLine.size() : close;
    return trimmedLine.mid(1, end - 1).trimmed();
}

bool sameName(const QString& a, const QString& b)
{
    return QString::compare(a, b, Qt::CaseInsensitive) == 0;
}

} // namespace

QString LeIni(const QString& arq, const QString& secao, const QString& item)
{
    QFile file(arq);
    if (!file.open(QIODevice::ReadOnly))
        return {};
    const QByteArray contents = file.readAll();
    file.close();
    return iniValue(contents, secao, item);
}

QString iniValue(const QByteArray& contents, const QString& secao, const QString& item)
{
    // CR LF, LF and a CR alone all end a line: a CR left inside a value
    // would glue the next line to it.
    QString text = decodeIniText(contents);
    text.replace(QLatin1String("\r\n"), QLatin1String("\n"));
    text.replace(QLatin1Char('\r'), QLatin1Char('\n'));
    const QString wantedSection = secao.trimmed();
    const QString wantedKey = item.trimmed();
    if (wantedSection.isEmpty() || wantedKey.isEmpty())
        return {};

    bool inWantedSection = false;
    for (QStringView rawLine : QStringTokenizer(text, u'\n')) {
        const QString line = rawLine.trimmed().toString();
        if (line.isEmpty() || line.startsWith(QLatin1Char(';')))
            continue;
        if (line.startsWith(QLatin1Char('['))) {
            inWantedSection = sameName(sectionName(line), wantedSection);
            continue;
        }
        if (!inWantedSection)
            continue;
        const qsizetype eq = line.indexOf(QLatin1Char('='));
        if (eq < 0)
            continue;
        if (sameName(line.left(eq).trimmed(), wantedKey))
            return line.mid(eq + 1).trimmed();
    }
    return {};
}

QString Decodifica(const QString& text, int shift)
{
    QString decoded;
    decoded.reserve(text.size());
    for (const QChar ch : text)
        decoded.append(QChar(char16_t(ch.unicode() - shift)));
    return decoded;
}

} // namespace app
