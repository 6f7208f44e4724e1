#include "db/copy/copy_log_book.h"

#include "db/copy/copy_log.h"

namespace db {

void CopyLogBook::use(CopyConfig& config, const QString& path, const QString& section)
{
    config.logFile = path;
    config.logSection = section;
    config.logAction = lastSection_.contains(path) ? LogAction::Append : LogAction::Create;
    lastSection_.insert(path, section);
}

void CopyLogBook::note(const QString& path, const QString& section, const QString& line)
{
    copy::CopyLog log(path, lastSection_.contains(path));
    const QString last = lastSection_.value(path);
    if (!section.isEmpty() && section != last)
        log.section(section);
    log.note(line);
    lastSection_.insert(path, section.isEmpty() ? last : section);
}

} // namespace db
