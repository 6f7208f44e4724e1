// A statement waited for by a process with no application object (a tool,
// a benchmark) sleeps until its answer comes: it does not spin the
// processor it shares with the server it waits for.

#include "db/connection.h"
#include "db/query.h"
#include "support/test_db.h"

#include <QCoreApplication>
#include <ctime>
#include <gtest/gtest.h>

namespace {

double processSeconds()
{
    timespec t{};
    clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &t);
    return double(t.tv_sec) + double(t.tv_nsec) / 1e9;
}

TEST(StatementWaitWithoutApplication, SleepsUntilTheAnswerComes)
{
    ASSERT_EQ(QCoreApplication::instance(), nullptr);
    testsupport::TestDatabase database;
    db::Connection connection(database.params());
    connection.open();
    db::Query sleep(connection);
    sleep.setText("SELECT pg_sleep(0.5)");
    const double before = processSeconds();
    sleep.open();
    const double used = processSeconds() - before;
    EXPECT_LT(used, 0.1) << "processor seconds spent waiting half a second";
}

} // namespace

int main(int argc, char** argv)
{
    ::testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
