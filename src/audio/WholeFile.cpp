#include "audio/WholeFile.h"

#include <QFileInfo>
#include <QSaveFile>

#include <cerrno>
#include <unistd.h>

QString WholeFile::write(const QString& path, const QByteArray& bytes) {
    QSaveFile file(path);
    if (!file.open(QIODevice::WriteOnly))
        return file.errorString();
    // commit() alone has been seen to report success after its own flush failed on a full
    // disk, renaming an empty file into place: every step is checked here.
    if (file.write(bytes) != bytes.size() || !file.flush()) {
        const QString reason = file.errorString();
        file.cancelWriting();
        return reason;
    }
    if (!file.commit())
        return file.errorString();
    if (QFileInfo(path).size() != bytes.size())
        return QStringLiteral("the file on disk is incomplete");
    return {};
}

size_t WholeFile::writeAll(int fd, const char* data, size_t size, int& error) {
    size_t done = 0;
    while (done < size) {
        const ssize_t written = ::write(fd, data + done, size - done);
        if (written < 0 && errno == EINTR)
            continue;
        if (written <= 0) {
            error = written < 0 ? errno : ENOSPC;
            return done;
        }
        done += static_cast<size_t>(written);
    }
    return done;
}
