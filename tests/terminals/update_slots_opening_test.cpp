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
