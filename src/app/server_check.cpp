#include "app/server_check.h"

#include "db/connection.h"
#include "db/errors.h"
#include "db/query.h"
#include "terminals/probe.h"

namespace app {
namespace {

// SQLSTATEs of the read.
const QString kNoRight = QStringLiteral("42501");
const QString kNoTable = QStringLiteral("42P01");

// A database every cluster has, to tell a missing database from a refused
// login without reading the server's (possibly translated) messages.
const QString kMaintenanceDatabase = QStringLiteral("postgres");

db::ConnectionParams withDatabase(const db::ConnectionParams& params, const QString& database)
{
    db::ConnectionParams out;
    for (const QString& line : params.lines())
        if (!line.trimmed().startsWith(QLatin1String("Database"), Qt::CaseInsensitive))
            out.add(line);
    out.add(QStringLiteral("Database= ") + database);
    return out;
}

QString oneLine(const QString& text)
{
    return text.simplified();
}

// The login failed though the port answered: is the database missing, or
// the login refused?
QString loginFailure(const db::ConnectionParams& params, const QString& failure, std::chrono::seconds timeout,
                     const QString& where)
{
    const QString user = params.value(QStringLiteral("User_Name"));
    const QString database = params.value(QStringLiteral("Database"));
    if (failure.startsWith(QLatin1String("timeout expired")))
        return QStringLiteral("%1 took the connection but did not answer the login within %2 s")
            .arg(where, QString::number(timeout.count()));
    db::Connection maintenance(withDatabase(params, kMaintenanceDatabase));
    maintenance.setAutoReconnect(false);
    maintenance.setReadOnly(true);
    maintenance.setConnectTimeoutSeconds(static_cast<int>(timeout.count()));
    try {
        maintenance.open();
    } catch (const db::Error&) {
        return QStringLiteral("password refused for user \"%1\" at %2: %3").arg(user, where, oneLine(failure));
    }
    // The same login works elsewhere: the database is the trouble.
    try {
        db::Query q(maintenance);
        q.setText("SELECT COUNT(*) AS N FROM pg_catalog.pg_database WHERE datname = :NOME");
        q.bindText("NOME", database);
        q.open();
        if (q.field("N").asInteger() == 0)
            return QStringLiteral("database \"%1\" does not exist at %2").arg(database, where);
    } catch (const db::Error&) {
    }
    return QStringLiteral("user \"%1\" may not connect to database \"%2\" at %3: %4")
        .arg(user, database, where, oneLine(failure));
}

} // namespace

ServerCheck checkServer(const db::ConnectionParams& params, std::chrono::seconds timeout)
{
    ServerCheck check;
    const terminals::Endpoint endpoint = terminals::endpointOf(params);
    const QString where = endpoint.host + u':' + endpoint.port;
    const int timeoutMs = static_cast<int>(std::chrono::milliseconds(timeout).count());

    switch (terminals::probeEach({endpoint}, timeoutMs).front()) {
    case terminals::ProbeOutcome::Reached:
        break;
    case terminals::ProbeOutcome::NotFound:
        check.failure = QStringLiteral("host \"%1\" not found").arg(endpoint.host);
        return check;
    case terminals::ProbeOutcome::TimedOut:
        check.failure = QStringLiteral("host %1 did not answer within %2 s (switched off, or a firewall in the way)")
                            .arg(where, QString::number(timeout.count()));
        return check;
    case terminals::ProbeOutcome::Unreachable:
        check.failure = QStringLiteral("host %1 not reachable (no route to it)").arg(where);
        return check;
    case terminals::ProbeOutcome::Refused:
        check.failure = QStringLiteral("connection refused at %1: no database server listens on that port").arg(where);
        return check;
    default:
        check.failure = QStringLiteral("port \"%1\" is not a number from 1 to 65535").arg(endpoint.port);
        return check;
    }

    db::Connection server(params);
    server.setAutoReconnect(false);
    server.setReadOnly(true);
    server.setConnectTimeoutSeconds(static_cast<int>(timeout.count()));
    try {
        server.open();
    } catch (const db::Error& e) {
        check.failure = loginFailure(params, e.message(), timeout, where);
        return check;
    }

    const QString user = params.value(QStringLiteral("User_Name"));
    const QString database = params.value(QStringLiteral("Database"));
    try {
        db::Query q(server);
        q.setText("SELECT COUNT(*) AS N FROM LICENCA_IF");
        q.open();
        check.terminals = q.field("N").asInteger();
        check.ok = true;
    } catch (const db::DatabaseError& e) {
        if (e.sqlState() == kNoRight)
            check.failure = QStringLiteral("user \"%1\" has no right to read LICENCA_IF in \"%2\": %3")
                                .arg(user, database, oneLine(e.message()));
        else if (e.sqlState() == kNoTable)
            check.failure = QStringLiteral("database \"%1\" has no table LICENCA_IF: it is not the store's server "
                                           "database").arg(database);
        else
            check.failure = QStringLiteral("cannot read LICENCA_IF in \"%1\": %2").arg(database, oneLine(e.message()));
    } catch (const db::Error& e) {
        check.failure = QStringLiteral("cannot read LICENCA_IF in \"%1\": %2").arg(database, oneLine(e.message()));
    }
    return check;
}

} // namespace app
