#pragma once
// Program entry: the sales window first (its creation is the start-up), then
// the update window, then the message loop.

#include <QPointer>
#include <memory>

class QApplication;

namespace sales {
class TFrmConversor_Vendas;
}
namespace update {
class TFrmConversor;
}

namespace app {

struct ProgramWindows {
    ProgramWindows();
    ~ProgramWindows();
    ProgramWindows(const ProgramWindows&) = delete;
    ProgramWindows& operator=(const ProgramWindows&) = delete;

    std::unique_ptr<sales::TFrmConversor_Vendas> sales;
    // Destroys itself when closed.
    QPointer<update::TFrmConversor> update;
    // Another copy runs: this one ends as soon as its loop starts.
    bool mustEnd = false;
};

// Creates both windows as the program does (creation steps run, not yet
// shown) and links them. While this copy's update window lives it holds the
// single-instance mark, unless this copy must end.
std::unique_ptr<ProgramWindows> createWindows();

// Shows the update window, then the sales window (each runs its show steps).
void showWindows(ProgramWindows& windows);

// Creates and shows the windows and runs the message loop.
int runProgram(QApplication& application);

} // namespace app
