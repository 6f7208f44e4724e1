#pragma once
// Floors priced on the link a benchmark measures, in the same run: the
// round trip of a trivial prepared SELECT and the cost of a single-row
// autocommit INSERT (on a durable cluster, a commit waiting for its WAL
// flush), measured back to back; and the statements, commits and
// preparations the data layer counted for the run.
//
// The sequential floor prices every statement as a round trip of its own
// and every commit as an autocommit write: a run that shares round trips
// (held writes answered with the next read) can go under it, so it is
// printed as "sequential floor".

#include "bench_timing.h"
#include "db/statement_counts.h"
#include "support/bare_pg.h"

#include <libpq-fe.h>

#include <QByteArray>
#include <cstdio>
#include <stdexcept>
#include <string>

namespace benchfloor {

struct LinkCosts {
    double read = 0;  // seconds
    double write = 0; // seconds, commit included
};

inline void checked(PGconn* conn, PGresult* r)
{
    const auto status = PQresultStatus(r);
    if (status != PGRES_COMMAND_OK && status != PGRES_TUPLES_OK)
        throw std::runtime_error(PQerrorMessage(conn));
}

// `rounds` of each statement, alternating, on `conn` (the benchmark's own
// connection over the link it measures). Leaves no table behind.
inline LinkCosts measureLink(PGconn* conn, int rounds = 1000)
{
    testsupport::PgResult table(PQexec(conn, "CREATE TABLE IF NOT EXISTS qs_floor_probe (a integer, b varchar(20))"));
    checked(conn, table.get());
    testsupport::PgResult read(PQprepare(conn, "qs_floor_read", "SELECT 1", 0, nullptr));
    checked(conn, read.get());
    testsupport::PgResult write(
        PQprepare(conn, "qs_floor_write", "INSERT INTO qs_floor_probe (a, b) VALUES ($1, 'x')", 1, nullptr));
    checked(conn, write.get());
    LinkCosts costs;
    const char* params[1] = {"1"};
    for (int i = 0; i < rounds; ++i) {
        auto start = benchtiming::Clock::now();
        testsupport::PgResult r(PQexecPrepared(conn, "qs_floor_read", 0, nullptr, nullptr, nullptr, 0));
        costs.read += benchtiming::secondsSince(start);
        checked(conn, r.get());
        start = benchtiming::Clock::now();
        testsupport::PgResult w(PQexecPrepared(conn, "qs_floor_write", 1, params, nullptr, nullptr, 0));
        costs.write += benchtiming::secondsSince(start);
        checked(conn, w.get());
    }
    for (const char* sql : {"DEALLOCATE qs_floor_read", "DEALLOCATE qs_floor_write", "DROP TABLE qs_floor_probe"}) {
        testsupport::PgResult done(PQexec(conn, sql));
        checked(conn, done.get());
    }
    costs.read /= rounds;
    costs.write /= rounds;
    return costs;
}

// Statements that are not commits, and preparations, at a read's round
// trip; commits at an autocommit write's cost.
inline double sequentialFloor(const db::StatementCounts& c, const LinkCosts& link)
{
    const double reads = double(c.statements - c.commits + c.preparations);
    return reads * link.read + double(c.commits) * link.write;
}

inline std::string countsText(const db::StatementCounts& c)
{
    char text[160];
    std::snprintf(text, sizeof text, "%llu statements, %llu commits, %llu preparations",
                  static_cast<unsigned long long>(c.statements), static_cast<unsigned long long>(c.commits),
                  static_cast<unsigned long long>(c.preparations));
    return text;
}

inline std::string floorText(const db::StatementCounts& c, const LinkCosts& link)
{
    char text[240];
    std::snprintf(text, sizeof text,
                  "sequential floor %.3f s = %llu round trips x %.1f us + %llu commits x %.1f us",
                  sequentialFloor(c, link), static_cast<unsigned long long>(c.statements - c.commits + c.preparations),
                  link.read * 1e6, static_cast<unsigned long long>(c.commits), link.write * 1e6);
    return text;
}

} // namespace benchfloor
