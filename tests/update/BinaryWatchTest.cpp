#include "update/BinaryWatch.h"

#include <QDateTime>
#include <QDir>
#include <QFile>
#include <QFileSystemWatcher>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <gtest/gtest.h>

namespace {
// A stand-in for the program: a script that answers --version as `corvinel --version` does,
// and leaves a file named "asked" beside it each time it runs.
void writeProgram(const QString& path, const QString& version) {
    QFile file(path);
    ASSERT_TRUE(file.open(QIODevice::WriteOnly | QIODevice::Truncate));
    file.write(QStringLiteral("#!/bin/sh\necho \"corvinel %1\"\n: > \"$(dirname \"$0\")/asked\"\n")
                   .arg(version)
                   .toUtf8());
    file.close();
    ASSERT_TRUE(file.setPermissions(QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner));
}

// As dpkg installs a file: written beside it, then renamed over it.
void replaceByRename(const QString& path, const QString& version) {
    const QString fresh = path + QStringLiteral(".dpkg-new");
    writeProgram(fresh, version);
    ASSERT_EQ(::rename(QFile::encodeName(fresh).constData(), QFile::encodeName(path).constData()),
              0);
}

TEST(BinaryWatch, AnnouncesTheVersionThatReplacedTheRunningFileOncePerVersion) {
    QTemporaryDir dir;
    const QString program = dir.filePath(QStringLiteral("corvinel"));
    writeProgram(program, QStringLiteral("0.1.0"));
    BinaryWatch watch(program, QStringLiteral("0.1.0"));
    QSignalSpy replaced(&watch, &BinaryWatch::replaced);
    EXPECT_TRUE(watch.notice().isEmpty());

    // Seen by the watch alone: nothing asks it to look.
    replaceByRename(program, QStringLiteral("0.2.0"));
    ASSERT_TRUE(replaced.wait(5000));
    EXPECT_EQ(replaced.takeFirst().at(0).toString(), QStringLiteral("0.2.0"));
    EXPECT_EQ(watch.notice(), QStringLiteral("Updated to 0.2.0 — restart when convenient"));

    // A touch changes the time but neither the file nor what it reports: no second notice.
    // The next replacement comes once the touched file has answered, so a second "0.2.0"
    // would come before "0.3.0".
    const QString asked = dir.filePath(QStringLiteral("asked"));
    ASSERT_TRUE(QFile::remove(asked));
    QFileSystemWatcher folder({dir.path()});
    QSignalSpy folderChanged(&folder, &QFileSystemWatcher::directoryChanged);
    {
        QFile file(program);
        ASSERT_TRUE(file.open(QIODevice::ReadWrite));
        ASSERT_TRUE(file.setFileTime(QDateTime::currentDateTime().addSecs(60),
                                     QFileDevice::FileModificationTime));
    }
    watch.check();
    while (!QFile::exists(asked))
        ASSERT_TRUE(folderChanged.wait(5000));
    replaceByRename(program, QStringLiteral("0.3.0"));
    ASSERT_TRUE(replaced.wait(5000));
    ASSERT_EQ(replaced.size(), 1);
    EXPECT_EQ(replaced.takeFirst().at(0).toString(), QStringLiteral("0.3.0"));
    EXPECT_EQ(watch.notice(), QStringLiteral("Updated to 0.3.0 — restart when convenient"));
}

} // namespace
