#pragma once
// The one way a statement waits for its answer. What was sent goes out
// without blocking, the socket is watched in short slices, and the windows
// run between slices (handlers that send statements hold back meanwhile:
// db/busy_links.h). A peer that gives no sign of life for the link's bound
// has its statement cancelled and its link dropped; the caller then sees a
// lost link (NoAnswer). Silence is judged only after the socket was read
// and watched and nothing came: an answer that came in during a long turn
// of the windows (a modal box) is an answer. Nothing else in the program
// calls a blocking client-library wait.

#include "db/pg_handles.h"

#include <QByteArray>
#include <QElapsedTimer>
#include <QString>
#include <chrono>
#include <vector>

namespace db {

// The server sessions of one connection's links. A link given up on, or
// lost while an answer was due, is only gone on our side: its session may go
// on running the statement on the server (and commit it) until it is ended
// from a new link.
struct ServerSessions {
    struct Session {
        int pid = 0;
        QElapsedTimer made; // since the link was made
    };
    Session current;
    // Left behind so and not yet seen gone, oldest first.
    std::vector<Session> leftBehind;
};

// A session as a waiting statement needs it.
struct Link {
    PGconn* conn = nullptr;
    // The longest the peer may stay silent while an answer is due.
    std::chrono::milliseconds answerBound{0};
    // Named in the message when the bound is reached: "server", "terminal".
    QString peer;
    // A server link's sessions: one given up on is noted there. Null for a
    // terminal, whose cancels are capped instead (a till's session ends
    // with its own server's time-outs, and nothing is retried on it).
    ServerSessions* sessions = nullptr;
};

// Pushes out what is queued and reads until the client library can hand
// over the next result without blocking, or the link failed (the next
// result then says so). Raises NoAnswer at the bound.
void awaitAnswer(const Link& link);

// The next result of what was sent, waited for; null after the last result
// of a statement (and in pipeline mode between statements).
PgResultPtr nextResult(const Link& link);

// Every result of what was sent last: the first error when something
// failed, else the last result (what a blocking exec returns). Stops at a
// COPY's start, which waits for the caller's data.
PgResultPtr lastResult(const Link& link);

// Sends `sql` (text parameters, nullptr for null) and waits for all of its
// results as lastResult(). Raises when it could not even be sent; the
// result itself is the caller's to check.
PgResultPtr execute(const Link& link, const QByteArray& sql, const std::vector<const char*>& params = {});

} // namespace db
