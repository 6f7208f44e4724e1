#include "app/instance_guard.h"

#include "platform/instance_marker.h"
#include "ui/dialogs.h"

#include <QObject>

namespace app {
namespace {

// Keeps the mark for exactly as long as the object it belongs to.
class MarkHolder : public QObject {
public:
    explicit MarkHolder(QObject* owner) : QObject(owner) {}
    const InstanceMarker& marker() const { return marker_; }

private:
    InstanceMarker marker_;
};

void tellAnotherRuns()
{
    ui::dialogs().info(QStringLiteral("Sistema j\u00e1 est\u00e1 em execu\u00e7\u00e3o, favor verificar."));
}

void tellCannotCheck(const QString& why)
{
    ui::dialogs().error(QStringLiteral("N\u00e3o foi poss\u00edvel verificar se o sistema j\u00e1 est\u00e1 em "
                                       "execu\u00e7\u00e3o:\r")
                        + why + QStringLiteral("\rEsta c\u00f3pia ser\u00e1 encerrada."));
}

} // namespace

bool noOtherCopyRuns()
{
    QString why;
    switch (otherCopy(&why)) {
    case OtherCopy::None:
        return true;
    case OtherCopy::Running:
        tellAnotherRuns();
        return false;
    case OtherCopy::Unknown:
        tellCannotCheck(why);
        return false;
    }
    return false;
}

bool holdMarkFor(QObject* owner, bool tell)
{
    auto* holder = new MarkHolder(owner);
    if (holder->marker().held())
        return true;
    // Another copy took it since the start-up looked, or it cannot be taken.
    if (tell && holder->marker().otherHolds())
        tellAnotherRuns();
    else if (tell)
        tellCannotCheck(holder->marker().failure());
    delete holder;
    return false;
}

} // namespace app
