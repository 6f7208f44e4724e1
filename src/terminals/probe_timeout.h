#pragma once
// Connect time-out of the probes: CONFIG.TIMEOUT_ECFS in milliseconds when it
// is above 0, otherwise the window's own default.

#include <optional>

namespace db {
class Dataset;
class Query;
} // namespace db

namespace terminals {

constexpr int kSalesDefaultTimeoutMs = 100;
constexpr int kUpdateDefaultTimeoutMs = 1200;

// Reads TIMEOUT_ECFS from the current row of `config`. Empty when it cannot
// be read (no row, no such column): the probes then report unreachable.
std::optional<int> probeTimeoutMs(const db::Dataset& config, int defaultMs);

// The update window's way: opens its "SELECT * FROM CONFIG" query when it is
// closed, re-reads it, then reads the time-out as above. Errors of the
// re-read itself raise.
std::optional<int> rereadProbeTimeoutMs(db::Query& qConfig, int defaultMs);

} // namespace terminals
