#pragma once
// Moves rows from a reader to a destination table: always insert, append
// (insert unless found) or append-update (update when found). An optional
// hook decides "found" per row; without one the destination's primary key
// does. Writes a log file, created anew or added to.

#include "db/dataset.h"

#include <QString>
#include <functional>
#include <memory>

namespace db {

class Connection;
class Query;

enum class CopyMode { AlwaysInsert, Append, AppendUpdate };

// Create: the log file is emptied when the run starts. Append: the run's
// entries follow what the file holds (created when missing), so one file can
// tell about every terminal of a run over several (see CopyLogBook).
enum class LogAction { Create, Append };

class CopyRun;

// Called once per source row in append and append-update modes, in reader
// order, before anything is written for the row. `found` enters false.
using FindDestRecord = std::function<void(CopyRun& sender, bool& found)>;

struct CopyConfig {
    // Reader: either a dataset the caller already opened (a Query or a
    // MemTable), or a connection plus a SELECT text the run opens itself.
    Dataset* reader = nullptr;
    Connection* readerConnection = nullptr;
    QString readerSql;

    // Writer: a connection plus a SELECT text whose FROM names the
    // destination table and whose list names the columns to fill.
    Connection* writerConnection = nullptr;
    QString writerSql;

    CopyMode mode = CopyMode::AlwaysInsert;
    FindDestRecord findDestRecord;

    // Full path of the log file (see logPath()).
    QString logFile;
    LogAction logAction = LogAction::Create;
    // When set, the run's entries come under a header line with this text
    // (the terminal copied to or from) and the time.
    QString logSection;
    int commitCount = 100;

    // When true the run starts, commits and rolls back no transaction of its
    // own: the caller holds one around the whole copy (all-or-nothing). A
    // group that fails is undone to where it began (a savepoint) before the
    // error is raised, so the caller's transaction stays usable.
    bool callerTransaction = false;
};

class CopyRun {
public:
    explicit CopyRun(CopyConfig config);
    ~CopyRun();

    // Returns the number of rows the run wrote itself; raises the first error.
    int run();

    // The current source row, for the hook.
    const Dataset& source() const;
    Field sourceField(const QString& name) const { return source().field(name); }
    const CopyConfig& config() const { return config_; }

private:
    struct Impl;
    CopyConfig config_;
    std::unique_ptr<Impl> impl_;
};

} // namespace db
