#include "support/UpdateFakes.h"

#include <QTimer>

void FakePackageInstaller::install(const QString& packagePath) {
    installed.append(packagePath);
    QTimer::singleShot(0, this, [this] { emit finished(outcome); });
}
