#include "terminals/probe.h"

#include "db/connection_params.h"
#include "terminals/tcp_connect.h"

#include <utility>

namespace terminals {
namespace {

// PORTA is text; only a whole number that can be a TCP port is tried.
std::optional<unsigned short> portNumber(const QString& text)
{
    const QString t = text.trimmed();
    if (t.isEmpty())
        return std::nullopt;
    for (QChar c : t)
        if (c < u'0' || c > u'9')
            return std::nullopt;
    bool ok = false;
    const int n = t.toInt(&ok, 10);
    if (!ok || n < 1 || n > 65535)
        return std::nullopt;
    return static_cast<unsigned short>(n);
}

ProbeOutcome fromTcp(TcpOutcome outcome)
{
    switch (outcome) {
    case TcpOutcome::Reached: return ProbeOutcome::Reached;
    case TcpOutcome::TimedOut: return ProbeOutcome::TimedOut;
    case TcpOutcome::Refused: return ProbeOutcome::Refused;
    case TcpOutcome::Unreachable: return ProbeOutcome::Unreachable;
    case TcpOutcome::NotFound: break;
    }
    return ProbeOutcome::NotFound;
}

} // namespace

QString probeOutcomeText(ProbeOutcome outcome)
{
    switch (outcome) {
    case ProbeOutcome::Reached: return QStringLiteral("reached");
    case ProbeOutcome::TimedOut: return QStringLiteral("timed out");
    case ProbeOutcome::Refused: return QStringLiteral("refused");
    case ProbeOutcome::Unreachable: return QStringLiteral("host unreachable");
    case ProbeOutcome::NotFound: return QStringLiteral("host not found");
    case ProbeOutcome::BadPort: return QStringLiteral("port is not a number from 1 to 65535");
    case ProbeOutcome::NoTimeOut: break;
    }
    return QStringLiteral("no probe time-out");
}

struct ProbeBatch::Impl {
    std::vector<std::optional<ProbeOutcome>> outcome;
    std::vector<std::size_t> origin; // target k probes endpoint origin[k]
    std::unique_ptr<TcpConnectBatch> connects;
    std::vector<std::size_t> justSettled;

    void collect()
    {
        if (!connects)
            return;
        for (std::size_t k : connects->takeSettled()) {
            outcome[origin[k]] = fromTcp(*connects->outcome(k));
            justSettled.push_back(origin[k]);
        }
    }
};

ProbeBatch::ProbeBatch(const std::vector<Endpoint>& endpoints, std::optional<int> timeoutMs)
    : impl_(std::make_unique<Impl>())
{
    Impl& d = *impl_;
    d.outcome.resize(endpoints.size());
    std::vector<TcpTarget> targets;
    const bool canWait = timeoutMs && *timeoutMs > 0;
    for (std::size_t i = 0; i < endpoints.size(); ++i) {
        const auto port = portNumber(endpoints[i].port);
        if (port && canWait) {
            targets.push_back({endpoints[i].host, *port});
            d.origin.push_back(i);
        } else {
            d.outcome[i] = port ? ProbeOutcome::NoTimeOut : ProbeOutcome::BadPort;
            d.justSettled.push_back(i);
        }
    }
    if (!targets.empty())
        d.connects = std::make_unique<TcpConnectBatch>(targets, std::chrono::milliseconds(*timeoutMs));
    d.collect();
}

ProbeBatch::~ProbeBatch() = default;

void ProbeBatch::wait(std::chrono::milliseconds maxWait)
{
    Impl& d = *impl_;
    if (d.connects && !d.connects->finished())
        d.connects->wait(maxWait);
    d.collect();
}

bool ProbeBatch::finished() const
{
    return !impl_->connects || impl_->connects->finished();
}

std::optional<ProbeOutcome> ProbeBatch::outcome(std::size_t i) const
{
    return impl_->outcome[i];
}

std::vector<std::size_t> ProbeBatch::takeSettled()
{
    return std::exchange(impl_->justSettled, {});
}

std::vector<ProbeOutcome> probeEach(const std::vector<Endpoint>& endpoints, std::optional<int> timeoutMs)
{
    ProbeBatch batch(endpoints, timeoutMs);
    while (!batch.finished())
        batch.wait(std::chrono::milliseconds(timeoutMs.value_or(0)));
    std::vector<ProbeOutcome> result(endpoints.size());
    for (std::size_t i = 0; i < endpoints.size(); ++i)
        result[i] = batch.outcome(i).value_or(ProbeOutcome::TimedOut);
    return result;
}

std::vector<bool> probeAll(const std::vector<Endpoint>& endpoints, std::optional<int> timeoutMs)
{
    const std::vector<ProbeOutcome> outcomes = probeEach(endpoints, timeoutMs);
    std::vector<bool> result(outcomes.size());
    for (std::size_t i = 0; i < outcomes.size(); ++i)
        result[i] = outcomes[i] == ProbeOutcome::Reached;
    return result;
}

std::vector<bool> probeAll(const std::vector<Endpoint>& endpoints, std::optional<int> timeoutMs,
                           WhileProbing& alongside)
{
    // Short turns each while both have something under way.
    constexpr std::chrono::milliseconds kSlice{2};
    ProbeBatch batch(endpoints, timeoutMs);
    std::vector<bool> result(endpoints.size(), false);
    const auto take = [&] {
        for (std::size_t i : batch.takeSettled()) {
            result[i] = batch.outcome(i) == ProbeOutcome::Reached;
            if (result[i])
                alongside.reached(i);
        }
    };
    take();
    while (!batch.finished()) {
        batch.wait(alongside.busy() ? kSlice : std::chrono::milliseconds(timeoutMs.value_or(0)));
        take();
        if (alongside.busy())
            alongside.turn(kSlice);
    }
    return result;
}

bool VerificarPdv(const QString& host, const QString& port, std::optional<int> timeoutMs)
{
    return probeAll({Endpoint{host, port}}, timeoutMs).front();
}

Endpoint endpointOf(const db::ConnectionParams& params)
{
    const QString port = params.value("Port");
    return {params.value("Server"), port.isEmpty() ? QString("5432") : port};
}

} // namespace terminals
