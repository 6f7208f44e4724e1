#include "db/connection.h"

#include "common/scope_exit.h"
#include "db/errors.h"
#include "db/link_bounds.h"
#include "db/link_wait.h"
#include "db/listener.h"
#include "db/pg_error.h"
#include "db/pg_handles.h"
#include "db/polled_connect.h"
#include "db/prepared_cache.h"
#include "db/result_data.h"
#include "db/statement_counts.h"
#include "db/value_text.h"

#include "common/event_pump.h"

#include <QElapsedTimer>
#include <QRegularExpression>
#include <algorithm>
#include <chrono>
#include <optional>
#include <thread>

namespace db {
namespace {

// The client library refuses anything shorter than 2 seconds.
constexpr int kMinimumConnectTimeout = 2;

// SQLSTATE of "cached plan must not change result type": the table under a
// prepared statement changed its columns.
const QString kPlanChanged = QStringLiteral("0A000");

// What every session needs whatever the database's own settings: UTF-8 text,
// ISO dates, floats written with all their digits (older servers round them),
// a bounded connect, and keepalives plus a send time-out so a peer that
// vanishes mid-statement fails the statement. A terminal's session gives up
// on a lock of the till's own software instead of waiting for its end. A
// read-only session (the health report) can change nothing.
QString sessionSettings(int connectTimeout, bool terminal, bool readOnly)
{
    const LinkBounds& bounds = linkBounds();
    QString options = QStringLiteral("-c DateStyle=ISO -c extra_float_digits=3");
    if (terminal)
        options += QStringLiteral(" -c lock_timeout=%1").arg(bounds.terminalLock.count());
    if (readOnly)
        options += QStringLiteral(" -c default_transaction_read_only=on");
    return QStringLiteral(
               " connect_timeout=%1 keepalives=1 keepalives_idle=5 keepalives_interval=2"
               " keepalives_count=3 tcp_user_timeout=%2 client_encoding=UTF8 options='%3'")
        .arg(connectTimeout)
        .arg(bounds.unacknowledged.count())
        .arg(options);
}

// Statements that leave the database as it was when they run a second
// time: reads (a sequence number drawn twice only leaves a gap) and
// session commands. None of the program's reads is a SELECT ... INTO.
bool writesNothing(const QString& sql)
{
    static const QRegularExpression firstWord(QStringLiteral("^[\\s(]*([A-Za-z]+)"));
    static const QRegularExpression into(QStringLiteral("\\bINTO\\b"), QRegularExpression::CaseInsensitiveOption);
    const QString word = firstWord.match(sql).captured(1).toUpper();
    if (word == QLatin1String("SELECT"))
        return !into.match(sql).hasMatch();
    return word == QLatin1String("SHOW") || word == QLatin1String("VALUES") || word == QLatin1String("BEGIN")
           || word == QLatin1String("LISTEN") || word == QLatin1String("UNLISTEN");
}

// Lets events run for about `ms` while a link is held: handlers that send
// hold back meanwhile (db/busy_links.h).
void pauseWhileHolding(qint64 ms)
{
    const qint64 slice = std::max<qint64>(1, linkBounds().slice.count());
    QElapsedTimer clock;
    clock.start();
    while (clock.elapsed() < ms) {
        if (common::msSinceEventsRan() >= slice)
            common::pumpWhileWaiting();
        std::this_thread::sleep_for(std::chrono::milliseconds(std::clamp<qint64>(ms - clock.elapsed(), 0, slice)));
    }
}

// A server session left behind, ended from another link of the same user.
// It is known by its pid and by having started before its link was made
// (a second to spare): a pid the server has since given to another session
// is left alone. `$2`: seconds since that link was made, less the second.
const QByteArray kEndSession
    = "SELECT pg_terminate_backend(pid), backend_start::text FROM pg_stat_activity WHERE pid = $1 "
      "AND pid <> pg_backend_pid() AND backend_start < now() - make_interval(secs => $2)";
// Whether that session is still there.
const QByteArray kSessionStill = "SELECT 1 FROM pg_stat_activity WHERE pid = $1 AND backend_start = $2";
// How often the server is asked whether it has gone.
constexpr qint64 kSessionEndPollMs = 20;

// Lets events run for about `ms` without holding the thread.
void pausePumping(int ms)
{
    QElapsedTimer clock;
    clock.start();
    while (clock.elapsed() < ms) {
        common::pumpEvents();
        std::this_thread::sleep_for(std::chrono::milliseconds(std::min<qint64>(5, ms - clock.elapsed())));
    }
}

bool valueNeedsTypes(const std::vector<Value>& params)
{
    return std::any_of(params.begin(), params.end(),
                       [](const Value& v) { return std::holds_alternative<QByteArray>(v); });
}

// Keeps the parameter texts alive while the client library reads them.
// `types`: what the server inferred, when a value needs to know.
struct ParameterTexts {
    std::vector<std::optional<QByteArray>> texts;
    std::vector<const char*> pointers;

    ParameterTexts(const std::vector<Value>& params, const std::vector<Oid>* types)
    {
        texts.reserve(params.size());
        pointers.reserve(params.size());
        for (std::size_t i = 0; i < params.size(); ++i) {
            const bool toBytea = types && i < types->size() && fieldKindForType((*types)[i]) == FieldKind::Bytes;
            texts.push_back(parameterText(params[i], toBytea));
            pointers.push_back(texts.back() ? texts.back()->constData() : nullptr);
        }
    }
};

} // namespace

struct Connection::Impl {
    ConnectionParams params;
    PgConnPtr conn;
    bool autoReconnect = false;
    int connectTimeout = static_cast<int>(linkBounds().connect.count());
    bool readOnly = false;
    // An exchange is out on the link (Connection::Exchange).
    bool busy = false;
    // A transaction the caller opened; stays set after a lost link until the
    // caller commits or rolls back, so no statement runs outside it unawares.
    bool transactionOpen = false;
    // The caller's transaction went with a link that was replaced or closed.
    bool transactionLost = false;
    // ... and it went with a close (the caller's own, or a nested run's).
    bool transactionClosed = false;
    // The first statement that failed inside the caller's transaction: what
    // its commit reports, since the server only answers ROLLBACK.
    std::optional<DatabaseError> transactionFailure;
    // Whether the statement being run was handed to the server.
    bool statementSent = false;
    // The server said it is ending the session.
    bool sessionEnding = false;
    quint64 generation = 0; // links adopted or closed so far
    PreparedCache cache;
    std::vector<Listener*> listeners;
    std::shared_ptr<PolledConnect> pending; // the connect in flight
    // Sessions of this connection's server links (none for a terminal's);
    // one left behind is noted there by the wait that saw its link go.
    mutable ServerSessions sessions;
    bool endingLeftBehind = false;

    void endTransaction()
    {
        transactionOpen = false;
        transactionLost = false;
        transactionClosed = false;
        transactionFailure.reset();
    }

    QString lostTransactionText(const char* whatBecame) const
    {
        return QStringLiteral("The %1 inside the transaction; %2")
            .arg(transactionClosed ? QStringLiteral("connection was closed")
                                   : QStringLiteral("link to the server was lost"),
                 QLatin1String(whatBecame));
    }

    bool linkBad() const { return conn && PQstatus(conn.get()) == CONNECTION_BAD; }

    Link link() const
    {
        const bool terminal = params.terminal();
        const LinkBounds& bounds = linkBounds();
        return Link{conn.get(), terminal ? bounds.terminalAnswer : bounds.serverAnswer,
                    terminal ? QStringLiteral("terminal") : QStringLiteral("server"), terminal ? nullptr : &sessions};
    }

    void refuseWhileBusy(const QString& what) const
    {
        if (busy)
            throw UsageError(QStringLiteral("The connection is waiting for the answer to another statement: ") + what);
    }

    bool serverTransactionActive() const
    {
        if (!conn)
            return false;
        const PGTransactionStatusType status = PQtransactionStatus(conn.get());
        return status == PQTRANS_INTRANS || status == PQTRANS_INERROR || status == PQTRANS_ACTIVE;
    }

    // Makes a new link and adopts it. Events run while it waits; a caller
    // nested inside them (a click, a notification) joins the connect in
    // flight instead of starting a second one or using a half-open link.
    void establish()
    {
        std::shared_ptr<PolledConnect> attempt = startAttempt(std::chrono::seconds(connectTimeout));
        common::ScopeExit done([this, &attempt] {
            if (pending == attempt)
                pending.reset();
        });
        attempt->driveToEnd();
        if (!attempt->succeeded())
            throw BrokenConnection(attempt->failure());
        // Empty when a nested caller has adopted it already.
        if (PgConnPtr fresh = attempt->take())
            adopt(std::move(fresh));
    }

    // The connect in flight, or a new one bounded by `timeout`.
    std::shared_ptr<PolledConnect> startAttempt(std::chrono::milliseconds timeout)
    {
        if (!pending) {
            const QString conninfo = params.toConninfo() + sessionSettings(connectTimeout, params.terminal(), readOnly);
            pending = std::make_shared<PolledConnect>(conninfo.toUtf8(), timeout, params.value(QStringLiteral("Server")));
        }
        return pending;
    }

    // The server's notices are not the program's business (by default the
    // client library would print them on stderr), except one: a session the
    // server ends while the connection sits idle is announced as a FATAL
    // notice before the link goes.
    static void onNotice(void* self, const PGresult* notice)
    {
        const char* severity = PQresultErrorField(notice, PG_DIAG_SEVERITY_NONLOCALIZED);
        if (severity && (qstrcmp(severity, "FATAL") == 0 || qstrcmp(severity, "PANIC") == 0))
            static_cast<Impl*>(self)->sessionEnding = true;
    }

    void adopt(PgConnPtr fresh)
    {
        conn = std::move(fresh);
        PQsetNoticeReceiver(conn.get(), &Impl::onNotice, this);
        // Nothing sent may block: the layer's waits push it out.
        PQsetnonblocking(conn.get(), 1);
        sessionEnding = false;
        sessions.current.pid = PQbackendPID(conn.get());
        sessions.current.made.start();
        ++generation;
        cache.clear();
        transactionLost = transactionOpen;
        // Copy: a listener may detach itself while resubscribing.
        const std::vector<Listener*> toTell = listeners;
        for (Listener* l : toTell)
            l->afterReconnect();
    }

    void afterStatement()
    {
        for (Listener* l : listeners)
            l->afterStatement();
    }

    PreparedStatement& prepare(const QString& sql)
    {
        if (PreparedStatement* cached = cache.find(sql))
            return *cached;
        PreparedStatement statement(sql.toUtf8());
        statement.prepare(link());
        if (auto evicted = cache.insert(sql, std::move(statement)))
            evicted->deallocate(link());
        return *cache.find(sql);
    }

    PgResultPtr execPrepared(const QString& sql, const std::vector<Value>& params)
    {
        PreparedStatement& statement = prepare(sql);
        const ParameterTexts texts(params, valueNeedsTypes(params) ? &statement.paramTypes(link()) : nullptr);
        countStatement(conn.get(), sql);
        if (!statement.send(conn.get(), texts.pointers.data(), static_cast<int>(params.size())))
            raiseFailure(conn.get(), nullptr, sql);
        statementSent = true;
        return lastResult(link());
    }

    std::shared_ptr<ResultData> runPrepared(const QString& sql, const std::vector<Value>& params)
    {
        const bool inTransaction = serverTransactionActive();
        PgResultPtr res = execPrepared(sql, params);
        if (!succeeded(res.get()) && PQstatus(conn.get()) == CONNECTION_OK) {
            const char* state = PQresultErrorField(res.get(), PG_DIAG_SQLSTATE);
            if (state && kPlanChanged == QLatin1String(state)) {
                // The table changed under the cached statement: prepare it
                // afresh. Inside a transaction the error has already spoilt
                // it, so only the next run benefits.
                if (PreparedStatement* stale = cache.find(sql)) {
                    if (!inTransaction)
                        stale->deallocate(link());
                    cache.erase(sql);
                    if (!inTransaction)
                        res = execPrepared(sql, params);
                }
            }
        }
        if (!succeeded(res.get()))
            raiseFailure(conn.get(), res.get(), sql);
        return std::make_shared<ResultData>(std::move(res));
    }

    std::vector<std::shared_ptr<ResultData>> runTogether(const std::vector<Statement>& statements)
    {
        // Prepared first: pipeline mode cannot wait for a preparation. The
        // names are copied, as preparing the next one may move the cache.
        std::vector<QByteArray> names;
        std::vector<ParameterTexts> texts;
        names.reserve(statements.size());
        texts.reserve(statements.size());
        for (const Statement& s : statements) {
            PreparedStatement& statement = prepare(s.positionalSql);
            names.push_back(statement.name());
            texts.emplace_back(s.params, valueNeedsTypes(s.params) ? &statement.paramTypes(link()) : nullptr);
        }

        PGconn* c = conn.get();
        for (const Statement& s : statements)
            countStatement(c, s.positionalSql);
        // Leaves pipeline mode whichever way this ends; after a failure
        // mid-way the link is broken and goes with the next reconnect.
        struct PipelineMode {
            PGconn* c;
            ~PipelineMode() { PQexitPipelineMode(c); }
        };
        if (!PQenterPipelineMode(c))
            raiseFailure(c, nullptr, QStringLiteral("pipeline mode"));
        PipelineMode mode{c};
        for (std::size_t i = 0; i < statements.size(); ++i) {
            if (!PQsendQueryPrepared(c, names[i].constData(), static_cast<int>(texts[i].pointers.size()),
                                     texts[i].pointers.data(), nullptr, nullptr, 0))
                raiseFailure(c, nullptr, statements[i].positionalSql);
            statementSent = true;
        }
        if (!PQpipelineSync(c))
            raiseFailure(c, nullptr, QStringLiteral("pipeline sync"));

        const Link l = link();
        std::vector<PgResultPtr> results;
        for (std::size_t i = 0; i < statements.size(); ++i) {
            PgResultPtr res = nextResult(l);
            if (!res)
                raiseFailure(c, nullptr, statements[i].positionalSql);
            PgResultPtr end = nextResult(l); // the null that ends each statement's results
            results.push_back(std::move(res));
        }
        PgResultPtr sync = nextResult(l);
        if (!sync || PQresultStatus(sync.get()) != PGRES_PIPELINE_SYNC)
            raiseFailure(c, sync.get(), QStringLiteral("pipeline sync"));

        std::vector<std::shared_ptr<ResultData>> out;
        for (std::size_t i = 0; i < results.size(); ++i) {
            if (!succeeded(results[i].get()))
                raiseFailure(c, results[i].get(), statements[i].positionalSql);
            out.push_back(std::make_shared<ResultData>(std::move(results[i])));
        }
        return out;
    }

    std::shared_ptr<ResultData> runDirect(const QString& sql)
    {
        countStatement(conn.get(), sql);
        if (!PQsendQuery(conn.get(), sql.toUtf8().constData()))
            raiseFailure(conn.get(), nullptr, sql);
        statementSent = true;
        PgResultPtr res = lastResult(link());
        if (!succeeded(res.get()))
            raiseFailure(conn.get(), res.get(), sql);
        return std::make_shared<ResultData>(std::move(res));
    }

    void reconnect(int attempts = linkBounds().reconnectAttempts)
    {
        const quint64 before = generation;
        QString lastFailure;
        for (int attempt = 0; attempt < attempts; ++attempt) {
            if (attempt > 0) {
                // A restarting server refuses at once; give it a moment.
                pausePumping(250 * attempt);
                // A caller nested in the pause may have made the link already.
                if (generation != before && conn && PQstatus(conn.get()) == CONNECTION_OK)
                    return;
            }
            try {
                establish();
                return;
            } catch (const BrokenConnection& e) {
                lastFailure = e.message();
            }
        }
        throw BrokenConnection(lastFailure);
    }

    // Ends the sessions server links left behind, from the current link
    // (a new one when that was lost too), and waits until the server shows
    // them gone: until then a statement one was running may still commit,
    // so nothing else goes out on this connection. Raises BrokenConnection
    // while one is not seen gone; it stays noted for the next statement.
    void endSessionsLeftBehind(Connection& owner, int reconnectAttempts = linkBounds().reconnectAttempts)
    {
        // Nested: a listener subscribing again on the new link.
        if (sessions.leftBehind.empty() || endingLeftBehind)
            return;
        endingLeftBehind = true;
        common::ScopeExit ended([this] { endingLeftBehind = false; });
        try {
            if (!conn || linkBad()) {
                if (!autoReconnect)
                    throw BrokenConnection(connectionMessage(conn.get()));
                reconnect(reconnectAttempts);
            }
            Exchange exchange(owner);
            while (!sessions.leftBehind.empty()) {
                endSession(sessions.leftBehind.front());
                sessions.leftBehind.erase(sessions.leftBehind.begin());
            }
        } catch (const Error& e) {
            throw BrokenConnection(
                QStringLiteral("A server session left behind by a lost link may still be running its statement and "
                               "could not be ended: ")
                + e.message().section(u'\n', 0, 0).trimmed());
        }
    }

    // The same where the caller's own failure is what it must hear, with a
    // single try at a new link: the caller has waited out a bound already.
    void endSessionsLeftBehindQuietly(Connection& owner) noexcept
    {
        try {
            endSessionsLeftBehind(owner, 1);
        } catch (...) {
            // Still noted: the next statement tries again before it goes.
        }
    }

    // By value: a wait given up on here notes the new link's session too.
    void endSession(const ServerSessions::Session session)
    {
        const Link l = link();
        const QByteArray pid = QByteArray::number(session.pid);
        const QByteArray age = QByteArray::number((session.made.elapsed() - 1000) / 1000.0, 'f', 3);
        PgResultPtr found = db::execute(l, kEndSession, {pid.constData(), age.constData()});
        if (!succeeded(found.get()))
            raiseFailure(conn.get(), found.get(), QString::fromUtf8(kEndSession));
        if (PQntuples(found.get()) == 0)
            return; // gone already
        const QByteArray started(PQgetvalue(found.get(), 0, 1));
        QElapsedTimer waited;
        waited.start();
        for (;;) {
            PgResultPtr still = db::execute(l, kSessionStill, {pid.constData(), started.constData()});
            if (!succeeded(still.get()))
                raiseFailure(conn.get(), still.get(), QString::fromUtf8(kSessionStill));
            if (PQntuples(still.get()) == 0)
                return;
            if (waited.elapsed() >= linkBounds().leftBehindSessionEnd.count())
                throw BrokenConnection(QStringLiteral("session %1 did not end within %2 s")
                                           .arg(session.pid)
                                           .arg((linkBounds().leftBehindSessionEnd.count() + 999) / 1000));
            pauseWhileHolding(kSessionEndPollMs);
        }
    }

    // A server that ended the session while the connection sat idle (a
    // restart, an administrator, an idle time-out) has said so on the socket
    // already. Reading it before a statement is sent shows the link as lost,
    // so that statement can go over a new link instead. Never waits.
    bool sessionEnded()
    {
        // The server's farewell, then the end of the stream; parsing hands
        // the farewell to onNotice (and queues notifications for listeners).
        for (int read = 0; read < 2 && PQstatus(conn.get()) == CONNECTION_OK; ++read)
            PQconsumeInput(conn.get());
        PQisBusy(conn.get());
        return sessionEnding || PQstatus(conn.get()) == CONNECTION_BAD;
    }

    // Runs `run` (the statement `sql`) on a usable link: opens a closed
    // connection, and after a lost link reconnects and runs it once more
    // when that cannot do its work twice: it never reached the server, or it
    // writes nothing. Not when reconnecting is off or a transaction was open
    // (its work went with the link; the caller decides). Listeners hear
    // about every statement, failed ones included.
    template <typename Run>
    auto withRecovery(Connection& owner, const QString& sql, Run run) -> decltype(run())
    {
        refuseWhileBusy(sql);
        common::ScopeExit notify([this] { afterStatement(); });

        // Not on a new link in autocommit: what follows would be committed
        // one statement at a time, without what went before it.
        if (transactionLost)
            throw BrokenConnection(lostTransactionText("its work is gone"), {}, sql);
        if (!conn)
            establish();
        const bool transactionBefore = transactionOpen || serverTransactionActive();
        if (autoReconnect && !transactionBefore && sessionEnded())
            reconnect();
        if (linkBad()) {
            if (!autoReconnect || transactionOpen)
                throw BrokenConnection(connectionMessage(conn.get()));
            reconnect();
        }
        endSessionsLeftBehind(owner);
        statementSent = false;
        try {
            Exchange exchange(owner);
            return run();
        } catch (const NoAnswer&) {
            // The peer that did not answer would keep a second try waiting
            // too. A server session left behind is ended first: the caller
            // may hand its rows back or send them again.
            if (autoReconnect)
                endSessionsLeftBehindQuietly(owner);
            throw;
        } catch (const BrokenConnection&) {
            // A write sent before the link went may have been committed, or
            // may still be, by a session the server has not seen lose us:
            // that session is ended, then the caller hears of it, and its own
            // duplicate tests settle what was committed.
            if (autoReconnect)
                endSessionsLeftBehindQuietly(owner);
            if (!autoReconnect || transactionBefore || (statementSent && !writesNothing(sql)))
                throw;
        } catch (const DatabaseError& e) {
            if (transactionOpen && !transactionFailure)
                transactionFailure = e;
            throw;
        }
        // The new link may be there already, made to end a session.
        if (!conn || linkBad())
            reconnect();
        endSessionsLeftBehind(owner);
        Exchange exchange(owner);
        return run();
    }
};

Connection::Connection()
    : impl_(std::make_unique<Impl>())
{
}

Connection::Connection(ConnectionParams params)
    : Connection()
{
    impl_->params = std::move(params);
}

Connection::~Connection()
{
    if (!impl_)
        return;
    for (Listener* l : impl_->listeners)
        l->connectionDestroyed();
}

Connection::Connection(Connection&&) noexcept = default;
Connection& Connection::operator=(Connection&&) noexcept = default;

ConnectionParams& Connection::params()
{
    return impl_->params;
}

const ConnectionParams& Connection::params() const
{
    return impl_->params;
}

void Connection::open()
{
    if (impl_->conn)
        return;
    impl_->establish();
    // Units that talk to the client library directly go on from here.
    impl_->endSessionsLeftBehind(*this);
}

std::shared_ptr<PolledConnect> Connection::beginOpen(std::chrono::milliseconds timeout)
{
    if (impl_->conn)
        return nullptr;
    return impl_->startAttempt(timeout);
}

void Connection::close()
{
    impl_->refuseWhileBusy(QStringLiteral("close"));
    // A connect in flight (its caller lets events run) is for lines that
    // may be about to change: nobody gets that link.
    if (impl_->pending) {
        impl_->pending->cancel(QStringLiteral("the connection was closed while connecting"));
        impl_->pending.reset();
    }
    if (!impl_->conn)
        return;
    impl_->conn.reset();
    ++impl_->generation;
    impl_->cache.clear();
    // The server rolls back a transaction whose session ends. Its owner
    // still thinks it open: its next statements and its commit raise, as
    // after a lost link, until it rolls back.
    if (impl_->transactionOpen) {
        impl_->transactionLost = true;
        impl_->transactionClosed = true;
    }
    for (Listener* l : impl_->listeners)
        l->linkClosed();
}

bool Connection::connected() const
{
    return impl_->conn != nullptr;
}

void Connection::setAutoReconnect(bool on)
{
    impl_->autoReconnect = on;
}

bool Connection::autoReconnect() const
{
    return impl_->autoReconnect;
}

void Connection::setReadOnly(bool on)
{
    impl_->readOnly = on;
}

void Connection::setConnectTimeoutSeconds(int seconds)
{
    impl_->connectTimeout = std::max(seconds, kMinimumConnectTimeout);
}

int Connection::connectTimeoutSeconds() const
{
    return impl_->connectTimeout;
}

void Connection::endSessionsLeftBehind()
{
    impl_->refuseWhileBusy(QStringLiteral("end a session left behind"));
    impl_->endSessionsLeftBehind(*this);
}

void Connection::tryEndingSessionsLeftBehind() noexcept
{
    if (!impl_->busy && impl_->autoReconnect)
        impl_->endSessionsLeftBehindQuietly(*this);
}

void Connection::reconnect()
{
    impl_->refuseWhileBusy(QStringLiteral("reconnect"));
    impl_->reconnect();
    impl_->endSessionsLeftBehind(*this);
}

std::shared_ptr<ResultData> Connection::execute(const QString& positionalSql, const std::vector<Value>& params)
{
    return impl_->withRecovery(*this, positionalSql, [&] { return impl_->runPrepared(positionalSql, params); });
}

void Connection::executeDirect(const QString& sql)
{
    impl_->withRecovery(*this, sql, [&] { return impl_->runDirect(sql); });
}

std::vector<std::shared_ptr<ResultData>> Connection::executeTogether(const std::vector<Statement>& statements)
{
    // Safe to send again after a lost link only when none of them writes.
    QString firstWrite = statements.empty() ? QString() : statements.front().positionalSql;
    for (const Statement& s : statements)
        if (!writesNothing(s.positionalSql)) {
            firstWrite = s.positionalSql;
            break;
        }
    return impl_->withRecovery(*this, firstWrite, [&] { return impl_->runTogether(statements); });
}
void Connection::startTransaction()
{
    // The transaction of whoever began it is gone, and that owner has not
    // heard yet: nobody starts another on the link until it rolls back.
    if (impl_->transactionLost)
        throw BrokenConnection(impl_->lostTransactionText("its work is gone"), {}, QStringLiteral("BEGIN"));
    if (inTransaction())
        throw UsageError(QStringLiteral("A transaction is already active"));
    executeDirect(QStringLiteral("BEGIN"));
    impl_->transactionOpen = true;
    impl_->transactionFailure.reset();
}

void Connection::commit()
{
    if (!inTransaction())
        return;
    common::ScopeExit ends([this] { impl_->endTransaction(); });
    if (impl_->transactionLost)
        throw BrokenConnection(impl_->lostTransactionText("nothing of it was committed"));
    const QString commitSql = QStringLiteral("COMMIT");
    const std::shared_ptr<ResultData> answer
        = impl_->withRecovery(*this, commitSql, [&] { return impl_->runDirect(commitSql); });
    if (!rolledBack(answer->get()))
        return;
    if (impl_->transactionFailure) {
        const DatabaseError failure = *impl_->transactionFailure;
        throw failure;
    }
    throw DatabaseError(QStringLiteral("The transaction had failed: the server rolled it back instead of committing it"),
                        QStringLiteral("25P02"), commitSql);
}

void Connection::rollback()
{
    if (!inTransaction())
        return;
    common::ScopeExit ends([this] { impl_->endTransaction(); });
    if (impl_->linkBad() || impl_->transactionLost)
        return; // the server dropped the transaction with the link
    try {
        executeDirect(QStringLiteral("ROLLBACK"));
    } catch (const BrokenConnection&) {
        // Same: nothing is left to roll back.
    }
}

bool Connection::inTransaction() const
{
    return impl_->transactionOpen || impl_->serverTransactionActive();
}

pg_conn* Connection::handle() const
{
    return impl_->conn.get();
}

Link Connection::link() const
{
    return impl_->link();
}

bool Connection::linkUp() const
{
    return impl_->conn && PQstatus(impl_->conn.get()) == CONNECTION_OK;
}

bool Connection::busy() const
{
    return impl_->busy;
}

Connection::Exchange::Exchange(Connection& connection)
    : connection_(connection)
{
    connection_.impl_->refuseWhileBusy(QStringLiteral("a second exchange"));
    connection_.impl_->busy = true;
}

Connection::Exchange::~Exchange()
{
    if (connection_.impl_)
        connection_.impl_->busy = false;
}

quint64 Connection::linkGeneration() const
{
    return impl_->generation;
}

void Connection::statementsRan()
{
    impl_->afterStatement();
}

void Connection::attach(Listener* listener)
{
    if (std::find(impl_->listeners.begin(), impl_->listeners.end(), listener) == impl_->listeners.end())
        impl_->listeners.push_back(listener);
}

void Connection::detach(Listener* listener)
{
    auto& all = impl_->listeners;
    all.erase(std::remove(all.begin(), all.end(), listener), all.end());
}

} // namespace db
