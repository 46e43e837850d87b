#pragma once

#include <memory>

class AppSettings;
class AudioCaptureEngine;
class Clock;
class FileRevealer;
class Permissions;
class PulseAppListing;
class RealtimeClient;
class ScreenCapture;
class OnDeviceSpeech;
class SessionController;
class SleepInhibitor;

// The real components of one program run, wired into the session controller: the capture
// engine on the sound server, the Realtime client, the application listing, the desktop's
// services, the system clock and the on-device speech. Create it on the main thread after the
// application object; it owns everything and the controller goes first when it is destroyed.
class AppComposition {
public:
    explicit AppComposition(AppSettings& settings);
    ~AppComposition();
    AppComposition(const AppComposition&) = delete;
    AppComposition& operator=(const AppComposition&) = delete;

    SessionController& controller() { return *m_controller; }
    // None without a display.
    ScreenCapture* screenCapture() { return m_screen.get(); }
    AppSettings& settings() { return m_settings; }
    OnDeviceSpeech& speech() { return *m_speech; }

private:
    AppSettings& m_settings;
    std::unique_ptr<Permissions> m_permissions;
    std::unique_ptr<SleepInhibitor> m_sleepInhibitor;
    std::unique_ptr<FileRevealer> m_revealer;
    std::unique_ptr<Clock> m_clock;
    std::unique_ptr<AudioCaptureEngine> m_engine;
    std::unique_ptr<RealtimeClient> m_client;
    std::unique_ptr<OnDeviceSpeech> m_speech;
    std::unique_ptr<PulseAppListing> m_apps;
    std::unique_ptr<ScreenCapture> m_screen;
    std::unique_ptr<SessionController> m_controller; // last: destroyed first
};
