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

} // namespace

std::vector<bool> probeAll(const std::vector<Endpoint>& endpoints, std::optional<int> timeoutMs)
{
    std::vector<TcpTarget> targets;
    std::vector<std::size_t> origin;  // targets[k] probes endpoints[origin[k]]
    for (std::size_t i = 0; i < endpoints.size(); ++i) {
        if (auto port = portNumber(endpoints[i].port)) {
            targets.push_back({endpoints[i].host, *port});
            origin.push_back(i);
        }
    }
    std::vector<bool> result(endpoints.size(), false);
    if (targets.empty() || !timeoutMs || *timeoutMs <= 0)
        return result;
    const std::vector<bool> reached = connectAll(targets, std::chrono::milliseconds(*timeoutMs));
    for (std::size_t k = 0; k < targets.size(); ++k)
        result[origin[k]] = reached[k];
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
