#include "support/test_db.h"
#include "support/bare_pg.h"

#include <libpq-fe.h>

#include <QProcessEnvironment>
#include <atomic>
#include <memory>
#include <stdexcept>
#include <unistd.h>

namespace testsupport {
namespace {

using ConnPtr = PgConn;
using ResultPtr = PgResult;

QString env(const char* name, const QString& fallback)
{
    const QString v = qEnvironmentVariable(name);
    return v.isEmpty() ? fallback : v;
}

QString quoteConninfo(const QString& v)
{
    QString out = v;
    out.replace("\\", "\\\\").replace("'", "\\'");
    return "'" + out + "'";
}

ConnPtr connectTo(const ClusterAddress& cluster, const QString& database)
{
    QString conninfo = QString("host=%1 port=%2 user=%3 dbname=%4 connect_timeout=10")
                           .arg(quoteConninfo(cluster.host))
                           .arg(cluster.port)
                           .arg(quoteConninfo(cluster.user), quoteConninfo(database));
    if (!cluster.password.isEmpty())
        conninfo += " password=" + quoteConninfo(cluster.password);
    ConnPtr conn(PQconnectdb(conninfo.toUtf8().constData()));
    if (PQstatus(conn.get()) != CONNECTION_OK)
        throw std::runtime_error(std::string("test connection failed: ") + PQerrorMessage(conn.get()));
    return conn;
}

ResultPtr run(PGconn* conn, const QString& sql)
{
    ResultPtr res(PQexec(conn, sql.toUtf8().constData()));
    const auto status = PQresultStatus(res.get());
    if (status != PGRES_COMMAND_OK && status != PGRES_TUPLES_OK)
        throw std::runtime_error(std::string(PQresultErrorMessage(res.get())) + " in: " + sql.toStdString());
    return res;
}

QString cell(PGresult* res, int row, int col)
{
    if (PQgetisnull(res, row, col))
        return "<null>";
    return QString::fromUtf8(PQgetvalue(res, row, col));
}

QString templateName(Template kind)
{
    switch (kind) {
    case Template::Server: return "qs_tpl_server";
    case Template::Terminal: return "qs_tpl_terminal";
    case Template::Empty: break;
    }
    return "template0";
}

} // namespace

PgConn connectBare(const QString& database)
{
    return connectTo(sharedCluster(), database);
}

PgConn connectBare(const ClusterAddress& cluster, const QString& database)
{
    return connectTo(cluster, database);
}

ClusterAddress sharedCluster() { return {testHost(), testPort(), testUser(), testPassword()}; }

QString testHost() { return env("QS_TEST_PGHOST", "127.0.0.1"); }
int testPort() { return env("QS_TEST_PGPORT", "5432").toInt(); }
QString testUser() { return env("QS_TEST_PGUSER", "postgres"); }
QString testPassword() { return qEnvironmentVariable("QS_TEST_PGPASSWORD"); }

void execAdmin(const QString& sql)
{
    auto conn = connectTo(sharedCluster(), "postgres");
    run(conn.get(), sql);
}

TestDatabase::TestDatabase(Template kind, ClusterAddress cluster) : cluster_(std::move(cluster))
{
    static std::atomic<int> counter{0};
    name_ = QString("qs_t_%1_%2").arg(getpid()).arg(counter++);
    auto conn = connectTo(cluster_, "postgres");
    run(conn.get(), QString("DROP DATABASE IF EXISTS %1").arg(name_));
    run(conn.get(), QString("CREATE DATABASE %1 TEMPLATE %2").arg(name_, templateName(kind)));
}

TestDatabase::~TestDatabase()
{
    try {
        auto conn = connectTo(cluster_, "postgres");
        run(conn.get(), QString("DROP DATABASE IF EXISTS %1 WITH (FORCE)").arg(name_));
    } catch (...) {
        // A database left behind dies with the throw-away cluster.
    }
}

db::ConnectionParams TestDatabase::params() const
{
    db::ConnectionParams p;
    p.add("Database= " + name_);
    p.add("User_Name= " + cluster_.user);
    p.add("Password= " + cluster_.password);
    p.add("Server= " + cluster_.host);
    p.add("Port= " + QString::number(cluster_.port));
    p.add("MonitorBy=Remote");
    p.add("DriverID=PG");
    return p;
}

db::ConnectionParams withPort(const db::ConnectionParams& params, const QString& port)
{
    db::ConnectionParams out;
    for (const QString& line : params.lines())
        out.add(line.startsWith("Port", Qt::CaseInsensitive) ? "Port= " + port : line);
    return out;
}

void TestDatabase::exec(const QString& sql) const
{
    auto conn = connectTo(cluster_, name_);
    run(conn.get(), sql);
}

QString TestDatabase::scalar(const QString& sql) const
{
    auto conn = connectTo(cluster_, name_);
    auto res = run(conn.get(), sql);
    if (PQntuples(res.get()) == 0)
        return {};
    return cell(res.get(), 0, 0);
}

QStringList TestDatabase::rows(const QString& sql) const
{
    auto conn = connectTo(cluster_, name_);
    auto res = run(conn.get(), sql);
    QStringList out;
    for (int r = 0; r < PQntuples(res.get()); ++r) {
        QStringList cols;
        for (int c = 0; c < PQnfields(res.get()); ++c)
            cols << cell(res.get(), r, c);
        out << cols.join("|");
    }
    return out;
}

} // namespace testsupport
