#include "app/demo/DemoComposition.h"

#include "app/AppUpdater.h"

#include "app/demo/DemoPlatform.h"
#include "app/demo/DemoScript.h"
#include "app/demo/QuietCaptureEngine.h"
#include "app/demo/ScriptedMicTranscriber.h"
#include "app/demo/ScriptedRealtimeClient.h"
#include "session/SessionController.h"
#include "settings/AppSettings.h"
#include "update/UpdateController.h"

#include <QFile>

namespace {
// Copies the user's settings so the demo looks like their program, without ever writing to
// them, and points the key store at the temporary folder so a key typed into the demo's
// Settings cannot replace theirs.
std::unique_ptr<AppSettings> makeDemoSettings(const QString& folder) {
    const QString path = folder + QStringLiteral("/Corvinel.conf");
    QFile::copy(AppSettings::defaultPath(), path);
    QFile::setPermissions(path, QFile::ReadOwner | QFile::WriteOwner);
    qputenv("XDG_DATA_HOME", QFile::encodeName(folder + QStringLiteral("/data")));
    qputenv("OPENAI_API_KEY", "sk-demo-not-a-key");
    auto settings = std::make_unique<AppSettings>(path);
    settings->setHasCompletedOnboarding(true);
    settings->setMeetingSource(AppSettings::MeetingSource::systemOutput);
    // Recorded, so that the session leaves every file a real one does (the recording is the
    // quiet engine's, of the script).
    settings->setSaveAudio(true);
    settings->setTranscribeMyAnswers(true);
    if (!(settings->followUpWindow() > 0))
        settings->setFollowUpWindow(8);
    const QString appearance = qEnvironmentVariable("CORVINEL_DEMO_APPEARANCE");
    if (!appearance.isEmpty())
        settings->setAppearance(AppSettings::appearanceFromRaw(appearance));
    return settings;
}
// The release after `version`: its minor number plus one ("0.1.0" → "0.2.0").
QString nextVersion(const QString& version) {
    QStringList parts = version.split(u'.');
    while (parts.size() < 2)
        parts.append(QStringLiteral("0"));
    return QStringLiteral("%1.%2.0").arg(parts.at(0)).arg(parts.at(1).toInt() + 1);
}

std::optional<QByteArray> variable(const char* name) {
    return qEnvironmentVariableIsSet(name) ? std::optional(qgetenv(name)) : std::nullopt;
}

void restore(const char* name, const std::optional<QByteArray>& value) {
    if (value)
        qputenv(name, *value);
    else
        qunsetenv(name);
}
} // namespace

DemoComposition::DemoComposition()
    : m_dataHome(variable("XDG_DATA_HOME")), m_apiKey(variable("OPENAI_API_KEY")),
      m_settings(makeDemoSettings(m_folder.path())),
      m_permissions(std::make_unique<GrantedPermissions>()), m_revealer(makeDesktopFileRevealer()),
      m_clock(std::make_unique<FixedStartClock>(QDateTime(QDate::currentDate(), QTime(10, 30, 0)))),
      m_engine(std::make_unique<QuietCaptureEngine>()),
      m_client(std::make_unique<ScriptedRealtimeClient>(DemoScript::interview(),
                                                        DemoScript::speedFactor())),
      m_micTranscriber(std::make_unique<ScriptedMicTranscriber>(DemoScript::speedFactor())),
      m_recordingTranscriber(std::make_unique<NoRecordingTranscriber>()),
      m_apps(std::make_unique<NoAppListing>()) {
    QuietCaptureEngine* engine = m_engine.get();
    ScriptedMicTranscriber* transcriber = m_micTranscriber.get();
    m_client->onInterviewerSpeaks = [engine](double seconds) { engine->meetingSpeaks(seconds); };
    m_client->onCandidateSpeaks = [engine, transcriber](double seconds, const QString& text) {
        transcriber->say(text);
        engine->micSpeaks(seconds);
    };
    m_screen = std::make_unique<DrawnScreen>();
    m_controller = std::make_unique<SessionController>(SessionComponents{
        *m_settings, *m_engine, *m_client, *m_micTranscriber, *m_recordingTranscriber, *m_apps,
        *m_permissions, nullptr, m_revealer.get(), *m_clock,
        m_folder.path() + QStringLiteral("/sessions"), m_screen.get()});
    // What the candidate types and the rewrite they ask for go through the window's own calls.
    SessionController* controller = m_controller.get();
    m_client->onUserAsks = [controller](const QString& text) { controller->ask(text); };
    m_client->onUserAsksAboutScreen = [controller] { controller->askAboutScreen(false); };
    m_client->onUserRewrites = [controller](const QString& style) {
        if (!controller->pairs().isEmpty())
            controller->rewriteAnswer(controller->pairs().last().id, style);
    };

    // No address to fetch: each check fails at once, and the script's feed answers it a turn
    // later in place of a server.
    UpdateSettings updates{{{}, QStringLiteral("The demo does not look for updates.")},
                           UpdateBuild::version(),
                           {},
                           m_folder.path() + QStringLiteral("/updates")};
    m_updater = std::make_unique<AppUpdater>(std::move(updates), *m_controller,
                                             std::make_unique<KeepPackageInstaller>(),
                                             std::make_unique<NoRestart>());
    UpdateController* updater = &m_updater->controller();
    QObject::connect(
        updater, &UpdateController::lastCheckChanged, updater,
        [updater] { updater->takeFeed(DemoScript::appcast(nextVersion(UpdateBuild::version()))); },
        Qt::QueuedConnection);
}

UpdateController& DemoComposition::updater() {
    return m_updater->controller();
}

DemoComposition::~DemoComposition() {
    m_updater.reset();
    // The controller stops the session, closing its files, while its parts still exist.
    m_controller.reset();
    restore("XDG_DATA_HOME", m_dataHome);
    restore("OPENAI_API_KEY", m_apiKey);
}
