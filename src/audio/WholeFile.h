#pragma once

#include <QByteArray>
#include <QString>
#include <cstddef>

// Files the session leaves behind are written whole or not at all. (Kept beside the archive
// writer because both the session and the recording transcriber use it.)
namespace WholeFile {
// Replaces `path` with `bytes` atomically. Empty when the file on disk now holds exactly
// `bytes`; otherwise the file system's reason, and no partial file is left at `path`.
QString write(const QString& path, const QByteArray& bytes);
// Appends all of `size` bytes to `fd`, retrying interrupted writes. The count written: all of
// them, or fewer with `error` set to the errno of the refusal (a full disk, a lost medium).
size_t writeAll(int fd, const char* data, size_t size, int& error);
} // namespace WholeFile
