#pragma once

#include <QByteArray>
#include <QString>
#include <optional>

// Files only the user may read: secrets and anything derived from them.
namespace PrivateFile {
// The whole content of `path` when it is, or links to, a regular file we may read; nullopt for
// anything else (missing, a FIFO, a device). Never blocks: a FIFO put in place of a file
// would otherwise hold the caller in open() until something writes to it.
std::optional<QByteArray> readRegularFile(const QString& path);
// Replaces `path` with `bytes` atomically. The temporary file is created 0600 before any byte
// is written, so the content is never readable by others, whatever the umask. On failure errno
// tells why.
bool writeAtomically(const QString& path, const QByteArray& bytes);
// Creates a unique file "<path>.XXXXXX" that is 0600 from the start; returns its descriptor
// (or -1) and sets `tempPath`. The first step of writeAtomically.
int createPrivateTemporary(const QString& path, QByteArray& tempPath);
} // namespace PrivateFile
