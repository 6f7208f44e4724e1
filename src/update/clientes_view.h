#pragma once
// The update window as the customer exports see it: its two panes, its
// progress bar, the customer button and the check boxes that choose the
// terminals and the amount of customers.

#include <QString>

namespace update {

class ClientesView {
public:
    virtual ~ClientesView() = default;

    virtual void clearMemo1() = 0;
    virtual void addMemo1(const QString& line) = 0;
    virtual void clearMemo2() = 0;
    virtual void addMemo2(const QString& line) = 0;
    // A red line in Memo1: a server or terminal went away during the run.
    // It stays in the pane through the run's later clears.
    virtual void addInterruptionLine(const QString& line) = 0;

    // ProgressBar1, 0 to 100.
    virtual void setProgress(int percent) = 0;
    virtual void repaintProgress() = 0;

    // "Carga Clientes p/ Pdv".
    virtual void setExportButtonEnabled(bool enabled) = 0;

    // Terminal boxes Ecf001 .. Ecf040, by number.
    virtual bool ecfChecked(int n) const = 0;
    virtual void checkEcf(int n) = 0;
    // "Todas as Ecfs": checking it ticks every enabled terminal box.
    virtual bool todasEcfs() const = 0;
    virtual void checkTodasEcfs() = 0;
    virtual void enableTodasEcfs() = 0;
    // "Exportar todos Registros".
    virtual bool chkTotal() const = 0;
    virtual void checkChkTotal() = 0;
    // Every check box but "Exportar todos Registros", enabled or not.
    virtual void checkEveryBoxButTotal() = 0;
    virtual void uncheckEveryBox() = 0;
};

} // namespace update
