// The program as main() runs it, started by the test that kills it outright
// in the middle of an import:
//
//   killed_program FOLDER
//
// Runs in FOLDER (its Quibor.ini, log folder and instance mark), writes
// FOLDER/ready once both windows are up, and runs until it is killed.

#include "support/program_fixture.h"

#include "app/startup.h"

#include <QApplication>
#include <QFile>
#include <QTimer>

#include <cstdio>

int main(int argc, char** argv)
{
    if (argc != 2) {
        fprintf(stderr, "usage: killed_program FOLDER\n");
        return 2;
    }
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication application(argc, argv);
    const QString folder = QString::fromLocal8Bit(argv[1]);
    common::setProgramFolder(folder);
    app::setInstanceMarkerPath(folder + "/instance.lock");
    testsupport::ScopedRecordingDialogs dialogs;
    progtest::RecordingEnder ender;

    auto windows = app::createWindows();
    app::showWindows(*windows);
    QFile ready(folder + "/ready");
    if (!ready.open(QIODevice::WriteOnly))
        return 1;
    ready.close();
    // Bounded like every wait: the test kills it long before.
    QTimer::singleShot(180000, &application, &QCoreApplication::quit);
    return QApplication::exec();
}
