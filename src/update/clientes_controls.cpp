#include "update/clientes_controls.h"

#include <QCheckBox>
#include <QPlainTextEdit>
#include <QProgressBar>
#include <QPushButton>
#include <QTextCursor>
#include <QTextDocument>

namespace update {
namespace {

// Set on a pane while it holds lines: an empty first line leaves its
// document empty, and the next line must still start a line of its own.
const char* const kHasLines = "qsHasLines";

void clearPane(QPlainTextEdit* pane)
{
    pane->clear();
    pane->setProperty(kHasLines, false);
}

void addLine(QPlainTextEdit* pane, QString line)
{
    // A carriage return inside a line starts a new line of the pane.
    line.replace(u'\r', u'\n');
    const bool hasLines = pane->property(kHasLines).toBool() || !pane->document()->isEmpty();
    QTextCursor cursor(pane->document());
    cursor.movePosition(QTextCursor::End);
    if (hasLines)
        cursor.insertBlock();
    cursor.insertText(line);
    pane->setProperty(kHasLines, true);
}

} // namespace

ClientesControls::ClientesControls(const ExportControls& controls)
    : c_(controls)
{
    // A pane emptied by anybody else holds no line either.
    for (QPlainTextEdit* pane : {c_.memo1, c_.memo2}) {
        QObject::connect(pane->document(), &QTextDocument::contentsChanged, pane, [pane] {
            if (pane->document()->isEmpty())
                pane->setProperty(kHasLines, false);
        });
    }
}

void ClientesControls::clearMemo1() { clearPane(c_.memo1); }
void ClientesControls::addMemo1(const QString& line) { addLine(c_.memo1, line); }
void ClientesControls::clearMemo2() { clearPane(c_.memo2); }
void ClientesControls::addMemo2(const QString& line) { addLine(c_.memo2, line); }
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
