#include "app/AppUpdater.h"

#include "session/SessionController.h"
#include "update/UpdateController.h"

#include <QCoreApplication>
#include <QDir>
#include <QProcess>
#include <QTimer>

namespace {

// Leaves a verified package where it was downloaded and says so: the user opens it with the
// software centre. What a build does without a system installer service to hand it to.
class KeepForUserInstaller : public PackageInstaller {
public:
    void install(const QString& packagePath) override {
        const InstallOutcome outcome{
            InstallOutcome::Kind::savedOnly,
            QStringLiteral("The update was checked and saved as %1. Open it with your software "
                           "centre to install it.")
                .arg(QDir::toNativeSeparators(packagePath))};
        // Never from inside install(): the controller expects the answer a turn later.
        QTimer::singleShot(0, this, [this, outcome] { emit finished(outcome); });
    }
};

// Starts this program's binary again with the same arguments, then ends this run.
class StartAgain : public Relauncher {
public:
    void relaunch() override {
        if (QProcess::startDetached(QCoreApplication::applicationFilePath(),
                                    QCoreApplication::arguments().mid(1)))
            QCoreApplication::quit();
    }
};

} // namespace

AppUpdater::AppUpdater(UpdateSettings settings, SessionController& session)
    : m_installer(std::make_unique<KeepForUserInstaller>()),
      m_relauncher(std::make_unique<StartAgain>()),
      m_controller(
          std::make_unique<UpdateController>(std::move(settings), *m_installer, *m_relauncher,
                                             [&session] { return session.isSessionActive(); })) {
    QObject::connect(&session, &SessionController::isSessionActiveChanged, m_controller.get(),
                     &UpdateController::sessionActivityChanged);
    QObject::connect(&session, &SessionController::sessionEnded, m_controller.get(),
                     &UpdateController::sessionEnded);
}

AppUpdater::~AppUpdater() = default;
