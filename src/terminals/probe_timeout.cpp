#include "terminals/probe_timeout.h"

#include "db/dataset.h"
#include "db/errors.h"
#include "db/query.h"

#include <algorithm>
#include <climits>

namespace terminals {

std::optional<int> probeTimeoutMs(const db::Dataset& config, int defaultMs)
{
    try {
        // A missing column fails the probe; an empty table reads as null,
        // that is 0, that is the default.
        if (config.fieldIndex("TIMEOUT_ECFS") < 0)
            return std::nullopt;
        if (config.eof())
            return defaultMs;
        const qint64 ms = config.field("TIMEOUT_ECFS").asInteger();
        return ms > 0 ? static_cast<int>(std::min<qint64>(ms, INT_MAX)) : defaultMs;
    } catch (const db::Error&) {
        // A probe never raises: without a readable time-out it reports the
        // terminal unreachable.
        return std::nullopt;
    }
}

std::optional<int> rereadProbeTimeoutMs(db::Query& qConfig, int defaultMs)
{
    if (qConfig.isOpen())
        qConfig.refresh();
    else
        qConfig.open();
    return probeTimeoutMs(qConfig, defaultMs);
}

} // namespace terminals
