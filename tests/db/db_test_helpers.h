#pragma once
// Small helpers shared by the data-access tests.

#include "db/connection.h"
#include "db/query.h"
#include "support/test_db.h"

#include <QElapsedTimer>
#include <QString>
#include <functional>

namespace dbtest {

inline qint64 backendPid(db::Connection& conn)
{
    db::Query q(conn);
    q.setText("SELECT pg_backend_pid() AS PID");
    q.open();
    return q.field("PID").asInteger();
}

// Polls without running events (so no listener reacts meanwhile); each
// round is a query of its own, bounded by the time-out.
inline bool pollFor(const std::function<bool()>& condition, int timeoutMs = 10000)
{
    QElapsedTimer timer;
    timer.start();
    while (!condition()) {
        if (timer.elapsed() > timeoutMs)
            return condition();
    }
    return true;
}

inline db::ConnectionParams adminParams()
{
    db::ConnectionParams p;
    p.add("Server=" + testsupport::testHost());
    p.add("Port=" + QString::number(testsupport::testPort()));
    p.add("User_Name=" + testsupport::testUser());
    p.add("Password=" + testsupport::testPassword());
    p.add("Database=postgres");
    return p;
}

// Ends a server session from outside, as a dropped link or an admin would,
// and waits until the server has let it go.
inline bool killBackend(qint64 pid)
{
    db::Connection admin(adminParams());
    db::Query q(admin);
    q.setText("SELECT pg_terminate_backend(:PID)");
    q.bindInteger("PID", pid);
    q.exec();
    return pollFor([&] {
        q.setText("SELECT count(*) AS N FROM pg_stat_activity WHERE pid = :PID");
        q.bindInteger("PID", pid);
        q.open();
        return q.field("N").asInteger() == 0;
    });
}

} // namespace dbtest
