// Program entry: the sales window first (its creation is the start-up), then
// the update window, then the message loop.

#include "app/startup.h"

#include <QApplication>

int main(int argc, char* argv[])
{
    QApplication application(argc, argv);
    return app::runProgram(application);
}
