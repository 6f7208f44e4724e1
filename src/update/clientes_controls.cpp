#include "update/clientes_controls.h"

#include "update/pane_lines.h"

#include <QCheckBox>
#include <QPlainTextEdit>
#include <QProgressBar>
#include <QPushButton>

namespace update {

ClientesControls::ClientesControls(const ExportControls& controls)
    : c_(controls)
{
}

void ClientesControls::clearMemo1()
{
    if (c_.interruptions)
        c_.interruptions->clearPane();
    else
        clearPaneLines(c_.memo1);
}

void ClientesControls::addMemo1(const QString& line) { addPaneLine(c_.memo1, line); }
void ClientesControls::clearMemo2() { clearPaneLines(c_.memo2); }
void ClientesControls::addMemo2(const QString& line) { addPaneLine(c_.memo2, line); }

void ClientesControls::addInterruptionLine(const QString& line)
{
    if (c_.interruptions)
        c_.interruptions->add(line);
    else
        addPaneLine(c_.memo1, line, interruptionColor());
}

void ClientesControls::setProgress(int percent) { c_.progress->setValue(percent); }
void ClientesControls::repaintProgress() { c_.progress->repaint(); }
void ClientesControls::setExportButtonEnabled(bool enabled) { c_.button->setEnabled(enabled); }

bool ClientesControls::ecfChecked(int n) const
{
    return n >= 1 && n <= kEcfBoxCount && c_.ecf[n]->isChecked();
}

void ClientesControls::checkEcf(int n)
{
    if (n >= 1 && n <= kEcfBoxCount)
        c_.ecf[n]->setChecked(true);
}

bool ClientesControls::todasEcfs() const { return c_.todasEcfs->isChecked(); }
void ClientesControls::checkTodasEcfs() { c_.todasEcfs->setChecked(true); }
void ClientesControls::enableTodasEcfs() { c_.todasEcfs->setEnabled(true); }
bool ClientesControls::chkTotal() const { return c_.chkTotal->isChecked(); }
void ClientesControls::checkChkTotal() { c_.chkTotal->setChecked(true); }

void ClientesControls::checkEveryBoxButTotal()
{
    c_.todasEcfs->setChecked(true);
    for (int n = 1; n <= kEcfBoxCount; ++n)
        c_.ecf[n]->setChecked(true);
}

void ClientesControls::uncheckEveryBox()
{
    c_.chkTotal->setChecked(false);
    c_.todasEcfs->setChecked(false);
    for (int n = 1; n <= kEcfBoxCount; ++n)
        c_.ecf[n]->setChecked(false);
}

} // namespace update
