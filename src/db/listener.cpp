#include "db/listener.h"

#include "common/scope_exit.h"
#include "db/busy_links.h"
#include "db/connection.h"
#include "db/errors.h"
#include "db/link_bounds.h"
#include "db/pg_handles.h"

#include <QPointer>
#include <QSocketNotifier>
#include <QTimer>

namespace db {
namespace {

// Channel names are case-sensitive ("venda"), so they go quoted.
QString quotedIdentifier(const QString& name)
{
    QString inner = name;
    inner.replace(u'"', QStringLiteral("\"\""));
    return u'"' + inner + u'"';
}

// Passes over the channel list when the link changes under a subscription.
constexpr int kSubscribePasses = 3;

// A server that stays away is tried again at this pace. Connects let the
// windows run meanwhile, so a short pace costs nothing but a socket.
int retryMs()
{
    return static_cast<int>(db::linkBounds().listenerRetry.count());
}

} // namespace

Listener::Listener(Connection& connection, QObject* parent)
    : QObject(parent)
    , connection_(connection)
{
    connection_.attach(this);
}

Listener::~Listener()
{
    // No UNLISTEN here: on a dead link it could hold the thread for the
    // whole network time-out, and the subscription ends with the session.
    if (connectionAlive_)
        connection_.detach(this);
}

void Listener::setChannels(const QStringList& channels)
{
    if (active_) {
        for (const QString& ch : channels_)
            if (!channels.contains(ch))
                connection_.executeDirect("UNLISTEN " + quotedIdentifier(ch));
        for (const QString& ch : channels)
            if (!channels_.contains(ch))
                connection_.executeDirect("LISTEN " + quotedIdentifier(ch));
    }
    channels_ = channels;
}

void Listener::setActive(bool on)
{
    if (on == active_)
        return;
    if (on) {
        if (!connectionAlive_)
            throw UsageError(QStringLiteral("The listener's connection no longer exists"));
        active_ = true;
        try {
            subscribe();
        } catch (...) {
            active_ = false;
            notifier_.reset();
            throw;
        }
        return;
    }
    active_ = false;
    notifier_.reset();
    queue_.clear();
    catchUpQueued_ = false;
    if (connectionAlive_ && connection_.connected()) {
        for (const QString& ch : channels_)
            connection_.executeDirect("UNLISTEN " + quotedIdentifier(ch));
    }
}

void Listener::subscribe()
{
    subscribing_ = true;
    common::ScopeExit subscribed([this] { subscribing_ = false; });
    for (int pass = 0; pass < kSubscribePasses; ++pass) {
        relisten_ = false;
        for (const QString& ch : channels_)
            connection_.executeDirect("LISTEN " + quotedIdentifier(ch));
        if (!relisten_)
            break;
    }
    watchSocket();
    if (catchUpDue_) {
        catchUpDue_ = false;
        queueCatchUp();
    }
    // Whatever arrived while subscribing waited for the LISTENs to finish.
    if (!queue_.empty())
        scheduleDrain();
}

void Listener::watchSocket()
{
    notifier_.reset();
    PGconn* conn = connection_.handle();
    if (!conn)
        return;
    const int fd = PQsocket(conn);
    if (fd < 0)
        return;
    // Always a new notifier: a new link may reuse the old socket number.
    notifier_ = std::make_unique<QSocketNotifier>(fd, QSocketNotifier::Read);
    connect(notifier_.get(), &QSocketNotifier::activated, this, &Listener::drain);
}

void Listener::afterStatement()
{
    if (!active_ || !connectionAlive_)
        return;
    PGconn* conn = connection_.handle();
    // Stop watching a socket the client library has closed, before the
    // event loop polls it again.
    if (!conn || PQstatus(conn) == CONNECTION_BAD || (notifier_ && notifier_->socket() != PQsocket(conn)))
        notifier_.reset();
    scheduleDrain();
}

void Listener::scheduleDrain()
{
    if (drainQueued_)
        return;
    drainQueued_ = true;
    QMetaObject::invokeMethod(this, &Listener::drain, Qt::QueuedConnection);
}

void Listener::afterReconnect()
{
    if (!active_ || !connectionAlive_)
        return;
    // Notifications raised while the link was down are lost: once subscribed
    // again, the owner looks for what they asked.
    catchUpDue_ = true;
    if (subscribing_) {
        relisten_ = true;
        return;
    }
    try {
        subscribe();
    } catch (const Error&) {
        notifier_.reset();
        scheduleRecovery(0);
    }
}

void Listener::queueCatchUp()
{
    if (!resubscribed_ || catchUpQueued_)
        return;
    catchUpQueued_ = true;
    queue_.push_back({QString(), QString(), true});
    scheduleDrain();
}

void Listener::linkClosed()
{
    notifier_.reset();
}

void Listener::connectionDestroyed()
{
    connectionAlive_ = false;
    notifier_.reset();
}

void Listener::drain()
{
    drainQueued_ = false;
    if (!active_ || !connectionAlive_)
        return;
    readWaiting();
    deliverQueued();
}

void Listener::readWaiting()
{
    PGconn* conn = connection_.handle();
    if (!conn)
        return;
    const bool linkOk = PQconsumeInput(conn) != 0 && PQstatus(conn) == CONNECTION_OK;
    while (PgNotifyPtr n{PQnotifies(conn)}) {
        const QString channel = QString::fromUtf8(n->relname);
        if (channels_.contains(channel))
            queue_.push_back({channel, QString::fromUtf8(n->extra)});
    }
    if (!linkOk) {
        // A closed socket reads as always ready; watching it would spin.
        notifier_.reset();
        scheduleRecovery(0);
    }
}

void Listener::deliverQueued()
{
    // One at a time: a notification read while the handler runs (it may let
    // events run) waits in the queue until the handler returns. Nothing is
    // handed over before the LISTENs are in place: a catch-up must look for
    // pending requests only once later ones are sure to be heard.
    if (delivering_ || subscribing_ || queue_.empty())
        return;
    // Handlers send statements: not while one waits for its answer (the
    // connection is this listener's, or another link's run is in the middle
    // of a statement). They are served, in order, once every link is free.
    if (db::linksBusy()) {
        db::whenLinksFree(this, QStringLiteral("deliver"), [this] { drain(); });
        return;
    }
    QPointer<Listener> self(this);
    delivering_ = true;
    // A handler may have destroyed the listener meanwhile.
    common::ScopeExit delivered([&self] {
        if (self)
            self->delivering_ = false;
    });
    while (self && active_ && !queue_.empty()) {
        const Notification n = std::move(queue_.front());
        queue_.pop_front();
        if (n.catchUp) {
            catchUpQueued_ = false;
            if (const auto resubscribed = resubscribed_)
                resubscribed();
            continue;
        }
        if (!handler_)
            continue;
        const Handler handler = handler_; // the handler may replace itself
        handler(*this, n.channel, n.payload);
    }
}

void Listener::scheduleRecovery(int delayMs)
{
    if (recoveryScheduled_)
        return;
    recoveryScheduled_ = true;
    QTimer::singleShot(delayMs, this, [this] {
        recoveryScheduled_ = false;
        recoverLink();
    });
}

void Listener::recoverLink()
{
    // A recovery lets events run while it connects; one at a time.
    if (recovering_ || !active_ || !connectionAlive_ || !connection_.connected())
        return;
    // Not under a statement that waits: a new link would replace the one it
    // waits on.
    if (db::linksBusy() || connection_.busy()) {
        db::whenLinksFree(this, QStringLiteral("recover"), [this] { scheduleRecovery(0); });
        return;
    }
    PGconn* conn = connection_.handle();
    if (conn && PQstatus(conn) == CONNECTION_OK) {
        if (!notifier_)
            watchSocket();
        return;
    }
    // A connection that does not reconnect by itself stays as it is: its
    // next statement reports the lost link.
    if (!connection_.autoReconnect())
        return;
    // The caller's transaction is gone with the link; its next statement
    // reports that, and the reconnect follows its rollback.
    if (connection_.inTransaction()) {
        scheduleRecovery(retryMs());
        return;
    }
    QPointer<Listener> self(this);
    recovering_ = true;
    bool failed = false;
    try {
        connection_.reconnect(); // subscribes again through afterReconnect
    } catch (const Error&) {
        failed = true;
    }
    if (!self)
        return;
    recovering_ = false;
    if (failed)
        scheduleRecovery(retryMs());
}

} // namespace db
