#pragma once

#include <QByteArray>
#include <QTemporaryDir>
#include <memory>
#include <optional>

class AppSettings;
class AppUpdater;
class DrawnScreen;
class FileRevealer;
class FixedStartClock;
class GrantedPermissions;
class NoAppListing;
class NoRecordingTranscriber;
class QuietCaptureEngine;
class ScriptedMicTranscriber;
class ScriptedRealtimeClient;
class SessionController;
class UpdateController;

// The real session controller over a scripted interview: the scripted model client, the quiet
// capture engine and the scripted transcriber of the candidate's words. Nothing reaches the
// network, a sound server or the user's files: the settings are a copy in a temporary folder,
// the session's files go there too, the key is a stand-in held in memory, and the updater's
// feed is part of the script.
class DemoComposition {
public:
    DemoComposition();
    ~DemoComposition();
    DemoComposition(const DemoComposition&) = delete;
    DemoComposition& operator=(const DemoComposition&) = delete;

    SessionController& controller() { return *m_controller; }
    AppSettings& settings() { return *m_settings; }
    ScriptedRealtimeClient& client() { return *m_client; }
    // Answers every check with the script's feed of a newer version.
    UpdateController& updater();
    // Where the demo keeps its settings and session files; removed on exit.
    QString folder() const { return m_folder.path(); }

private:
    QTemporaryDir m_folder;
    // The variables the demo points elsewhere while it runs, as they were.
    std::optional<QByteArray> m_dataHome;
    std::optional<QByteArray> m_apiKey;
    std::unique_ptr<AppSettings> m_settings;
    std::unique_ptr<GrantedPermissions> m_permissions;
    std::unique_ptr<FileRevealer> m_revealer;
    std::unique_ptr<FixedStartClock> m_clock;
    std::unique_ptr<QuietCaptureEngine> m_engine;
    std::unique_ptr<ScriptedRealtimeClient> m_client;
    std::unique_ptr<ScriptedMicTranscriber> m_micTranscriber;
    std::unique_ptr<NoRecordingTranscriber> m_recordingTranscriber;
    std::unique_ptr<NoAppListing> m_apps;
    std::unique_ptr<DrawnScreen> m_screen;
    std::unique_ptr<SessionController> m_controller;
    std::unique_ptr<AppUpdater> m_updater; // before the controller it listens to
};
