#include "db/polled_connect.h"

#include "common/event_pump.h"
#include "db/pg_error.h"

#include <algorithm>
#include <cerrno>
#include <poll.h>

namespace db {
namespace {

// Events run at least this often while a connect waits.
constexpr int kSliceMs = 10;

void ignoreNotice(void*, const char*) {}

} // namespace

PolledConnect::PolledConnect(const QByteArray& conninfo, std::chrono::milliseconds timeout)
    : conn_(PQconnectStart(conninfo.constData()))
    , timeoutMs_(timeout.count())
{
    clock_.start();
    if (!conn_ || PQstatus(conn_.get()) == CONNECTION_BAD)
        fail(connectionMessage(conn_.get()));
}

bool PolledConnect::step(int sliceMs)
{
    if (finished())
        return true;
    const qint64 left = timeoutMs_ - clock_.elapsed();
    if (left <= 0) {
        fail(QStringLiteral("timeout expired after %1 s").arg((timeoutMs_ + 999) / 1000));
        return true;
    }
    const int fd = PQsocket(conn_.get());
    if (fd >= 0) {
        pollfd p{fd, static_cast<short>(polling_ == PGRES_POLLING_READING ? POLLIN : POLLOUT), 0};
        const int ready = ::poll(&p, 1, static_cast<int>(std::min<qint64>(left, sliceMs)));
        if (ready == 0 || (ready < 0 && errno == EINTR))
            return false;
    }
    polling_ = PQconnectPoll(conn_.get());
    if (polling_ == PGRES_POLLING_OK) {
        // The server's notices are not the program's business; by default
        // the client library would print them on stderr.
        PQsetNoticeProcessor(conn_.get(), &ignoreNotice, nullptr);
        state_ = State::Succeeded;
    } else if (polling_ == PGRES_POLLING_FAILED) {
        fail(connectionMessage(conn_.get()));
    }
    return true;
}

void PolledConnect::driveToEnd()
{
    while (!finished()) {
        if (!step(kSliceMs))
            common::pumpEvents();
    }
}

void PolledConnect::cancel(const QString& why)
{
    if (!finished())
        fail(why);
}

PgConnPtr PolledConnect::take()
{
    return succeeded() ? std::move(conn_) : PgConnPtr();
}

void PolledConnect::fail(const QString& why)
{
    state_ = State::Failed;
    failure_ = why.isEmpty() ? QStringLiteral("could not connect to the server") : why;
    conn_.reset();
}

} // namespace db
