#pragma once
// The customer exports' view of the update window, on the window's own
// controls.

#include "update/clientes_view.h"
#include "update/ecf_box.h"

#include <array>

class QCheckBox;
class QPlainTextEdit;
class QProgressBar;
class QPushButton;

namespace update {

class InterruptionLines;

struct ExportControls {
    QPlainTextEdit* memo1 = nullptr;
    QPlainTextEdit* memo2 = nullptr;
    QProgressBar* progress = nullptr;
    QPushButton* button = nullptr;    // the run's own button
    QCheckBox* chkTotal = nullptr;
    QCheckBox* todasEcfs = nullptr;
    std::array<QCheckBox*, kEcfBoxCount + 1> ecf{};  // index 1..40
    InterruptionLines* interruptions = nullptr;       // Memo1's red lines
};

class ClientesControls : public ClientesView {
public:
    explicit ClientesControls(const ExportControls& controls);

    void clearMemo1() override;
    // A carriage return inside a line starts a new line of the pane.
    void addMemo1(const QString& line) override;
    void clearMemo2() override;
    void addMemo2(const QString& line) override;
    void addInterruptionLine(const QString& line) override;
    void setProgress(int percent) override;
    void repaintProgress() override;
    void setExportButtonEnabled(bool enabled) override;
    bool ecfChecked(int n) const override;
    void checkEcf(int n) override;
    bool todasEcfs() const override;
    void checkTodasEcfs() override;
    void enableTodasEcfs() override;
    bool chkTotal() const override;
    void checkChkTotal() override;
    void checkEveryBoxButTotal() override;
    void uncheckEveryBox() override;

private:
    ExportControls c_;
};

} // namespace update
