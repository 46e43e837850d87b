#pragma once

#include <memory>

class PackageInstaller;
class Relauncher;
class SessionController;
class UpdateController;
struct UpdateSettings;

// The updater of one program run: the update controller, the installer it hands verified
// packages to and the relaunch after an install, told by the session controller when a session
// runs and when it ends. Create it on the main thread after the session controller, and destroy
// it first.
class AppUpdater {
public:
    AppUpdater(UpdateSettings settings, SessionController& session);
    ~AppUpdater();
    AppUpdater(const AppUpdater&) = delete;
    AppUpdater& operator=(const AppUpdater&) = delete;

    UpdateController& controller() { return *m_controller; }

private:
    std::unique_ptr<PackageInstaller> m_installer;
    std::unique_ptr<Relauncher> m_relauncher;
    std::unique_ptr<UpdateController> m_controller; // last: destroyed first
};
