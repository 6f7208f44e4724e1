#pragma once
// Read-only rich-text pane of coloured lines: the terminals' ON (green) and
// OFF (red) lines of the sales window.

#include <QColor>
#include <QList>
#include <QString>
#include <QTextEdit>

namespace ui {

class StatusPane : public QTextEdit {
    Q_OBJECT
public:
    struct Line {
        QString text;
        QColor color;
    };

    explicit StatusPane(QWidget* parent = nullptr);

    void appendLine(const QString& text, const QColor& color);
    void clearLines();

    // What the pane shows, line by line with its colour.
    const QList<Line>& lines() const { return lines_; }

private:
    QList<Line> lines_;
};

} // namespace ui
