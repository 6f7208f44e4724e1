#pragma once
// The copy logs of one run over several terminals. The run's first copy into
// a log file creates it anew; every later copy of the same run into that file
// adds its own section after it, so after the run the file tells about every
// terminal and not only about the last one.

#include "db/copy/copy_run.h"

#include <QHash>
#include <QString>

namespace db {

class CopyLogBook {
public:
    // Points `config` at the log file `path`, its entries under a header
    // naming `section`.
    void use(CopyConfig& config, const QString& path, const QString& section);

    // A line of the run's own in the log file `path` (what ended its work
    // on a link), under the header of `section` unless the file's last
    // entries are already that section's; empty `section`: under whatever
    // came last. Raises db::Error when the file cannot be written.
    void note(const QString& path, const QString& section, const QString& line);

private:
    // The section each file of the run was last written under.
    QHash<QString, QString> lastSection_;
};

} // namespace db
