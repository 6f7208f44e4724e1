#include "db/value.h"

namespace db {

QDateTime zeroDateTime()
{
    // Day 0 of the day-count calendar the store's data uses.
    return QDateTime(QDate(1899, 12, 30), QTime(0, 0));
}

} // namespace db
