#include "db/link_wait.h"

#include "common/event_pump.h"
#include "db/busy_links.h"
#include "db/errors.h"
#include "db/link_bounds.h"
#include "db/pg_error.h"

#include <QElapsedTimer>
#include <algorithm>
#include <atomic>
#include <optional>
#include <cerrno>
#include <poll.h>
#include <sys/socket.h>
#include <thread>

namespace db {
namespace {

// A terminal's cancels in flight at once. A peer that accepts a cancel and
// never ends it keeps its helper waiting, so their number is kept small. A
// server's cancels are never held back by them: a server statement left
// running may still write.
constexpr int kMaxTerminalCancelsInFlight = 4;

std::atomic<int>& terminalCancelsInFlight()
{
    static std::atomic<int> inFlight{0};
    return inFlight;
}

// The client library's cancel connects and then waits for the peer to end
// the exchange, which a silent peer never does: it runs on a helper of its
// own while the link is dropped at once. Says why when none was sent.
QString cancelInBackground(PGconn* conn, bool capped)
{
    std::atomic<int>& inFlight = terminalCancelsInFlight();
    if (capped && inFlight.load() >= kMaxTerminalCancelsInFlight)
        return QStringLiteral("earlier cancels still wait on silent terminals");
    PGcancel* cancel = PQgetCancel(conn);
    if (!cancel)
        return QStringLiteral("the link had no socket left");
    if (capped)
        ++inFlight;
    std::thread([cancel, capped] {
        char ignored[256];
        PQcancel(cancel, ignored, sizeof ignored);
        PQfreeCancel(cancel);
        if (capped)
            --terminalCancelsInFlight();
    }).detach();
    return {};
}

// A server link lost or dropped while an answer was due: its session may go
// on without us (a peer that never saw the link end runs the statement to
// its commit), so the connection ends it from its next link before
// anything else is sent.
void noteSessionLeftBehind(const Link& link)
{
    if (!link.sessions)
        return;
    // Its pid as noted when the link was made: the client library no longer
    // tells it once the link failed.
    const ServerSessions::Session session = link.sessions->current;
    std::vector<ServerSessions::Session>& left = link.sessions->leftBehind;
    const bool noted = std::any_of(left.begin(), left.end(),
                                   [&](const ServerSessions::Session& s) { return s.pid == session.pid; });
    if (session.pid > 0 && !noted)
        left.push_back(session);
}

[[noreturn]] void giveUp(const Link& link)
{
    const bool terminal = link.sessions == nullptr;
    const QString noCancel = cancelInBackground(link.conn, terminal);
    noteSessionLeftBehind(link);
    // Shut, not closed: the handle stays valid for its owner, and the next
    // read finds the end of the stream, so the link shows as lost.
    const int fd = PQsocket(link.conn);
    if (fd >= 0)
        ::shutdown(fd, SHUT_RDWR);
    PQconsumeInput(link.conn);
    const qint64 seconds = (link.answerBound.count() + 999) / 1000;
    const QString peer = link.peer.isEmpty() ? QStringLiteral("server") : link.peer;
    if (noCancel.isEmpty())
        throw NoAnswer(QStringLiteral("No answer from the %1 for %2 s: the statement was cancelled and the link dropped")
                           .arg(peer)
                           .arg(seconds));
    throw NoAnswer(QStringLiteral("No answer from the %1 for %2 s: the link was dropped, no cancel sent (%3)")
                       .arg(peer)
                       .arg(seconds)
                       .arg(noCancel));
}

} // namespace

void awaitAnswer(const Link& link)
{
    PGconn* conn = link.conn;
    if (!conn)
        return;
    const qint64 sliceMs = std::max<qint64>(1, linkBounds().slice.count());
    const qint64 boundMs = link.answerBound.count();
    std::optional<BusyLink> busy;
    QElapsedTimer quiet; // since the peer last showed a sign of life
    quiet.start();
    for (;;) {
        const int unsent = PQflush(conn); // 0: all sent, 1: some still queued
        if (unsent < 0 || !PQconsumeInput(conn)) {
            noteSessionLeftBehind(link);
            return; // the link failed: the next result reports it
        }
        if (unsent == 0 && !PQisBusy(conn))
            return;
        if (!busy)
            busy.emplace();
        const int fd = PQsocket(conn);
        if (fd < 0)
            return;
        pollfd p{fd, static_cast<short>(POLLIN | (unsent ? POLLOUT : 0)), 0};
        // Counted across waits: neither a steady stream nor a string of
        // quick statements keeps events out for longer than a slice. A turn
        // may be long (a modal box): what came in meanwhile is a sign of
        // life, and the socket is read again before silence is judged.
        if (common::msSinceEventsRan() >= sliceMs) {
            common::pumpWhileWaiting();
            if (::poll(&p, 1, 0) > 0)
                quiet.start();
            continue;
        }
        const qint64 waitMs = std::clamp<qint64>(sliceMs - common::msSinceEventsRan(), 0, sliceMs);
        const int ready = ::poll(&p, 1, static_cast<int>(waitMs));
        if (ready > 0) {
            quiet.start();
            continue;
        }
        if (ready < 0 && errno != EINTR)
            return;
        // Silence is judged only here: the socket was read above and
        // watched since, and nothing came.
        if (ready == 0 && boundMs > 0 && quiet.elapsed() >= boundMs)
            giveUp(link);
    }
}

PgResultPtr nextResult(const Link& link)
{
    awaitAnswer(link);
    return PgResultPtr(PQgetResult(link.conn));
}

PgResultPtr lastResult(const Link& link)
{
    PgResultPtr kept;
    while (PgResultPtr next = nextResult(link)) {
        const ExecStatusType status = PQresultStatus(next.get());
        if (!kept || PQresultStatus(kept.get()) != PGRES_FATAL_ERROR)
            kept = std::move(next);
        // COPY waits for the caller's data: no further result comes by itself.
        if (status == PGRES_COPY_IN || status == PGRES_COPY_OUT || status == PGRES_COPY_BOTH)
            break;
    }
    return kept;
}

PgResultPtr execute(const Link& link, const QByteArray& sql, const std::vector<const char*>& params)
{
    if (!PQsendQueryParams(link.conn, sql.constData(), static_cast<int>(params.size()), nullptr, params.data(),
                           nullptr, nullptr, 0))
        raiseFailure(link.conn, nullptr, QString::fromUtf8(sql));
    return lastResult(link);
}

} // namespace db
