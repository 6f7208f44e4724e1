#include "db/connection_params.h"

namespace db {
namespace {

bool isBlankOrControl(QChar ch)
{
    return ch.unicode() <= 0x20 || ch.unicode() == 0x7F || ch.isSpace();
}

QString trimBlanksAndControls(const QString& text)
{
    qsizetype begin = 0;
    qsizetype end = text.size();
    while (begin < end && isBlankOrControl(text[begin]))
        ++begin;
    while (end > begin && isBlankOrControl(text[end - 1]))
        --end;
    return text.mid(begin, end - begin);
}

// The line for `name`, or nullptr when there is none.
const QString* findLine(const QStringList& lines, const QString& name, QString* value)
{
    for (const QString& line : lines) {
        const qsizetype eq = line.indexOf(u'=');
        if (eq < 0)
            continue;
        if (trimBlanksAndControls(line.left(eq)).compare(name, Qt::CaseInsensitive) != 0)
            continue;
        if (value)
            *value = trimBlanksAndControls(line.mid(eq + 1));
        return &line;
    }
    return nullptr;
}

// Four decimal parts each below 256, written back without leading zeros
// (which some resolvers would read as octal).
bool dottedIpv4(const QString& text, QString* normalised)
{
    const QStringList parts = text.split(u'.');
    if (parts.size() != 4)
        return false;
    QStringList clean;
    for (const QString& part : parts) {
        if (part.isEmpty() || part.size() > 3)
            return false;
        for (QChar ch : part)
            if (ch < u'0' || ch > u'9')
                return false;
        const int v = part.toInt();
        if (v > 255)
            return false;
        clean << QString::number(v);
    }
    *normalised = clean.join(u'.');
    return true;
}

// A value as the connection string wants it: backslash and quote escaped,
// and quoted when it holds a blank or is empty (an empty unquoted value
// would swallow the next keyword).
QString conninfoValue(const QString& value)
{
    QString escaped;
    escaped.reserve(value.size() + 2);
    for (QChar ch : value) {
        if (ch == u'\\' || ch == u'\'')
            escaped.append(u'\\');
        escaped.append(ch);
    }
    bool needsQuotes = escaped.isEmpty();
    for (QChar ch : escaped)
        needsQuotes = needsQuotes || ch.isSpace();
    return needsQuotes ? u'\'' + escaped + u'\'' : escaped;
}

ConnectionParams fromLines(const QStringList& lines)
{
    ConnectionParams p;
    for (const QString& line : lines)
        p.add(line);
    return p;
}

// Deployment values of the built-in lists; every real run replaces them
// with the INI file's or LICENCA_IF's lines before opening.
const QString kDefaultServerDatabase = QStringLiteral("quibor");
const QString kDefaultTerminalDatabase = QStringLiteral("quibor_pdv");
const QString kDefaultPassword = QStringLiteral("quibor");
const QString kDefaultAddress = QStringLiteral("127.0.0.1");

} // namespace

QString ConnectionParams::value(const QString& name) const
{
    QString v;
    findLine(lines_, name, &v);
    return v;
}

QString ConnectionParams::toConninfo() const
{
    struct Mapping {
        const char* name;
        const char* keyword;
    };
    static constexpr Mapping kMappings[] = {
        {"Server", "host"},
        {"Port", "port"},
        {"Database", "dbname"},
        {"User_Name", "user"},
        {"Password", "password"},
    };

    QStringList parts;
    for (const Mapping& m : kMappings) {
        QString v;
        if (!findLine(lines_, QLatin1String(m.name), &v))
            continue;
        QString keyword = QLatin1String(m.keyword);
        QString address;
        if (keyword == QLatin1String("host") && dottedIpv4(v, &address)) {
            keyword = QStringLiteral("hostaddr");
            v = address;
        }
        parts << keyword + u'=' + conninfoValue(v);
    }
    return parts.join(u' ');
}

ConnectionParams ConnectionParams::serverDefaultsSales()
{
    return fromLines({
        "Database=" + kDefaultServerDatabase,
        QStringLiteral("User_Name=postgres"),
        "Password=" + kDefaultPassword,
        "Server=" + kDefaultAddress,
        QStringLiteral("Port=5433"),
        QStringLiteral("MonitorBy=Custom"),
        QStringLiteral("DriverID=PG"),
        QStringLiteral("Pooled=True"),
    });
}

ConnectionParams ConnectionParams::serverDefaultsUpdate()
{
    return fromLines({
        "Database=" + kDefaultServerDatabase,
        QStringLiteral("User_Name=postgres"),
        "Password=" + kDefaultPassword,
        "Server=" + kDefaultAddress,
        QStringLiteral("DriverID=PG"),
    });
}

ConnectionParams ConnectionParams::terminalDefaults()
{
    ConnectionParams params = fromLines({
        "Database=" + kDefaultTerminalDatabase,
        QStringLiteral("User_Name=postgres"),
        "Password=" + kDefaultPassword,
        "Server=" + kDefaultAddress,
        QStringLiteral("DriverID=PG"),
        QStringLiteral("Pooled=True"),
    });
    params.setTerminal(true);
    return params;
}

} // namespace db
