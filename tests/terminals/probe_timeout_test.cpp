#include "db/connection.h"
#include "db/query.h"
#include "terminal_fixture.h"
#include "terminals/probe_timeout.h"

#include <gtest/gtest.h>

using namespace terminals;
using namespace termtest;

TEST(ProbeTimeout, ConfiguredValueOrTheWindowsDefault)
{
    Server s;
    db::Connection server(s.db.params());
    server.open();
    db::Query config(server);
    config.setText("SELECT * FROM CONFIG");
    const struct {
        int configured;
        int sales;
        int update;
    } cases[] = {{0, 100, 1200}, {-1, 100, 1200}, {1, 1, 1}, {250, 250, 250}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.configured);
        s.setTimeout(c.configured);
        EXPECT_EQ(rereadProbeTimeoutMs(config, kUpdateDefaultTimeoutMs), c.update);
        EXPECT_EQ(probeTimeoutMs(config, kSalesDefaultTimeoutMs), c.sales);
    }

    s.db.exec("UPDATE CONFIG SET TIMEOUT_ECFS = NULL");
    EXPECT_EQ(rereadProbeTimeoutMs(config, kSalesDefaultTimeoutMs), 100);
    s.db.exec("DELETE FROM CONFIG");
    EXPECT_EQ(rereadProbeTimeoutMs(config, kUpdateDefaultTimeoutMs), 1200) << "no row reads as null";
}

TEST(ProbeTimeout, MissingColumnMakesEveryProbeFail)
{
    Server s;
    db::Connection server(s.db.params());
    server.open();
    db::Query config(server);
    config.setText("SELECT VERSAO_SYNC FROM CONFIG");
    config.prepare();
    config.open();
    EXPECT_EQ(probeTimeoutMs(config, kSalesDefaultTimeoutMs), std::nullopt);
}
