// Program entry: the sales window first (its creation is the start-up), then
// the update window, then the message loop.

#include "app/command_line.h"
#include "app/display_opening.h"
#include "app/startup.h"

#include <QApplication>
#include <cstdlib>

int main(int argc, char* argv[])
{
    if (const auto exitCode = app::answerCommandLine(argc, argv))
        return *exitCode;
    // Without TZ the C library looks at /etc/localtime again on every local
    // time conversion, and the imports convert dates for every row.
    if (!std::getenv("TZ"))
        setenv("TZ", ":/etc/localtime", 0);
    app::DisplayOpening opening;
    QApplication application(argc, argv);
    opening.done();
    return app::runProgram(application);
}
