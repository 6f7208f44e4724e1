#include "db/copy/copy_log_book.h"

namespace db {

void CopyLogBook::use(CopyConfig& config, const QString& path, const QString& section)
{
    config.logFile = path;
    config.logSection = section;
    config.logAction = started_.contains(path) ? LogAction::Append : LogAction::Create;
    started_.insert(path);
}

} // namespace db
