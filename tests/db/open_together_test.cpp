// Several connections opened at once: each ends on its own terms, and hosts
// that keep us waiting are waited for together.

#include "common/event_pump.h"
#include "db/connection.h"
#include "db/open_together.h"
#include "db/query.h"

#include "support/silent_listener.h"
#include "support/test_db.h"

#include <QFile>
#include <QRegularExpression>

#include <gtest/gtest.h>

namespace {

using namespace std::chrono_literals;
using testsupport::TestDatabase;

db::ConnectionParams to(const QString& database, const QString& host, const QString& port,
                        const QString& user = testsupport::testUser())
{
    db::ConnectionParams p;
    p.add("Database= " + database);
    p.add("User_Name= " + user);
    p.add("Password=" + testsupport::testPassword());
    p.add("Server= " + host);
    p.add("Port= " + port);
    return p;
}

// Connects of this process still waiting for the peer's answer to their
// SYN on 127.0.0.1:port (state 02 of /proc/net/tcp).
int connectsUnderWay(int port)
{
    QFile f("/proc/net/tcp");
    if (!f.open(QIODevice::ReadOnly))
        return -1;
    const QString remote = QString(":%1").arg(port, 4, 16, QChar('0')).toUpper();
    int n = 0;
    for (const QByteArray& line : f.readAll().split('\n')) {
        const QStringList cols = QString::fromLatin1(line).simplified().split(' ');
        if (cols.size() > 3 && cols[2].endsWith(remote) && cols[3] == "02")
            ++n;
    }
    return n;
}

TEST(OpenTogether, EachConnectionEndsOnItsOwnTerms)
{
    TestDatabase db;
    testsupport::SilentListener silent;
    const QString host = testsupport::testHost();
    const QString port = QString::number(testsupport::testPort());

    db::Connection alreadyOpen(to(db.name(), host, port));
    alreadyOpen.open();
    const quint64 link = alreadyOpen.linkGeneration();
    db::Connection good(to(db.name(), host, port));
    db::Connection refused(to(db.name(), host, QString::number(testsupport::refusedPort())));
    db::Connection noDatabase(to("qs_no_such_database", host, port));
    std::vector<std::unique_ptr<db::Connection>> quiet;
    for (int i = 0; i < 4; ++i)
        quiet.push_back(std::make_unique<db::Connection>(to(db.name(), silent.host(), silent.portText())));

    std::vector<db::Connection*> all{&alreadyOpen, &good, &refused, &noDatabase};
    for (auto& q : quiet)
        all.push_back(q.get());

    // At the first turn given to the windows every silent connect is
    // under way: none waits for another to be given up.
    int underWayAtFirstTurn = -1;
    common::setEventPump([&] {
        if (underWayAtFirstTurn < 0)
            underWayAtFirstTurn = connectsUnderWay(silent.port());
    });
    const std::vector<QString> failures = db::openTogether(all, 400ms);
    common::setEventPump({});

    ASSERT_EQ(failures.size(), all.size());
    EXPECT_EQ(failures[0], "");
    EXPECT_EQ(alreadyOpen.linkGeneration(), link) << "an open connection is left as it is";
    EXPECT_EQ(failures[1], "");
    EXPECT_TRUE(good.connected());
    db::Query q(good);
    q.setText("SELECT current_database() AS D");
    q.open();
    EXPECT_EQ(q.field("D").asString(), db.name());

    EXPECT_TRUE(failures[2].contains("refused", Qt::CaseInsensitive)) << failures[2].toStdString();
    EXPECT_TRUE(failures[3].contains("qs_no_such_database")) << failures[3].toStdString();
    for (std::size_t i = 4; i < all.size(); ++i) {
        EXPECT_TRUE(failures[i].contains("timeout")) << failures[i].toStdString();
        EXPECT_FALSE(all[i]->connected());
    }
    // The listener's own filler connect hangs there too.
    EXPECT_GE(underWayAtFirstTurn, 4);
}

TEST(ConnectBatch, AnOpenedConnectionIsHandedOverWhileOthersStillWait)
{
    TestDatabase db;
    testsupport::SilentListener silent;
    db::Connection quiet(to(db.name(), silent.host(), silent.portText()));
    db::Connection good(to(db.name(), testsupport::testHost(), QString::number(testsupport::testPort())));
    db::ConnectBatch batch(5000ms);
    batch.add(quiet);
    batch.add(good);

    std::vector<db::ConnectBatch::Ended> ended;
    for (int turn = 0; turn < 500 && ended.empty(); ++turn) {
        batch.wait(10ms);
        ended = batch.takeEnded();
    }
    ASSERT_EQ(ended.size(), 1u);
    EXPECT_EQ(ended[0].connection, &good);
    EXPECT_EQ(ended[0].failure, "");
    EXPECT_TRUE(good.connected());
    EXPECT_TRUE(batch.running()) << "the silent host is still waited for";
    EXPECT_FALSE(quiet.connected());
}

TEST(OpenTogether, NothingToOpen)
{
    EXPECT_TRUE(db::openTogether({}, 100ms).empty());
}

} // namespace
