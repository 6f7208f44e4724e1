#pragma once
// The status report as a person reads it at a glance, and as one JSON
// document for monitoring.

#include <QByteArray>
#include <QString>

namespace app {

struct StatusReport;

// A line for the server, a table with a line per terminal (terminal,
// ON/OFF, rows waiting, oldest waiting sale, last customer export, notes)
// and a line that sums it up. Empty when no report could be made.
QString statusText(const StatusReport& report);

// {"server": {...}, "probe_timeout_ms": n, "terminals": [...],
//  "waiting_total": n, "in_step": b}; see the help text for the keys.
QByteArray statusJson(const StatusReport& report);

// The one line for standard error when no report could be made.
QString statusFailureLine(const StatusReport& report);

} // namespace app
