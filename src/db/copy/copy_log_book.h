#pragma once
// The copy logs of one run over several terminals. The run's first copy into
// a log file creates it anew; every later copy of the same run into that file
// adds its own section after it, so after the run the file tells about every
// terminal and not only about the last one.

#include "db/copy/copy_run.h"

#include <QSet>
#include <QString>

namespace db {

class CopyLogBook {
public:
    // Points `config` at the log file `path`, its entries under a header
    // naming `section`.
    void use(CopyConfig& config, const QString& path, const QString& section);

private:
    QSet<QString> started_;
};

} // namespace db
