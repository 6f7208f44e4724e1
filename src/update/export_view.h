#pragma once
// What the product and reference exports read and write in the update
// window: its two panes, the progress bar, the check boxes and the export
// buttons. Widget-free, so the runs do not know a window exists.

#include <QString>

namespace update {

enum class ExportPane { Memo1, Memo2 };

class ExportView {
public:
    virtual ~ExportView() = default;

    virtual void clearPane(ExportPane pane) = 0;
    // One line below the pane's earlier ones; a "\r" inside starts a new line.
    virtual void addLine(ExportPane pane, const QString& line) = 0;
    // A red line in Memo1: a server or terminal went away during the run.
    // It stays in the pane through the run's later clears.
    virtual void addInterruptionLine(const QString& line) = 0;

    // ProgressBar1, 0 to 100.
    virtual void setProgress(int percent) = 0;
    virtual void repaintProgress() = 0;

    // An export button by its component name ("btn_finalizadoras", ...).
    virtual void setButtonEnabled(const QString& buttonName, bool enabled) = 0;

    // Check box Ecf<nnn>, n in 1..40.
    virtual bool terminalChecked(int n) const = 0;
    // Ticks the box named "Ecf" + numEcf. A number no box carries ("041",
    // "7") ticks nothing and returns false.
    virtual bool checkTerminalBox(const QString& numEcf) = 0;
    // "Todas as Ecfs"; ticking it ticks every enabled box by its own reaction.
    virtual bool todasChecked() const = 0;
    virtual void checkTodasEcfs() = 0;
    virtual void enableTodasEcfs() = 0;
    // "Exportar todos Registros".
    virtual bool totalChecked() const = 0;
    virtual void checkTotal() = 0;
    // Every check box of the window but "Exportar todos Registros", enabled
    // or not.
    virtual void checkEveryBoxButTotal() = 0;
    // Every check box of the window, in creation order.
    virtual void uncheckAll() = 0;
};

} // namespace update
