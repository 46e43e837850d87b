#include "base/Folders.h"

#include "base/SystemReason.h"

#include <QFile>

#include <cerrno>
#include <sys/stat.h>

namespace {
bool isFolder(const QByteArray& path) {
    struct stat info {};
    return ::stat(path.constData(), &info) == 0 && S_ISDIR(info.st_mode);
}
} // namespace

QString makeFolder(const QString& path, FolderAccess access) {
    const QByteArray native = QFile::encodeName(path);
    if (isFolder(native))
        return {};
    const mode_t mode = access == FolderAccess::ownerOnly ? 0700 : 0777;
    // Each prefix in turn, from the root down: one that exists already (EEXIST) is left as it
    // is, and a file among them makes the next mkdir fail with ENOTDIR.
    for (qsizetype end = 1; end <= native.size(); ++end) {
        if (end != native.size() && native[end] != '/')
            continue;
        if (::mkdir(native.left(end).constData(), mode) != 0 && errno != EEXIST)
            return systemReason(errno);
    }
    if (isFolder(native))
        return {};
    return systemReason(native.isEmpty() ? ENOENT : ENOTDIR);
}
