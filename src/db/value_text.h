#pragma once
// Texts exchanged with the server: how a bound value is written (every
// parameter goes as text and the server infers its type) and how the
// server's texts read back as numbers, dates and bytes.

#include "db/value.h"

#include <QByteArray>
#include <QDateTime>
#include <QString>
#include <optional>

namespace db {

// The parameter text for `v`; nullopt for a null. `toBytea` says whether the
// server expects a bytea there: then bytes go in its hex form, otherwise as
// text (UTF-8 as is, any other bytes read as the Windows 8-bit code page).
std::optional<QByteArray> parameterText(const Value& v, bool toBytea);

QString formatDouble(double v);       // shortest text that reads back exactly
QString formatDate(const QDate& v);   // yyyy-MM-dd
QString formatTime(const QTime& v);   // HH:mm:ss.zzz
QString formatDateTime(const QDateTime& v); // local wall clock, yyyy-MM-dd HH:mm:ss.zzz

// Whole number, optional sign, surrounding blanks allowed; nothing else.
std::optional<qint64> parseInteger(const QString& text);
std::optional<double> parseDouble(const QString& text);
// ISO date, time of day, or date and time (blank or "T" between them). A
// zone offset is ignored: the wall clock of the session's zone is kept. A
// lone time of day falls on zeroDateTime()'s day.
std::optional<QDateTime> parseDateTime(const QString& text);

// Bytes of a bytea text in either server output form (hex or escape).
QByteArray decodeBytea(const QString& text);

// Day count since zeroDateTime(), fraction for the time of day.
double dayCount(const QDateTime& v);

} // namespace db
