#pragma once
// One PostgreSQL connection described by parameter lines. Move-only (but
// not while listeners are attached: they keep a reference); the
// client-library handle is released when the object goes. Every session
// talks UTF-8 and ISO dates whatever the database's own settings.

#include "db/busy_links.h"
#include "db/connection_params.h"
#include "db/value.h"

#include <QString>
#include <chrono>
#include <functional>
#include <memory>
#include <vector>

struct pg_conn; // the client library's handle, opaque outside src/db

namespace db {

class Listener;
class PolledConnect;
class ResultData;
struct Link;

class Connection {
public:
    Connection();
    explicit Connection(ConnectionParams params);
    ~Connection();
    Connection(const Connection&) = delete;
    Connection& operator=(const Connection&) = delete;
    Connection(Connection&&) noexcept;
    Connection& operator=(Connection&&) noexcept;

    // Lines may only change while closed (callers close first).
    ConnectionParams& params();
    const ConnectionParams& params() const;

    // Open of an open connection and close of a closed one do nothing.
    // A failed open raises BrokenConnection with the server's text. A
    // statement run on a closed connection opens it first.
    void open();
    // Starts connecting without waiting, bounded by `timeout` rather than
    // the connect time-out; open() then finishes the connect (at once when
    // it has ended meanwhile). Nothing when the connection is open. See
    // openTogether(), which drives several connects at once.
    std::shared_ptr<PolledConnect> beginOpen(std::chrono::milliseconds timeout);
    // A transaction open on the link goes with it, as after a lost link:
    // its statements, its commit and a new start raise BrokenConnection
    // until its owner rolls back, even on a link opened meanwhile.
    void close();
    bool connected() const;

    // Server connections reconnect after a lost link (a bounded number of
    // times) and run the interrupted statement again when that is safe: it
    // never reached the server, or it writes nothing. A write sent before
    // the link went may already have taken effect, so it fails instead, as
    // every statement of run-time terminal connections does.
    void setAutoReconnect(bool on);
    bool autoReconnect() const;

    // Sessions opened from now on make every transaction read-only, the
    // implicit one of a lone statement included: nothing they run can
    // write.
    void setReadOnly(bool on);

    // Bounds every connect (and reconnect); a dead host fails within it.
    void setConnectTimeoutSeconds(int seconds);
    int connectTimeoutSeconds() const;

    // Every statement waits for its answer letting events run, at most the
    // bound of its kind of link (terminal or server, from the lines) while
    // the peer stays silent; then it is cancelled, the link is dropped and
    // the statement raises NoAnswer. Terminal sessions also give up on a
    // lock after LinkBounds::terminalLock.
    //
    // One sender at a time: while a statement or a write held unanswered is
    // out on the link, every other statement, and a close or reconnect,
    // raises UsageError. Handlers that send wait with db::whenLinksFree().
    bool busy() const;

    // Holds the connection for one exchange with the server (a statement
    // and its answer, or writes held unanswered); raises UsageError when it
    // is held already. For the units of src/db that talk to the client
    // library directly.
    class Exchange {
    public:
        explicit Exchange(Connection& connection);
        ~Exchange();
        Exchange(const Exchange&) = delete;
        Exchange& operator=(const Exchange&) = delete;

    private:
        Connection& connection_;
        BusyLink busy_;
    };

    // False when there is no link or the client library has found it lost.
    bool linkUp() const;

    // Drops the link and makes a new one (a bounded number of attempts),
    // then tells the listeners and ends a session left behind (below).
    // Raises BrokenConnection when every attempt fails. A transaction open
    // on the old link is gone: its statements and its commit raise
    // BrokenConnection until the caller rolls back.
    void reconnect();

    // A server link given up on (no answer within its bound), or lost while
    // an answer was due, is gone on our side only: its session may go on
    // running the statement, and commit it. Before anything else is sent
    // on this connection, and before the failure reaches the caller where a
    // new link can be made, that session is ended from the current link (a
    // new one when needed) and seen gone, events running meanwhile. This
    // does it now; nothing when there is none. Raises BrokenConnection
    // while one is not seen gone: it stays noted, and the next statement
    // tries again first.
    void endSessionsLeftBehind();
    // The same with a single try at a new link, for a caller that has just
    // waited out a bound and must report its own failure: nothing raised.
    // Only where lost links reconnect by themselves.
    void tryEndingSessionsLeftBehind() noexcept;

    // Runs one statement with positional parameters ($1..$n). Prepared once
    // per text and connection, then executed from the cache.
    std::shared_ptr<ResultData> execute(const QString& positionalSql, const std::vector<Value>& params);
    // Runs a statement without parameters and without preparing it.
    void executeDirect(const QString& sql);

    // Runs the statements in order in one exchange with the server (one
    // round trip for all of them) and returns their results in the same
    // order. The first failure is raised once every answer is in; a lost
    // link is handled as for execute().
    struct Statement {
        QString positionalSql;
        std::vector<Value> params;
    };
    std::vector<std::shared_ptr<ResultData>> executeTogether(const std::vector<Statement>& statements);

    // A second start while one is open raises UsageError. After a lost
    // link or a close inside a transaction every statement (and a start)
    // raises BrokenConnection until the caller rolls back (which then never
    // fails).
    void startTransaction();
    // Raises when the transaction did not commit: after a failed statement
    // the server answers COMMIT by rolling back, and the error is then the
    // failed statement's own.
    void commit();
    void rollback();
    bool inTransaction() const;

    // Handle for the units of src/db that talk to the client library
    // directly (batched writes, notifications). A reconnect or a close frees
    // it: a unit that keeps it across code that may run statements (a hook,
    // an event-pump turn) checks linkGeneration() before using it again.
    pg_conn* handle() const;
    // The handle with this connection's bound, for the layer's waits.
    Link link() const;
    // Changes whenever the handle does (open, reconnect, close).
    quint64 linkGeneration() const;

    // Listeners bound to this connection, told after every statement (to
    // drain notifications read meanwhile) and after a reconnect.
    void attach(Listener* listener);
    void detach(Listener* listener);
    // For units that talked to the client library directly: a NOTIFY may
    // have been read into the client's buffer meanwhile.
    void statementsRan();

private:
    struct Impl;
    std::unique_ptr<Impl> impl_;
};

} // namespace db
