#pragma once
// Writes whose outcome decides nothing that is sent next, sent without
// waiting for their answer: the answer travels back with that of the next
// statement, so a write and the following read share one round trip. Each
// write runs in a transaction of its own (as a statement outside a
// transaction does), so one that fails undoes nothing of the others.
//
// While writes are pending the connection must carry nothing else: no other
// statement and no turn of the event loop (its listener reads the same
// socket). open() and settle() end the pending state.

#include <exception>
#include <memory>
#include <vector>

namespace db {

class Connection;
class Query;

class Pipeline {
public:
    explicit Pipeline(Connection& connection);
    // Hears out and drops whatever is still pending.
    ~Pipeline();
    Pipeline(const Pipeline&) = delete;
    Pipeline& operator=(const Pipeline&) = delete;

    // Whether writes can be held back now: the connection is open and no
    // transaction of the caller's is active (a write must commit alone).
    bool usable() const;

    // Sends the bound write and returns at once. Its outcome is read by the
    // next open() or settle(). Raises when it could not be sent (nothing of
    // it then reached the server).
    void send(Query& write);

    // Sends the bound read behind the pending writes and reads every answer:
    // the writes' outcomes are kept for takeOutcomes(), and the read stands
    // on its first row as after Query::open(), or raises its error.
    void open(Query& read);

    // Reads the answers of every pending write.
    void settle();

    bool pending() const;

    // Reads that travelled behind held writes, sharing their round trip (a
    // read's first use waits for the writes instead, to be prepared).
    int readsBehindWrites() const;

    // Outcomes of the writes answered so far, in sending order: null for a
    // write that succeeded, else its error (a DatabaseError). A lost link
    // fails every write still unanswered with BrokenConnection: it may or
    // may not have taken effect.
    std::vector<std::exception_ptr> takeOutcomes();

private:
    struct Impl;
    std::unique_ptr<Impl> impl_;
};

} // namespace db
