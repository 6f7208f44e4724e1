#pragma once
// `quiborsync --status [--json]`: the health report on standard output,
// why there is none on standard error, and its exit code.

class QTextStream;

namespace app {

// Reads Quibor.ini of the program folder. Returns 0 when the server and
// every active terminal answered and nothing waits, 1 when a terminal did
// not answer or could not be read or rows or cancellations wait, 2 when
// there is no report (the INI file or the server failed).
int runStatusCommand(bool json, QTextStream& out, QTextStream& err);

} // namespace app
