#include "common/log_path.h"

#include <QCoreApplication>
#include <QDir>

namespace common {
namespace {
QString& overrideFolder()
{
    static QString folder;
    return folder;
}
} // namespace

QString programFolder()
{
    QString folder = overrideFolder();
    if (folder.isEmpty() && QCoreApplication::instance())
        folder = QCoreApplication::applicationDirPath();
    if (folder.isEmpty())
        folder = QDir::currentPath();
    if (!folder.endsWith('/') && !folder.endsWith(QDir::separator()))
        folder += QDir::separator();
    return folder;
}

void setProgramFolder(const QString& folder)
{
    overrideFolder() = folder;
}

QString programPath(const QString& relativeName)
{
    QString rel = relativeName;
    rel.replace('\\', '/');
    while (rel.startsWith('/'))
        rel.remove(0, 1);
    return QDir::toNativeSeparators(QDir::cleanPath(programFolder() + rel));
}

} // namespace common
