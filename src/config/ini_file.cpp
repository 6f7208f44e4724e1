#include "config/ini_file.h"

#include "common/windows1252.h"

#include <QFile>
#include <QStringDecoder>
#include <QStringTokenizer>

namespace app {
namespace {

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

    return common::isUtf8(bytes) ? QString::fromUtf8(bytes) : common::fromWindows1252(bytes);
}

} // namespace

QString iniText(const QByteArray& contents)
{
    return decodeIniText(contents);
}

QString iniSectionName(const QString& trimmedLine)
{
    const qsizetype close = trimmedLine.indexOf(QLatin1Char(']'));
    const qsizetype end = close < 0 ? trimmedLine.size() : close;
    return trimmedLine.mid(1, end - 1).trimmed();
}

bool sameIniName(const QString& a, const QString& b)
{
    return QString::compare(a, b, Qt::CaseInsensitive) == 0;
}

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
            inWantedSection = sameIniName(iniSectionName(line), wantedSection);
            continue;
        }
        if (!inWantedSection)
            continue;
        const qsizetype eq = line.indexOf(QLatin1Char('='));
        if (eq < 0)
            continue;
        if (sameIniName(line.left(eq).trimmed(), wantedKey))
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
