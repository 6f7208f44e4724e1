#include "db/link_failure.h"

#include "db/errors.h"

namespace db {

bool isLinkFailure(const std::exception& failure)
{
    // NoAnswer (our own bound, the statement cancelled) is a BrokenConnection.
    if (dynamic_cast<const BrokenConnection*>(&failure))
        return true;
    const auto* dbError = dynamic_cast<const DatabaseError*>(&failure);
    if (!dbError)
        return false;
    const QString& state = dbError->sqlState();
    // 08: connection exception; 57: operator intervention (query_canceled,
    // admin_shutdown, crash_shutdown, cannot_connect_now); 55P03: a lock
    // wait that ran into lock_timeout.
    return state.startsWith(QLatin1String("08")) || state.startsWith(QLatin1String("57"))
           || state == QLatin1String("55P03");
}

QString failureReason(const std::exception& failure)
{
    const auto* dbError = dynamic_cast<const Error*>(&failure);
    const QString text = dbError ? dbError->message() : QString::fromUtf8(failure.what());
    return text.section(u'\n', 0, 0).trimmed();
}

} // namespace db
