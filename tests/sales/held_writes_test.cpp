// The import's writes travel with the next row's lookup instead of waiting
// for their own answer: what it promises must hold all the same. Every row
// arrives once, a repeated sale included, and a refusal read with a later
// row's lookup leaves every row of its phase for the next import.

#include "sales_store.h"

#include "common/event_pump.h"
#include "common/scope_exit.h"

#include <gtest/gtest.h>
#include <libpq-fe.h>

using namespace salestest;

namespace {

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

// A receipt paid twice with the same amount, imported again: the second
// line finds its server row from what the first line read, so its update
// follows the first one's without a lookup between them. An event turn (a
// click or a notification that sends on the same link) must never run while
// a write is still unanswered there.
TEST(HeldWrites, NoEventTurnRunsWhileAClosingUpdateIsUnanswered)
{
    SalesStore store;
    const Sale sale { .id = 1, .numDoc = "70" };
    store.addSale(1, sale);
    store.addClosing(1, sale, 1, "15.00");
    store.addClosing(1, sale, 2, "15.00");
    store.importAll();
    ASSERT_EQ(store.count("FECHAMENTO_CUPOM"), "2");

    store.pdv(1).exec("UPDATE FECHAMENTO_CUPOM SET EXPORTADO = 0, LEGENDA = 'NOVA'");
    int turns = 0;
    int turnsWithWritesUnanswered = 0;
    common::setEventPump([&] {
        ++turns;
        if (PGconn* c = store.serverConnection->handle(); c && PQpipelineStatus(c) != PQ_PIPELINE_OFF)
            ++turnsWithWritesUnanswered;
    });
    common::ScopeExit restore([] { common::setEventPump({}); });
    store.importAll();

    EXPECT_GT(turns, 0);
    EXPECT_EQ(turnsWithWritesUnanswered, 0);
    EXPECT_EQ(store.server.rows("SELECT LEGENDA FROM FECHAMENTO_CUPOM ORDER BY FINALIZADORA_ID"),
        (QStringList { "NOVA", "NOVA" }));
    EXPECT_EQ(store.states(1, "FECHAMENTO_CUPOM", "FINALIZADORA_ID"), (QStringList { "2", "2" }));
    EXPECT_TRUE(store.dialogs->shown.empty()) << store.dialogs->texts().join("\n").toStdString();
}

} // namespace
