// The import's writes travel with the next row's lookup instead of waiting
// for their own answer: what it promises must hold all the same. Every row
// arrives once, a repeated sale included, and a refusal read with a later
// row's lookup leaves every row of its phase for the next import.

#include "sales_store.h"

#include <gtest/gtest.h>

using namespace salestest;

namespace {

void refuse(SalesStore& store, const QString& table, const QString& when)
{
    const QString fn = "refuse_" + table.toLower();
    store.server.exec(QString("CREATE FUNCTION %1() RETURNS trigger LANGUAGE plpgsql AS $$ BEGIN IF %2 THEN "
                              "RAISE EXCEPTION 'refused here'; END IF; RETURN NEW; END $$")
                          .arg(fn, when));
    store.server.exec(
        QString("CREATE TRIGGER %1 BEFORE INSERT ON %2 FOR EACH ROW EXECUTE FUNCTION %1()").arg(fn, table));
}

void allow(SalesStore& store, const QString& table)
{
    store.server.exec(QString("DROP TRIGGER refuse_%1 ON %2").arg(table.toLower(), table));
}

// The terminal rang the same receipt up twice: the second copy's lookup
// travels behind the first copy's insert and must find it.
TEST(HeldWrites, ARepeatedSaleArrivesOnceAndEveryCopyIsMarkedDone)
{
    SalesStore store;
    const Sale first { .id = 1, .numDoc = "57" };
    store.addSale(1, first);
    store.addSale(1, Sale { .id = 2, .numDoc = "57" });
    store.addSale(1, Sale { .id = 3, .numDoc = "58" });
    store.addItem(1, first, 1, 10);
    store.addItem(1, first, 2, 20);

    store.importAll();

    EXPECT_EQ(store.server.rows("SELECT NUM_DOC, TRANSACAO_ORIGEM FROM TRANSACOES ORDER BY 1"),
        (QStringList { "57|501", "58|503" }));
    EXPECT_EQ(store.count("TRANSITENS"), "2");
    EXPECT_EQ(store.states(1, "TRANSACOES"), (QStringList { "2", "2", "2" }));
    EXPECT_EQ(store.states(1, "TRANSITENS", "SEQUENCIA"), (QStringList { "2", "2" }));
    EXPECT_TRUE(store.dialogs->shown.empty()) << store.dialogs->texts().join("\n").toStdString();
}

// A refused instalment ends its table's phase, its answer read with the
// next instalment's lookup: every row stays marked for the next import, and
// the one that did arrive is found there rather than written again.
TEST(HeldWrites, ARefusedInstalmentEndsItsPhaseAndNothingArrivesTwice)
{
    SalesStore store;
    for (int id = 1; id <= 3; ++id) {
        const Sale s { .id = id, .numDoc = QString::number(10 + id) };
        store.addSale(1, s);
        store.addInstalment(1, s, "1", id == 2 ? "66.60" : "30.00");
    }
    refuse(store, "TRANSPARCELAS", "NEW.VALOR = 66.60");

    store.importAll();
    EXPECT_EQ(store.count("TRANSPARCELAS"), "1");
    EXPECT_EQ(store.states(1, "TRANSPARCELAS"), (QStringList { "1", "1", "1" }));

    allow(store, "TRANSPARCELAS");
    store.importAll();
    EXPECT_EQ(store.server.rows("SELECT VALOR FROM TRANSPARCELAS ORDER BY TRANSACAO_ID"),
        (QStringList { "30.00", "66.60", "30.00" }));
    EXPECT_EQ(store.states(1, "TRANSPARCELAS"), (QStringList { "2", "2", "2" }));
}

} // namespace
