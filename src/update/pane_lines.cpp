#include "update/pane_lines.h"

#include <QPlainTextEdit>
#include <QTextBlock>
#include <QTextCharFormat>
#include <QTextCursor>
#include <QTextDocument>

namespace update {
namespace {

// Set on a pane while it holds lines: an empty first line leaves its
// document empty, and the next line must still start a line of its own.
const char* const kHasLines = "qsHasLines";

} // namespace

QColor interruptionColor()
{
    return QColor(255, 0, 0);
}

void watchPane(QPlainTextEdit* pane)
{
    // A pane emptied by anybody else holds no line either.
    QObject::connect(pane->document(), &QTextDocument::contentsChanged, pane, [pane] {
        if (pane->document()->isEmpty())
            pane->setProperty(kHasLines, false);
    });
}

void clearPaneLines(QPlainTextEdit* pane)
{
    pane->clear();
    pane->setProperty(kHasLines, false);
}

void addPaneLine(QPlainTextEdit* pane, QString line, const QColor& color)
{
    line.replace(u'\r', u'\n');
    const bool hasLines = pane->property(kHasLines).toBool() || !pane->document()->isEmpty();
    QTextCursor cursor(pane->document());
    cursor.movePosition(QTextCursor::End);
    // Every line gets its own format: a line after a red one is not red.
    QTextCharFormat format;
    if (color.isValid())
        format.setForeground(color);
    if (hasLines)
        cursor.insertBlock(QTextBlockFormat(), format);
    cursor.insertText(line, format);
    pane->setProperty(kHasLines, true);
}

InterruptionLines::InterruptionLines(QPlainTextEdit* pane)
    : pane_(pane)
{
}

void InterruptionLines::add(const QString& line)
{
    if (!lines_.contains(line))
        lines_ << line;
    // Every event that meets a server still down says the same: the pane
    // shows it once until something else is written.
    if (pane_ && pane_->document()->lastBlock().text() != line)
        addPaneLine(pane_, line, interruptionColor());
}

void InterruptionLines::clearPane()
{
    if (!pane_)
        return;
    clearPaneLines(pane_);
    for (const QString& line : lines_)
        addPaneLine(pane_, line, interruptionColor());
}

void InterruptionLines::forget()
{
    lines_.clear();
}

} // namespace update
