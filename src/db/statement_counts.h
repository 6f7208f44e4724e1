#pragma once
// What this process has handed to its database servers, counted where the
// data layer sends: measurements take the difference over a run. Plain
// counters on the one thread that talks to the servers.

#include <QByteArrayView>
#include <QStringView>
#include <QtGlobal>

struct pg_conn; // the client library's handle, opaque outside src/db

namespace db {

struct StatementCounts {
    // Statements sent: each one of a pipeline or of a text of several,
    // BEGIN, COMMIT and savepoints included.
    quint64 statements = 0;
    // Transactions that wrote and committed: every COMMIT, and every write
    // sent while no transaction was open (it commits on its own).
    quint64 commits = 0;
    // Round trips that run nothing: preparations and descriptions.
    quint64 preparations = 0;
};

StatementCounts operator-(const StatementCounts& after, const StatementCounts& before);

// Since the process started.
StatementCounts statementCounts();

// One statement sent. `outside`: no transaction was open when it went, so a
// write commits alone.
void countStatement(QStringView sql, bool outside);
void countStatement(QByteArrayView sql, bool outside);
// The same, reading `outside` from the session. Not for a session in
// pipeline mode with statements pending: its state is not known then.
void countStatement(pg_conn* conn, QStringView sql);
void countStatement(pg_conn* conn, QByteArrayView sql);
// A text of statements joined by "; ", sent as one: a BEGIN in it opens a
// transaction for the statements after it, a COMMIT or ROLLBACK ends it.
void countStatements(pg_conn* conn, QByteArrayView text);
void countPreparation();

} // namespace db
