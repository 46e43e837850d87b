#include "update/ProcessRelauncher.h"

#include <QFile>
#include <QFileSystemWatcher>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <gtest/gtest.h>

namespace {
TEST(ProcessRelauncher, StartsTheProgramWithItsArgumentsThenQuits) {
    QTemporaryDir dir;
    const QString program = dir.filePath(QStringLiteral("corvinel"));
    const QString written = dir.filePath(QStringLiteral("arguments"));
    {
        QFile file(program);
        ASSERT_TRUE(file.open(QIODevice::WriteOnly));
        // Written aside and renamed, so the file appears whole.
        file.write(
            QStringLiteral("#!/bin/sh\nprintf '%s\\n' \"$@\" > '%1.part' && mv '%1.part' '%1'\n")
                .arg(written)
                .toUtf8());
        file.close();
        ASSERT_TRUE(file.setPermissions(QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner));
    }
    QFileSystemWatcher folder({dir.path()});
    QSignalSpy changed(&folder, &QFileSystemWatcher::directoryChanged);
    int quits = 0;
    ProcessRelauncher relauncher(
        program, {QStringLiteral("--wayland"), QStringLiteral("two words")}, [&] { ++quits; });

    relauncher.relaunch();
    EXPECT_EQ(quits, 1);
    while (!QFile::exists(written))
        ASSERT_TRUE(changed.wait(5000));
    QFile file(written);
    ASSERT_TRUE(file.open(QIODevice::ReadOnly));
    EXPECT_EQ(file.readAll(), QByteArray("--wayland\ntwo words\n"));
}

TEST(ProcessRelauncher, StaysWhenTheProgramCannotStart) {
    QTemporaryDir dir;
    int quits = 0;
    ProcessRelauncher relauncher(dir.filePath(QStringLiteral("gone")), {}, [&] { ++quits; });
    relauncher.relaunch();
    EXPECT_EQ(quits, 0);
}
} // namespace
