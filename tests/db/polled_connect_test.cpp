// Connects that let the windows run while a host keeps them waiting, and
// what a caller nested in those events finds.

#include "common/event_pump.h"
#include "db/connection.h"
#include "db/errors.h"
#include "db/query.h"

#include "db_test_helpers.h"
#include "support/loop_gaps.h"
#include "support/tcp_proxy.h"
#include "support/test_db.h"

#include <QCoreApplication>

#include <gtest/gtest.h>

namespace {

using testsupport::TcpProxy;
using testsupport::TestDatabase;

db::ConnectionParams through(const TcpProxy& proxy, const TestDatabase& db)
{
    db::ConnectionParams p;
    p.add("Database= " + db.name());
    p.add("User_Name= " + testsupport::testUser());
    p.add("Password=" + testsupport::testPassword());
    p.add("Server= 127.0.0.1");
    p.add("Port= " + proxy.portText());
    return p;
}

// Counts the turns a waiting connect gives the event loop; `onTurn` runs
// inside the turn, as a click or a notification would.
class CountingPump {
public:
    CountingPump()
    {
        common::setEventPump([this] {
            ++turns;
            if (gaps)
                gaps->turn();
            if (onTurn) {
                auto once = std::move(onTurn);
                onTurn = nullptr;
                once();
            }
        });
    }
    ~CountingPump() { common::setEventPump({}); }
    int turns = 0;
    testsupport::TurnGaps* gaps = nullptr;  // marked at every turn when set
    std::function<void()> onTurn;
};

class PolledConnectTest : public ::testing::Test {
protected:
    TestDatabase db_;
    TcpProxy proxy_;
    db::Connection conn_{through(proxy_, db_)};
    CountingPump pump_;
};

TEST_F(PolledConnectTest, ASilentHostFailsAtTheTimeOutWhileEventsRun)
{
    proxy_.setMode(TcpProxy::Mode::Stall);
    conn_.setConnectTimeoutSeconds(2);
    testsupport::TurnGaps gaps;
    pump_.gaps = &gaps;
    try {
        conn_.open();
        FAIL() << "a host that never answers cannot be connected";
    } catch (const db::BrokenConnection& e) {
        EXPECT_TRUE(e.message().contains("timeout")) << e.what();
    }
    gaps.turn(); // the stretch from the last turn to the failure
    pump_.gaps = nullptr;
    EXPECT_FALSE(conn_.connected());
    // Turns all through the 2 s waited; a blocking connect gives none.
    EXPECT_LT(gaps.longestMs(), testsupport::kLongestTurnGapMs) << "on the wall clock " << gaps.longestWallMs() << " ms";
    // One attempt, given up at its bound: not retried within the time-out.
    EXPECT_EQ(proxy_.accepted(), 1);
}

TEST_F(PolledConnectTest, AStatementNestedInAConnectJoinsItInsteadOfConnectingAgain)
{
    proxy_.setMode(TcpProxy::Mode::Stall);
    QString nested;
    int nestedPid = 0;
    pump_.onTurn = [&] {
        if (nestedPid != 0)
            return;
        proxy_.setMode(TcpProxy::Mode::Forward);
        db::Query q(conn_);
        q.setText("SELECT current_database() AS DB, pg_backend_pid() AS PID");
        q.open();
        nested = q.field("DB").asString();
        nestedPid = static_cast<int>(q.field("PID").asInteger());
    };
    conn_.open();
    EXPECT_EQ(nested, db_.name());
    ASSERT_NE(nestedPid, 0);
    EXPECT_EQ(dbtest::backendPid(conn_), nestedPid) << "the outer open kept the link the nested statement made";
    EXPECT_EQ(proxy_.accepted(), 1) << "one link for both callers";
}

TEST_F(PolledConnectTest, ClosedWhileConnectingNobodyGetsTheLink)
{
    proxy_.setMode(TcpProxy::Mode::Stall);
    pump_.onTurn = [&] {
        conn_.close();
        proxy_.setMode(TcpProxy::Mode::Forward);
    };
    EXPECT_THROW(conn_.open(), db::BrokenConnection);
    EXPECT_FALSE(conn_.connected());
    conn_.open(); // a fresh connect works
    EXPECT_TRUE(conn_.connected());
}

TEST_F(PolledConnectTest, AHostNameIsLookedUpAsideAndAnUnknownOneFailsWithItsName)
{
    const db::ConnectionParams byAddress = through(proxy_, db_);
    db::ConnectionParams p;
    for (const QString& line : byAddress.lines())
        p.add(line.startsWith("Server") ? QString("Server= localhost") : line);
    db::Connection byName(p);
    byName.open();
    EXPECT_GT(dbtest::backendPid(byName), 0);

    db::ConnectionParams unknown;
    unknown.add("Server=no-such-host.invalid");
    unknown.add("Database=" + db_.name());
    db::Connection lost(unknown);
    try {
        lost.open();
        FAIL() << "an unknown name cannot be connected";
    } catch (const db::BrokenConnection& e) {
        EXPECT_TRUE(e.message().contains("no-such-host.invalid")) << e.what();
    }
}

TEST_F(PolledConnectTest, AServerLinkLostWhileTheHostIsSilentReconnectsOnceItAnswers)
{
    conn_.setAutoReconnect(true);
    conn_.setConnectTimeoutSeconds(2);
    conn_.open();
    const qint64 before = dbtest::backendPid(conn_);
    proxy_.cut();
    proxy_.setMode(TcpProxy::Mode::Stall);
    // The host answers again while the reconnect waits.
    int turnsSeen = 0;
    common::setEventPump([&] {
        if (++turnsSeen == 20)
            proxy_.setMode(TcpProxy::Mode::Forward);
    });
    const qint64 after = dbtest::backendPid(conn_);
    EXPECT_NE(after, before);
    EXPECT_GE(turnsSeen, 20);
}

} // namespace
