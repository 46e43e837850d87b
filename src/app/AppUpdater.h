#pragma once

#include <memory>

class BinaryWatch;
class PackageInstaller;
class Relauncher;
class SessionController;
class UpdateController;
struct UpdateSettings;

// The updater of one program run: the update controller, PackageKit to install verified
// packages and the relaunch after an install, told by the session controller when a session runs
// and when it ends, and a watch on the program's file that says so in the window's banner when
// the package manager replaced it. Create it on the main thread after the session controller and
// early in the run (the relaunch reads the program's path then), and destroy it first.
class AppUpdater {
public:
    // PackageKit and the process relaunch.
    AppUpdater(UpdateSettings settings, SessionController& session);
    AppUpdater(UpdateSettings settings, SessionController& session,
               std::unique_ptr<PackageInstaller> installer, std::unique_ptr<Relauncher> relauncher);
    ~AppUpdater();
    AppUpdater(const AppUpdater&) = delete;
    AppUpdater& operator=(const AppUpdater&) = delete;

    UpdateController& controller() { return *m_controller; }

private:
    std::unique_ptr<PackageInstaller> m_installer;
    std::unique_ptr<Relauncher> m_relauncher;
    std::unique_ptr<UpdateController> m_controller;
    std::unique_ptr<BinaryWatch> m_binary; // last: destroyed first
};
