#include "db/pipeline.h"

#include "db/connection.h"
#include "db/errors.h"
#include "db/link_wait.h"
#include "db/pg_error.h"
#include "db/pg_handles.h"
#include "db/prepared_statement.h"
#include "db/query.h"
#include "db/result_data.h"
#include "db/statement_counts.h"
#include "db/value_text.h"

#include <libpq-fe.h>

#include <QHash>
#include <deque>
#include <optional>

namespace db {
namespace {

// Keeps the parameter texts alive while the client library reads them.
struct Texts {
    std::vector<std::optional<QByteArray>> texts;
    std::vector<const char*> pointers;

    Texts(const std::vector<Value>& values, const std::vector<Oid>& types)
    {
        texts.reserve(values.size());
        pointers.reserve(values.size());
        for (std::size_t i = 0; i < values.size(); ++i) {
            const bool toBytea = i < types.size() && fieldKindForType(types[i]) == FieldKind::Bytes;
            texts.push_back(parameterText(values[i], toBytea));
            pointers.push_back(texts.back() ? texts.back()->constData() : nullptr);
        }
    }
};

} // namespace

struct Pipeline::Impl {
    explicit Impl(Connection& c) : connection(c) {}

    struct Entry {
        std::shared_ptr<PreparedStatement> statement;
        bool ready = false; // prepared, its parameter types known
    };

    // Statements of this unit, prepared under names of their own (the
    // connection's cache prepares synchronously, which pipeline mode forbids),
    // with their parameter types known before the first send.
    Entry& entry(const QString& sql)
    {
        if (generation != connection.linkGeneration()) {
            for (Entry& e : statements) {
                e.statement->forget();
                e.ready = false;
            }
            generation = connection.linkGeneration();
        }
        auto it = statements.find(sql);
        if (it == statements.end())
            it = statements.insert(sql, Entry { std::make_shared<PreparedStatement>(sql.toUtf8()) });
        return *it;
    }

    // Whether `e` can be sent now; preparing waits for the server, so only
    // outside pipeline mode.
    bool ready(Entry& e, PGconn* conn)
    {
        if (!e.ready && PQpipelineStatus(conn) == PQ_PIPELINE_OFF) {
            Connection::Exchange exchange(connection);
            e.statement->paramTypes(connection.link());
            e.ready = true;
        }
        return e.ready;
    }

    // `sql`'s entry made ready after the writes were heard out: hearing
    // them out may have replaced the link (a session left behind is ended
    // from a new one), so the handle and the entry are taken again rather
    // than prepared on the new link under the old link's bookkeeping.
    Entry& readyAgain(const QString& sql, PGconn*& conn)
    {
        conn = connection.handle();
        Entry& e = entry(sql);
        ready(e, conn);
        return e;
    }

    // Sends one prepared statement and its sync: the statement then commits
    // (or fails) on its own.
    void sendOne(PGconn* conn, PreparedStatement& s, const std::vector<Value>& values, const QString& sql)
    {
        if (PQpipelineStatus(conn) == PQ_PIPELINE_OFF && !PQenterPipelineMode(conn))
            raiseFailure(conn, nullptr, QStringLiteral("pipeline mode"));
        const Texts texts(values, s.paramTypes(connection.link()));
        countStatement(sql, true);
        if (!s.send(conn, texts.pointers.data(), static_cast<int>(texts.pointers.size())) || !PQpipelineSync(conn))
            raiseFailure(conn, nullptr, sql);
    }

    // One statement's answer: its result, the null after it, and its sync.
    // A peer silent past the link's bound fails it as a lost link would.
    PgResultPtr readOne(PGconn* conn, const QString& sql, std::exception_ptr& error)
    {
        const Link link = connection.link();
        PgResultPtr result;
        try {
            result = nextResult(link);
        } catch (const NoAnswer&) {
            error = std::current_exception();
            lost = true;
            return nullptr;
        }
        if (!result) {
            error = failure(conn, nullptr, sql);
            return nullptr;
        }
        if (!succeeded(result.get()))
            error = failure(conn, result.get(), sql);
        PgResultPtr end, sync;
        try {
            end = nextResult(link); // the null that ends the statement's results
            sync = nextResult(link);
        } catch (const NoAnswer&) {
            if (!error)
                error = std::current_exception();
            lost = true;
            return result;
        }
        if (!sync || PQresultStatus(sync.get()) != PGRES_PIPELINE_SYNC) {
            if (!error)
                error = failure(conn, sync.get(), QStringLiteral("pipeline sync"));
            lost = true;
        }
        return result;
    }

    static std::exception_ptr failure(PGconn* conn, const PGresult* result, const QString& sql)
    {
        try {
            raiseFailure(conn, result, sql);
        } catch (...) {
            return std::current_exception();
        }
    }

    // Reads the answers of the pending writes into `outcomes`; after a lost
    // link every one still unanswered fails with it.
    void readWrites(PGconn* conn)
    {
        while (!pendingSql.empty()) {
            const QString sql = pendingSql.front();
            pendingSql.pop_front();
            std::exception_ptr error;
            if (lost || PQstatus(conn) != CONNECTION_OK) {
                lost = true;
                error = std::make_exception_ptr(BrokenConnection(connectionMessage(conn), {}, sql));
            } else {
                readOne(conn, sql, error);
            }
            outcomes.push_back(error);
        }
    }

    // The connection carries nothing else while writes are held: they hold it.
    void hold()
    {
        if (!holding)
            holding.emplace(connection);
    }

    void leave(PGconn* conn)
    {
        if (PQpipelineStatus(conn) != PQ_PIPELINE_OFF)
            PQexitPipelineMode(conn);
        lost = false;
        holding.reset();
        // A NOTIFY may have come in with the answers.
        connection.statementsRan();
        // A server link lost or given up on: the session it left behind is
        // ended before the caller hears the writes' outcomes, as it may hand
        // their rows back or send them again. Should that fail, the next
        // statement tries first.
        connection.tryEndingSessionsLeftBehind();
    }

    Connection& connection;
    quint64 generation = 0;
    QHash<QString, Entry> statements;
    std::deque<QString> pendingSql;
    std::vector<std::exception_ptr> outcomes;
    bool lost = false;
    int readsBehind = 0;
    std::optional<Connection::Exchange> holding;
};

Pipeline::Pipeline(Connection& connection) : impl_(std::make_unique<Impl>(connection)) {}

Pipeline::~Pipeline()
{
    try {
        settle();
    } catch (...) {
    }
}

bool Pipeline::usable() const
{
    PGconn* conn = impl_->connection.handle();
    return conn && PQstatus(conn) == CONNECTION_OK && !impl_->connection.inTransaction();
}

void Pipeline::send(Query& write)
{
    write.parseIfNeeded();
    write.close();
    const std::vector<Value> values = write.orderedValues();
    Connection& connection = impl_->connection;
    connection.open();
    // Not while a session left behind may still be writing.
    if (!pending())
        connection.endSessionsLeftBehind();
    PGconn* conn = connection.handle();
    Impl::Entry* e = &impl_->entry(write.positionalSql_);
    if (!impl_->ready(*e, conn)) {
        settle();
        e = &impl_->readyAgain(write.positionalSql_, conn);
    }
    impl_->hold();
    try {
        impl_->sendOne(conn, *e->statement, values, write.positionalSql_);
    } catch (...) {
        // Nothing else waits: the connection leaves pipeline mode for the
        // statements that follow.
        if (!pending())
            impl_->leave(conn);
        throw;
    }
    impl_->pendingSql.push_back(write.positionalSql_);
}

void Pipeline::open(Query& read)
{
    read.parseIfNeeded();
    read.close();
    const std::vector<Value> values = read.orderedValues();
    if (!pending()) {
        read.open();
        return;
    }
    PGconn* conn = impl_->connection.handle();
    Impl::Entry& e = impl_->entry(read.positionalSql_);
    if (!impl_->ready(e, conn)) {
        // Its first time: prepared now, so it can travel with writes later.
        settle();
        impl_->readyAgain(read.positionalSql_, conn);
        read.open();
        return;
    }
    std::exception_ptr error;
    bool sent = true;
    try {
        impl_->sendOne(conn, *e.statement, values, read.positionalSql_);
        ++impl_->readsBehind;
    } catch (...) {
        error = std::current_exception();
        sent = false;
    }
    impl_->readWrites(conn);
    PgResultPtr result;
    if (sent && !impl_->lost && PQstatus(conn) == CONNECTION_OK)
        result = impl_->readOne(conn, read.positionalSql_, error);
    else if (sent)
        error = std::make_exception_ptr(BrokenConnection(connectionMessage(conn), {}, read.positionalSql_));
    impl_->leave(conn);
    if (error)
        std::rethrow_exception(error);
    read.result_ = std::make_shared<ResultData>(std::move(result));
    read.first();
}

int Pipeline::readsBehindWrites() const
{
    return impl_->readsBehind;
}

void Pipeline::settle()
{
    if (!pending())
        return;
    PGconn* conn = impl_->connection.handle();
    impl_->readWrites(conn);
    impl_->leave(conn);
}

bool Pipeline::pending() const { return !impl_->pendingSql.empty(); }

std::vector<std::exception_ptr> Pipeline::takeOutcomes()
{
    std::vector<std::exception_ptr> taken;
    taken.swap(impl_->outcomes);
    return taken;
}

} // namespace db
