#include "update/clientes_controls.h"

#include <QCheckBox>
#include <QPlainTextEdit>
#include <QProgressBar>
#include <QPushButton>

namespace update {
namespace {

QString paneText(QString line)
{
    return line.replace(u'\r', u'\n');
}

} // namespace

void ClientesControls::clearMemo1() { c_.memo1->clear(); }
void ClientesControls::addMemo1(const QString& line) { c_.memo1->appendPlainText(paneText(line)); }
void ClientesControls::clearMemo2() { c_.memo2->clear(); }
void ClientesControls::addMemo2(const QString& line) { c_.memo2->appendPlainText(paneText(line)); }
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
