#pragma once
// ExportView on the update window's own widgets, found by their component
// names, so the window only has to hand itself over.

#include "update/export_view.h"

class QWidget;
class QCheckBox;
class QPlainTextEdit;

namespace update {

class InterruptionLines;

class WidgetExportView : public ExportView {
public:
    WidgetExportView(QWidget& window, InterruptionLines& interruptions);

    void clearPane(ExportPane pane) override;
    void addLine(ExportPane pane, const QString& line) override;
    void addInterruptionLine(const QString& line) override;
    void setProgress(int percent) override;
    void repaintProgress() override;
    void setButtonEnabled(const QString& buttonName, bool enabled) override;
    bool terminalChecked(int n) const override;
    bool checkTerminalBox(const QString& numEcf) override;
    bool todasChecked() const override;
    void checkTodasEcfs() override;
    void enableTodasEcfs() override;
    bool totalChecked() const override;
    void checkTotal() override;
    void checkEveryBoxButTotal() override;
    void uncheckAll() override;

private:
    QPlainTextEdit* pane(ExportPane p) const;
    QCheckBox* box(const QString& name) const;
    QCheckBox* terminalBox(int n) const;

    QWidget& window_;
    InterruptionLines& interruptions_;
};

} // namespace update
