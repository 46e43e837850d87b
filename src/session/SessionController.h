#pragma once

#include "audio/AudioCaptureEngineInterface.h"
#include "base/Clock.h"
#include "base/MainThreadInbox.h"
#include "realtime/RealtimeClientInterface.h"
#include "session/AnswerRequests.h"
#include "session/CostModel.h"
#include "session/PairListModel.h"
#include "session/QAPair.h"
#include "session/SessionCosts.h"

#include <QHash>
#include <QObject>
#include <QUuid>
#include <atomic>
#include <memory>
#include <optional>
#include <thread>

class ScreenCapture;
class RecordingTranscription;
class AppListing;
class AppSettings;
class FileRevealer;
class MicTranscriberInterface;
class Permissions;
class QAFlow;
class RecordingTranscriberInterface;
class SessionLog;
class SleepInhibitor;
class SpeakingTracker;

// A process-wide flag, true while a session runs; the updater reads it before relaunching.
class SessionSnapshot {
public:
    static bool isSessionActive() { return s_active.load(); }
    static void setSessionActive(bool value) { s_active.store(value); }

private:
    static inline std::atomic<bool> s_active{false};
};

// Everything the controller talks to. The composition root owns these and outlives the
// controller; tests hand in fakes.
struct SessionComponents {
    AppSettings& settings;
    AudioCaptureEngineInterface& audio;
    RealtimeClientInterface& client;
    MicTranscriberInterface& micTranscriber;
    RecordingTranscriberInterface& recordingTranscriber;
    AppListing& apps;
    Permissions& permissions;
    SleepInhibitor* sleepInhibitor = nullptr;
    FileRevealer* revealer = nullptr;
    Clock& clock;
    QString sessionDirectory;               // where each session's files go
    ScreenCapture* screenCapture = nullptr; // none without a display
    bool showsAnswerTimer = true;           // the terminal session shows none
};

// Runs the live session: Start and Stop with their checks, the cards, the user's answers,
// the banner and the session's files. Main thread only.
class SessionController : public QObject {
    Q_OBJECT
    Q_PROPERTY(PairListModel* pairs READ pairModel CONSTANT)
    Q_PROPERTY(StatusKind status READ statusKind NOTIFY statusChanged)
    Q_PROPERTY(QString statusMessage READ statusMessage NOTIFY statusChanged)
    Q_PROPERTY(bool isSessionActive READ isSessionActive NOTIFY isSessionActiveChanged)
    Q_PROPERTY(bool isStarting READ isStarting NOTIFY isStartingChanged)
    Q_PROPERTY(QString lastRecordingURL READ lastRecordingURL NOTIFY lastRecordingPathChanged)
    Q_PROPERTY(QString lastTranscriptURL READ lastTranscriptURL NOTIFY lastTranscriptPathChanged)
    Q_PROPERTY(QVariantList bannerLinks READ bannerLinksForView NOTIFY bannerLinksChanged)
    Q_PROPERTY(
        QVariant lastAnswerDuration READ lastAnswerDurationForView NOTIFY lastAnswerDurationChanged)
    Q_PROPERTY(QString costSummary READ costSummaryText NOTIFY costChanged)
    Q_PROPERTY(float micLevel READ micLevel NOTIFY levelsChanged)
    Q_PROPERTY(float meetingLevel READ meetingLevel NOTIFY levelsChanged)
    Q_PROPERTY(QString banner READ bannerText NOTIFY bannerChanged)
    Q_PROPERTY(bool hasBanner READ hasBanner NOTIFY bannerChanged)
    Q_PROPERTY(bool isSpeaking READ isSpeaking NOTIFY isSpeakingChanged)
    Q_PROPERTY(QString heardOutput READ heardOutput NOTIFY heardOutputChanged)
    Q_PROPERTY(bool isAnswering READ isAnswering NOTIFY isAnsweringChanged)
    Q_PROPERTY(double speakingElapsed READ speakingElapsed NOTIFY speakingElapsedChanged)
    Q_PROPERTY(double sessionElapsed READ sessionElapsed NOTIFY sessionElapsedChanged)
    Q_PROPERTY(
        double transcriptionProgress READ transcriptionProgress NOTIFY transcriptionProgressChanged)
    Q_PROPERTY(QString sessionFolder READ sessionFolder CONSTANT)

public:
    using Status = RealtimeClientInterface::Status;
    enum class StatusKind { idle, connecting, connected, reconnecting, failed };
    Q_ENUM(StatusKind)

    struct BannerLink {
        QUuid id;
        QString label;
        QString path;
        friend bool operator==(const BannerLink&, const BannerLink&) = default;
    };

    explicit SessionController(SessionComponents components, QObject* parent = nullptr);
    ~SessionController() override;

    Q_INVOKABLE void start();
    Q_INVOKABLE void stop();
    Q_INVOKABLE void applyInstructionsLive();
    Q_INVOKABLE void revealRecording();
    void revealLink(const BannerLink& link);
    // The link of the current banner with this id (the text form of its UUID).
    Q_INVOKABLE void revealLink(const QString& id);
    // The file chooser belongs to the view; the controller takes the chosen file, as a path
    // or a file URL.
    Q_INVOKABLE void transcribeRecording(const QString& wavPath);
    // Writes the review page of a past session's event log (a path or a file URL) beside it
    // and opens it in the browser; the banner says why not.
    Q_INVOKABLE void openReview(const QString& eventLogPath);
    // Empties the cards and what was kept of the user's spoken answers.
    Q_INVOKABLE void clearFeed();
    // A typed question, and rewrites of a finished answer ("shorter", "more_detail", "example",
    // "bullets"); during a session only.
    Q_INVOKABLE void ask(const QString& text) {
        if (m_isSessionActive)
            m_requests->ask(text);
    }
    Q_INVOKABLE void rewriteAnswer(const QString& pairId, const QString& style) {
        const auto chosen = AnswerRequests::styleNamed(style);
        if (m_isSessionActive && chosen)
            m_requests->rewrite(pairId, *chosen);
    }
    Q_INVOKABLE void showAnswerVersion(const QString& pairId, int index) {
        m_requests->showVersion(pairId, index);
    }
    // "Ask About the Screen": a picture of the screen (or of an area the user picks).
    Q_INVOKABLE void askAboutScreen(bool pickArea) {
        if (m_isSessionActive)
            m_requests->captureScreen(pickArea);
        else
            setBanner(QStringLiteral("Start a session to ask about the screen."));
    }
    // The banner's close button; what belongs to the banner goes with it.
    Q_INVOKABLE void dismissBanner() { setBanner(std::nullopt); }

    std::optional<QString> costSummary() const;
    // Built when asked (copy, export), never per streamed token.
    Q_INVOKABLE QString transcriptForExport() const;
    static QString formatClock(double seconds);
    static QString format(double duration);

    const QList<QAPair>& pairs() const;
    // The desktop services the controller was built with, for the views that ask them too.
    Permissions& permissions() const { return m_c.permissions; }
    AppListing& apps() const { return m_c.apps; }
    PairListModel* pairModel() const { return m_pairModel; }
    Status status() const { return m_status; }
    bool isSessionActive() const { return m_isSessionActive; }
    // True from Start until the capture runs or the start has failed.
    bool isStarting() const { return m_isStarting; }
    float micLevel() const { return m_micLevel; }
    float meetingLevel() const { return m_meetingLevel; }
    std::optional<QString> lastRecordingPath() const { return m_lastRecordingPath; }
    std::optional<QString> lastTranscriptPath() const { return m_lastTranscriptPath; }
    std::optional<QString> banner() const { return m_banner; }
    QString bannerText() const { return m_banner.value_or(QString()); }
    bool hasBanner() const { return m_banner.has_value(); }
    QList<BannerLink> bannerLinks() const { return m_bannerLinks; }
    bool isSpeaking() const;
    // While a session hears what this computer plays: the output heard, by its name for
    // people; empty otherwise.
    QString heardOutput() const { return m_heardOutput; }
    bool isAnswering() const;
    double speakingElapsed() const;
    std::optional<double> lastAnswerDuration() const;
    double sessionElapsed() const;
    // A recording's transcription: 0…1 while the banner reports its progress, −1 otherwise.
    double transcriptionProgress() const { return m_transcriptionProgress; }
    // Where each session's files go.
    QString sessionFolder() const { return m_c.sessionDirectory; }
    // Where the user finds the cards when their files cannot be written, for the banners to
    // name: the window's "Copy transcript", or the terminal a headless session prints them on.
    enum class CardsShown { inWindow, onTerminal };
    void setCardsShown(CardsShown where) { m_cardsShown = where; }
    CostModel::Usage sessionUsage() const { return m_costs.usage(); }
    // What the session has cost so far; none when its model has no known price.
    std::optional<double> sessionCost() const { return m_costs.cost(); }
    std::optional<QString> pendingAppTap() const { return m_pendingAppTap; }

    // The same state in the shapes QML binds to; empty text stands for "none".
    StatusKind statusKind() const { return StatusKind(int(m_status.kind)); }
    QString statusMessage() const { return m_status.message; }
    QString lastRecordingURL() const { return m_lastRecordingPath.value_or(QString()); }
    QString lastTranscriptURL() const { return m_lastTranscriptPath.value_or(QString()); }
    QVariantList bannerLinksForView() const;
    QVariant lastAnswerDurationForView() const;
    QString costSummaryText() const { return costSummary().value_or(QString()); }

    // Sets the banner text; links survive only while the text that owns them stays.
    void setBanner(const std::optional<QString>& text);
    Q_INVOKABLE void setBannerText(const QString& text) { setBanner(std::optional(text)); }
    void setBanner(const QString& text, const QList<BannerLink>& links);

    // Entry points of the component callbacks (public so the wiring stays readable).
    void ingestTranscript(const QString& text, const QString& itemID = QString());
    void ingestDelta(const QString& responseID, const QString& delta);
    void completeResponse(const QString& responseID);
    void trackSpeaking(float micLevel);
    void updateMyAnswer(const QString& text, bool final);
    void recordUsage(const QJsonObject& usage);
    void recordTranscriptionUsage(const QJsonObject& usage);
    void log(const QString& text);

signals:
    void pairsChanged();
    void statusChanged();
    void isSessionActiveChanged();
    void isStartingChanged();
    void levelsChanged();
    void bannerChanged();
    void bannerLinksChanged();
    void lastRecordingPathChanged();
    void lastTranscriptPathChanged();
    void isSpeakingChanged();
    void isAnsweringChanged();
    void speakingElapsedChanged();
    void lastAnswerDurationChanged();
    void sessionElapsedChanged();
    void costChanged();
    void transcriptionProgressChanged();
    void heardOutputChanged();
    // Posted each time a session stops.
    void sessionEnded();

private:
    void wireComponents();
    void continueStart(bool micGranted);
    void engineStarted(const std::optional<AudioFailure>& failure);
    void finishStart();
    void failStart(const QString& message);
    // What the meeting is, from the settings; absent (with the reason shown) when it cannot be.
    struct MeetingChoice {
        AudioCaptureEngineInterface::Source source;
        QString app; // the app to narrow to once the start thread has found it, if any
    };
    std::optional<MeetingChoice> chooseSource();
    // The meeting app as the start found it.
    struct AppAtStart {
        QString bundleID;
        bool playing = false;
        QList<AudioProcessInfo> listed;
    };
    // On the engine's start thread: where the app plays now, narrowing `source` to it if it does.
    AppAtStart resolveApp(const QString& bundleID, AudioCaptureEngineInterface::Source& source);
    void appResolved(const AppAtStart& app);
    void reserveLog();
    void startLog();
    void finishLog();
    void record(const QString& event, const QJsonObject& fields);
    void startAppTapPollIfNeeded();
    void pollAppTap(const QString& bundleID);
    void narrowTo(const QString& bundleID, uint32_t object, const QString& name);
    // The name `bundleID` has in `listed`, else the one it had when last listed.
    QString appName(const QString& bundleID, const QList<AudioProcessInfo>& listed) const;
    void postStopBanner();
    void showKeySaveError();
    void setStatus(const Status& status);
    void setSessionActive(bool value);
    void setStarting(bool value);
    void setLevels(float mic, float meeting);
    void setHeardOutput(const QString& output);
    void setLastRecordingPath(const std::optional<QString>& path);
    void setLastTranscriptPath(const std::optional<QString>& path);
    void setTranscriptionProgress(double progress);

    SessionComponents m_c;
    std::unique_ptr<QAFlow> m_flow;
    std::unique_ptr<AnswerRequests> m_requests;
    std::unique_ptr<RecordingTranscription> m_recording;
    int m_screenPictures = 0;                // pictures of the screen saved in this session
    std::optional<QString> m_lastReviewPath; // the stopped session's review page, for its banner
    std::unique_ptr<SpeakingTracker> m_tracker;
    std::unique_ptr<SessionLog> m_log;
    PairListModel* m_pairModel; // a child, so QML never takes ownership

    Status m_status;
    bool m_isSessionActive = false;
    bool m_isStarting = false;
    QString m_heardOutput;
    float m_micLevel = 0;
    float m_meetingLevel = 0;
    std::optional<QString> m_lastRecordingPath;
    std::optional<QString> m_lastTranscriptPath;
    std::optional<QString> m_banner;
    QList<BannerLink> m_bannerLinks;
    std::optional<QString> m_bannerOwningLinks;
    std::optional<QString> m_failureMessage;
    std::optional<QString> m_keySaveBanner; // the last key-save failure put on the banner
    std::optional<QString> m_pendingAppTap;
    std::unique_ptr<Clock::Timer> m_appTapPoll;
    std::unique_ptr<Clock::Timer> m_permissionBanner;
    QString m_logStamp;
    mutable QHash<QString, QString> m_appNames; // application id → the name it was listed with
    bool m_appTapLookupRunning = false;
    std::optional<QString> m_cannotSave; // why this session's files cannot be written at all
    QStringList m_unsaved;               // what the Stop banner must say was not saved whole
    bool m_recordingCutShort = false;
    CardsShown m_cardsShown = CardsShown::inWindow;
    SessionCosts m_costs{
        [this](const QString& event, const QJsonObject& fields) { record(event, fields); }};
    double m_transcriptionProgress = -1;
    std::optional<QString> m_progressBanner; // the last progress report of a transcription
    // Carries the engine start's result back; what is still queued when the controller goes
    // is dropped.
    MainThreadInbox m_inbox;
    // Starts the capture engine, which blocks on the sound server. A thread of its own: on the
    // shared pool it would wait behind recording transcriptions. Joined before the next start
    // and on destruction.
    std::thread m_engineStart;
};
