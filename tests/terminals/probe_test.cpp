#include "connect_log.h"
#include "support/silent_listener.h"
#include "support/test_db.h"
#include "terminals/probe.h"

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
        ProbeOutcome outcome;
    } cases[] = {
        {"database port", kHost, kPort, ProbeOutcome::Reached},
        {"host name", "localhost", kPort, ProbeOutcome::Reached},
        {"blanks around the port", kHost, " " + kPort + " ", ProbeOutcome::Reached},
        {"nobody listening", kHost, refused, ProbeOutcome::Refused},
        {"port not a number", kHost, "54x", ProbeOutcome::BadPort},
        {"empty port", kHost, "", ProbeOutcome::BadPort},
        {"port 0", kHost, "0", ProbeOutcome::BadPort},
        {"port above 65535", kHost, "70000", ProbeOutcome::BadPort},
        {"empty host", "", kPort, ProbeOutcome::NotFound},
        {"name that does not resolve", "no-such-host.invalid", kPort, ProbeOutcome::NotFound},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        EXPECT_EQ(VerificarPdv(c.host, c.port, 1000), c.outcome == ProbeOutcome::Reached);
        EXPECT_EQ(probeEach({{c.host, c.port}}, 1000), std::vector<ProbeOutcome>{c.outcome})
            << probeOutcomeText(probeEach({{c.host, c.port}}, 1000).front()).toStdString();
    }
}

TEST(VerificarPdv, NoTimeOutMeansUnreachable)
{
    EXPECT_FALSE(VerificarPdv(kHost, kPort, std::nullopt));
}

TEST(VerificarPdv, SilentHostIsGivenUpAtTheTimeOut)
{
    SilentListener silent;
    termtest::ConnectLog log;
    EXPECT_FALSE(VerificarPdv(silent.host(), silent.portText(), 200));
    EXPECT_EQ(log.passTimeouts(), std::vector<int>{200});
    EXPECT_EQ(log.started(), 1);
    EXPECT_EQ(log.ended(termtest::ConnectLog::Event::Outcome::TimedOut), 1);
    EXPECT_EQ(probeEach({{silent.host(), silent.portText()}}, 200), std::vector<ProbeOutcome>{ProbeOutcome::TimedOut});
}

// 33 silent terminals must not be waited for one after another: one pass,
// every connect under way before the first is given up.
TEST(ProbeAll, ManySilentTerminalsAreWaitedForTogether)
{
    using Outcome = termtest::ConnectLog::Event::Outcome;
    SilentListener silent;
    std::vector<Endpoint> endpoints(33, Endpoint{silent.host(), silent.portText()});
    endpoints[4] = {kHost, kPort};
    endpoints[20] = {kHost, "abc"};

    termtest::ConnectLog log;
    const std::vector<bool> answered = probeAll(endpoints, 300);

    ASSERT_EQ(answered.size(), endpoints.size());
    for (std::size_t i = 0; i < answered.size(); ++i)
        EXPECT_EQ(answered[i], i == 4) << "endpoint " << i;
    EXPECT_EQ(log.passTimeouts(), std::vector<int>{300});
    EXPECT_EQ(log.started(), 32) << "a port that is no number is not tried";
    EXPECT_EQ(log.ended(Outcome::TimedOut), 31);
    EXPECT_EQ(log.ended(Outcome::Reached), 1);
    EXPECT_TRUE(log.allStartedBeforeTheFirstTimedOut());
}

TEST(ProbeAll, AnEmptyBatchGivesNoResults)
{
    EXPECT_TRUE(probeAll({}, 100).empty());
}

// A caller can act on each answer while a silent terminal keeps the batch
// waiting.
TEST(ProbeBatch, AnswersArriveBeforeTheSilentAreGivenUp)
{
    SilentListener silent;
    const QString refused = QString::number(testsupport::refusedPort());
    ProbeBatch batch({{silent.host(), silent.portText()}, {kHost, kPort}, {kHost, "x"}, {kHost, refused}}, 5000);
    std::vector<std::size_t> settled = batch.takeSettled();
    EXPECT_EQ(settled, std::vector<std::size_t>{2}) << "a bad port is settled at once";
    for (int turn = 0; turn < 500 && settled.size() < 3; ++turn) {
        batch.wait(std::chrono::milliseconds(10));
        for (std::size_t i : batch.takeSettled())
            settled.push_back(i);
    }
    ASSERT_EQ(settled.size(), 3u);
    EXPECT_FALSE(batch.finished()) << "the silent one is still waited for";
    EXPECT_FALSE(batch.outcome(0).has_value());
    EXPECT_EQ(batch.outcome(1), ProbeOutcome::Reached);
    EXPECT_EQ(batch.outcome(2), ProbeOutcome::BadPort);
    EXPECT_EQ(batch.outcome(3), ProbeOutcome::Refused);
}
