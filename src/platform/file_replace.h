#pragma once
// Replacing a file so that a failure never leaves half of it: the new bytes
// go to a temporary file beside it, which then takes the old one's place in
// one rename. The old file is kept as a backup first.

#include <QByteArray>
#include <QString>
#include <stdexcept>

namespace app {

// Raised with the system's own text and the path it concerns.
class FileReplaceError : public std::runtime_error {
public:
    explicit FileReplaceError(const QString& message)
        : std::runtime_error(message.toStdString()), message_(message) {}
    const QString& message() const { return message_; }

private:
    QString message_;
};

// The file a replace of `path` writes: when `path` is a symbolic link, the
// file it leads to (followed from link to link; one that does not exist yet
// is made), so the link stays a link. Otherwise `path` itself.
QString replacementTarget(const QString& path);

// Writes `bytes` to replacementTarget(`path`). An existing file is first
// copied to `backupPath` (replaced the same way), and the new file takes its
// mode and, where the system allows, its owner; a new file gets mode 0644,
// as an installer's. On failure the file is as it was.
void replaceFile(const QString& path, const QByteArray& bytes, const QString& backupPath);

// Whether this process may create files in `folder`.
bool folderWritable(const QString& folder);

// Whether this process runs with the system administrator's rights.
bool runningAsRoot();

} // namespace app
