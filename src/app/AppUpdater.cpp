#include "app/AppUpdater.h"

#include "session/SessionController.h"
#include "update/BinaryWatch.h"
#include "update/PackageKitInstaller.h"
#include "update/ProcessRelauncher.h"
#include "update/UpdateController.h"

AppUpdater::AppUpdater(UpdateSettings settings, SessionController& session)
    : AppUpdater(std::move(settings), session, std::make_unique<PackageKitInstaller>(),
                 std::make_unique<ProcessRelauncher>()) {}

AppUpdater::AppUpdater(UpdateSettings settings, SessionController& session,
                       std::unique_ptr<PackageInstaller> installer,
                       std::unique_ptr<Relauncher> relauncher)
    : m_installer(std::move(installer)), m_relauncher(std::move(relauncher)),
      m_controller(
          std::make_unique<UpdateController>(std::move(settings), *m_installer, *m_relauncher,
                                             [&session] { return session.isSessionActive(); })) {
    QObject::connect(&session, &SessionController::isSessionActiveChanged, m_controller.get(),
                     &UpdateController::sessionActivityChanged);
    QObject::connect(&session, &SessionController::sessionEnded, m_controller.get(),
                     &UpdateController::sessionEnded);
    m_binary = std::make_unique<BinaryWatch>(BinaryWatch::runningExecutable(),
                                             m_controller->currentVersion());
    UpdateController* controller = m_controller.get();
    QObject::connect(m_binary.get(), &BinaryWatch::replaced, controller,
                     [controller, &session, watch = m_binary.get()](const QString& version) {
                         controller->binaryReplaced(version);
                         session.setBannerText(watch->notice());
                     });
}

AppUpdater::~AppUpdater() = default;
