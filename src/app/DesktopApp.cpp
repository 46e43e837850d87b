#include "app/DesktopApp.h"

#include "app/AppComposition.h"
#include "app/AppUpdater.h"
#include "app/demo/DemoComposition.h"
#include "app/demo/DemoScript.h"
#include "app/demo/DemoShots.h"
#include "app/demo/ScriptedRealtimeClient.h"
#include "platform/GlobalShortcuts.h"
#include "platform/PortalWindow.h"
#include "platform/ScreenCapture.h"
#include "session/SessionController.h"
#include "settings/AppSettings.h"
#include "settings/SecretStore.h"
#include "ui/DisplayPlatform.h"
#include "ui/FontWarmup.h"
#include "ui/GlobalKeys.h"
#include "update/UpdateController.h"

#include <QGuiApplication>
#include <QQmlApplicationEngine>
#include <QQuickStyle>
#include <QQuickWindow>
#include <QTimer>
#include <QUrl>
#include <QtQml/QQmlExtensionPlugin>

Q_IMPORT_QML_PLUGIN(CorvinelPlugin)

namespace {

// What both windows need before and right after the application object exists.
std::unique_ptr<QGuiApplication> makeApplication(int& argc, char* argv[], bool nativeWayland) {
    // Must happen before the application object picks its platform plugin.
    DisplayPlatform::choose(nativeWayland);
    auto app = std::make_unique<QGuiApplication>(argc, argv);
    QGuiApplication::setApplicationDisplayName(QStringLiteral("Corvinel"));
    // The id of the installed .desktop file: Wayland app ids, window rules and portals go by it.
    QGuiApplication::setDesktopFileName(QStringLiteral(CORVINEL_APP_ID));
    // Closing the one window ends the program.
    QGuiApplication::setQuitOnLastWindowClosed(true);
    QQuickStyle::setStyle(QStringLiteral("Fusion"));
    return app;
}

QQuickWindow* loadMainWindow(QQmlApplicationEngine& engine, SessionController& controller,
                             AppSettings& settings, UpdateController& updater) {
    engine.setInitialProperties({{QStringLiteral("session"), QVariant::fromValue(&controller)},
                                 {QStringLiteral("settings"), QVariant::fromValue(&settings)},
                                 {QStringLiteral("updater"), QVariant::fromValue(&updater)}});
    engine.load(QUrl(QStringLiteral("qrc:/Corvinel/Main.qml")));
    return engine.rootObjects().isEmpty()
               ? nullptr
               : qobject_cast<QQuickWindow*>(engine.rootObjects().constFirst());
}

} // namespace

int runDesktop(int argc, char* argv[], bool nativeWayland) {
    const auto app = makeApplication(argc, argv, nativeWayland);
    const FontWarmup fonts;
    AppSettings& settings = AppSettings::shared();
    if (settings.apiKey().isEmpty())
        SecretStore::migrateFromKeychain(
            &settings, [&settings](const QString& key) { settings.setApiKey(key); });
    AppComposition composition(settings);
    AppUpdater updater(UpdateSettings::fromBuild(), composition.controller());

    // Shortcuts from any window, where the desktop's portal offers them.
    GlobalShortcuts shortcuts(QDBusConnection::sessionBus());
    GlobalKeys::instance().use(&shortcuts);
    QQmlApplicationEngine engine;
    QQuickWindow* window =
        loadMainWindow(engine, composition.controller(), settings, updater.controller());
    if (!window)
        return 1;
    // The screenshot dialog, where the desktop shows one, belongs to this window.
    if (ScreenCapture* screen = composition.screenCapture())
        screen->setParentWindow(
            portalParentWindow(QGuiApplication::platformName(), window->winId()));
    const int status = app->exec();
    GlobalKeys::instance().use(nullptr);
    return status;
}

// The session starts by itself a moment after the window shows; Stop and Start work as usual
// (Start plays the script again).
int runDemo(int argc, char* argv[], bool nativeWayland) {
    const auto app = makeApplication(argc, argv, nativeWayland);
    const FontWarmup fonts;
    DemoComposition composition;

    QQmlApplicationEngine engine;
    QQuickWindow* window = loadMainWindow(engine, composition.controller(), composition.settings(),
                                          composition.updater());
    if (!window)
        return 1;

    std::unique_ptr<DemoShots> shots;
    if (const QString folder = DemoShots::folderFromEnvironment(); !folder.isEmpty()) {
        shots = std::make_unique<DemoShots>(*window, composition.controller(),
                                            composition.settings(), composition.updater(), folder);
        composition.client().onMark = [&shots](const QString& name) { shots->moment(name); };
    }
    SessionController* controller = &composition.controller();
    QTimer::singleShot(int(800 / DemoScript::speedFactor()), controller,
                       [controller] { controller->start(); });
    const int status = app->exec();
    composition.client().onMark = nullptr;
    return status;
}
