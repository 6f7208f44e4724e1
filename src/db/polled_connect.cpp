#include "db/polled_connect.h"

#include "common/event_pump.h"
#include "db/link_bounds.h"
#include "db/pg_error.h"

#include <algorithm>
#include <cerrno>
#include <poll.h>

namespace db {
namespace {

void ignoreNotice(void*, const char*) {}

QByteArray quoted(const QString& value)
{
    QString v = value;
    v.replace(u'\\', QStringLiteral("\\\\"));
    v.replace(u'\'', QStringLiteral("\\'"));
    return ('\'' + v + '\'').toUtf8();
}

} // namespace

PolledConnect::PolledConnect(const QByteArray& conninfo, std::chrono::milliseconds timeout, const QString& hostName)
    : timeoutMs_(timeout.count())
{
    clock_.start();
    if (HostLookup::needed(hostName)) {
        hostName_ = hostName.trimmed();
        conninfo_ = conninfo;
        lookup_ = std::make_unique<HostLookup>(hostName_);
        return;
    }
    start(conninfo);
}

void PolledConnect::start(const QByteArray& conninfo)
{
    conn_.reset(PQconnectStart(conninfo.constData()));
    if (!conn_ || PQstatus(conn_.get()) == CONNECTION_BAD)
        fail(connectionMessage(conn_.get()));
}

bool PolledConnect::stepLookup(int sliceMs, qint64 leftMs)
{
    if (!lookup_->wait(std::chrono::milliseconds(std::min<qint64>(leftMs, sliceMs))))
        return false;
    const QStringList addresses = lookup_->addresses();
    const QString failure = lookup_->failure();
    lookup_.reset();
    if (addresses.isEmpty()) {
        fail(failure);
        return true;
    }
    // One host entry per address, so the library tries them in order.
    QStringList hosts;
    for (int i = 0; i < addresses.size(); ++i)
        hosts << hostName_;
    start(conninfo_ + " host=" + quoted(hosts.join(u',')) + " hostaddr=" + quoted(addresses.join(u',')));
    return true;
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
    if (lookup_)
        return stepLookup(sliceMs, left);
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

int PolledConnect::socket() const
{
    return finished() || lookup_ || !conn_ ? -1 : PQsocket(conn_.get());
}

void PolledConnect::driveToEnd()
{
    const int slice = static_cast<int>(linkBounds().slice.count());
    while (!finished()) {
        // Events run after a slice without progress, and at least once a
        // slice however quickly the handshake moves.
        if (!step(slice) || common::msSinceEventsRan() >= slice)
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
    lookup_.reset();
}

} // namespace db
