#pragma once
// Text of the sales window's terminal status lines: the ON/OFF prefix, the
// last synchronisation date in the system's short date format, " - ", and its
// time in the system's long time format.

#include <QDate>
#include <QString>
#include <QTime>

namespace terminals {

struct LicencaRow;

QString formatShortDate(const QDate& date);
// Hours, minutes and seconds as the system writes them, without a zone name.
QString formatLongTime(const QTime& time);

// prefix + DT_SYNC + " - " + HR_SYNC, e.g. "Ecf07 - ON - 01/11/2022 - 10:15:00".
QString statusLine(const QString& prefix, const LicencaRow& row);

} // namespace terminals
