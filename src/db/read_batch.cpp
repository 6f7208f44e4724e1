#include "db/read_batch.h"

#include "db/connection.h"
#include "db/pg_error.h"
#include "db/pg_handles.h"
#include "db/query.h"
#include "db/result_data.h"
#include "db/value_text.h"

#include <QElapsedTimer>
#include <cerrno>
#include <poll.h>

namespace db {

struct ReadBatch::Entry {
    Connection* connection = nullptr;
    quint64 generation = 0; // the link the queries went out on
    std::vector<Query*> queries;
    std::vector<std::optional<DatabaseError>> errors;
    std::optional<BrokenConnection> lost;
    QElapsedTimer clock;

    // The answer being read: each query's result, the end of its results,
    // then the sync that closes its own transaction.
    enum class Phase { Result, End, Sync };
    std::size_t next = 0;
    Phase phase = Phase::Result;
    PgResultPtr result;
    bool finished = false;
    bool reported = false;

    PGconn* conn() const { return connection->handle(); }

    // The link went, or is no longer the one the queries went out on.
    void loseLink(const QString& why)
    {
        lost = BrokenConnection(why);
        for (std::size_t i = next; i < queries.size(); ++i)
            errors[i] = *lost;
        finished = true;
        // Answers still to come would be read by the next statement; a link
        // someone else has replaced meanwhile is not ours to close.
        if (connection && connection->linkGeneration() == generation)
            connection->close();
    }

    void send()
    {
        PGconn* c = conn();
        if (!c) {
            loseLink(QStringLiteral("the connection is not open"));
            return;
        }
        if (!PQenterPipelineMode(c) || PQsetnonblocking(c, 1) != 0) {
            loseLink(connectionMessage(c));
            return;
        }
        for (Query* q : queries) {
            std::vector<std::optional<QByteArray>> texts;
            std::vector<const char*> pointers;
            for (const Value& v : q->orderedValues()) {
                texts.push_back(parameterText(v, false));
                pointers.push_back(texts.back() ? texts.back()->constData() : nullptr);
            }
            if (!PQsendQueryParams(c, q->positionalSql_.toUtf8().constData(), static_cast<int>(pointers.size()),
                                   nullptr, pointers.data(), nullptr, nullptr, 0)
                || !PQpipelineSync(c)) {
                loseLink(connectionMessage(c));
                return;
            }
        }
        flush();
    }

    // What is still in the client's buffer goes out as the socket takes it.
    bool needsFlush() const { return !finished && PQflush(conn()) == 1; }
    void flush()
    {
        if (!finished && PQflush(conn()) < 0)
            loseLink(connectionMessage(conn()));
    }

    void readArrived()
    {
        if (finished)
            return;
        if (connection->linkGeneration() != generation || !conn()) {
            loseLink(QStringLiteral("the connection was closed while its reads were out"));
            return;
        }
        PGconn* c = conn();
        flush();
        if (finished)
            return;
        if (!PQconsumeInput(c) || PQstatus(c) == CONNECTION_BAD) {
            loseLink(connectionMessage(c));
            return;
        }
        while (!finished && !PQisBusy(c))
            take(PgResultPtr(PQgetResult(c)));
    }

    void take(PgResultPtr res)
    {
        PGconn* c = conn();
        switch (phase) {
        case Phase::Result:
            if (!res) {
                loseLink(connectionMessage(c));
                return;
            }
            result = std::move(res);
            phase = Phase::End;
            return;
        case Phase::End:
            // Any further result of the same query is dropped.
            if (!res)
                phase = Phase::Sync;
            return;
        case Phase::Sync:
            if (!res || PQresultStatus(res.get()) != PGRES_PIPELINE_SYNC) {
                loseLink(connectionMessage(c));
                return;
            }
            settle();
            return;
        }
    }

    // The answer of query `next` is complete.
    void settle()
    {
        Query* q = queries[next];
        if (succeeded(result.get())) {
            q->result_ = std::make_shared<ResultData>(std::move(result));
            q->first();
        } else {
            try {
                raiseFailure(conn(), result.get(), q->positionalSql_);
            } catch (const DatabaseError& e) {
                errors[next] = e;
            }
        }
        result.reset();
        phase = Phase::Result;
        if (++next < queries.size())
            return;
        PGconn* c = conn();
        const bool left = PQexitPipelineMode(c) && PQsetnonblocking(c, 0) == 0;
        finished = true;
        if (!left)
            loseLink(connectionMessage(c));
        else
            connection->statementsRan();
    }
};

ReadBatch::ReadBatch(std::chrono::milliseconds timeout) : timeout_(timeout) {}

ReadBatch::~ReadBatch()
{
    for (auto& e : entries_)
        if (!e->finished && e->connection->linkGeneration() == e->generation)
            e->connection->close();
}

void ReadBatch::add(const std::vector<Query*>& queries)
{
    auto e = std::make_unique<Entry>();
    e->queries = queries;
    e->errors.resize(queries.size());
    e->clock.start();
    if (queries.empty()) {
        e->finished = true;
        entries_.push_back(std::move(e));
        return;
    }
    e->connection = queries.front()->connection_;
    for (Query* q : queries) {
        if (!q->connection_ || q->connection_ != e->connection)
            throw UsageError(QStringLiteral("Queries read together need one connection"));
        q->parseIfNeeded();
        q->close();
    }
    e->generation = e->connection->linkGeneration();
    e->send();
    entries_.push_back(std::move(e));
}

void ReadBatch::wait(std::chrono::milliseconds maxWait)
{
    std::vector<pollfd> sockets;
    std::vector<Entry*> waiting;
    for (auto& e : entries_) {
        if (e->finished)
            continue;
        if (e->connection->linkGeneration() != e->generation || !e->conn()) {
            e->loseLink(QStringLiteral("the connection was closed while its reads were out"));
            continue;
        }
        const short events = static_cast<short>(POLLIN | (e->needsFlush() ? POLLOUT : 0));
        sockets.push_back({PQsocket(e->conn()), events, 0});
        waiting.push_back(e.get());
    }
    if (waiting.empty())
        return;
    if (::poll(sockets.data(), sockets.size(), static_cast<int>(maxWait.count())) < 0 && errno != EINTR)
        return;
    for (std::size_t k = 0; k < waiting.size(); ++k) {
        Entry& e = *waiting[k];
        if (sockets[k].revents != 0)
            e.readArrived();
        if (!e.finished && e.clock.elapsed() >= timeout_.count())
            e.loseLink(QStringLiteral("no answer within %1 ms").arg(timeout_.count()));
    }
}

bool ReadBatch::running() const
{
    for (const auto& e : entries_)
        if (!e->finished)
            return true;
    return false;
}

std::vector<ReadBatch::Done> ReadBatch::takeDone()
{
    std::vector<Done> done;
    for (auto& e : entries_) {
        if (!e->finished || e->reported)
            continue;
        e->reported = true;
        done.push_back({e->queries, e->errors, e->lost});
    }
    return done;
}

} // namespace db
