#include "support/loop_gaps.h"

#include <QFile>
#include <algorithm>

namespace testsupport {

long long runDelayNs()
{
    QFile f(QStringLiteral("/proc/thread-self/schedstat"));
    if (!f.open(QIODevice::ReadOnly))
        return 0;
    const QList<QByteArray> fields = f.readAll().split(' ');
    return fields.size() >= 2 ? fields[1].toLongLong() : 0;
}

TurnGaps::TurnGaps() : runDelayNs_(runDelayNs())
{
    sinceTurn_.start();
}

void TurnGaps::turn()
{
    const long long delay = runDelayNs();
    const double wall = sinceTurn_.nsecsElapsed() / 1e6;
    longestWallMs_ = std::max(longestWallMs_, wall);
    longestMs_ = std::max(longestMs_, wall - std::max(0LL, delay - runDelayNs_) / 1e6);
    runDelayNs_ = delay;
    ++turns_;
    sinceTurn_.start();
}

LoopGapMeter::LoopGapMeter()
{
    timer_.setTimerType(Qt::PreciseTimer);
    timer_.setInterval(1);
    QObject::connect(&timer_, &QTimer::timeout, [this] { gaps_.turn(); });
    timer_.start();
}

} // namespace testsupport
