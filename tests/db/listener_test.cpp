#include "db/connection.h"
#include "db/errors.h"
#include "db/listener.h"
#include "db/query.h"

#include "db_test_helpers.h"
#include "support/test_db.h"
#include "support/wait.h"

#include <QCoreApplication>

#include <gtest/gtest.h>

namespace {

using testsupport::TestDatabase;
using testsupport::waitFor;

class ListenerTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        conn_.params() = db_.params();
        conn_.setAutoReconnect(true);
        conn_.open();
        listener_.setChannels({"venda", "Clientes"});
        listener_.setHandler([this](db::Listener& sender, const QString& channel, const QString& payload) {
            EXPECT_EQ(&sender, &listener_);
            heard_ << channel + ":" + payload;
            if (onHeard_)
                onHeard_(channel);
        });
        listener_.setActive(true);
    }

    // Raised from a connection of the test's own, as the store's software does.
    void notifyFromOutside(const QString& channel, const QString& payload = "")
    {
        db_.exec(QString("SELECT pg_notify('%1', '%2')").arg(channel, payload));
    }

    bool heard(int count) { return waitFor([&] { return heard_.size() >= count; }, 10000); }

    TestDatabase db_;
    db::Connection conn_;
    db::Listener listener_{conn_};
    QStringList heard_;
    std::function<void(const QString&)> onHeard_;
};

TEST_F(ListenerTest, DeliversNotificationsOfItsChannelsInOrder)
{
    notifyFromOutside("venda", "1");
    notifyFromOutside("outro", "x");       // not subscribed
    notifyFromOutside("VENDA", "x");       // channel names are case-sensitive
    notifyFromOutside("Clientes", "2");
    notifyFromOutside("venda", "3");
    ASSERT_TRUE(heard(3));
    EXPECT_EQ(heard_, QStringList({"venda:1", "Clientes:2", "venda:3"}));
}

TEST_F(ListenerTest, DeliversANotificationReadWhileAStatementRan)
{
    // The NOTIFY comes back with the statement's own result, so the socket
    // never signals it; the drain queued after the statement must find it.
    db::Query q(conn_);
    q.setText("SELECT pg_notify('venda', 'own')");
    q.exec();
    ASSERT_TRUE(heard(1));
    EXPECT_EQ(heard_, QStringList({"venda:own"}));
}

TEST_F(ListenerTest, HandsOverOneNotificationAtATime)
{
    int depth = 0;
    int deepest = 0;
    onHeard_ = [&](const QString&) {
        ++depth;
        deepest = std::max(deepest, depth);
        if (heard_.size() == 1) {
            // The handler lets events run while more notifications arrive.
            notifyFromOutside("venda", "2");
            notifyFromOutside("venda", "3");
            // Both have been read while this handler runs, and wait their turn.
            EXPECT_TRUE(waitFor([&] { return listener_.queued() == 2; }, 5000));
            EXPECT_EQ(heard_.size(), 1) << "no notification inside a running handler";
        }
        --depth;
    };
    notifyFromOutside("venda", "1");
    ASSERT_TRUE(heard(3));
    EXPECT_EQ(heard_, QStringList({"venda:1", "venda:2", "venda:3"}));
    EXPECT_EQ(deepest, 1);
}

TEST_F(ListenerTest, SwitchedOffItHearsNothingAndOnAgainItHears)
{
    listener_.setActive(false);
    notifyFromOutside("venda", "off");
    // A statement on the listener's own link: a notification still meant
    // for it arrives before the answer, and the drain queued after it runs.
    db::Query barrier(conn_);
    barrier.setText("SELECT 1");
    barrier.exec();
    QCoreApplication::sendPostedEvents();
    EXPECT_TRUE(heard_.isEmpty());

    listener_.setActive(true);
    notifyFromOutside("venda", "on");
    ASSERT_TRUE(heard(1));
    EXPECT_EQ(heard_, QStringList({"venda:on"}));

    listener_.setChannels({"clientes"}); // changed while on
    notifyFromOutside("venda", "old");
    notifyFromOutside("clientes", "new");
    ASSERT_TRUE(heard(2));
    EXPECT_EQ(heard_, QStringList({"venda:on", "clientes:new"}));
}

TEST_F(ListenerTest, KeepsListeningAfterTheNextStatementReconnects)
{
    const qint64 before = dbtest::backendPid(conn_);
    ASSERT_TRUE(dbtest::killBackend(before)); // no events run meanwhile
    db::Query q(conn_);
    q.setText("SELECT 1");
    q.exec(); // reconnects, and the listener subscribes again
    EXPECT_NE(dbtest::backendPid(conn_), before);
    notifyFromOutside("venda", "after");
    ASSERT_TRUE(heard(1));
    EXPECT_EQ(heard_, QStringList({"venda:after"}));
}

TEST_F(ListenerTest, RecoversALinkLostWhileIdle)
{
    const qint64 before = dbtest::backendPid(conn_);
    ASSERT_TRUE(dbtest::killBackend(before));
    // No statement runs: the listener notices the closed socket itself. Raise
    // notifications until one arrives, since the first may precede the new LISTEN.
    int sent = 0;
    const bool ok = waitFor([&] {
        notifyFromOutside("venda", QString::number(++sent));
        return !heard_.isEmpty();
    }, 15000);
    ASSERT_TRUE(ok);
    EXPECT_NE(dbtest::backendPid(conn_), before);
}

TEST_F(ListenerTest, CatchesUpOnceSubscribedAgainAfterALostLink)
{
    int catchUps = 0;
    listener_.setResubscribedHandler([&] {
        ++catchUps;
        // Already listening: a request raised now is heard, not lost.
        notifyFromOutside("venda", "during catch-up");
    });
    notifyFromOutside("venda", "before");
    ASSERT_TRUE(heard(1));
    EXPECT_EQ(catchUps, 0) << "the first subscription is no catch-up";

    ASSERT_TRUE(dbtest::killBackend(dbtest::backendPid(conn_)));
    ASSERT_TRUE(waitFor([&] { return catchUps > 0; }, 15000));
    ASSERT_TRUE(heard(2));
    EXPECT_EQ(heard_, QStringList({"venda:before", "venda:during catch-up"}));
    // A notification heard after the catch-up: anything queued before it
    // has been handed over by then.
    notifyFromOutside("venda", "after");
    ASSERT_TRUE(heard(3));
    EXPECT_EQ(catchUps, 1);
}

// A catch-up queued behind a running handler belongs to the subscription
// that was switched off: switched on again, the listener does not run it.
TEST_F(ListenerTest, SwitchedOffItForgetsTheCatchUpItHadQueued)
{
    int catchUps = 0;
    listener_.setResubscribedHandler([&] { ++catchUps; });
    onHeard_ = [&](const QString&) {
        if (heard_.size() != 1)
            return;
        conn_.reconnect(); // subscribes again: a catch-up waits for this handler
        ASSERT_EQ(listener_.queued(), 1u);
        listener_.setActive(false);
    };
    notifyFromOutside("venda", "1");
    ASSERT_TRUE(heard(1));
    listener_.setActive(true);
    notifyFromOutside("venda", "2");
    ASSERT_TRUE(heard(2));
    EXPECT_EQ(catchUps, 0);
}

TEST_F(ListenerTest, ATerminalConnectionIsNotRevivedBehindTheCallersBack)
{
    conn_.setAutoReconnect(false);
    ASSERT_TRUE(dbtest::killBackend(dbtest::backendPid(conn_)));
    ASSERT_TRUE(waitFor([&] { return !listener_.watching(); }, 5000)) << "the listener saw the socket close";
    db::Query q(conn_);
    q.setText("SELECT 1");
    EXPECT_THROW(q.exec(), db::BrokenConnection);
}

TEST(ListenerLifetimeTest, OutlivingItsConnectionIsHarmless)
{
    TestDatabase db;
    auto conn = std::make_unique<db::Connection>(db.params());
    db::Listener listener(*conn);
    listener.setChannels({"venda"});
    listener.setActive(true);
    conn.reset();
    QCoreApplication::processEvents(); // whatever the listener had queued runs
    EXPECT_NO_THROW(listener.setActive(false));
    EXPECT_THROW(listener.setActive(true), db::UsageError);
}

} // namespace
