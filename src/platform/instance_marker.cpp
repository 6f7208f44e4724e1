#include "platform/instance_marker.h"

#include <QDir>
#include <QFile>

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

namespace app {
namespace {

const char* const kFileName = "quiborsync.instance.lock";

QString& markerPathOverride()
{
    static QString path;
    return path;
}

QString systemError(int error)
{
    return QString::fromLocal8Bit(std::strerror(error));
}

// A folder (not a link to one) of this user's that nobody else may enter,
// or the reason it is not.
QString notOwnPrivateFolder(const QString& folder)
{
    struct stat st {};
    if (::lstat(QFile::encodeName(folder).constData(), &st) != 0)
        return QStringLiteral("%1: %2").arg(folder, systemError(errno));
    if (!S_ISDIR(st.st_mode))
        return QStringLiteral("%1 n\u00e3o \u00e9 uma pasta").arg(folder);
    if (st.st_uid != ::geteuid())
        return QStringLiteral("a pasta %1 pertence a outro usu\u00e1rio").arg(folder);
    if ((st.st_mode & 077) != 0)
        return QStringLiteral("a pasta %1 est\u00e1 aberta a outros usu\u00e1rios").arg(folder);
    return {};
}

struct OpenedMarker {
    int fd = -1;
    QString failure;
};

MarkerPlace placeInUse()
{
    if (!markerPathOverride().isEmpty())
        return {markerPathOverride(), {}};
    return markerPlace(qEnvironmentVariable("XDG_RUNTIME_DIR"), QDir::tempPath());
}

OpenedMarker openMarker()
{
    const MarkerPlace place = placeInUse();
    if (place.path.isEmpty())
        return {-1, place.failure};
    const QString& path = place.path;
    // Never through a link: the folder is this user's, the file must be too.
    const int fd = ::open(QFile::encodeName(path).constData(), O_RDONLY | O_CREAT | O_CLOEXEC | O_NOFOLLOW, 0600);
    if (fd < 0)
        return {-1, QStringLiteral("n\u00e3o foi poss\u00edvel abrir %1: %2").arg(path, systemError(errno))};
    return {fd, {}};
}

} // namespace

MarkerPlace markerPlace(const QString& runtimeFolder, const QString& tempFolder)
{
    if (!runtimeFolder.isEmpty() && QDir::isAbsolutePath(runtimeFolder) && notOwnPrivateFolder(runtimeFolder).isEmpty())
        return {QDir(runtimeFolder).filePath(QLatin1String(kFileName)), {}};

    const QString own = QDir(tempFolder).filePath(QStringLiteral("quiborsync-%1").arg(::geteuid()));
    if (::mkdir(QFile::encodeName(own).constData(), 0700) != 0 && errno != EEXIST)
        return {{}, QStringLiteral("n\u00e3o foi poss\u00edvel criar a pasta %1: %2").arg(own, systemError(errno))};
    // A folder of that name made first by someone else is no safe place.
    if (const QString why = notOwnPrivateFolder(own); !why.isEmpty())
        return {{}, why};
    return {QDir(own).filePath(QLatin1String(kFileName)), {}};
}

QString instanceMarkerPath()
{
    return placeInUse().path;
}

void setInstanceMarkerPath(const QString& path)
{
    markerPathOverride() = path;
}

OtherCopy otherCopy(QString* failure)
{
    const OpenedMarker marker = openMarker();
    if (marker.fd < 0) {
        if (failure)
            *failure = marker.failure;
        return OtherCopy::Unknown;
    }
    // A shared probe, so two copies starting together do not see each other
    // as running; only a holder's exclusive lock refuses it.
    OtherCopy answer = OtherCopy::None;
    if (::flock(marker.fd, LOCK_SH | LOCK_NB) != 0) {
        const int error = errno;
        if (error == EWOULDBLOCK) {
            answer = OtherCopy::Running;
        } else {
            answer = OtherCopy::Unknown;
            if (failure)
                *failure = systemError(error);
        }
    }
    ::close(marker.fd);
    return answer;
}

InstanceMarker::InstanceMarker()
{
    OpenedMarker marker = openMarker();
    if (marker.fd < 0) {
        failure_ = marker.failure;
        return;
    }
    if (::flock(marker.fd, LOCK_EX | LOCK_NB) != 0) {
        const int error = errno;
        ::close(marker.fd);
        if (error == EWOULDBLOCK)
            otherHolds_ = true;
        else
            failure_ = systemError(error);
        return;
    }
    fd_ = marker.fd;
}

InstanceMarker::~InstanceMarker()
{
    if (fd_ >= 0)
        ::close(fd_);
}

} // namespace app
