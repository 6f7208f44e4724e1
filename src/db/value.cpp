#include "db/value.h"

namespace db {

QDateTime zeroDateTime()
{
    // Day 0 of the day-count calendar the store's data uses. Built once:
    // every null date-time read returns it.
    static const QDateTime zero(QDate(1899, 12, 30), QTime(0, 0));
    return zero;
}

} // namespace db
