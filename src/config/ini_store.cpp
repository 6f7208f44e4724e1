#include "config/ini_store.h"

#include "common/windows1252.h"
#include "config/ini_file.h"
#include "config/ini_keys.h"

#include <array>

namespace app {
namespace {

bool isControl(char32_t c)
{
    return c < 0x20 || (c >= 0x7F && c < 0xA0);
}

QString describe(char32_t c)
{
    const QString code = QStringLiteral("U+%1").arg(static_cast<uint>(c), 4, 16, QLatin1Char('0')).toUpper();
    if (isControl(c))
        return code;
    return u'\'' + QString::fromUcs4(&c, 1) + QStringLiteral("' (") + code + u')';
}

struct Key {
    QString name;
    QString value; // as stored
    bool written = false;
};

} // namespace

QString Codifica(const QString& text, int shift)
{
    QString encoded;
    encoded.reserve(text.size());
    for (const QChar ch : text)
        encoded.append(QChar(char16_t(ch.unicode() + shift)));
    return encoded;
}

QStringList unstorableCharacters(const QString& text, int shift)
{
    QStringList found;
    for (const char32_t c : text.toUcs4()) {
        // A character outside the 16-bit range is two code units, neither of
        // which has a byte.
        const bool storable = !isControl(c) && c + shift <= 0xFFFF
                              && common::windows1252Byte(QChar(char16_t(c + shift))).has_value();
        if (!storable && !found.contains(describe(c)))
            found << describe(c);
    }
    return found;
}

std::optional<QByteArray> iniWithConnection(const QByteArray& previous, const IniConnection& connection)
{
    std::array<Key, 5> keys{{
        {iniServerName(), connection.host},
        {iniPorta(), connection.port},
        {iniBaseName(), connection.database},
        {iniUserName(), Codifica(connection.user, kIniShift)},
        {iniPassword(), Codifica(connection.password, kIniShift)},
    }};
    auto line = [](const Key& k) { return k.name + u'=' + k.value; };

    QString text = iniText(previous);
    text.replace(QLatin1String("\r\n"), QLatin1String("\n"));
    text.replace(u'\r', u'\n');
    QStringList lines = text.split(u'\n');
    if (!lines.isEmpty() && lines.last().isEmpty())
        lines.removeLast();

    QStringList out;
    bool inSection = false;
    qsizetype endOfFirstSection = -1; // where missing keys go
    bool firstSectionSeen = false;
    for (const QString& raw : lines) {
        const QString trimmed = raw.trimmed();
        if (trimmed.startsWith(u'[')) {
            if (inSection && endOfFirstSection < 0)
                endOfFirstSection = out.size();
            inSection = sameIniName(iniSectionName(trimmed), iniSecaoConexao());
            firstSectionSeen = firstSectionSeen || inSection;
            out << raw;
            continue;
        }
        const qsizetype eq = trimmed.indexOf(u'=');
        if (!inSection || trimmed.startsWith(u';') || eq < 0) {
            out << raw;
            continue;
        }
        Key* key = nullptr;
        for (Key& k : keys)
            if (sameIniName(trimmed.left(eq).trimmed(), k.name))
                key = &k;
        if (!key) {
            out << raw;
        } else if (!key->written) {
            out << line(*key);
            key->written = true;
        }
        // A later line of a key already written is dropped: the first wins.
    }
    if (inSection && endOfFirstSection < 0)
        endOfFirstSection = out.size();

    QStringList missing;
    for (Key& k : keys)
        if (!k.written)
            missing << line(k);
    if (firstSectionSeen) {
        // Before the blank lines that end the section.
        qsizetype at = endOfFirstSection;
        while (at > 0 && out.at(at - 1).trimmed().isEmpty())
            --at;
        for (const QString& l : missing)
            out.insert(at++, l);
    } else {
        if (!out.isEmpty() && !out.last().trimmed().isEmpty())
            out << QString();
        out << u'[' + iniSecaoConexao() + u']';
        out << missing;
    }
    return common::toWindows1252(out.join(QStringLiteral("\r\n")) + QStringLiteral("\r\n"));
}

IniConnection iniConnectionOf(const QByteArray& contents)
{
    const QString secao = iniSecaoConexao();
    IniConnection c;
    c.host = iniValue(contents, secao, iniServerName());
    c.port = iniValue(contents, secao, iniPorta());
    c.database = iniValue(contents, secao, iniBaseName());
    c.user = Decodifica(iniValue(contents, secao, iniUserName()), kIniShift);
    return c;
}

} // namespace app
