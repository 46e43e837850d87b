#pragma once

#include <QString>

// Who may enter the folders makeFolder creates. Folders that already exist keep their mode.
enum class FolderAccess {
    shared,    // 0777 less the umask, like any folder the user makes
    ownerOnly, // 0700: folders that hold secrets
};

// Makes the folder `path` and any missing parents. Empty when `path` is a folder now; otherwise
// the file system's reason (a file in the way is "Not a directory"), for the caller's message:
// QDir::mkpath would only say that it failed.
QString makeFolder(const QString& path, FolderAccess access = FolderAccess::shared);
