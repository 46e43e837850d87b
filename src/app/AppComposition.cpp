#include "app/AppComposition.h"

#include "audio/AudioCaptureEngine.h"
#include "audio/CaptureChecks.h"
#include "audio/PulseAppListing.h"
#include "base/Clock.h"
#include "platform/Platform.h"
#include "platform/ScreenCapture.h"
#include "realtime/RealtimeClient.h"
#include "session/SessionController.h"
#include "settings/AppSettings.h"
#include "speech/OnDeviceSpeech.h"

#include <QGuiApplication>

namespace {

// OV_REALTIME_HANDSHAKE_MS shortens the wait for the service's session setup, so a test of a
// service that never answers it takes a second, not fifteen.
RealtimeTiming realtimeTiming() {
    RealtimeTiming timing;
    bool ok = false;
    const int ms = qEnvironmentVariableIntValue("OV_REALTIME_HANDSHAKE_MS", &ok);
    if (ok && ms >= 100 && ms <= RealtimeTiming::defaultHandshakeTimeout.count())
        timing.handshakeTimeout = std::chrono::milliseconds(ms);
    return timing;
}

} // namespace

AppComposition::AppComposition(AppSettings& settings)
    : m_settings(settings),
      // Each probe asks afresh and keeps no state: check() may run on any thread.
      m_permissions(makeDesktopPermissions({[] { return hasMicrophone(); },
                                            [] { return canRecordSystemOutput(); },
                                            [] { return speechModelInstalled(); }})),
      m_sleepInhibitor(makeDesktopSleepInhibitor()), m_revealer(makeDesktopFileRevealer()),
      m_clock(makeSystemClock()) {
    Permissions* permissions = m_permissions.get();
    // The engine only checks; asking is the session's part, before it starts the engine.
    m_engine = std::make_unique<AudioCaptureEngine>([permissions] {
        return permissions->microphoneStatus() == Permissions::Status::authorized;
    });
    m_client = std::make_unique<RealtimeClient>(RealtimeClient::Options{realtimeTiming(), {}});
    m_speech = std::make_unique<OnDeviceSpeech>();
    m_apps = std::make_unique<PulseAppListing>();
    // Pictures of the screen need a display: the terminal session has none to take, and no
    // answer timer to show.
    const bool hasWindow = qobject_cast<QGuiApplication*>(QCoreApplication::instance()) != nullptr;
    if (hasWindow)
        m_screen = makeScreenCapture();
    m_controller = std::make_unique<SessionController>(SessionComponents{
        m_settings, *m_engine, *m_client, m_speech->micTranscriber(),
        m_speech->recordingTranscriber(), *m_apps, *m_permissions, m_sleepInhibitor.get(),
        m_revealer.get(), *m_clock, QString(), m_screen.get(), hasWindow});
}

AppComposition::~AppComposition() {
    // The controller stops a running session, closing its files, while its parts still exist.
    m_controller.reset();
}
