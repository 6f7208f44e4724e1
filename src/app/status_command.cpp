#include "app/status_command.h"

#include "app/status_output.h"
#include "app/status_report.h"
#include "config/ini_keys.h"

#include <QTextStream>

namespace app {

int runStatusCommand(bool json, QTextStream& out, QTextStream& err)
{
    const StatusReport report = gatherStatus(iniPath());
    // Monitoring reads the document even when there is no report: it then
    // says the server was not reached, and why.
    out << (json ? QString::fromUtf8(statusJson(report)) : statusText(report));
    out.flush();
    if (!report.failure.isEmpty())
        err << statusFailureLine(report) << '\n';
    err.flush();
    return report.exitCode();
}

} // namespace app
