#include "db/connection.h"
#include "db/errors.h"
#include "db/query.h"
#include "terminal_fixture.h"
#include "terminals/slot_set.h"
#include "terminals/update_slots_opening.h"

#include <gtest/gtest.h>

using namespace terminals;
using namespace termtest;

namespace {

struct UpdateWindowParts {
    explicit UpdateWindowParts(const Server& s) : server(s.db.params()), config(server), slotSet(SlotSet::forUpdate())
    {
        server.open();
        config.setText("SELECT * FROM CONFIG");
    }

    void run() { abrirSlotsAtualizacao({server, config, slotSet, view}); }

    db::Connection server;
    db::Query config;
    SlotSet slotSet;
    RecordingBoxes view;
};

} // namespace

TEST(AbrirSlotsAtualizacao, OpensReachableTerminalsAndEnablesTheirBoxes)
{
    Server s;
    TestDatabase terminal(Template::Terminal);
    testsupport::SilentListener silent;
    GuardedRole role;
    s.add(Row("001").withBanco(terminal.name()));
    s.add(Row("002").withPort(silent.portText()));
    s.add(Row("003").withBanco(terminal.name()).withUsuario(role.name).withSenha("errada"));
    s.add(Row("004").withBanco(terminal.name()).withStatus("D"));
    s.add(Row("034").withBanco(terminal.name()));
    UpdateWindowParts w(s);

    w.run();

    EXPECT_EQ(w.view.boxes, (std::map<int, bool>{{1, true}}));
    EXPECT_TRUE(w.slotSet.isOpen(1));
    for (int n : {2, 3, 4})
        EXPECT_FALSE(w.slotSet.isOpen(n)) << n;
    EXPECT_TRUE(s.updated().isEmpty()) << "silent terminals are not marked here";
    EXPECT_EQ(w.view.finished, 0);
}

// The slots connect together and end in their own order; each box follows
// its own terminal's slot.
TEST(AbrirSlotsAtualizacao, SlotsConnectingTogetherEnableTheBoxesOfTheirOwnTerminals)
{
    Server s;
    ConnectRace race(s);
    UpdateWindowParts w(s);

    w.run();

    EXPECT_EQ(w.view.boxes, (std::map<int, bool>{{2, true}, {5, true}, {6, true}}));
    for (int n = 1; n <= kSlotCount; ++n)
        EXPECT_EQ(w.slotSet.isOpen(n), n == 2 || n == 5 || n == 6) << n;
    EXPECT_GE(race.late.connections(), 1) << "the late terminal's slot went through its relay";
    EXPECT_TRUE(s.updated().isEmpty()) << "nothing is marked here";
}

TEST(AbrirSlotsAtualizacao, NonNumericNumEcfStopsAfterTheRowsBeforeIt)
{
    Server s;
    TestDatabase terminal(Template::Terminal);
    s.add(Row("001").withBanco(terminal.name()));
    s.add(Row("A1").withBanco(terminal.name()));
    s.add(Row("B2").withBanco(terminal.name()));
    UpdateWindowParts w(s);
    EXPECT_THROW(w.run(), db::UsageError);
    EXPECT_EQ(w.view.boxes, (std::map<int, bool>{{1, true}}));
}
