// POSIX files; a build for another platform replaces this file.
#include "platform/file_replace.h"

#include <QFile>
#include <QDir>
#include <QFileInfo>

#include <cerrno>
#include <climits>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace app {
namespace {

QString systemText(int error)
{
    return QString::fromLocal8Bit(std::strerror(error));
}

[[noreturn]] void fail(const QString& what, const QString& path, int error)
{
    throw FileReplaceError(what + u' ' + path + QStringLiteral(": ") + systemText(error));
}

// A descriptor closed on every way out.
class Descriptor {
public:
    explicit Descriptor(int fd) : fd_(fd) {}
    ~Descriptor()
    {
        if (fd_ >= 0)
            ::close(fd_);
    }
    Descriptor(const Descriptor&) = delete;
    Descriptor& operator=(const Descriptor&) = delete;
    int get() const { return fd_; }
    // Closes now, reporting the error a delayed write may only show here.
    int close()
    {
        const int rc = ::close(fd_);
        fd_ = -1;
        return rc;
    }

private:
    int fd_;
};

// Writes `bytes` into a new temporary file in the target's folder with the
// given mode and owner, flushed to disk, then renames it over `path`.
void writeByRename(const QString& path, const QByteArray& bytes, mode_t mode, const struct stat* owner)
{
    QByteArray temp = QFile::encodeName(path) + ".XXXXXX";
    Descriptor fd(::mkstemp(temp.data()));
    if (fd.get() < 0)
        fail(QStringLiteral("cannot create a file beside"), path, errno);
    const QString tempName = QFile::decodeName(temp);
    struct Unlink {
        QByteArray name;
        bool armed = true;
        ~Unlink()
        {
            if (armed)
                ::unlink(name.constData());
        }
    } unlink{temp};

    qsizetype written = 0;
    while (written < bytes.size()) {
        const ssize_t n = ::write(fd.get(), bytes.constData() + written, bytes.size() - written);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            fail(QStringLiteral("cannot write"), tempName, n < 0 ? errno : ENOSPC);
        written += n;
    }
    if (::fchmod(fd.get(), mode) != 0)
        fail(QStringLiteral("cannot set the mode of"), tempName, errno);
    // Only the administrator may give a file away; anyone else keeps it.
    if (owner && ::geteuid() == 0 && ::fchown(fd.get(), owner->st_uid, owner->st_gid) != 0)
        fail(QStringLiteral("cannot set the owner of"), tempName, errno);
    if (::fsync(fd.get()) != 0)
        fail(QStringLiteral("cannot write"), tempName, errno);
    if (fd.close() != 0)
        fail(QStringLiteral("cannot write"), tempName, errno);
    if (::rename(temp.constData(), QFile::encodeName(path).constData()) != 0)
        fail(QStringLiteral("cannot replace"), path, errno);
    unlink.armed = false;

    // The rename itself reaches the disk with the folder.
    const QByteArray folder = QFile::encodeName(QFileInfo(path).absolutePath());
    Descriptor dir(::open(folder.constData(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
    if (dir.get() >= 0)
        ::fsync(dir.get());
}

// The system's own bound on links followed for one name.
constexpr int kMaxLinks = 40;

} // namespace

QString replacementTarget(const QString& path)
{
    QString current = path;
    for (int followed = 0; followed <= kMaxLinks; ++followed) {
        const QByteArray name = QFile::encodeName(current);
        struct stat st {};
        if (::lstat(name.constData(), &st) != 0) {
            if (errno == ENOENT)
                return current; // a link to a file not made yet: it is made there
            fail(QStringLiteral("cannot look at"), current, errno);
        }
        if (!S_ISLNK(st.st_mode))
            return current;
        QByteArray target(PATH_MAX, '\0');
        const ssize_t n = ::readlink(name.constData(), target.data(), static_cast<std::size_t>(target.size()));
        if (n < 0 || n >= target.size())
            fail(QStringLiteral("cannot read the link"), current, n < 0 ? errno : ENAMETOOLONG);
        target.truncate(n);
        // A relative target is taken from the link's own folder; the folder
        // is named as the system resolves it, so messages show no "..".
        const QString next = QFile::decodeName(target);
        const QFileInfo joined(QFileInfo(next).isAbsolute() ? next : QFileInfo(current).dir().filePath(next));
        const QString folder = QFileInfo(joined.path()).canonicalFilePath();
        current = folder.isEmpty() ? joined.filePath() : QDir(folder).filePath(joined.fileName());
    }
    fail(QStringLiteral("cannot follow the link"), path, ELOOP);
}

void replaceFile(const QString& linkOrFile, const QByteArray& bytes, const QString& backupPath)
{
    const QString path = replacementTarget(linkOrFile);
    const QByteArray name = QFile::encodeName(path);
    struct stat old {};
    if (::stat(name.constData(), &old) == 0) {
        QFile current(path);
        if (!current.open(QIODevice::ReadOnly))
            throw FileReplaceError(QStringLiteral("cannot read ") + path + QStringLiteral(": ") + current.errorString());
        writeByRename(backupPath, current.readAll(), old.st_mode & 07777, &old);
        writeByRename(path, bytes, old.st_mode & 07777, &old);
    } else if (errno == ENOENT) {
        writeByRename(path, bytes, 0644, nullptr);
    } else {
        fail(QStringLiteral("cannot look at"), path, errno);
    }
}

bool folderWritable(const QString& folder)
{
    return ::access(QFile::encodeName(folder).constData(), W_OK | X_OK) == 0;
}

bool runningAsRoot()
{
    return ::geteuid() == 0;
}

} // namespace app
