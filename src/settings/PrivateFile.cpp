#include "settings/PrivateFile.h"

#include <QFile>

#include <cerrno>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

// POSIX calls rather than QSaveFile: QSaveFile creates its temporary file with the umask's
// permissions, which would leave the key world-readable until a later chmod.
namespace PrivateFile {

std::optional<QByteArray> readRegularFile(const QString& path) {
    const int fd = ::open(QFile::encodeName(path).constData(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0)
        return std::nullopt;
    struct stat info {};
    std::optional<QByteArray> content;
    if (::fstat(fd, &info) == 0 && S_ISREG(info.st_mode)) {
        QByteArray bytes;
        char buffer[4096];
        ssize_t n = 0;
        while ((n = ::read(fd, buffer, sizeof buffer)) > 0 || (n < 0 && errno == EINTR))
            bytes.append(buffer, n > 0 ? n : 0);
        if (n == 0)
            content = bytes;
    }
    ::close(fd);
    return content;
}

int createPrivateTemporary(const QString& path, QByteArray& tempPath) {
    tempPath = QFile::encodeName(path) + ".XXXXXX";
    return ::mkstemp(tempPath.data()); // mkstemp creates 0600 whatever the umask
}

bool writeAtomically(const QString& path, const QByteArray& bytes) {
    const QByteArray target = QFile::encodeName(path);
    QByteArray temp;
    const int fd = createPrivateTemporary(path, temp);
    if (fd < 0)
        return false;
    bool ok = true;
    for (qsizetype written = 0; ok && written < bytes.size();) {
        const ssize_t n = ::write(fd, bytes.constData() + written, size_t(bytes.size() - written));
        if (n < 0 && errno == EINTR)
            continue;
        ok = n > 0;
        written += n > 0 ? n : 0;
    }
    ok = ok && ::fsync(fd) == 0;
    ok = (::close(fd) == 0) && ok;
    ok = ok && ::rename(temp.constData(), target.constData()) == 0;
    if (!ok) {
        const int reason = errno; // the failed step's, not the clean-up's
        ::unlink(temp.constData());
        errno = reason;
    }
    return ok;
}

} // namespace PrivateFile
