#include "terminals/probe.h"

#include "db/connection_params.h"
#include "terminals/tcp_connect.h"

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

std::vector<ProbeOutcome> probeEach(const std::vector<Endpoint>& endpoints, std::optional<int> timeoutMs)
{
    std::vector<TcpTarget> targets;
    std::vector<std::size_t> origin;  // targets[k] probes endpoints[origin[k]]
    std::vector<ProbeOutcome> result(endpoints.size(), ProbeOutcome::BadPort);
    for (std::size_t i = 0; i < endpoints.size(); ++i) {
        if (auto port = portNumber(endpoints[i].port)) {
            targets.push_back({endpoints[i].host, *port});
            origin.push_back(i);
        }
    }
    if (targets.empty())
        return result;
    if (!timeoutMs || *timeoutMs <= 0) {
        for (std::size_t i : origin)
            result[i] = ProbeOutcome::NoTimeOut;
        return result;
    }
    const std::vector<TcpOutcome> ended = connectEach(targets, std::chrono::milliseconds(*timeoutMs));
    for (std::size_t k = 0; k < targets.size(); ++k)
        result[origin[k]] = fromTcp(ended[k]);
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
