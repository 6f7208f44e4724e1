#pragma once
// A connect that never holds the UI thread: the client library's handshake
// is started and then advanced in short slices, and window events run
// between slices while the host keeps us waiting. A dead or silent host
// costs the caller its time-out, but the windows repaint and serve their
// buttons meanwhile.

#include "db/host_lookup.h"
#include "db/pg_handles.h"

#include <QByteArray>
#include <QElapsedTimer>
#include <QString>
#include <chrono>
#include <memory>

namespace db {

class PolledConnect {
public:
    // Starts the handshake; nothing is waited for yet. A `hostName` that is
    // a name is looked up first, within the same time-out, and the library
    // is given its addresses (it keeps the name for authentication).
    PolledConnect(const QByteArray& conninfo, std::chrono::milliseconds timeout, const QString& hostName = {});
    PolledConnect(const PolledConnect&) = delete;
    PolledConnect& operator=(const PolledConnect&) = delete;

    // Waits at most `sliceMs` for the socket, then advances the handshake.
    // False when the socket was not ready in the slice (nothing happened).
    bool step(int sliceMs);

    // Advances the handshake to its end, letting events run whenever a
    // slice passes without progress. Safe to call from a nested event while
    // an outer caller drives the same connect: whoever sees it end first
    // ends it for both.
    void driveToEnd();

    // What the handshake waits for, so a caller driving several connects can
    // wait on all their sockets at once: the socket (-1 while a name is
    // looked up or once finished) and whether it waits to read.
    int socket() const;
    bool waitsToRead() const { return polling_ == PGRES_POLLING_READING; }

    bool finished() const { return state_ != State::Running; }
    bool succeeded() const { return state_ == State::Succeeded; }
    // The client library's text, or the time-out's.
    const QString& failure() const { return failure_; }

    // Ends a connect nobody wants any more (the connection was closed).
    void cancel(const QString& why);

    // The open connection once succeeded; empty when taken already.
    PgConnPtr take();

private:
    enum class State { Running, Succeeded, Failed };
    void start(const QByteArray& conninfo);
    bool stepLookup(int sliceMs, qint64 leftMs);
    void fail(const QString& why);

    std::unique_ptr<HostLookup> lookup_;
    QString hostName_;
    QByteArray conninfo_;
    PgConnPtr conn_;
    State state_ = State::Running;
    PostgresPollingStatusType polling_ = PGRES_POLLING_WRITING;
    QElapsedTimer clock_;
    qint64 timeoutMs_;
    QString failure_;
};

} // namespace db
