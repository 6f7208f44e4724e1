#pragma once
// Lines of the update window's text panes (Memo1, Memo2), and the red lines
// that tell of a link that went away during a run.

#include <QColor>
#include <QPointer>
#include <QString>
#include <QStringList>

class QPlainTextEdit;

namespace update {

// Keeps track of whether `pane` holds lines, also when someone else empties
// it; call once per pane before the first line.
void watchPane(QPlainTextEdit* pane);
void clearPaneLines(QPlainTextEdit* pane);
// One line below the others, in the pane's own text colour unless `color`
// is given; a carriage return inside starts a new line. An empty first line
// is a line too.
void addPaneLine(QPlainTextEdit* pane, QString line, const QColor& color = QColor());

// Memo1's red lines: a server or terminal that went away. A run clears
// Memo1 several times after such a line (listings, the next terminal), so
// the lines are put back after every clear until the next event starts:
// whoever comes back to the window still sees what the runs left for the
// next request.
class InterruptionLines {
public:
    explicit InterruptionLines(QPlainTextEdit* pane);

    void add(const QString& line);
    // Clears Memo1 down to the kept lines.
    void clearPane();
    // A new event begins: the lines stay in the pane until it is cleared.
    void forget();
    const QStringList& lines() const { return lines_; }

private:
    QPointer<QPlainTextEdit> pane_;
    QStringList lines_;
};

// Red 255, green 0, blue 0, as the terminals' OFF lines.
QColor interruptionColor();

} // namespace update
