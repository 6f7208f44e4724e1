#pragma once
// The window toolkit opens its display while the application object is
// made, and aborts when there is none. Around that moment its messages are
// held back: without a display the program says so in one plain line and
// ends with status 1; otherwise the held messages go out as they would
// have.

#include <QString>

namespace app {

// The one line said when the windows find no display, naming what was
// tried (DISPLAY, QT_QPA_PLATFORM; empty for unset).
QString noDisplayLine(const QString& display, const QString& platform);

// In place from construction to done() (or destruction).
class DisplayOpening {
public:
    DisplayOpening();
    ~DisplayOpening();
    DisplayOpening(const DisplayOpening&) = delete;
    DisplayOpening& operator=(const DisplayOpening&) = delete;

    // The display opened: held messages go out, the toolkit's own handling
    // comes back.
    void done();

private:
    bool active_ = true;
};

} // namespace app
