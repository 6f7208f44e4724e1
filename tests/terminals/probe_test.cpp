#include "support/silent_listener.h"
#include "support/test_db.h"
#include "terminals/probe.h"

#include <QElapsedTimer>
#include <gtest/gtest.h>

using namespace terminals;
using testsupport::SilentListener;

namespace {
const QString kHost = testsupport::testHost();
const QString kPort = QString::number(testsupport::testPort());
} // namespace

TEST(VerificarPdv, AnsweringAndFailingTargets)
{
    const QString refused = QString::number(testsupport::refusedPort());
    const struct {
        const char* what;
        QString host;
        QString port;
        bool reachable;
    } cases[] = {
        {"database port", kHost, kPort, true},
        {"host name", "localhost", kPort, true},
        {"blanks around the port", kHost, " " + kPort + " ", true},
        {"nobody listening", kHost, refused, false},
        {"port not a number", kHost, "54x", false},
        {"empty port", kHost, "", false},
        {"port 0", kHost, "0", false},
        {"port above 65535", kHost, "70000", false},
        {"empty host", "", kPort, false},
        {"name that does not resolve", "no-such-host.invalid", kPort, false},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        EXPECT_EQ(VerificarPdv(c.host, c.port, 1000), c.reachable);
    }
}

TEST(VerificarPdv, NoTimeOutMeansUnreachable)
{
    EXPECT_FALSE(VerificarPdv(kHost, kPort, std::nullopt));
}

TEST(VerificarPdv, SilentHostFailsAfterTheTimeOut)
{
    SilentListener silent;
    QElapsedTimer t;
    t.start();
    EXPECT_FALSE(VerificarPdv(silent.host(), silent.portText(), 200));
    EXPECT_GE(t.elapsed(), 190);
    EXPECT_LT(t.elapsed(), 1000);
}

TEST(ProbeAll, ManySilentTerminalsCostOneTimeOut)
{
    SilentListener silent;
    std::vector<Endpoint> endpoints(33, Endpoint{silent.host(), silent.portText()});
    endpoints[4] = {kHost, kPort};
    endpoints[20] = {kHost, "abc"};

    QElapsedTimer t;
    t.start();
    const std::vector<bool> answered = probeAll(endpoints, 300);
    const qint64 ms = t.elapsed();

    ASSERT_EQ(answered.size(), endpoints.size());
    for (std::size_t i = 0; i < answered.size(); ++i)
        EXPECT_EQ(answered[i], i == 4) << "endpoint " << i;
    EXPECT_GE(ms, 290);
    EXPECT_LT(ms, 600) << "33 silent terminals must not be waited for one after another";
}

TEST(ProbeAll, EmptyBatch)
{
    EXPECT_TRUE(probeAll({}, 100).empty());
}
