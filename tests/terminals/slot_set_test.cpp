#include "db/errors.h"
#include "db/query.h"
#include "terminal_fixture.h"
#include "terminals/licenca_row.h"
#include "terminals/slot_set.h"

#include <gtest/gtest.h>

using namespace terminals;
using namespace termtest;

namespace {

LicencaRow rowFor(const QString& database, const QString& user = testsupport::testUser(),
                  const QString& password = testsupport::testPassword())
{
    LicencaRow r;
    r.numEcf = "005";
    r.banco = database;
    r.usuario = user;
    r.senha = password;
    r.ip = testsupport::testHost();
    r.porta = QString::number(testsupport::testPort());
    return r;
}

QString currentDatabase(db::Connection& c)
{
    db::Query q(c);
    q.setText("SELECT current_database() AS DB");
    q.prepare();
    q.open();
    return q.field("DB").asString();
}

} // namespace

TEST(SlotSet, OpensASlotFromItsRowAndRebuildsItOnTheNextOpen)
{
    TestDatabase first(Template::Terminal);
    TestDatabase second(Template::Terminal);
    SlotSet slotSet = SlotSet::forSales();

    slotSet.openFromRow(5, rowFor(first.name()));
    EXPECT_TRUE(slotSet.isOpen(5));
    EXPECT_FALSE(slotSet.isOpen(4));
    EXPECT_EQ(currentDatabase(slotSet.slot(5)), first.name());

    slotSet.openFromRow(5, rowFor(second.name()));
    EXPECT_EQ(slotSet.slot(5).params().lines().first(), "Database= " + second.name());
    EXPECT_EQ(currentDatabase(slotSet.slot(5)), second.name());

    slotSet.closeAll();
    EXPECT_FALSE(slotSet.isOpen(5));
}

TEST(SlotSet, RefusedLoginRaisesTheServersTextAndLeavesTheSlotClosed)
{
    TestDatabase terminal(Template::Terminal);
    GuardedRole role;
    SlotSet slotSet = SlotSet::forUpdate();
    try {
        slotSet.openFromRow(10, rowFor(terminal.name(), role.name, "errada"));
        FAIL() << "login accepted";
    } catch (const db::BrokenConnection& e) {
        EXPECT_TRUE(e.message().contains("password authentication failed")) << e.message().toStdString();
    }
    EXPECT_FALSE(slotSet.isOpen(10));
}

TEST(SlotSet, OnlyNumbersOneToThirtyThreeHaveASlot)
{
    SlotSet slotSet = SlotSet::forSales();
    EXPECT_THROW(slotSet.slot(0), db::UsageError);
    EXPECT_THROW(slotSet.slot(34), db::UsageError);
    EXPECT_THROW(slotSet.openFromRow(34, rowFor("x")), db::UsageError);
    EXPECT_FALSE(slotSet.isOpen(34));
}

// A run holds its transaction on a slot across an event turn, and a run
// nested there rebuilds that slot for changed lines. The outer run's rows
// after that, and its commit, must fail: neither till may be left with half
// a table reported as done.
TEST(SlotSet, RebuildingASlotUnderAnOpenTransactionFailsThatTransaction)
{
    TestDatabase first(Template::Terminal);
    TestDatabase second(Template::Terminal);
    first.exec("INSERT INTO FINALIZADORAS (FINALIZADORA_ID, DESCRICAO) VALUES (1, 'ANTIGA')");
    SlotSet slotSet = SlotSet::forUpdate();
    slotSet.openFromRow(5, rowFor(first.name()));
    db::Connection& slot = slotSet.slot(5);
    auto write = [&](const QString& sql) {
        db::Query q(slot);
        q.setText(sql);
        q.prepare();
        q.exec();
    };

    slot.startTransaction();
    write("DELETE FROM FINALIZADORAS");
    write("INSERT INTO FINALIZADORAS (FINALIZADORA_ID, DESCRICAO) VALUES (2, 'PRIMEIRA METADE')");
    slotSet.openFromRow(5, rowFor(second.name())); // the nested run
    EXPECT_THROW(write("INSERT INTO FINALIZADORAS (FINALIZADORA_ID, DESCRICAO) VALUES (3, 'SEGUNDA METADE')"),
                 db::BrokenConnection);
    EXPECT_THROW(slot.commit(), db::BrokenConnection);

    EXPECT_EQ(first.rows("SELECT descricao FROM finalizadoras"), QStringList{"ANTIGA"});
    EXPECT_TRUE(second.rows("SELECT descricao FROM finalizadoras").isEmpty());
    EXPECT_EQ(currentDatabase(slot), second.name()) << "the slot works on with its new lines";
}
