#include "common/event_pump.h"
#include "db/connection.h"
#include "db/errors.h"
#include "db/query.h"
#include "connect_log.h"
#include "terminal_fixture.h"
#include "terminals/update_status_pass.h"

#include <gtest/gtest.h>

using namespace terminals;
using namespace termtest;

namespace {

struct UpdateWindowParts {
    explicit UpdateWindowParts(const Server& s) : server(s.db.params()), config(server)
    {
        app();
        server.open();
        config.setText("SELECT * FROM CONFIG");
    }

    UpdateStatusPass pass() { return UpdateStatusPass({server, config, view}); }

    db::Connection server;
    db::Query config;  // the window's "SELECT * FROM CONFIG", not yet opened
    RecordingBoxes view;
};

} // namespace

TEST(UpdateStatusPass, ActiveTerminalsUpTo33GetABoxAndAFlagAndTheUnreachableOnesAreMarked)
{
    Server s;
    testsupport::SilentListener silent;
    s.add(Row("001"));
    s.add(Row("002").withPort(silent.portText()).withEcfStatus(1));  // marked again
    s.add(Row("003").withPort("abc"));
    s.add(Row("009").withPort(silent.portText()).withStatus("D"));
    s.add(Row("034").withPort(silent.portText()));  // not probed, not marked
    UpdateWindowParts w(s);
    UpdateStatusPass pass = w.pass();
    int pumped = 0;
    common::setEventPump([&] { ++pumped; });

    pass.VerificarConexao();
    common::setEventPump({});

    EXPECT_EQ(w.view.boxes, (std::map<int, bool>{{1, true}, {2, false}, {3, false}}));
    EXPECT_TRUE(pass.Ecf_Online(1));
    EXPECT_FALSE(pass.Ecf_Online(2));
    EXPECT_FALSE(pass.Ecf_Online(3));
    EXPECT_FALSE(pass.Ecf_Online(34));
    EXPECT_FALSE(pass.Ecfs_Online());
    EXPECT_TRUE(pass.Servidor_Online());
    EXPECT_EQ(s.updated(), QStringList({"002", "003"}));
    EXPECT_EQ(w.view.finished, 1);
    EXPECT_EQ(pumped, 0) << "the update window's pass never lets events run";
}

TEST(UpdateStatusPass, AllOnlineOnlyWhenEveryTerminalAndTheServerAnswer)
{
    Server s;
    s.add(Row("001"));
    s.add(Row("033"));
    UpdateWindowParts w(s);
    UpdateStatusPass pass = w.pass();
    pass.VerificarConexao();
    EXPECT_TRUE(pass.Ecfs_Online());
    EXPECT_TRUE(s.updated().isEmpty());

    // Server silent: the terminals still answer, the flag drops.
    testsupport::SilentListener silent;
    w.server.params() = testsupport::withPort(w.server.params(), silent.portText());
    pass.VerificarConexao();
    EXPECT_TRUE(pass.Ecf_Online(1));
    EXPECT_FALSE(pass.Servidor_Online());
    EXPECT_FALSE(pass.Ecfs_Online());
    EXPECT_EQ(w.view.finished, 2);
}

TEST(UpdateStatusPass, NonNumericNumEcfFailsThePass)
{
    Server s;
    testsupport::SilentListener silent;
    s.add(Row("001").withPort(silent.portText()));
    s.add(Row("A1"));
    UpdateWindowParts w(s);
    UpdateStatusPass pass = w.pass();
    EXPECT_THROW(pass.VerificarConexao(), db::UsageError);
    EXPECT_EQ(s.updated(), QStringList{"001"});
    EXPECT_EQ(w.view.finished, 0) << "the listener is not switched on by a failed pass";
}

TEST(UpdateStatusPass, ConfigIsReadAgainBeforeTheProbes)
{
    Server s;
    testsupport::SilentListener silent;
    s.add(Row("004").withPort(silent.portText()));
    s.setTimeout(5000);
    UpdateWindowParts w(s);
    w.config.prepare();
    w.config.open();  // read while TIMEOUT_ECFS was 5000
    s.setTimeout(150);
    UpdateStatusPass pass = w.pass();

    termtest::ConnectLog log;
    pass.VerificarConexao();
    EXPECT_EQ(log.passTimeouts(), std::vector<int>{150});
    EXPECT_FALSE(pass.Ecf_Online(4));
}
