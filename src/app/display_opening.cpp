#include "app/display_opening.h"

#include <QList>
#include <QRegularExpression>
#include <QtGlobal>

#include <cstdio>
#include <cstdlib>
#include <utility>

namespace app {
namespace {

struct HeldMessage {
    QtMsgType type;
    const char* file;
    int line;
    const char* function;
    const char* category; // the toolkit's names are static texts
    QString text;
};

QtMessageHandler previousHandler = nullptr;
QList<HeldMessage> held;

void replayHeld()
{
    const QList<HeldMessage> messages = std::exchange(held, {});
    for (const HeldMessage& m : messages)
        previousHandler(m.type, QMessageLogContext(m.file, m.line, m.function, m.category), m.text);
}

// The toolkit names the display it could not reach ("could not connect to
// display", "Failed to create wl_display"); with neither variable set there
// is none to name.
bool aboutTheDisplay(const QString& fatal)
{
    if (qEnvironmentVariableIsEmpty("DISPLAY") && qEnvironmentVariableIsEmpty("WAYLAND_DISPLAY"))
        return true;
    // The word on its own, not inside a plug-in's name ("vkkhrdisplay").
    static const QRegularExpression display(QStringLiteral("(^|[^a-z])display"),
                                            QRegularExpression::CaseInsensitiveOption);
    if (fatal.contains(display))
        return true;
    for (const HeldMessage& m : held)
        if (m.text.contains(display))
            return true;
    return false;
}

void holdingHandler(QtMsgType type, const QMessageLogContext& context, const QString& text)
{
    if (type != QtFatalMsg) {
        held.append({type, context.file, context.line, context.function, context.category, text});
        return;
    }
    if (aboutTheDisplay(text)) {
        const QByteArray line =
            noDisplayLine(qEnvironmentVariable("DISPLAY"), qEnvironmentVariable("QT_QPA_PLATFORM")).toLocal8Bit();
        std::fputs(line.constData(), stderr);
        std::fflush(stderr);
        // Nothing of the program runs yet: there is nothing to put away.
        std::_Exit(1);
    }
    // Any other reason is the toolkit's to tell, in its own words.
    replayHeld();
    previousHandler(type, context, text);
}

QString setting(const QString& value)
{
    return value.isEmpty() ? QStringLiteral(" not set") : QLatin1Char('=') + value;
}

} // namespace

QString noDisplayLine(const QString& display, const QString& platform)
{
    return QStringLiteral("quiborsync: no display to open the windows on (DISPLAY%1, QT_QPA_PLATFORM%2); set "
                          "DISPLAY to a running X display, or QT_QPA_PLATFORM=offscreen to run unseen\n")
        .arg(setting(display), setting(platform));
}

DisplayOpening::DisplayOpening()
{
    previousHandler = qInstallMessageHandler(holdingHandler);
}

DisplayOpening::~DisplayOpening()
{
    done();
}

void DisplayOpening::done()
{
    if (!active_)
        return;
    active_ = false;
    qInstallMessageHandler(previousHandler);
    replayHeld();
}

} // namespace app
