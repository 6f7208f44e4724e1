#include "db/connection.h"
#include "db/sequences.h"

#include "support/test_db.h"

#include <gtest/gtest.h>

namespace {

TEST(SequencesTest, DrawsFromEachServerSequence)
{
    testsupport::TestDatabase db;
    db.exec("CREATE SEQUENCE GEN_TRANSACOES START 500");
    db.exec("CREATE SEQUENCE GEN_FECHAMENTO START 70");
    db::Connection server(db.params());
    EXPECT_EQ(db::nextTransacaoId(server), 500);
    EXPECT_EQ(db::nextTransacaoId(server), 501);
    EXPECT_EQ(db::nextFechamentoId(server), 70);
    EXPECT_EQ(db.scalar("SELECT last_value FROM gen_transacoes"), "501");
}

} // namespace
