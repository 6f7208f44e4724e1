#include "db/connection.h"

#include "db/errors.h"
#include "db/listener.h"
#include "db/pg_error.h"
#include "db/pg_handles.h"
#include "db/polled_connect.h"
#include "db/prepared_cache.h"
#include "db/result_data.h"
#include "db/value_text.h"

#include "common/event_pump.h"

#include <QElapsedTimer>
#include <algorithm>
#include <chrono>
#include <optional>
#include <thread>

namespace db {
namespace {

constexpr int kDefaultConnectTimeout = 5;
// The client library refuses anything shorter than 2 seconds.
constexpr int kMinimumConnectTimeout = 2;
// A lost link is retried this many times before the statement fails, so a
// server that stays down cannot hold the UI thread for long.
constexpr int kReconnectAttempts = 3;
constexpr Oid kByteaType = 17;

// SQLSTATE of "cached plan must not change result type": the table under a
// prepared statement changed its columns.
const QString kPlanChanged = QStringLiteral("0A000");

// What every session needs whatever the database's own settings: UTF-8 text,
// ISO dates, floats written with all their digits (older servers round them),
// a bounded connect, and keepalives plus a send time-out so a peer that
// vanishes mid-statement fails the statement within about 15 seconds.
QString sessionSettings(int connectTimeout)
{
    return QStringLiteral(
               " connect_timeout=%1 keepalives=1 keepalives_idle=5 keepalives_interval=2"
               " keepalives_count=3 tcp_user_timeout=15000 client_encoding=UTF8"
               " options='-c DateStyle=ISO -c extra_float_digits=3'")
        .arg(connectTimeout);
}

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
struct ParameterTexts {
    std::vector<std::optional<QByteArray>> texts;
    std::vector<const char*> pointers;

    ParameterTexts(const std::vector<Value>& params, const PreparedStatement& statement)
    {
        texts.reserve(params.size());
        pointers.reserve(params.size());
        for (std::size_t i = 0; i < params.size(); ++i) {
            const bool toBytea = i < statement.paramTypes.size() && statement.paramTypes[i] == kByteaType;
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
    int connectTimeout = kDefaultConnectTimeout;
    // A transaction the caller opened; stays set after a lost link until the
    // caller commits or rolls back, so no statement runs outside it unawares.
    bool transactionOpen = false;
    PreparedCache cache;
    std::vector<Listener*> listeners;
    std::shared_ptr<PolledConnect> pending; // the connect in flight
    unsigned generation = 0;                // links adopted so far

    bool linkBad() const { return conn && PQstatus(conn.get()) == CONNECTION_BAD; }

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
        std::shared_ptr<PolledConnect> attempt = pending;
        if (!attempt) {
            const QString conninfo = params.toConninfo() + sessionSettings(connectTimeout);
            attempt = std::make_shared<PolledConnect>(conninfo.toUtf8(), std::chrono::seconds(connectTimeout),
                                                      params.value(QStringLiteral("Server")));
            pending = attempt;
        }
        struct Done {
            Impl& d;
            const std::shared_ptr<PolledConnect>& attempt;
            ~Done()
            {
                if (d.pending == attempt)
                    d.pending.reset();
            }
        } done{*this, attempt};
        attempt->driveToEnd();
        if (!attempt->succeeded())
            throw BrokenConnection(attempt->failure());
        // Empty when a nested caller has adopted it already.
        if (PgConnPtr fresh = attempt->take())
            adopt(std::move(fresh));
    }

    void adopt(PgConnPtr fresh)
    {
        conn = std::move(fresh);
        ++generation;
        cache.clear();
        transactionOpen = false;
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

    void deallocate(const QByteArray& name)
    {
        PgResultPtr ignored(PQexec(conn.get(), ("DEALLOCATE " + name).constData()));
    }

    PreparedStatement& prepare(const QString& sql)
    {
        if (PreparedStatement* cached = cache.find(sql))
            return *cached;
        PreparedStatement statement;
        statement.name = cache.newName();
        PgResultPtr res(PQprepare(conn.get(), statement.name.constData(), sql.toUtf8().constData(), 0, nullptr));
        if (!succeeded(res.get()))
            raiseFailure(conn.get(), res.get(), sql);
        if (auto evicted = cache.insert(sql, std::move(statement)))
            deallocate(*evicted);
        return *cache.find(sql);
    }

    void learnTypes(PreparedStatement& statement, const QString& sql)
    {
        PgResultPtr res(PQdescribePrepared(conn.get(), statement.name.constData()));
        if (!succeeded(res.get()))
            raiseFailure(conn.get(), res.get(), sql);
        statement.paramTypes.clear();
        for (int i = 0; i < PQnparams(res.get()); ++i)
            statement.paramTypes.push_back(PQparamtype(res.get(), i));
        statement.typesKnown = true;
    }

    PgResultPtr execPrepared(const QString& sql, const std::vector<Value>& params)
    {
        PreparedStatement& statement = prepare(sql);
        if (!statement.typesKnown && valueNeedsTypes(params))
            learnTypes(statement, sql);
        const ParameterTexts texts(params, statement);
        return PgResultPtr(PQexecPrepared(conn.get(), statement.name.constData(), static_cast<int>(params.size()),
                                          texts.pointers.data(), nullptr, nullptr, 0));
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
                    const QByteArray name = stale->name;
                    cache.erase(sql);
                    if (!inTransaction) {
                        deallocate(name);
                        res = execPrepared(sql, params);
                    }
                }
            }
        }
        if (!succeeded(res.get()))
            raiseFailure(conn.get(), res.get(), sql);
        return std::make_shared<ResultData>(std::move(res));
    }

    std::shared_ptr<ResultData> runDirect(const QString& sql)
    {
        PgResultPtr res(PQexec(conn.get(), sql.toUtf8().constData()));
        if (!succeeded(res.get()))
            raiseFailure(conn.get(), res.get(), sql);
        return std::make_shared<ResultData>(std::move(res));
    }

    void reconnect()
    {
        const unsigned before = generation;
        QString lastFailure;
        for (int attempt = 0; attempt < kReconnectAttempts; ++attempt) {
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

    // Runs `run` on a usable link: opens a closed connection, and after a
    // lost link reconnects and runs it once more, unless reconnecting is off
    // or a transaction was open (its work went with the link; the caller
    // decides). Listeners hear about every statement, failed ones included.
    template <typename Run>
    auto withRecovery(Run run) -> decltype(run())
    {
        struct AfterStatement {
            Impl& d;
            ~AfterStatement() { d.afterStatement(); }
        } notify{*this};

        if (!conn)
            establish();
        if (linkBad()) {
            if (!autoReconnect || transactionOpen)
                throw BrokenConnection(connectionMessage(conn.get()));
            reconnect();
        }
        const bool transactionBefore = transactionOpen || serverTransactionActive();
        try {
            return run();
        } catch (const BrokenConnection&) {
            if (!autoReconnect || transactionBefore)
                throw;
        }
        reconnect();
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
}

void Connection::close()
{
    // A connect in flight (its caller lets events run) is for lines that
    // may be about to change: nobody gets that link.
    if (impl_->pending) {
        impl_->pending->cancel(QStringLiteral("the connection was closed while connecting"));
        impl_->pending.reset();
    }
    if (!impl_->conn)
        return;
    impl_->conn.reset();
    impl_->cache.clear();
    impl_->transactionOpen = false;
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

void Connection::setConnectTimeoutSeconds(int seconds)
{
    impl_->connectTimeout = std::max(seconds, kMinimumConnectTimeout);
}

int Connection::connectTimeoutSeconds() const
{
    return impl_->connectTimeout;
}

void Connection::reconnect()
{
    impl_->reconnect();
}

std::shared_ptr<ResultData> Connection::execute(const QString& positionalSql, const std::vector<Value>& params)
{
    return impl_->withRecovery([&] { return impl_->runPrepared(positionalSql, params); });
}

void Connection::executeDirect(const QString& sql)
{
    impl_->withRecovery([&] { return impl_->runDirect(sql); });
}
void Connection::startTransaction()
{
    if (inTransaction())
        throw UsageError(QStringLiteral("A transaction is already active"));
    executeDirect(QStringLiteral("BEGIN"));
    impl_->transactionOpen = true;
}

void Connection::commit()
{
    if (!inTransaction())
        return;
    struct Ends {
        Impl& d;
        ~Ends() { d.transactionOpen = false; }
    } ends{*impl_};
    executeDirect(QStringLiteral("COMMIT"));
}

void Connection::rollback()
{
    if (!inTransaction())
        return;
    struct Ends {
        Impl& d;
        ~Ends() { d.transactionOpen = false; }
    } ends{*impl_};
    if (impl_->linkBad())
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
