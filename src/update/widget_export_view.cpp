#include "update/widget_export_view.h"

#include "update/ecf_box.h"
#include "update/pane_lines.h"

#include <QCheckBox>
#include <QPlainTextEdit>
#include <QProgressBar>
#include <QPushButton>
#include <QWidget>
#include <stdexcept>

namespace update {
namespace {

template <typename W>
W* required(const QWidget& window, const QString& name)
{
    auto* w = window.findChild<W*>(name);
    if (!w)
        throw std::logic_error("the update window has no control " + name.toStdString());
    return w;
}

} // namespace

WidgetExportView::WidgetExportView(QWidget& window, InterruptionLines& interruptions)
    : window_(window), interruptions_(interruptions)
{
}

QPlainTextEdit* WidgetExportView::pane(ExportPane p) const
{
    return required<QPlainTextEdit>(window_, p == ExportPane::Memo1 ? QStringLiteral("Memo1") : QStringLiteral("Memo2"));
}

QCheckBox* WidgetExportView::box(const QString& name) const
{
    return window_.findChild<QCheckBox*>(name);
}

void WidgetExportView::clearPane(ExportPane p)
{
    if (p == ExportPane::Memo1)
        interruptions_.clearPane();
    else
        clearPaneLines(pane(p));
}

void WidgetExportView::addLine(ExportPane p, const QString& line)
{
    // The panes break lines at a carriage return, as the messages expect.
    addPaneLine(pane(p), line);
}

void WidgetExportView::addInterruptionLine(const QString& line)
{
    interruptions_.add(line);
}

void WidgetExportView::setProgress(int percent)
{
    required<QProgressBar>(window_, QStringLiteral("ProgressBar1"))->setValue(percent);
}

void WidgetExportView::repaintProgress()
{
    required<QProgressBar>(window_, QStringLiteral("ProgressBar1"))->repaint();
}

void WidgetExportView::setButtonEnabled(const QString& buttonName, bool enabled)
{
    required<QPushButton>(window_, buttonName)->setEnabled(enabled);
}

QCheckBox* WidgetExportView::terminalBox(int n) const
{
    return box(QStringLiteral("Ecf%1").arg(n, 3, 10, QLatin1Char('0')));
}

bool WidgetExportView::terminalChecked(int n) const
{
    const QCheckBox* b = terminalBox(n);
    return b && b->isChecked();
}

bool WidgetExportView::checkTerminalBox(const QString& numEcf)
{
    const int n = caixaDoNumEcf(numEcf);
    QCheckBox* b = n ? terminalBox(n) : nullptr;
    if (!b)
        return false;
    b->setChecked(true);
    return true;
}

bool WidgetExportView::todasChecked() const
{
    return required<QCheckBox>(window_, QStringLiteral("Todas_Ecfs"))->isChecked();
}

void WidgetExportView::checkTodasEcfs()
{
    required<QCheckBox>(window_, QStringLiteral("Todas_Ecfs"))->setChecked(true);
}

void WidgetExportView::enableTodasEcfs()
{
    required<QCheckBox>(window_, QStringLiteral("Todas_Ecfs"))->setEnabled(true);
}

bool WidgetExportView::totalChecked() const
{
    return required<QCheckBox>(window_, QStringLiteral("Chk_Total"))->isChecked();
}

void WidgetExportView::checkTotal()
{
    required<QCheckBox>(window_, QStringLiteral("Chk_Total"))->setChecked(true);
}

void WidgetExportView::checkEveryBoxButTotal()
{
    for (QCheckBox* b : window_.findChildren<QCheckBox*>())
        if (b->objectName() != QLatin1String("Chk_Total"))
            b->setChecked(true);
}

void WidgetExportView::uncheckAll()
{
    for (QCheckBox* b : window_.findChildren<QCheckBox*>())
        if (b->isChecked())
            b->setChecked(false);
}

} // namespace update
