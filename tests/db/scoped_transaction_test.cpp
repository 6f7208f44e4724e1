#include "db/connection.h"
#include "db/errors.h"
#include "db/query.h"
#include "db/scoped_transaction.h"
#include "support/test_db.h"

#include <gtest/gtest.h>

namespace {

// The import's grouped writes sit in a scoped transaction: when one of them
// failed and was caught, commit must raise that failure instead of passing
// the server's rollback off as success, and nothing of the group stays.
TEST(ScopedTransactionTest, CommitAfterACaughtFailureRaisesItAndKeepsNothing)
{
    testsupport::TestDatabase db;
    db.exec("CREATE TABLE t (id int PRIMARY KEY)");
    db::Connection conn(db.params());
    db::Query insert(conn);
    insert.setText("INSERT INTO t VALUES (1)");
    {
        db::ScopedTransaction transaction(conn);
        insert.exec();
        EXPECT_THROW(insert.exec(), db::DatabaseError);
        try {
            transaction.commit();
            ADD_FAILURE() << "commit reported success";
        } catch (const db::DatabaseError& e) {
            EXPECT_EQ(e.sqlState(), "23505") << e.what();
        }
    }
    EXPECT_FALSE(conn.inTransaction());
    EXPECT_EQ(db.scalar("SELECT count(*) FROM t"), "0");
}

} // namespace
