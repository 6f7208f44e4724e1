#include "ui/status_pane.h"

#include <QScrollBar>
#include <QTextBlockFormat>
#include <QTextCharFormat>
#include <QTextCursor>

namespace ui {

StatusPane::StatusPane(QWidget* parent)
    : QTextEdit(parent)
{
    setReadOnly(true);
    setAcceptRichText(false);
    // A narrow pane with a vertical bar only: long lines wrap.
    setLineWrapMode(QTextEdit::WidgetWidth);
    setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
    setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
}

void StatusPane::appendLine(const QString& text, const QColor& color)
{
    // A char format rather than HTML: the text is shown as it is, whatever
    // it holds.
    QTextCursor cursor(document());
    cursor.movePosition(QTextCursor::End);
    if (!lines_.isEmpty())
        cursor.insertBlock();
    QTextCharFormat format;
    format.setForeground(color);
    cursor.insertText(text, format);
    lines_.append({text, color});
    verticalScrollBar()->setValue(verticalScrollBar()->maximum());
}

void StatusPane::clearLines()
{
    clear();
    lines_.clear();
}

} // namespace ui
