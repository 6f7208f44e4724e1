#pragma once
// A parameter value bound to a statement by name, with its type.

#include <QByteArray>
#include <QDate>
#include <QDateTime>
#include <QString>
#include <QTime>
#include <variant>

namespace db {

struct Null {};

using Value = std::variant<Null, QString, qint64, double, QDate, QTime, QDateTime, QByteArray>;

// Date-time read from a null field: before every real date.
QDateTime zeroDateTime();

} // namespace db
