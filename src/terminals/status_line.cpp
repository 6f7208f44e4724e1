#include "terminals/status_line.h"

#include "terminals/licenca_row.h"

#include <QLocale>

namespace terminals {

QString formatShortDate(const QDate& date)
{
    return QLocale::system().toString(date, QLocale::ShortFormat);
}

QString formatLongTime(const QTime& time)
{
    // The system's long time format may carry a zone name ("t"); a time of
    // day alone has none to show.
    const QString full = QLocale::system().timeFormat(QLocale::LongFormat);
    QString format;
    bool quoted = false;
    for (QChar c : full) {
        if (c == u'\'')
            quoted = !quoted;
        if (quoted || c != u't')
            format += c;
    }
    format.replace("  ", " ");
    return QLocale::system().toString(time, format.trimmed());
}

QString statusLine(const QString& prefix, const LicencaRow& row)
{
    return prefix + formatShortDate(row.dtSync) + " - " + formatLongTime(row.hrSync);
}

} // namespace terminals
