#include "platform/instance_marker.h"

#include <QDir>
#include <QFile>

#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

namespace app {
namespace {

QString& markerPathOverride()
{
    static QString path;
    return path;
}

int openMarker()
{
    const QByteArray path = QFile::encodeName(instanceMarkerPath());
    // Read-only is enough for flock, and works on a file another user made.
    return ::open(path.constData(), O_RDONLY | O_CREAT | O_CLOEXEC, 0644);
}

} // namespace

QString instanceMarkerPath()
{
    if (!markerPathOverride().isEmpty())
        return markerPathOverride();
    return QDir::tempPath() + QStringLiteral("/quiborsync.instance.lock");
}

void setInstanceMarkerPath(const QString& path)
{
    markerPathOverride() = path;
}

bool otherCopyRunning()
{
    const int fd = openMarker();
    if (fd < 0)
        return false;
    // A shared probe, so two copies starting together do not see each other
    // as running; only a holder's exclusive lock refuses it.
    const bool free = ::flock(fd, LOCK_SH | LOCK_NB) == 0;
    ::close(fd);
    return !free;
}

InstanceMarker::InstanceMarker()
{
    fd_ = openMarker();
    if (fd_ >= 0 && ::flock(fd_, LOCK_EX | LOCK_NB) != 0) {
        ::close(fd_);
        fd_ = -1;
    }
}

InstanceMarker::~InstanceMarker()
{
    if (fd_ >= 0)
        ::close(fd_);
}

} // namespace app
