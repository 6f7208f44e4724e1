#pragma once
// What the terminal passes show, without knowing a widget exists. The sales
// window implements StatusLinesView on MemoPdv2; the update window
// implements UpdateStatusView on its check boxes Ecf001..Ecf033.

#include <QColor>
#include <QString>

namespace terminals {

enum class LineColor {
    Green, // red 0, green 128, blue 0: terminal ON
    Red,   // red 255, green 0, blue 0: terminal OFF
};

inline QColor toQColor(LineColor c)
{
    return c == LineColor::Green ? QColor(0, 128, 0) : QColor(255, 0, 0);
}

// Sales window: the status pane MemoPdv2 and its terminal grid.
class StatusLinesView {
public:
    virtual ~StatusLinesView() = default;
    // Empties MemoPdv2.
    virtual void clearStatusLines() = 0;
    // Sets the pane's text colour and appends one line below the others.
    virtual void addStatusLine(const QString& text, LineColor color) = 0;
    // QList_Pdv has just been read again (the grid shows it as last read).
    virtual void terminalListReloaded() {}
};

// Update window: the terminal check boxes and the end of its status pass.
class UpdateStatusView {
public:
    virtual ~UpdateStatusView() = default;
    // Enables or disables check box Ecf<nnn> (n in 1..33).
    virtual void setTerminalBoxEnabled(int n, bool enabled) = 0;
    // End of the status pass: switch EventoTransacaoServer on and repaint
    // the window.
    virtual void statusPassFinished() = 0;
};

} // namespace terminals
