// How a statement waits: the windows run meanwhile, no second sender gets
// onto the link, a till's lock and a silent peer cost a bounded time, and a
// bound reached reads as a lost link.

#include "db/busy_links.h"
#include "db/connection.h"
#include "db/errors.h"
#include "db/link_bounds.h"
#include "db/pipeline.h"
#include "db/query.h"

#include "db_test_helpers.h"
#include "support/bare_pg.h"
#include "support/loop_gaps.h"
#include "support/tcp_proxy.h"
#include "support/test_db.h"
#include "support/wait.h"

#include <QCoreApplication>
#include <QEventLoop>
#include <QObject>
#include <QTimer>
#include <algorithm>
#include <atomic>
#include <gtest/gtest.h>
#include <thread>

namespace {

using testsupport::TcpProxy;
using testsupport::TestDatabase;

// The bounds a test sets, put back as they were when it ends.
class ScopedBounds {
public:
    explicit ScopedBounds(const db::LinkBounds& bounds) : before_(db::linkBounds()) { db::setLinkBounds(bounds); }
    ~ScopedBounds() { db::setLinkBounds(before_); }

private:
    db::LinkBounds before_;
};

void run(db::Connection& c, const QString& sql)
{
    db::Query q(c);
    q.setText(sql);
    q.exec();
}

class LinkWait : public ::testing::Test {
protected:
    void SetUp() override
    {
        db_.exec("CREATE TABLE t (id int PRIMARY KEY, n int)");
        db_.exec("INSERT INTO t VALUES (1, 0)");
    }

    // Through `proxy` when given, as a terminal's link or the server's.
    db::Connection connect(bool terminal, TcpProxy* proxy = nullptr)
    {
        db::ConnectionParams params = proxy ? testsupport::withPort(db_.params(), proxy->portText()) : db_.params();
        params.setTerminal(terminal);
        db::Connection c(params);
        c.open();
        return c;
    }

    TestDatabase db_;
};

TEST_F(LinkWait, TheLoopTurnsWhileAStatementWaitsAndNoSecondSenderGetsOn)
{
    db::Connection c = connect(false);
    testsupport::LoopGapMeter gaps;
    QObject context;
    int refused = 0, busyInside = 0, heldWork = 0;
    bool heldAtOnce = true;
    QTimer nested;
    nested.setInterval(20);
    QObject::connect(&nested, &QTimer::timeout, [&] {
        // What a click's handler would do in the middle of the statement.
        busyInside += db::linksBusy() ? 1 : 0;
        try {
            run(c, "UPDATE t SET n = n + 1");
        } catch (const db::UsageError&) {
            ++refused;
        }
        heldAtOnce = heldAtOnce && !db::whenLinksFree(&context, "handler", [&] { ++heldWork; });
    });
    nested.start();
    run(c, "SELECT pg_sleep(0.5)");
    nested.stop();

    EXPECT_GT(gaps.turns(), 20) << "the loop turned while the statement waited";
    EXPECT_GT(refused, 0);
    EXPECT_EQ(busyInside, refused);
    EXPECT_TRUE(heldAtOnce);
    EXPECT_EQ(heldWork, 0) << "held until the statement was answered";
    EXPECT_TRUE(testsupport::waitFor([&] { return heldWork > 0; }, 2000));
    QCoreApplication::sendPostedEvents(); // a second serving would be queued by now
    EXPECT_EQ(heldWork, 1) << "held work is served once";
    EXPECT_EQ(db_.scalar("SELECT n FROM t"), "0") << "nothing of the refused statements ran";
    EXPECT_FALSE(db::linksBusy());
    run(c, "UPDATE t SET n = n + 1");
    EXPECT_EQ(db_.scalar("SELECT n FROM t"), "1");
}

// The till's own software holds its sales table: a terminal's statement
// gives up after the lock bound, and its link stays usable. The holder lets
// go by itself later, so a wait without a bound would end in a success.
TEST_F(LinkWait, ATerminalStatementGivesUpOnATillsLock)
{
    db::LinkBounds bounds;
    bounds.terminalLock = std::chrono::milliseconds(300);
    ScopedBounds scoped(bounds);
    db::Connection c = connect(true);

    testsupport::PgConn till = testsupport::connectBare(db_.name());
    testsupport::PgResult(PQexec(till.get(), "BEGIN"));
    testsupport::PgResult(PQexec(till.get(), "LOCK TABLE t IN EXCLUSIVE MODE"));
    std::thread lettingGo([&] {
        std::this_thread::sleep_for(std::chrono::seconds(4));
        testsupport::PgResult(PQexec(till.get(), "COMMIT"));
    });

    try {
        run(c, "UPDATE t SET n = 5");
        ADD_FAILURE() << "the update waited for the lock's end";
    } catch (const db::DatabaseError& e) {
        EXPECT_EQ(e.sqlState(), "55P03") << e.message().toStdString();
    }
    EXPECT_TRUE(c.linkUp());
    EXPECT_EQ(db_.scalar("SELECT n FROM t"), "0");
    db::Query read(c);
    read.setText("SELECT count(*) AS N FROM t");
    read.open(); // reads go on under the lock
    EXPECT_EQ(read.field("N").asInteger(), 1);
    lettingGo.join();

    // The server's own statements wait for locks as before.
    db::Connection server = connect(false);
    db::Query setting(server);
    setting.setText("SELECT current_setting('lock_timeout') AS L");
    setting.open();
    EXPECT_EQ(setting.field("L").asString(), "0");
}

// Packets dropped, not refused: the relay stops forwarding without closing.
// The statement is cancelled at its bound, the link reads as lost, and the
// same statement is not tried again on a new link.
TEST_F(LinkWait, ASilentPeerIsGivenUpAtItsBoundAsALostLink)
{
    db::LinkBounds bounds;
    bounds.terminalAnswer = std::chrono::milliseconds(400);
    bounds.serverAnswer = std::chrono::milliseconds(700);
    ScopedBounds scoped(bounds);
    for (const bool terminal : {true, false}) {
        SCOPED_TRACE(terminal ? "terminal" : "server");
        TcpProxy proxy;
        db::Connection c = connect(terminal, &proxy);
        c.setAutoReconnect(!terminal);
        const quint64 generation = c.linkGeneration();
        proxy.setMode(TcpProxy::Mode::Stall);
        testsupport::LoopGapMeter gaps;
        try {
            db::Query q(c);
            q.setText("SELECT 1 AS ONE");
            q.open();
            ADD_FAILURE() << "a silent peer answered";
        } catch (const db::NoAnswer& e) {
            EXPECT_TRUE(e.message().contains(terminal ? "terminal" : "server")) << e.message().toStdString();
        }
        EXPECT_GT(gaps.turns(), 0);
        EXPECT_FALSE(c.linkUp());
        EXPECT_EQ(c.linkGeneration(), generation) << "no second try on a new link";

        proxy.setMode(TcpProxy::Mode::Forward);
        if (terminal) {
            EXPECT_THROW(run(c, "UPDATE t SET n = 1"), db::BrokenConnection);
            c.close();
            c.open();
        }
        run(c, "UPDATE t SET n = n + 1");
        EXPECT_NE(c.linkGeneration(), generation);
    }
    EXPECT_EQ(db_.scalar("SELECT n FROM t"), "2");
}

// A turn of the loop inside the wait that lasts past the bound (a modal box
// opened by a click) while the answer comes in: the statement has answered,
// so it must not be taken for silence, cancelled and its link dropped.
TEST_F(LinkWait, AnAnswerThatCameInDuringALongEventTurnIsNotSilence)
{
    db::LinkBounds bounds;
    bounds.terminalAnswer = std::chrono::milliseconds(300);
    bounds.serverAnswer = std::chrono::milliseconds(300);
    ScopedBounds scoped(bounds);
    for (const bool terminal : {true, false}) {
        SCOPED_TRACE(terminal ? "terminal" : "server");
        db::Connection c = connect(terminal);
        const quint64 generation = c.linkGeneration();
        QObject context;
        bool boxShown = false;
        // Fires in the wait's first turn; the answer comes 50 ms later.
        QTimer::singleShot(0, &context, [&] {
            boxShown = true;
            QEventLoop box;
            QTimer::singleShot(900, &box, &QEventLoop::quit);
            box.exec();
        });
        try {
            run(c, "UPDATE t SET n = n + 1 FROM (SELECT pg_sleep(0.05)) s");
        } catch (const db::Error& e) {
            ADD_FAILURE() << "an answered statement failed: " << e.message().toStdString();
        }
        EXPECT_TRUE(boxShown) << "the long turn came inside the wait";
        EXPECT_TRUE(c.linkUp());
        EXPECT_EQ(c.linkGeneration(), generation);
    }
    EXPECT_EQ(db_.scalar("SELECT n FROM t"), "2") << "both updates committed once";
}

// Whether the server still has session `pid`.
bool sessionThere(TestDatabase& db, const QString& pid)
{
    return db.scalar("SELECT count(*) FROM pg_stat_activity WHERE pid = " + pid) != "0";
}

// A server link given up on, or lost while an answer was due, is only gone
// on our side: its session may go on and commit the statement after the
// caller has handed its row back or sent it again. It is ended from a new link and seen gone before the
// caller hears of the failure, whether the statement went alone or as a
// held write; when no new link can be made at once, the next statement
// ends it before it goes.
TEST_F(LinkWait, AServerSessionGivenUpOnIsEndedBeforeAnythingElseGoes)
{
    // How the path dies: silent (given up at the bound), or closed (a
    // session busy with its statement does not notice until it answers).
    enum class Death { Silent, Cut, SilentHostAwayAtFirst };
    struct Case {
        const char* name;
        bool heldWrite;
        Death death;
    };
    const Case cases[] = {
        {"statement", false, Death::Silent},
        {"held write", true, Death::Silent},
        {"statement, host away at first", false, Death::SilentHostAwayAtFirst},
        {"statement, link cut", false, Death::Cut},
        {"held write, link cut", true, Death::Cut},
    };
    db::LinkBounds bounds;
    bounds.serverAnswer = std::chrono::milliseconds(500);
    bounds.reconnectAttempts = 1;
    ScopedBounds scoped(bounds);
    int id = 10;
    for (const Case& k : cases) {
        SCOPED_TRACE(k.name);
        ++id;
        TcpProxy proxy;
        db::Connection c = connect(false, &proxy);
        c.setAutoReconnect(true);
        c.setConnectTimeoutSeconds(2); // a host away costs the try no more
        db::Query who(c);
        who.setText("SELECT pg_backend_pid() AS P");
        who.open();
        const QString pid = who.field("P").asString();

        // The write reaches the server and runs there; then its path dies.
        QObject context;
        QTimer::singleShot(150, &context, [&] {
            if (k.death == Death::SilentHostAwayAtFirst)
                proxy.setMode(TcpProxy::Mode::Stall);
            else if (k.death == Death::Cut)
                proxy.cut();
            else
                proxy.silenceOpenLinks();
        });
        const QString write = QString("INSERT INTO t (id, n) SELECT %1, 0 FROM pg_sleep(20)").arg(id);
        if (k.heldWrite) {
            db::Pipeline pipeline(c);
            db::Query q(c);
            q.setText(write);
            pipeline.send(q);
            pipeline.settle();
            const std::vector<std::exception_ptr> outcomes = pipeline.takeOutcomes();
            ASSERT_EQ(outcomes.size(), 1u);
            EXPECT_THROW(std::rethrow_exception(outcomes.front()), db::BrokenConnection);
        } else {
            EXPECT_THROW(run(c, write), db::BrokenConnection);
        }

        if (k.death == Death::SilentHostAwayAtFirst) {
            EXPECT_TRUE(sessionThere(db_, pid)) << "no link to end it from yet";
            proxy.silenceOpenLinks();
            proxy.setMode(TcpProxy::Mode::Forward);
            // The old session's path stays dead: only the next statement's
            // own work can end it.
            EXPECT_TRUE(sessionThere(db_, pid));
            run(c, "UPDATE t SET n = n + 1");
        }
        EXPECT_FALSE(sessionThere(db_, pid)) << "the session given up on is gone";
        EXPECT_EQ(db_.scalar(QString("SELECT count(*) FROM t WHERE id = %1").arg(id)), "0");
        run(c, "UPDATE t SET n = n + 1");
    }
    EXPECT_EQ(db_.scalar("SELECT n FROM t WHERE id = 1"), QString::number(std::size(cases) + 1));
}

// Cancels that a silent till never answers stay stuck on their helpers.
// Only a till's cancels are capped, and a message says "cancelled" only
// when a cancel went out; a server's cancel always goes.
TEST_F(LinkWait, StuckTillCancelsNeverHoldBackAServerCancel)
{
    db::LinkBounds bounds;
    bounds.terminalAnswer = std::chrono::milliseconds(200);
    bounds.serverAnswer = std::chrono::milliseconds(400);
    bounds.reconnectAttempts = 1;
    ScopedBounds scoped(bounds);
    // Each till behind a relay of its own, stalled for good: a cancel sent
    // to it is accepted and never answered.
    std::vector<std::unique_ptr<TcpProxy>> tills;
    QStringList messages;
    for (int n = 0; n < 6; ++n) {
        tills.push_back(std::make_unique<TcpProxy>());
        db::Connection c = connect(true, tills.back().get());
        tills.back()->setMode(TcpProxy::Mode::Stall);
        try {
            run(c, "SELECT 1");
            ADD_FAILURE() << "a silent till answered";
        } catch (const db::NoAnswer& e) {
            messages << e.message();
        }
    }
    const auto cancelled = [](const QString& m) { return m.contains("cancelled"); };
    const qsizetype sent = std::count_if(messages.begin(), messages.end(), cancelled);
    EXPECT_GE(sent, 1) << messages.join("\n").toStdString();
    EXPECT_LE(sent, 4) << "the tills' cancels are capped";
    EXPECT_TRUE(cancelled(messages.front()));
    EXPECT_FALSE(cancelled(messages.back())) << messages.back().toStdString();
    EXPECT_TRUE(messages.back().contains("no cancel sent")) << messages.back().toStdString();

    TcpProxy server;
    db::Connection c = connect(false, &server);
    c.setAutoReconnect(true);
    const int linksBefore = server.accepted();
    QObject context;
    QTimer::singleShot(150, &context, [&] { server.silenceOpenLinks(); });
    try {
        run(c, "SELECT pg_sleep(20)");
        ADD_FAILURE() << "a silent server answered";
    } catch (const db::NoAnswer& e) {
        EXPECT_TRUE(cancelled(e.message())) << e.message().toStdString();
    }
    // The cancel's own link, beside the new one.
    EXPECT_TRUE(testsupport::waitFor([&] { return server.accepted() >= linksBefore + 2; }))
        << server.accepted() - linksBefore << " links";
}

} // namespace
