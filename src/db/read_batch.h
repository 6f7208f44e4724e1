#pragma once
// Reads on several connections at once: each connection's queries are sent
// in one exchange and the call returns; the answers are read as they
// arrive, so connections whose servers take their time are waited for
// together rather than one after another. For reads run once per
// connection (a report's counts): the queries are not prepared, their
// parameters go as text, and each runs in a transaction of its own, so one
// that fails spoils none of the others.
//
// While its queries are out a connection must carry nothing else.

#include "db/errors.h"

#include <chrono>
#include <memory>
#include <optional>
#include <vector>

namespace db {

class Connection;
class Query;

class ReadBatch {
public:
    // A connection whose answers have not all come `timeout` after they were
    // sent is given up: its link is closed.
    explicit ReadBatch(std::chrono::milliseconds timeout);
    // Connections still waiting are closed: their answers would be read by
    // their next statement.
    ~ReadBatch();
    ReadBatch(const ReadBatch&) = delete;
    ReadBatch& operator=(const ReadBatch&) = delete;

    // Sends `queries`, all of one open connection, and returns at once.
    void add(const std::vector<Query*>& queries);

    // Waits at most `maxWait` for answers and reads what has arrived.
    void wait(std::chrono::milliseconds maxWait);
    bool running() const;

    // The connections whose answers are all in (or that were lost) since
    // the last call, in the order they finished. Each query that ran stands
    // on its first row as after Query::open(); `errors[i]` holds why query
    // i did not run. `lost` says why the link went (every query not yet
    // answered then counts as not run).
    struct Done {
        std::vector<Query*> queries;
        std::vector<std::optional<DatabaseError>> errors;
        std::optional<BrokenConnection> lost;
    };
    std::vector<Done> takeDone();

private:
    struct Entry;
    std::chrono::milliseconds timeout_;
    std::vector<std::unique_ptr<Entry>> entries_;
};

} // namespace db
