#pragma once

#include "update/PackageInstaller.h"

#include <QStringList>

// An installer that keeps the paths it was handed and finishes, a turn of the event loop later,
// with the outcome the test chose.
class FakePackageInstaller : public PackageInstaller {
    Q_OBJECT
public:
    using PackageInstaller::PackageInstaller;

    void install(const QString& packagePath) override;

    InstallOutcome outcome{InstallOutcome::Kind::installed, {}};
    QStringList installed;
};

// Counts the relaunches that would have happened.
class CountingRelaunch : public Relauncher {
public:
    void relaunch() override { ++count; }
    int count = 0;
};
