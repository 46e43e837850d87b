#include "session/SessionController.h"

#include "audio/AppListing.h"
#include "base/Assign.h"
#include "base/Background.h"
#include "platform/Platform.h"
#include "session/AnswerRequests.h"
#include "session/QAFlow.h"
#include "session/RecordingTranscription.h"
#include "session/SessionLog.h"
#include "session/SessionReview.h"
#include "session/SpeakingTracker.h"
#include "settings/AppSettings.h"
#include "settings/Graphemes.h"
#include "speech/MicTranscriberInterface.h"

#include <QDir>
#include <QFileInfo>
#include <QMetaEnum>
#include <QPointer>
#include <QUrl>
#include <QtDebug>
#include <algorithm>

namespace {
const QString kNoKey = QStringLiteral("Add your OpenAI API key in Settings first.");
const QString kScreenAudioDenied = QStringLiteral(
    "This desktop does not let Corvinel record what the computer plays. Allow it audio access (a "
    "Flatpak needs the PulseAudio socket), then quit and reopen the app. Until then, set "
    "\"Source\" in Settings to your audio input device.");
const QString kWaitingForPermission = QStringLiteral(
    "Waiting for the sound server — PipeWire or PulseAudio is slow to start the recording.");
const QString kSpeechDenied =
    QStringLiteral("Speech recognition permission was denied, so your answers won't be "
                   "transcribed.");
const QString kNoMeetingChannel =
    QStringLiteral("No meeting channel is mapped, so your mic is being streamed instead. Set a "
                   "meeting channel in Settings.");
const QString kPickApp = QStringLiteral("Pick which app to listen to in Settings.");
// What the user can do about a problem the service reported, by its short code; nothing for the
// problems only the log needs to keep.
std::optional<QString> serviceAdvice(const QString& code, const QString& message) {
    if (code == u"insufficient_quota")
        return QStringLiteral("Your OpenAI account is out of credit — add credit at "
                              "platform.openai.com, then Start again.");
    if (code == u"rate_limit_exceeded")
        return QStringLiteral("OpenAI is rate limiting this key — answers resume shortly.");
    if (code == u"invalid_api_key")
        return QStringLiteral("OpenAI does not accept this API key — paste a valid key in "
                              "Settings, then Start again.");
    const QString lower = message.toLower();
    if (code == u"model_not_found" ||
        (lower.contains(u"model") &&
         (lower.contains(u"does not exist") || lower.contains(u"not available") ||
          lower.contains(u"do not have access"))))
        return QStringLiteral("This OpenAI account cannot use the chosen model — pick another "
                              "model in Settings, then Start again.");
    return std::nullopt;
}

constexpr double kPermissionBannerDelay = 4.0;
constexpr double kAppTapPollInterval = 3.0;

using Engine = AudioCaptureEngineInterface;
} // namespace

SessionController::SessionController(SessionComponents components, QObject* parent)
    : QObject(parent), m_c(std::move(components)), m_pairModel(new PairListModel(this)) {
    if (m_c.sessionDirectory.isEmpty())
        m_c.sessionDirectory = sessionDirectory();

    QAFlow::Hooks flowHooks;
    flowHooks.isSpeaking = [this] { return isSpeaking(); };
    flowHooks.interviewerTookOver = [this] { m_tracker->interviewerTookOver(); };
    flowHooks.record = [this](const QString& event, const QJsonObject& fields) {
        record(event, fields);
    };
    flowHooks.regenerate = [this](const QString& cardID, const QString& question) {
        m_c.client.regenerate(cardID, question);
    };
    flowHooks.cancelResponse = [this](const QString& id) { m_c.client.cancelResponse(id); };
    flowHooks.skipTurn = [this](const QString& itemID) { m_c.client.skipTurn(itemID); };
    flowHooks.updateHistory = [this](const QList<RealtimeClientInterface::HistoryPair>& pairs) {
        m_c.client.updateHistory(pairs);
    };
    flowHooks.answerFinished = [this](QAPair& card) { m_requests->answerFinished(card); };
    flowHooks.pairsChanged = [this] {
        m_pairModel->sync(m_flow->pairs());
        emit pairsChanged();
    };
    AppSettings* settings = &m_c.settings;
    m_flow = std::make_unique<QAFlow>(
        m_c.clock, [settings] { return settings->followUpWindow(); }, std::move(flowHooks));
    m_requests = std::make_unique<AnswerRequests>(
        *m_flow, m_c.screenCapture,
        AnswerRequests::Hooks{
            [this] { return isSpeaking(); },
            [this](const QString& event, const QJsonObject& fields) { record(event, fields); },
            [this](const QString& cardID, const QString& message, const QByteArray& image) {
                m_c.client.regenerate(cardID, message, image);
            },
            [this](const QString& text) { setBanner(text); },
            [this] {
                return m_log && !m_cannotSave
                           ? m_c.sessionDirectory + QStringLiteral("/meeting_%1.screen-%2.jpg")
                                                        .arg(m_log->stamp())
                                                        .arg(++m_screenPictures)
                           : QString();
            }});

    m_recording = std::make_unique<RecordingTranscription>(
        m_c.micTranscriber, m_c.recordingTranscriber,
        RecordingTranscription::Hooks{
            [this](const QString& text, bool isProgress) {
                m_progressBanner = isProgress ? std::optional(text) : std::nullopt;
                setBanner(text);
            },
            [this](double fraction) { setTranscriptionProgress(fraction); },
            [this](const QString& path) {
                if (m_c.revealer)
                    m_c.revealer->reveal({path});
            }});

    SpeakingTracker::Hooks trackerHooks;
    trackerHooks.isSessionActive = [this] { return m_isSessionActive; };
    trackerHooks.transcribeMyAnswers = [settings] { return settings->transcribeMyAnswers(); };
    trackerHooks.hasLog = [this] { return m_log && m_log->hasBegun(); };
    trackerHooks.showsAnswerTimer = [this] { return m_c.showsAnswerTimer; };
    trackerHooks.record = [this](const QString& event, const QJsonObject& fields) {
        record(event, fields);
    };
    m_tracker = std::make_unique<SpeakingTracker>(m_c.clock, *m_flow, m_c.micTranscriber,
                                                  m_c.sleepInhibitor, std::move(trackerHooks));
    connect(m_tracker.get(), &SpeakingTracker::isSpeakingChanged, this,
            &SessionController::isSpeakingChanged);
    connect(m_tracker.get(), &SpeakingTracker::isAnsweringChanged, this,
            &SessionController::isAnsweringChanged);
    connect(m_tracker.get(), &SpeakingTracker::speakingElapsedChanged, this,
            &SessionController::speakingElapsedChanged);
    connect(m_tracker.get(), &SpeakingTracker::lastAnswerDurationChanged, this,
            &SessionController::lastAnswerDurationChanged);
    connect(m_tracker.get(), &SpeakingTracker::sessionElapsedChanged, this, [this] {
        emit sessionElapsedChanged();
        if (!m_costs.usage().isEmpty())
            emit costChanged(); // the per-minute figure moves with the clock
    });
    wireComponents();

    // What loading the settings found wrong with the key file is told once, at launch; a key
    // that cannot be kept is told while it lasts.
    if (const QStringList notices = m_c.settings.keyFileNotices(); !notices.isEmpty())
        setBanner(notices.join(u' '));
    connect(settings, &AppSettings::apiKeySaveErrorChanged, this,
            &SessionController::showKeySaveError);
}

void SessionController::showKeySaveError() {
    const QString error = m_c.settings.apiKeySaveError();
    if (!error.isEmpty()) {
        m_keySaveBanner = error;
        setBanner(error);
    } else if (m_keySaveBanner && m_banner == m_keySaveBanner) {
        setBanner(std::nullopt);
    }
}

SessionController::~SessionController() {
    // A start in flight ends first (the sound server answers or times out within seconds), so
    // that a capture it started is stopped below rather than left running.
    if (m_engineStart.joinable())
        m_engineStart.join();
    m_inbox.close();
    if (m_isSessionActive || m_c.audio.isRunning())
        stop();
    // The components outlive the controller: leave them nothing that points back here.
    m_c.client.onStatus = nullptr;
    m_c.client.onTranscript = nullptr;
    m_c.client.onResponseCreated = nullptr;
    m_c.client.onTurnWaiting = nullptr;
    m_c.client.onAnswerRefused = nullptr;
    m_c.client.onTranscriptDelta = nullptr;
    m_c.client.onTranscriptionModelReplaced = nullptr;
    m_c.client.onDelta = nullptr;
    m_c.client.onResponseDone = nullptr;
    m_c.client.onResponseUnfinished = nullptr;
    m_c.client.onTranscriptionFailed = nullptr;
    m_c.client.onServiceError = nullptr;
    m_c.client.onLog = nullptr;
    m_c.client.onUsage = nullptr;
    m_c.client.onTranscriptionUsage = nullptr;
    m_c.audio.onPCM16 = nullptr;
    m_c.audio.onLevels = nullptr;
    m_c.audio.onError = nullptr;
    m_c.audio.onFollowedApp = nullptr;
    m_c.audio.onHeardOutput = nullptr;
    m_c.audio.onMicBuffer = nullptr;
    m_c.micTranscriber.onPartial = nullptr;
    m_c.micTranscriber.onFinal = nullptr;
    m_c.micTranscriber.onFailure = nullptr;
}

void SessionController::wireComponents() {
    RealtimeClientInterface& client = m_c.client;
    // What the client heard before it saw a Stop can still be on its way: once the session has
    // stopped, nothing of it may change the cards, the log or the next session's cost.
    const auto live = [this](auto handler) {
        return [this, handler](const auto&... args) {
            if (m_isSessionActive)
                handler(args...);
        };
    };
    client.onStatus = live([this](const Status& status) {
        setStatus(status);
        if (status.isFailed()) {
            m_failureMessage = status.message;
            setBanner(status.message);
            stop();
        }
    });
    client.onTranscript = live(
        [this](const QString& itemID, const QString& text) { ingestTranscript(text, itemID); });
    client.onResponseCreated =
        live([this](const QString& responseID, const QString& itemID, const QString& cardID) {
            m_flow->startResponse(responseID, itemID, cardID);
        });
    client.onTurnWaiting = live([this](const QString& itemID) { m_flow->turnWaiting(itemID); });
    client.onAnswerRefused = live([this](const QString& itemID, const QString& cardID,
                                         const QString& code, const QString& message) {
        m_flow->answerRefused(itemID, cardID, message);
        setBanner(serviceAdvice(code, message)
                      .value_or(QStringLiteral("OpenAI could not answer: ") + message));
    });
    client.onTranscriptDelta = live([this](const QString& itemID, const QString& delta) {
        m_flow->ingestTranscriptDelta(itemID, delta);
    });
    client.onTranscriptionModelReplaced = live([this](const QString& refused, const QString& used) {
        m_costs.useTranscriptionModel(used);
        record(QStringLiteral("transcription_model_replaced"),
               {{QStringLiteral("refused"), refused}, {QStringLiteral("used"), used}});
        setBanner(QStringLiteral("OpenAI does not take %1 for transcription here, so this "
                                 "session uses %2. Your setting is unchanged.")
                      .arg(refused, used));
    });
    client.onDelta =
        live([this](const QString& id, const QString& delta) { ingestDelta(id, delta); });
    client.onResponseDone = live([this](const QString& id) { completeResponse(id); });
    client.onResponseUnfinished =
        live([this](const QString& id, const RealtimeClientInterface::ResponseEnd& end) {
            if (!m_flow->endResponseShort(id, end) || end.status != u"failed")
                return;
            const QString why = end.message.isEmpty() ? end.reason : end.message;
            setBanner(serviceAdvice(end.reason, end.message)
                          .value_or(why.isEmpty()
                                        ? QStringLiteral("OpenAI could not answer this question.")
                                        : QStringLiteral("OpenAI could not answer: ") + why));
        });
    client.onTranscriptionFailed = live([this](const QString& itemID, const QString& message) {
        m_flow->transcriptionFailed(itemID, message);
    });
    client.onServiceError = live([this](const QString& code, const QString& message) {
        if (const auto advice = serviceAdvice(code, message))
            setBanner(*advice);
    });
    client.onLog = [this](const QString& line) { log(line); };
    client.onUsage = live([this](const QJsonObject& usage) { recordUsage(usage); });
    client.onTranscriptionUsage =
        live([this](const QJsonObject& usage) { recordTranscriptionUsage(usage); });

    // These two run on capture threads and touch only thread-safe component calls.
    m_c.audio.onPCM16 = [&client](const QByteArray& pcm16) { client.append(pcm16); };
    MicTranscriberInterface& transcriber = m_c.micTranscriber;
    m_c.audio.onMicBuffer = [&transcriber](const float* samples, int frames, double rate) {
        transcriber.append(samples, frames, rate);
    };
    // Levels a stopping engine had already posted must not move the meters after Stop.
    m_c.audio.onLevels = live([this](float mic, float meeting) {
        setLevels(mic, meeting);
        trackSpeaking(mic);
    });
    m_c.audio.onError = [this](const AudioFailure& error) { setBanner(error.description); };
    m_c.audio.onFollowedApp = [this](const QString& app, bool alone) {
        // The name it was listed with at Start or when narrowed to: no sound-server query here.
        const QString name = m_appNames.value(app, app);
        record(QStringLiteral("meeting_source"),
               {{QStringLiteral("app"), app}, {QStringLiteral("alone"), alone}});
        setBanner(alone ? QStringLiteral("Listening to %1 alone again.").arg(name)
                        : QStringLiteral("%1 stopped playing — listening to everything this "
                                         "computer plays until it plays again.")
                              .arg(name));
    };

    m_c.audio.onHeardOutput = [this](const QString& output) {
        // Reported while the capture starts, before the session counts as running.
        if (m_isSessionActive || m_isStarting)
            setHeardOutput(output);
    };

    transcriber.onPartial = [this](const QString& text) { updateMyAnswer(text, false); };
    transcriber.onFinal = [this](const QString& text) { updateMyAnswer(text, true); };
    transcriber.onFailure = [this](const QString& text) { setBanner(text); };
}

// ---- Start ----

void SessionController::start() {
    if (m_isSessionActive || m_isStarting)
        return;
    setBanner(std::nullopt);
    m_failureMessage.reset();
    if (m_c.settings.apiKey().trimmed().isEmpty()) {
        setBanner(kNoKey);
        return;
    }
    switch (m_c.permissions.microphoneStatus()) {
    case Permissions::Status::notDetermined: {
        setStarting(true);
        QPointer<SessionController> self(this);
        m_c.permissions.requestMicrophone([self](bool granted) {
            if (self) {
                self->setStarting(false);
                self->continueStart(granted);
            }
        });
        return;
    }
    case Permissions::Status::authorized:
        continueStart(true);
        return;
    case Permissions::Status::denied:
    case Permissions::Status::restricted:
        setBanner(Engine::description(Engine::EngineError::micDenied));
        return;
    }
}

void SessionController::continueStart(bool micGranted) {
    if (!micGranted) {
        setBanner(Engine::description(Engine::EngineError::micDenied));
        return;
    }
    const auto meetingSource = m_c.settings.meetingSource();
    if (meetingSource != AppSettings::MeetingSource::audioDevice &&
        !m_c.permissions.screenCapturePreflight() && !m_c.permissions.requestScreenCapture()) {
        setBanner(kScreenAudioDenied);
        m_c.client.stop();
        setSessionActive(false);
        return;
    }
    const std::optional<MeetingChoice> chosen = chooseSource();
    if (!chosen)
        return;
    const auto streamSource = Engine::StreamSource(int(m_c.settings.streamSource()));
    reserveLog();
    // A folder that cannot be made or written holds no recording either: the session runs
    // without one, as the banner says.
    const bool record = m_c.settings.saveAudio() && !m_cannotSave;
    const QString archive =
        m_c.sessionDirectory + QStringLiteral("/meeting_") + m_logStamp + QStringLiteral(".wav");

    m_permissionBanner = m_c.clock.schedule(kPermissionBannerDelay, false, [this] {
        m_permissionBanner.reset();
        setBanner(kWaitingForPermission);
    });
    setStarting(true);
    Engine* audio = &m_c.audio;
    // The previous start has delivered its result, so its thread has ended or is ending.
    if (m_engineStart.joinable())
        m_engineStart.join();
    m_engineStart = std::thread([this, audio, source = chosen->source, app = chosen->app,
                                 streamSource, record, archive]() mutable {
        std::optional<AppAtStart> resolved;
        if (!app.isEmpty())
            resolved = resolveApp(app, source);
        // Blocks: the first capture may wait for a slow sound server.
        const std::optional<AudioFailure> failure =
            audio->start(source, streamSource, record, archive);
        m_inbox.post([this, resolved, failure] {
            if (resolved)
                appResolved(*resolved);
            engineStarted(failure);
        });
    });
}

void SessionController::engineStarted(const std::optional<AudioFailure>& failure) {
    setStarting(false);
    m_permissionBanner.reset();
    if (failure) {
        if (m_log) {
            m_log->discard();
            m_log.reset();
        }
        failStart(failure->description);
        return;
    }
    finishStart();
}

void SessionController::failStart(const QString& message) {
    setBanner(message);
    setHeardOutput({});
    m_c.client.stop();
    setSessionActive(false);
}

std::optional<SessionController::MeetingChoice> SessionController::chooseSource() {
    const AppSettings& s = m_c.settings;
    const Engine::SystemTap wholeSystem{TapTarget::systemOutput(), s.deviceUID(), s.micChannel()};
    switch (s.meetingSource()) {
    case AppSettings::MeetingSource::systemOutput:
        return MeetingChoice{wholeSystem, {}};
    case AppSettings::MeetingSource::audioDevice:
        return MeetingChoice{Engine::DeviceChannels{s.deviceUID(), s.micChannel(),
                                                    s.meetingChannel() >= 0
                                                        ? std::optional<int>(s.meetingChannel())
                                                        : std::nullopt},
                             {}};
    case AppSettings::MeetingSource::singleApp:
        break;
    }
    if (s.tappedBundleID().isEmpty()) {
        failStart(kPickApp);
        return std::nullopt;
    }
    // The engine's thread finds where the app plays (resolveApp): the sound server may take its
    // time, and the window must not wait for it.
    return MeetingChoice{wholeSystem, s.tappedBundleID()};
}

SessionController::AppAtStart SessionController::resolveApp(const QString& bundleID,
                                                            Engine::Source& source) {
    // Listed now, while the app plays: later banners about it must not ask the server.
    AppAtStart found{bundleID, false, m_c.apps.selectableApps()};
    if (const std::optional<uint32_t> object = m_c.apps.audioObject(bundleID)) {
        std::get<Engine::SystemTap>(source).target = TapTarget::process(*object);
        found.playing = true;
    }
    return found;
}

void SessionController::appResolved(const AppAtStart& app) {
    const QString name = appName(app.bundleID, app.listed);
    if (app.playing)
        return;
    setBanner(name +
              QStringLiteral(" isn't playing audio yet — listening to all of this computer's "
                             "audio, and switching to ") +
              name + QStringLiteral(" alone as soon as it does."));
    m_pendingAppTap = app.bundleID;
}

// The stamp is taken by creating the event log, so that two sessions starting in the same
// second, in this app or another instance, never write into one set of files.
void SessionController::reserveLog() {
    m_cannotSave.reset();
    const QString base = m_c.clock.wallNow().toString(QStringLiteral("yyyy-MM-dd_HH-mm-ss"));
    SessionLog::Reserved reserved = SessionLog::reserve(m_c.sessionDirectory, base, m_c.clock);
    if (auto* log = std::get_if<std::unique_ptr<SessionLog>>(&reserved)) {
        m_log = std::move(*log);
        m_logStamp = m_log->stamp();
        return;
    }
    m_logStamp = base;
    m_cannotSave = std::get<QString>(reserved);
}

void SessionController::finishStart() {
    const QString recording = m_c.audio.recordingPath();
    setLastRecordingPath(recording.isEmpty() ? std::nullopt : std::optional<QString>(recording));

    AppSettings& settings = m_c.settings;
    if (settings.transcribeMyAnswers()) {
        QPointer<SessionController> self(this);
        m_c.micTranscriber.requestAuthorization(
            [self](const MicTranscriberInterface::Availability& availability) {
                if (!self)
                    return;
                using Kind = MicTranscriberInterface::Availability::Kind;
                if (availability.kind == Kind::ready)
                    return;
                self->m_c.settings.setTranscribeMyAnswers(false);
                self->setBanner(availability.kind == Kind::denied ? kSpeechDenied
                                                                  : availability.message);
            });
    }
    // What the engine streams, not what was asked: a meeting channel the device lacks, or the
    // microphone's own, also leaves the microphone to be sent.
    if (settings.streamSource() == AppSettings::StreamSource::meetingOnly &&
        m_c.audio.streamSource() == Engine::StreamSource::micOnly)
        setBanner(settings.meetingChannel() < 0
                      ? kNoMeetingChannel
                      : QStringLiteral("This device has no channel %1 apart from your mic, so your "
                                       "mic is being streamed instead. Set a meeting channel in "
                                       "Settings.")
                            .arg(settings.meetingChannel() + 1));

    m_flow->pushHistory();
    RealtimeClientInterface::Config config;
    config.apiKey = settings.apiKey();
    config.model = settings.model();
    config.transcribeModel = settings.transcribeModel();
    m_costs.begin(config.model, config.transcribeModel);
    config.instructions = settings.instructions();
    config.vadThreshold = settings.vadThreshold();
    config.prefixPaddingMs = settings.prefixPaddingMs();
    config.silenceDurationMs = settings.silenceDurationMs();
    config.reconnectMinutes = settings.reconnectMinutes();
    config.reasoningEffort = settings.reasoningEffort();
    m_c.client.start(config);

    setSessionActive(true);
    SessionSnapshot::setSessionActive(true);
    m_tracker->startSessionClock();
    startLog();
    startAppTapPollIfNeeded();
    // Last, so that no other start notice hides it: nothing of this session will be kept.
    if (m_cannotSave)
        setBanner(QStringLiteral("Corvinel can't save files in %1 (%2). The session runs; %3")
                      .arg(QDir::toNativeSeparators(m_c.sessionDirectory), *m_cannotSave,
                           m_cardsShown == CardsShown::onTerminal
                               ? QStringLiteral("copy the cards from this terminal before you "
                                                "close it.")
                               : QStringLiteral("use \"Copy transcript\" before you close the "
                                                "app.")));
}

// ---- Stop ----

void SessionController::setHeardOutput(const QString& output) {
    if (output == m_heardOutput)
        return;
    m_heardOutput = output;
    emit heardOutputChanged();
}

void SessionController::stop() {
    if (!m_isSessionActive && !m_c.audio.isRunning())
        return;
    m_c.audio.stop();
    m_c.client.stop();
    m_c.micTranscriber.stopTask(true);
    // The answer ends as when the user stops speaking, while its card is still known.
    m_tracker->endSpeaking();
    m_tracker->clearSpeakingPair();
    // The client's own idle report belongs to a run the session no longer listens to.
    setStatus(Status::idle());

    setSessionActive(false);
    SessionSnapshot::setSessionActive(false);
    emit sessionEnded();

    m_tracker->stopSessionClock();
    finishLog();
    // A target left from this session must not narrow a later one.
    m_pendingAppTap.reset();
    m_appTapPoll.reset();

    m_tracker->clearLastAnswerDuration();
    setLevels(0, 0);
    setHeardOutput({});
    postStopBanner();
    m_costs.reset();
    emit costChanged();
}

// Says exactly which files of the session are whole on disk and which are not.
void SessionController::postStopBanner() {
    QList<BannerLink> links;
    if (m_lastTranscriptPath)
        links.append({QUuid::createUuid(), QStringLiteral("Transcript"), *m_lastTranscriptPath});
    if (const std::optional<QString> review = std::exchange(m_lastReviewPath, std::nullopt))
        links.append({QUuid::createUuid(), QStringLiteral("Review"), *review});
    // A recording cut short is still a valid file of what came before.
    if (m_lastRecordingPath)
        links.append({QUuid::createUuid(), QStringLiteral("Recording"), *m_lastRecordingPath});
    const std::optional<QString> failure = std::exchange(m_failureMessage, std::nullopt);
    const QStringList unsaved = std::exchange(m_unsaved, {});
    if (links.isEmpty() && unsaved.isEmpty())
        return;
    if (!links.isEmpty())
        links.append({QUuid::createUuid(), QStringLiteral("Folder"),
                      QFileInfo(links.first().path).absolutePath()});
    const bool transcriptSaved = m_lastTranscriptPath.has_value();
    const bool recordingSaved = m_lastRecordingPath && !m_recordingCutShort;
    QStringList parts;
    // Why the session ended stays readable ahead of what it left behind.
    if (failure)
        parts << *failure;
    if (transcriptSaved && recordingSaved)
        parts << QStringLiteral("Session saved — transcript and recording");
    else if (transcriptSaved)
        parts << QStringLiteral("Transcript saved");
    else if (recordingSaved)
        parts << QStringLiteral("Recording saved");
    parts << unsaved;
    if (const std::optional<QString> summary = costSummary())
        parts << *summary;
    setBanner(parts.join(QStringLiteral(" · ")), links);
}

// ---- Smaller actions ----

void SessionController::applyInstructionsLive() {
    if (m_isSessionActive) {
        const QString instructions = m_c.settings.instructions();
        m_c.client.updateInstructions(instructions);
        setBanner(QStringLiteral("Job context pushed to the live session (%1 chars).")
                      .arg(Graphemes::count(instructions)));
    } else {
        setBanner(QStringLiteral("Saved — applies on the next Start."));
    }
}

void SessionController::revealRecording() {
    QStringList paths;
    if (m_lastTranscriptPath)
        paths << *m_lastTranscriptPath;
    if (m_lastRecordingPath)
        paths << *m_lastRecordingPath;
    if (!paths.isEmpty() && m_c.revealer)
        m_c.revealer->reveal(paths);
}

void SessionController::revealLink(const BannerLink& link) {
    if (m_c.revealer)
        m_c.revealer->reveal({link.path});
}

void SessionController::revealLink(const QString& id) {
    const QUuid uuid(id);
    for (const BannerLink& link : m_bannerLinks)
        if (link.id == uuid)
            return revealLink(link);
}

void SessionController::transcribeRecording(const QString& pathOrUrl) {
    m_recording->start(pathOrUrl);
}

void SessionController::openReview(const QString& pathOrUrl) {
    const QString log =
        pathOrUrl.startsWith(QStringLiteral("file:")) ? QUrl(pathOrUrl).toLocalFile() : pathOrUrl;
    // The recording beside the log can be an hour of audio to read.
    runInBackground(
        this, [log] { return SessionReview::writePage(log); },
        [this, log](const SessionReview::Written& page) {
            if (!page.error.isEmpty()) {
                setBanner(QStringLiteral("Couldn't make the review of %1 (%2)")
                              .arg(QFileInfo(log).fileName(), page.error));
                return;
            }
            setBanner(QStringLiteral("Review written: ") + QFileInfo(page.path).fileName());
            if (m_c.revealer)
                m_c.revealer->open(page.path);
        });
}

QString SessionController::transcriptForExport() const {
    return ::transcriptForExport(m_flow->pairs());
}

QString SessionController::formatClock(double seconds) {
    return SpeakingTracker::formatClock(seconds);
}

QString SessionController::format(double duration) {
    return SpeakingTracker::formatDuration(duration);
}

const QList<QAPair>& SessionController::pairs() const {
    return m_flow->pairs();
}
bool SessionController::isSpeaking() const {
    return m_tracker->isSpeaking();
}
bool SessionController::isAnswering() const {
    return m_tracker->isAnswering();
}
double SessionController::speakingElapsed() const {
    return m_tracker->speakingElapsed();
}
std::optional<double> SessionController::lastAnswerDuration() const {
    return m_tracker->lastAnswerDuration();
}
double SessionController::sessionElapsed() const {
    return m_tracker->sessionElapsed();
}

QVariantList SessionController::bannerLinksForView() const {
    QVariantList list;
    for (const BannerLink& link : m_bannerLinks)
        list.append(QVariantMap{{QStringLiteral("id"), link.id.toString(QUuid::WithoutBraces)},
                                {QStringLiteral("label"), link.label},
                                {QStringLiteral("url"), link.path}});
    return list;
}

QVariant SessionController::lastAnswerDurationForView() const {
    const std::optional<double> duration = lastAnswerDuration();
    return duration ? QVariant(*duration) : QVariant();
}

// ---- Banner ----

void SessionController::setBanner(const std::optional<QString>& text) {
    // Another message (or none) replaces the progress report, and its bar with it.
    if (text != m_progressBanner)
        setTranscriptionProgress(-1);
    if (text != m_bannerOwningLinks && !m_bannerLinks.isEmpty()) {
        m_bannerLinks.clear();
        emit bannerLinksChanged();
    }
    if (assignIfChanged(m_banner, text))
        emit bannerChanged();
}

void SessionController::setBanner(const QString& text, const QList<BannerLink>& links) {
    m_bannerOwningLinks = text;
    setBanner(std::optional<QString>(text));
    if (assignIfChanged(m_bannerLinks, links))
        emit bannerLinksChanged();
}

// ---- Callback entry points ----

void SessionController::ingestTranscript(const QString& text, const QString& itemID) {
    m_flow->ingestTranscript(text, itemID);
}

void SessionController::ingestDelta(const QString& responseID, const QString& delta) {
    m_flow->ingestDelta(responseID, delta);
}

void SessionController::completeResponse(const QString& responseID) {
    m_flow->completeResponse(responseID);
}

void SessionController::trackSpeaking(float micLevel) {
    m_tracker->trackSpeaking(micLevel);
}

void SessionController::clearFeed() {
    m_tracker->forgetCommittedAnswers();
    m_flow->clear();
}

void SessionController::updateMyAnswer(const QString& text, bool final) {
    m_tracker->updateMyAnswer(text, final);
}

// ---- Log and cost ----

void SessionController::record(const QString& event, const QJsonObject& fields) {
    if (m_log)
        m_log->append(event, fields);
}

void SessionController::log(const QString& text) {
    qInfo().noquote() << QStringLiteral("[Corvinel] ") + text;
    record(QStringLiteral("client"), {{QStringLiteral("message"), text}});
}

void SessionController::startLog() {
    if (!m_log)
        return;
    m_log->begin();
    m_screenPictures = 0;
    const AppSettings& s = m_c.settings;
    record(QStringLiteral("config"),
           {{QStringLiteral("model"), s.model()},
            {QStringLiteral("transcribe_model"), s.transcribeModel()},
            {QStringLiteral("vad_threshold"), s.vadThreshold()},
            {QStringLiteral("silence_ms"), s.silenceDurationMs()},
            {QStringLiteral("prefix_padding_ms"), s.prefixPaddingMs()},
            {QStringLiteral("follow_up_window_s"), s.followUpWindow()},
            {QStringLiteral("answer_speed"),
             QMetaEnum::fromType<AppSettings::AnswerSpeed>().valueToKey(int(s.answerSpeed()))},
            {QStringLiteral("reasoning_effort"), s.reasoningEffort()},
            {QStringLiteral("answer_length"),
             QMetaEnum::fromType<AppSettings::AnswerLength>().valueToKey(int(s.answerLength()))},
            {QStringLiteral("answer_language"), s.answerLanguage()},
            {QStringLiteral("instructions_chars"), Graphemes::count(s.instructions())}});
}

void SessionController::recordUsage(const QJsonObject& usage) {
    m_costs.addResponse(usage, sessionElapsed());
    emit costChanged();
}

void SessionController::recordTranscriptionUsage(const QJsonObject& usage) {
    m_costs.addTranscription(usage);
    emit costChanged();
}

void SessionController::finishLog() {
    m_unsaved.clear();
    m_recordingCutShort = false;
    // Where the cards of what is not saved can still be had.
    const bool onTerminal = m_cardsShown == CardsShown::onTerminal;
    const QString onTheTerminal =
        QStringLiteral("the cards are on the terminal above; copy them before you close it");
    if (m_cannotSave)
        m_unsaved << QStringLiteral("Nothing was saved in %1 (%2) — %3")
                         .arg(QDir::toNativeSeparators(m_c.sessionDirectory), *m_cannotSave,
                              onTerminal ? onTheTerminal
                                         : QStringLiteral("\"Copy transcript\" still has the "
                                                          "cards"));
    if (m_lastRecordingPath)
        if (const std::optional<AudioFailure> cut = m_c.audio.recordingFailure()) {
            m_recordingCutShort = true;
            m_unsaved << QStringLiteral("Recording stopped early (%1) — what came before it is "
                                        "saved")
                             .arg(cut->description);
        }
    // The disk fell behind by more than the archive's buffer: the file has a gap, said once.
    const double lost = m_lastRecordingPath ? m_c.audio.recordingDroppedSeconds() : 0.0;
    if (lost > 0)
        m_unsaved << QStringLiteral("Recording lost %1 s while the disk was busy")
                         .arg(std::max(0.1, lost), 0, 'f', 1);
    if (m_log && !m_log->hasBegun()) {
        m_log->discard();
        m_log.reset();
    }
    m_flow->forgetLinks();
    if (!m_log) {
        setLastTranscriptPath(std::nullopt);
        m_flow->forgetTimings();
        return;
    }
    if (lost > 0)
        record(QStringLiteral("recording_gap"), {{QStringLiteral("seconds"), roundTo(lost, 2)}});
    m_costs.recordTotal(sessionElapsed());
    const SavedFile transcript = m_log->writeMarkdown(m_flow->pairs());
    m_log->close();
    // The page from the log at once, for the banner's link; then again with the recording's
    // levels, off the GUI thread, since an hour of audio takes a while to read. (An app that
    // quits meanwhile waits for it as it ends.)
    const QString logPath = m_log->jsonPath();
    const SessionReview::Written review =
        SessionReview::writePage(logPath, SessionReview::Recording::skip);
    m_lastReviewPath = review.error.isEmpty() ? std::optional(review.path) : std::nullopt;
    if (m_lastReviewPath && m_lastRecordingPath)
        runInBackground(
            this, [logPath] { return SessionReview::writePage(logPath); },
            [](const SessionReview::Written&) {});
    if (!transcript.isComplete())
        m_unsaved.prepend(
            QStringLiteral("Transcript not saved (%1) — %2")
                .arg(transcript.error, onTerminal
                                           ? onTheTerminal
                                           : QStringLiteral("\"Copy transcript\" still has it")));
    if (const std::optional<QString>& lost = m_log->failure())
        m_unsaved << QStringLiteral("Event log incomplete (%1)").arg(*lost);
    m_log.reset();
    setLastTranscriptPath(transcript.isComplete() ? std::optional(transcript.path) : std::nullopt);
    m_flow->forgetTimings();
}

std::optional<QString> SessionController::costSummary() const {
    return m_costs.summary(sessionElapsed());
}

// ---- Narrowing to one app ----

QString SessionController::appName(const QString& bundleID,
                                   const QList<AudioProcessInfo>& listed) const {
    for (const AudioProcessInfo& app : listed)
        if (app.bundleID == bundleID)
            return m_appNames[bundleID] = app.name;
    // An application that has stopped playing is no longer listed: the name it had then.
    return m_appNames.value(bundleID, bundleID);
}

void SessionController::startAppTapPollIfNeeded() {
    m_appTapPoll.reset();
    if (!m_pendingAppTap)
        return;
    const QString bundle = *m_pendingAppTap;
    m_appTapPoll =
        m_c.clock.schedule(kAppTapPollInterval, true, [this, bundle] { pollAppTap(bundle); });
}

void SessionController::pollAppTap(const QString& bundleID) {
    if (!m_isSessionActive || m_pendingAppTap != bundleID || m_appTapLookupRunning)
        return;
    // The sound server may take its time (or not answer at all): never on the GUI thread.
    m_appTapLookupRunning = true;
    AppListing* apps = &m_c.apps;
    struct Found {
        std::optional<uint32_t> object;
        QList<AudioProcessInfo> listed;
    };
    runInBackground(
        this,
        [apps, bundleID] {
            Found found{apps->audioObject(bundleID), {}};
            if (found.object)
                found.listed = apps->selectableApps();
            return found;
        },
        [this, bundleID](const Found& found) {
            m_appTapLookupRunning = false;
            if (found.object && m_isSessionActive && m_pendingAppTap == bundleID)
                narrowTo(bundleID, *found.object, appName(bundleID, found.listed));
        });
}

void SessionController::narrowTo(const QString& bundleID, uint32_t object, const QString& name) {
    m_pendingAppTap.reset();
    record(QStringLiteral("tap_narrowed"), {{QStringLiteral("app"), bundleID}});
    const std::optional<AudioFailure> failure = m_c.audio.retarget(TapTarget::process(object));
    if (!failure)
        setBanner(QStringLiteral("Now listening to ") + name + QStringLiteral(" only."));
    else
        setBanner(QStringLiteral("Stayed on this computer's audio — could not switch to ") + name +
                  QStringLiteral(": ") + failure->description);
    m_appTapPoll.reset();
}

// ---- Published state ----

void SessionController::setStatus(const Status& status) {
    if (assignIfChanged(m_status, status))
        emit statusChanged();
}

void SessionController::setSessionActive(bool value) {
    if (assignIfChanged(m_isSessionActive, value))
        emit isSessionActiveChanged();
}

void SessionController::setStarting(bool value) {
    if (assignIfChanged(m_isStarting, value))
        emit isStartingChanged();
}

void SessionController::setLevels(float mic, float meeting) {
    if (m_micLevel != mic || m_meetingLevel != meeting) {
        m_micLevel = mic;
        m_meetingLevel = meeting;
        emit levelsChanged();
    }
}

void SessionController::setLastRecordingPath(const std::optional<QString>& path) {
    if (assignIfChanged(m_lastRecordingPath, path))
        emit lastRecordingPathChanged();
}

void SessionController::setTranscriptionProgress(double progress) {
    if (assignIfChanged(m_transcriptionProgress, progress))
        emit transcriptionProgressChanged();
}

void SessionController::setLastTranscriptPath(const std::optional<QString>& path) {
    if (assignIfChanged(m_lastTranscriptPath, path))
        emit lastTranscriptPathChanged();
}
