#include "session/SessionController.h"
#include "settings/AppSettings.h"
#include "settings/SecretStore.h"
#include "support/FakeSession.h"
#include "support/TestFiles.h"
#include "support/TestHome.h"

#include <QDir>
#include <QFile>
#include <QJsonDocument>
#include <QSemaphore>
#include <QSignalSpy>
#include <QTest>
#include <QThreadPool>
#include <QUrl>
#include <gtest/gtest.h>

#include <chrono>
#include <sys/stat.h>
#include <thread>

namespace {

using Engine = AudioCaptureEngineInterface;
using Status = RealtimeClientInterface::Status;

class SessionControllerTest : public ::testing::Test {
protected:
    SessionControllerTest() { settings.setApiKey(QStringLiteral("  sk-test ")); }

    // Moves the clock on, then lets what a timer asked of the pool come back.
    void advance(double seconds) {
        clock.advance(seconds);
        QThreadPool::globalInstance()->waitForDone();
        QCoreApplication::processEvents();
    }

    QList<QJsonObject> recordsOnDisk() const {
        QList<QJsonObject> records;
        for (const QString& file : QDir(folder).entryList({QStringLiteral("*.events.jsonl")}))
            records += readJsonLines(folder + u'/' + file);
        return records;
    }

    QStringList eventsOnDisk() const {
        QStringList names;
        for (const QJsonObject& record : recordsOnDisk())
            names << record.value("event").toString();
        return names;
    }

    QJsonObject lastRecord(const QString& event) const {
        QJsonObject found;
        for (const QJsonObject& record : recordsOnDisk())
            if (record.value("event").toString() == event)
                found = record;
        return found;
    }

    TestHome home;
    QString folder = home.path() + QStringLiteral("/Documents/Corvinel");
    FakeSession fake{home.configHome(), folder};
    AppSettings& settings = fake.settings;
    FakeClock& clock = fake.clock;
    FakeCaptureEngine& engine = fake.engine;
    FakeRealtimeClient& client = fake.client;
    FakeMicTranscriber& mic = fake.mic;
    FakeRecordingTranscriber& recordings = fake.recordings;
    FakeAppListing& apps = fake.apps;
    FakePermissions& permissions = fake.permissions;
    FakeSleepInhibitor& inhibitor = fake.inhibitor;
    FakeFileRevealer& revealer = fake.revealer;
    std::unique_ptr<SessionController>& controller = fake.controller;
};

// Waits on the real signal rather than polling state.
bool startAndWaitActive(SessionController& controller) {
    QSignalSpy active(&controller, &SessionController::isSessionActiveChanged);
    controller.start();
    return active.count() > 0 || active.wait(5000);
}

bool waitForBanner(SessionController& controller) {
    QSignalSpy banner(&controller, &SessionController::bannerChanged);
    return banner.wait(5000);
}

TEST_F(SessionControllerTest, StartHandsTheClientTheSettingsAndStopLeavesFiles) {
    settings.setModel(QStringLiteral("gpt-realtime-2"));
    settings.setReconnectMinutes(7);
    settings.setAnswerSpeed(AppSettings::AnswerSpeed::fastest);
    ASSERT_TRUE(startAndWaitActive(*controller));
    EXPECT_TRUE(SessionSnapshot::isSessionActive());
    ASSERT_EQ(client.starts.size(), 1);
    const auto& config = client.starts.first();
    EXPECT_EQ(config.reasoningEffort, QStringLiteral("minimal"));
    EXPECT_EQ(config.apiKey, QStringLiteral("  sk-test ")) << "the key goes out as stored";
    EXPECT_EQ(config.model, QStringLiteral("gpt-realtime-2"));
    EXPECT_EQ(config.reconnectMinutes, 7);
    EXPECT_EQ(config.instructions, settings.instructions());
    EXPECT_EQ(client.histories.size(), 1) << "the cards are handed over at every start";
    EXPECT_EQ(std::get<Engine::SystemTap>(*engine.lastSource).target, TapTarget::systemOutput());
    EXPECT_EQ(inhibitor.active, 1);

    QSignalSpy ended(controller.get(), &SessionController::sessionEnded);
    controller->stop();
    EXPECT_EQ(ended.count(), 1);
    EXPECT_FALSE(controller->isSessionActive());
    EXPECT_FALSE(SessionSnapshot::isSessionActive());
    EXPECT_EQ(engine.stopCalls, 1);
    EXPECT_EQ(client.stops, 1);
    EXPECT_EQ(mic.stopTasks, QList<bool>{true});
    EXPECT_EQ(inhibitor.active, 0);
    ASSERT_TRUE(controller->lastTranscriptPath().has_value());
    EXPECT_TRUE(QFile::exists(*controller->lastTranscriptPath()));
    EXPECT_EQ(controller->banner(), QStringLiteral("Transcript saved"));
    const auto links = controller->bannerLinks();
    ASSERT_EQ(links.size(), 3);
    EXPECT_EQ(links[0].label, QStringLiteral("Transcript"));
    EXPECT_EQ(links[1].label, QStringLiteral("Review"));
    EXPECT_TRUE(QFile::exists(links[1].path) && links[1].path.endsWith(u".review.html"));
    EXPECT_EQ(links[2].label, QStringLiteral("Folder"));
    EXPECT_EQ(links[2].path, folder);
    EXPECT_EQ(eventsOnDisk(), (QStringList{"session_started", "config", "session_ended"}));
    const QJsonObject configRecord = recordsOnDisk().at(1);
    EXPECT_EQ(configRecord.value("answer_speed").toString(), QStringLiteral("fastest"));
    EXPECT_EQ(configRecord.value("answer_length").toString(), QStringLiteral("normal"));
}

TEST_F(SessionControllerTest, StartAndStopGuards) {
    controller->stop(); // idle: nothing happens
    EXPECT_EQ(engine.stopCalls, 0);
    EXPECT_FALSE(controller->banner().has_value());
    ASSERT_TRUE(startAndWaitActive(*controller));
    controller->start();
    QCoreApplication::processEvents();
    EXPECT_EQ(engine.startCalls.load(), 1);
    EXPECT_EQ(client.starts.size(), 1);
}

TEST_F(SessionControllerTest, ChecksBeforeTheEngineStarts) {
    struct Row {
        const char* name;
        const char* key;
        Permissions::Status mic;
        bool screen;
        AppSettings::MeetingSource source;
        QString banner;
        bool clientStopped;
    };
    const QString micDenied = Engine::description(Engine::EngineError::micDenied);
    const QString screen = QStringLiteral(
        "This desktop does not let Corvinel record what the computer plays. Allow it audio access "
        "(a Flatpak needs the PulseAudio socket), then quit and reopen the app. Until then, "
        "set \"Source\" in Settings to your audio input device.");
    const Row table[] = {
        {"blank key", " \n", Permissions::Status::authorized, true,
         AppSettings::MeetingSource::systemOutput,
         QStringLiteral("Add your OpenAI API key in Settings first."), false},
        {"mic denied", "k", Permissions::Status::denied, true,
         AppSettings::MeetingSource::systemOutput, micDenied, false},
        {"mic restricted", "k", Permissions::Status::restricted, true,
         AppSettings::MeetingSource::audioDevice, micDenied, false},
        {"no screen audio", "k", Permissions::Status::authorized, false,
         AppSettings::MeetingSource::systemOutput, screen, true},
        {"single app not chosen", "k", Permissions::Status::authorized, true,
         AppSettings::MeetingSource::singleApp,
         QStringLiteral("Pick which app to listen to in Settings."), true},
    };
    for (const Row& row : table) {
        SCOPED_TRACE(row.name);
        settings.setApiKey(QString::fromLatin1(row.key));
        permissions.mic = row.mic;
        permissions.screenAllowed = row.screen;
        settings.setMeetingSource(row.source);
        client.stops = 0;
        controller->start();
        EXPECT_EQ(controller->banner(), row.banner);
        EXPECT_EQ(engine.startCalls.load(), 0);
        EXPECT_FALSE(controller->isSessionActive());
        EXPECT_EQ(client.stops, row.clientStopped ? 1 : 0);
    }
}

TEST_F(SessionControllerTest, DeviceModeSkipsTheScreenCheckAndWarnsWhenTheMicIsStreamed) {
    settings.setMeetingSource(AppSettings::MeetingSource::audioDevice);
    settings.setDeviceUID(QStringLiteral("iface4"));
    settings.setMeetingChannel(-1);
    permissions.screenAllowed = false;
    ASSERT_TRUE(startAndWaitActive(*controller));
    EXPECT_EQ(permissions.screenPreflights, 0);
    const auto source = std::get<Engine::DeviceChannels>(*engine.lastSource);
    EXPECT_EQ(source.uid, QStringLiteral("iface4"));
    EXPECT_FALSE(source.meetingChannel.has_value());
    EXPECT_EQ(controller->banner(),
              QStringLiteral("No meeting channel is mapped, so your mic is being streamed "
                             "instead. Set a meeting channel in Settings."));
    controller->stop();

    // A channel is set, but the engine found none apart from the mic (a one-channel mic).
    settings.setMeetingChannel(1);
    engine.streamed = Engine::StreamSource::micOnly;
    ASSERT_TRUE(startAndWaitActive(*controller));
    EXPECT_EQ(controller->banner(),
              QStringLiteral("This device has no channel 2 apart from your mic, so your mic is "
                             "being streamed instead. Set a meeting channel in Settings."));
}

TEST_F(SessionControllerTest, UndeterminedMicAsksAndContinuesWithTheAnswer) {
    permissions.mic = Permissions::Status::notDetermined;
    controller->start();
    ASSERT_TRUE(permissions.pendingMicAnswer);
    EXPECT_EQ(engine.startCalls.load(), 0);
    permissions.pendingMicAnswer(false);
    EXPECT_EQ(controller->banner(), Engine::description(Engine::EngineError::micDenied));

    controller->start();
    QSignalSpy active(controller.get(), &SessionController::isSessionActiveChanged);
    permissions.pendingMicAnswer(true);
    ASSERT_TRUE(active.wait(5000));
}

TEST_F(SessionControllerTest, SlowEngineStartShowsTheWaitingBannerAfterFourSeconds) {
    const QString waiting = QStringLiteral(
        "Waiting for the sound server — PipeWire or PulseAudio is slow to start the recording.");
    for (const double seconds : {2.0, 5.0}) {
        SCOPED_TRACE(seconds);
        engine.blockStart = true;
        controller->start();
        clock.advance(seconds);
        EXPECT_EQ(controller->banner() == waiting, seconds > 4.0);
        QSignalSpy active(controller.get(), &SessionController::isSessionActiveChanged);
        engine.release();
        ASSERT_TRUE(active.wait(5000));
        EXPECT_EQ(controller->banner() == waiting, seconds > 4.0) << "success keeps it";
        clock.advance(10);
        controller->setBanner(std::nullopt);
        clock.advance(10);
        EXPECT_FALSE(controller->banner().has_value()) << "the cancelled work item never fires";
        controller->stop();
        engine.blockStart = false;
    }
}

// Recording transcriptions and listings run on the shared thread pool; a Start must not queue
// behind them.
TEST_F(SessionControllerTest, TheEngineStartsWhileTheSharedThreadPoolIsBusy) {
    QThreadPool* pool = QThreadPool::globalInstance();
    QSemaphore busy;
    QSemaphore done;
    const int threads = pool->maxThreadCount();
    for (int i = 0; i < threads; ++i)
        pool->start([&] {
            busy.release();
            done.acquire();
        });
    ASSERT_TRUE(busy.tryAcquire(threads, 5000)) << "the pool never filled";
    const bool active = startAndWaitActive(*controller);
    done.release(threads);
    pool->waitForDone();
    EXPECT_TRUE(active);
    EXPECT_EQ(engine.startCalls, 1);
    controller->stop();
}

// A start still running when the window closes: the capture it starts must not outlive the
// controller that would have stopped it.
TEST_F(SessionControllerTest, AStartInFlightWhenTheControllerGoesLeavesNoCaptureRunning) {
    engine.blockStart = true;
    controller->start();
    ASSERT_TRUE(QTest::qWaitFor([&] { return engine.startCalls == 1; }, 5000));
    // The sound server answers while the controller is being destroyed; nothing the test could
    // wait for marks that moment, so the answer comes a little later.
    std::thread server([&] {
        std::this_thread::sleep_for(std::chrono::milliseconds(100));
        engine.release();
    });
    controller.reset();
    server.join();
    QThreadPool::globalInstance()->waitForDone(); // nothing of the start runs any more
    EXPECT_FALSE(engine.isRunning());
    QCoreApplication::processEvents(); // the finished start's result finds no controller
}

TEST_F(SessionControllerTest, FailedEngineStartLeavesTheSessionIdleAndTheClientStopped) {
    engine.startFailure =
        AudioFailure{QStringLiteral("Selected audio input device is not available.")};
    controller->start();
    ASSERT_TRUE(waitForBanner(*controller));
    EXPECT_EQ(controller->banner(),
              QStringLiteral("Selected audio input device is not available."));
    EXPECT_FALSE(controller->isSessionActive());
    EXPECT_EQ(client.stops, 1);
    EXPECT_TRUE(client.starts.isEmpty());
    clock.advance(5);
    EXPECT_EQ(controller->banner(),
              QStringLiteral("Selected audio input device is not available."));
}

// A recording the disk cut short is still offered (it is a valid file of what came before) but
// not called saved; a folder that cannot be made keeps no recording, and the session runs.
TEST_F(SessionControllerTest, StopBannerSaysARecordingWasCutShort) {
    settings.setSaveAudio(true);
    ASSERT_TRUE(startAndWaitActive(*controller));
    engine.recordingFailureAtStop = AudioFailure{QStringLiteral("No space left on device")};
    controller->stop();
    EXPECT_EQ(controller->banner(),
              QStringLiteral("Transcript saved · Recording stopped early (No space left on "
                             "device) — what came before it is saved"));
    ASSERT_EQ(controller->bannerLinks().size(), 4);
    EXPECT_EQ(controller->bannerLinks()[2].label, QStringLiteral("Recording"));

    QDir(home.path() + QStringLiteral("/Documents")).removeRecursively();
    writeBytes(home.path() + QStringLiteral("/Documents"), "a file");
    ASSERT_TRUE(startAndWaitActive(*controller));
    EXPECT_FALSE(engine.lastRecord);
    EXPECT_EQ(controller->banner(),
              QStringLiteral("Corvinel can't save files in %1 (Not a directory). The session "
                             "runs; use \"Copy transcript\" before you close the app.")
                  .arg(folder));
    controller->stop();
    EXPECT_EQ(controller->banner(), QStringLiteral("Nothing was saved in %1 (Not a directory) — "
                                                   "\"Copy transcript\" still has the cards")
                                        .arg(folder));
}

// A recording with a gap is still saved; the gap is said and logged.
TEST_F(SessionControllerTest, StopBannerAndLogSayHowMuchTheRecordingLost) {
    settings.setSaveAudio(true);
    ASSERT_TRUE(startAndWaitActive(*controller));
    engine.droppedSecondsAtStop = 3.2083;
    controller->stop();
    EXPECT_EQ(controller->banner(),
              QStringLiteral("Session saved — transcript and recording · Recording lost 3.2 s "
                             "while the disk was busy"));
    EXPECT_EQ(lastRecord(QStringLiteral("recording_gap")).value("seconds").toDouble(), 3.21);

    ASSERT_TRUE(startAndWaitActive(*controller));
    engine.droppedSecondsAtStop = 0;
    controller->stop();
    EXPECT_EQ(controller->banner(), QStringLiteral("Session saved — transcript and recording"));
    EXPECT_EQ(eventsOnDisk().count(QStringLiteral("recording_gap")), 1);
}

TEST_F(SessionControllerTest, ClientFailureStopsTheSessionAndStaysReadable) {
    settings.setSaveAudio(true);
    ASSERT_TRUE(startAndWaitActive(*controller));
    client.onStatus(Status::connecting());
    EXPECT_EQ(controller->status(), Status::connecting());
    client.onStatus(Status::failed(QStringLiteral("The OpenAI API rejected the key (HTTP 401) — "
                                                  "check it in Settings.")));
    EXPECT_FALSE(controller->isSessionActive());
    EXPECT_EQ(engine.stopCalls, 1);
    EXPECT_EQ(controller->banner(),
              QStringLiteral("The OpenAI API rejected the key (HTTP 401) — check it in Settings. · "
                             "Session saved — transcript and recording"));
    const auto links = controller->bannerLinks();
    ASSERT_EQ(links.size(), 4);
    EXPECT_EQ(links[2].label, QStringLiteral("Recording"));
    EXPECT_TRUE(links[2].path.endsWith(QStringLiteral(".wav")));
}

TEST_F(SessionControllerTest, StopResetsLevelsAnswerAndUsageButKeepsTheCards) {
    settings.setTranscribeMyAnswers(true);
    ASSERT_TRUE(startAndWaitActive(*controller));
    client.onTranscript(QStringLiteral("item"), QStringLiteral("Why us?"));
    engine.onLevels(0.3f, 0.2f);
    EXPECT_EQ(controller->micLevel(), 0.3f);
    clock.advance(4);
    client.onTranscript(QStringLiteral("item2"), QStringLiteral("Next?"));
    EXPECT_TRUE(controller->lastAnswerDuration().has_value());
    client.onUsage(QJsonDocument::fromJson(R"({"input_tokens":100,"output_tokens":10})").object());
    EXPECT_TRUE(controller->costSummary().has_value());
    controller->stop();
    EXPECT_EQ(controller->pairs().size(), 2);
    EXPECT_EQ(controller->micLevel(), 0.0f);
    EXPECT_EQ(controller->meetingLevel(), 0.0f);
    EXPECT_FALSE(controller->lastAnswerDuration().has_value());
    EXPECT_EQ(controller->sessionUsage(), CostModel::Usage{});
    EXPECT_TRUE(controller->banner()->startsWith(QStringLiteral("Transcript saved · $")));
}

TEST_F(SessionControllerTest, StopEndsTheAnswerBeforeForgettingItsCard) {
    settings.setTranscribeMyAnswers(true);
    ASSERT_TRUE(startAndWaitActive(*controller));
    client.onTranscript(QStringLiteral("i1"), QStringLiteral("What did you lead?"));
    engine.onLevels(0.3f, 0);
    mic.onFinal(QStringLiteral("the payments team"));
    mic.onPartial(QStringLiteral("for two"));
    clock.advance(3);
    controller->stop();
    const QAPair& card = controller->pairs().first();
    EXPECT_FALSE(card.myAnswerInProgress) << "the card no longer says recording";
    const QJsonObject stopped = lastRecord(QStringLiteral("you_stopped"));
    EXPECT_EQ(stopped.value("pair").toString(), card.id);
    EXPECT_EQ(stopped.value("text").toString(), QStringLiteral("the payments team"));
    EXPECT_EQ(stopped.value("words").toInt(), 3);
    EXPECT_DOUBLE_EQ(stopped.value("seconds").toDouble(), 3.0);
    const QStringList events = eventsOnDisk();
    EXPECT_EQ(events.count(QStringLiteral("you_stopped")), 1);
    EXPECT_LT(events.indexOf(QStringLiteral("you_stopped")),
              events.indexOf(QStringLiteral("session_ended")));
}

// The client and the engine deliver what they had before they saw the Stop.
TEST_F(SessionControllerTest, WhatArrivesAfterStopChangesNothing) {
    struct Row {
        const char* name;
        std::function<void()> deliver;
    };
    const QJsonObject usage{{QStringLiteral("input_tokens"), 100},
                            {QStringLiteral("output_tokens"), 10}};
    const Row table[] = {
        {"transcript",
         [&] { client.onTranscript(QStringLiteral("late"), QStringLiteral("A late question?")); }},
        {"delta", [&] { client.onDelta(QStringLiteral("r1"), QStringLiteral(" And more.")); }},
        {"response done", [&] { client.onResponseDone(QStringLiteral("r1")); }},
        {"usage", [&] { client.onUsage(usage); }},
        {"transcription usage", [&] { client.onTranscriptionUsage(usage); }},
        {"status", [&] { client.onStatus(Status::connected()); }},
        {"levels", [&] { engine.onLevels(0.5f, 0.4f); }},
    };
    const auto cards = [this] {
        QStringList texts;
        for (const QAPair& pair : controller->pairs())
            texts << pair.question + u'|' + pair.answer + u'|' + QString::number(pair.isComplete);
        return texts;
    };
    for (const Row& row : table) {
        SCOPED_TRACE(row.name);
        ASSERT_TRUE(startAndWaitActive(*controller));
        client.onStatus(Status::connected());
        client.onTranscript(QStringLiteral("i1"), QStringLiteral("Why us?"));
        client.onDelta(QStringLiteral("r1"), QString());
        client.onDelta(QStringLiteral("r1"), QStringLiteral("Because."));
        controller->stop();
        const QStringList before = cards();
        const QList<QJsonObject> records = recordsOnDisk();

        row.deliver();
        EXPECT_EQ(cards(), before);
        EXPECT_EQ(recordsOnDisk(), records);
        EXPECT_EQ(controller->micLevel(), 0.0f);
        EXPECT_EQ(controller->meetingLevel(), 0.0f);
        EXPECT_FALSE(controller->isAnswering());
        EXPECT_EQ(controller->status(), Status::idle());
        EXPECT_EQ(controller->sessionUsage(), CostModel::Usage{});

        ASSERT_TRUE(startAndWaitActive(*controller));
        EXPECT_FALSE(controller->costSummary().has_value()) << "nothing billed to the next one";
        controller->stop();
        controller->clearFeed();
    }
}

TEST_F(SessionControllerTest, TranscriptionUsageIsRecordedAndAddsToTheCost) {
    settings.setTranscribeModel(QStringLiteral("gpt-4o-transcribe"));
    ASSERT_TRUE(startAndWaitActive(*controller));
    client.onUsage(QJsonDocument::fromJson(R"({"input_tokens":1000,"output_tokens":0})").object());
    client.onTranscriptionUsage(
        QJsonDocument::fromJson(R"({"type":"tokens","input_tokens":1000,"input_token_details":
            {"text_tokens":0,"audio_tokens":1000},"output_tokens":100,"total_tokens":1100})")
            .object());
    EXPECT_DOUBLE_EQ(CostModel::cost(controller->sessionUsage(), settings.model()).value_or(-1),
                     0.004 + 0.006 + 0.001);
    clock.advance(60);
    controller->stop();
    const QJsonObject record = lastRecord(QStringLiteral("transcription_usage"));
    EXPECT_EQ(record.value("model").toString(), QStringLiteral("gpt-4o-transcribe"));
    EXPECT_EQ(record.value("audio_in").toInt(), 1000);
    EXPECT_EQ(record.value("text_in").toInt(), 0);
    EXPECT_EQ(record.value("text_out").toInt(), 100);
    EXPECT_DOUBLE_EQ(record.value("cost_usd").toDouble(), 0.007);
    EXPECT_DOUBLE_EQ(record.value("session_cost_usd").toDouble(), 0.011);
    const QJsonObject total = lastRecord(QStringLiteral("session_cost"));
    EXPECT_DOUBLE_EQ(total.value("cost_usd").toDouble(), 0.011);
    EXPECT_EQ(total.value("tokens").toInt(), 2100);
}

TEST_F(SessionControllerTest, WhatTheServiceReportsReachesTheBannerTheCardAndTheLog) {
    using End = RealtimeClientInterface::ResponseEnd;
    const QString quota = QStringLiteral("Your OpenAI account is out of credit — add credit at "
                                         "platform.openai.com, then Start again.");
    struct Row {
        const char* name;
        std::function<void()> report;
        std::optional<QString> banner;
        QString notice;
        const char* event;
    };
    const Row table[] = {
        {"quota",
         [&] {
             client.onResponseUnfinished(
                 QStringLiteral("r1"),
                 End{"failed", "insufficient_quota", "You exceeded your current quota."});
         },
         quota, QStringLiteral("(no answer: the OpenAI account is out of credit)"),
         "answer_failed"},
        {"rate limit",
         [&] {
             client.onResponseUnfinished(QStringLiteral("r1"),
                                         End{"failed", "rate_limit_exceeded", "Slow down."});
         },
         QStringLiteral("OpenAI is rate limiting this key — answers resume shortly."),
         QStringLiteral("(no answer: OpenAI is rate limiting this key)"), "answer_failed"},
        {"other failure",
         [&] {
             client.onResponseUnfinished(QStringLiteral("r1"),
                                         End{"failed", "server_error", "Try again."});
         },
         QStringLiteral("OpenAI could not answer: Try again."),
         QStringLiteral("(no answer: Try again.)"), "answer_failed"},
        {"bare failure",
         [&] {
             client.onResponseUnfinished(QStringLiteral("r1"), End{"failed", "", ""});
         },
         QStringLiteral("OpenAI could not answer this question."), QStringLiteral("(no answer)"),
         "answer_failed"},
        {"length limit",
         [&] {
             client.onResponseUnfinished(QStringLiteral("r1"),
                                         End{"incomplete", "max_output_tokens", ""});
         },
         std::nullopt, QStringLiteral("(answer cut short: it reached the length limit)"),
         "answer_failed"},
        {"lost question",
         [&] { client.onTranscriptionFailed(QStringLiteral("i2"), QStringLiteral("Garbled.")); },
         std::nullopt, QStringLiteral("(the question could not be transcribed)"),
         "transcription_failed"},
        {"quota error",
         [&] {
             client.onServiceError(QStringLiteral("insufficient_quota"), QStringLiteral("No."));
         },
         quota, QString(), nullptr},
        {"bad key error",
         [&] {
             client.onServiceError(QStringLiteral("invalid_api_key"),
                                   QStringLiteral("Incorrect API key provided."));
         },
         QStringLiteral("OpenAI does not accept this API key — paste a valid key in Settings, "
                        "then Start again."),
         QString(), nullptr},
        {"model error",
         [&] {
             client.onServiceError(QString(),
                                   QStringLiteral("The model `gpt-x` does not exist or you do "
                                                  "not have access to it."));
         },
         QStringLiteral("This OpenAI account cannot use the chosen model — pick another model "
                        "in Settings, then Start again."),
         QString(), nullptr},
        {"other error",
         [&] { client.onServiceError(QString(), QStringLiteral("Unknown parameter: 'foo'.")); },
         std::nullopt, QString(), nullptr},
    };
    for (const Row& row : table) {
        SCOPED_TRACE(row.name);
        ASSERT_TRUE(startAndWaitActive(*controller));
        client.onStatus(Status::connected());
        controller->dismissBanner();
        // The answer to i2 comes before its question.
        client.onResponseCreated(QStringLiteral("r1"), QStringLiteral("i2"), QString());
        row.report();
        client.onResponseDone(QStringLiteral("r1"));
        EXPECT_EQ(controller->banner(), row.banner);
        ASSERT_EQ(controller->pairs().size(), row.notice.isEmpty() ? 0 : 1);
        if (!row.notice.isEmpty()) {
            EXPECT_EQ(controller->pairs()[0].notice, row.notice);
            const QModelIndex first = controller->pairModel()->index(0);
            EXPECT_EQ(first.data(PairListModel::NoticeRole).toString(), row.notice);
        }
        controller->stop();
        if (row.event) {
            EXPECT_TRUE(eventsOnDisk().contains(QLatin1String(row.event)));
        }
        controller->clearFeed();
    }
}

TEST(SessionControllerKeyFile, KeyFileTroubleReachesTheBanner) {
    TestHome home;
    const QString keyFile = SecretStore::keyFilePath();
    writeBytes(keyFile, "sk-shared");
    ASSERT_EQ(::chmod(QFile::encodeName(keyFile).constData(), 0644), 0);
    FakeSession fake{home.configHome(), home.path() + QStringLiteral("/Documents/Corvinel")};
    ASSERT_EQ(fake.settings.keyFileNotices().size(), 1);
    EXPECT_EQ(fake.controller->banner(), fake.settings.keyFileNotices().first());

    // A key that cannot be kept shows while it lasts and goes once a key is saved.
    fake.controller->dismissBanner();
    ASSERT_TRUE(QFile::remove(keyFile) && QDir().mkpath(keyFile));
    fake.settings.setApiKey(QStringLiteral("sk-1"));
    ASSERT_FALSE(fake.settings.apiKeySaveError().isEmpty());
    EXPECT_EQ(fake.controller->banner(), fake.settings.apiKeySaveError());
    ASSERT_TRUE(QDir(keyFile).removeRecursively());
    fake.settings.setApiKey(QStringLiteral("sk-2"));
    EXPECT_FALSE(fake.controller->banner().has_value());
}

TEST_F(SessionControllerTest, BannerLinksBelongToTheirText) {
    const QList<SessionController::BannerLink> links{
        {QUuid::createUuid(), QStringLiteral("Transcript"), QStringLiteral("/tmp/a.md")}};
    controller->setBanner(QStringLiteral("Transcript saved"), links);
    controller->setBanner(QStringLiteral("Transcript saved"));
    EXPECT_EQ(controller->bannerLinks(), links) << "the same text keeps its links";
    controller->setBanner(std::nullopt); // dismissed
    EXPECT_TRUE(controller->bannerLinks().isEmpty());
    controller->setBanner(QStringLiteral("Transcript saved"));
    EXPECT_EQ(controller->bannerLinks().size(), 0) << "links are not restored";
    controller->setBanner(QStringLiteral("Other"), links);
    controller->setBanner(QStringLiteral("Something else"));
    EXPECT_TRUE(controller->bannerLinks().isEmpty());
}

TEST_F(SessionControllerTest, SilentAppIsTappedOnceItPlays) {
    settings.setMeetingSource(AppSettings::MeetingSource::singleApp);
    settings.setTappedBundleID(QStringLiteral("us.zoom.Zoom"));
    apps.apps = {
        AudioProcessInfo{std::nullopt, 42, QStringLiteral("us.zoom.Zoom"), QStringLiteral("Zoom")}};
    ASSERT_TRUE(startAndWaitActive(*controller));
    EXPECT_EQ(controller->banner(),
              QStringLiteral("Zoom isn't playing audio yet — listening to all of this computer's "
                             "audio, and switching to Zoom alone as soon as it does."));
    EXPECT_EQ(std::get<Engine::SystemTap>(*engine.lastSource).target, TapTarget::systemOutput());
    advance(3);
    EXPECT_TRUE(engine.retargets.isEmpty());
    apps.playing.insert(QStringLiteral("us.zoom.Zoom"), 77);
    advance(2.9);
    EXPECT_TRUE(engine.retargets.isEmpty()) << "only at the next tick";
    advance(0.1);
    EXPECT_EQ(engine.retargets, QList<TapTarget>{TapTarget::process(77)});
    EXPECT_EQ(controller->banner(), QStringLiteral("Now listening to Zoom only."));
    EXPECT_FALSE(controller->pendingAppTap().has_value());
    const int lookups = apps.lookups;
    advance(30);
    EXPECT_EQ(apps.lookups, lookups) << "the poll has ended";

    // Zoom goes quiet (and off the list), then plays again: each is said, by its listed name.
    apps.apps.clear();
    engine.onFollowedApp(QStringLiteral("us.zoom.Zoom"), false);
    EXPECT_EQ(controller->banner(), QStringLiteral("Zoom stopped playing — listening to "
                                                   "everything this computer plays until it "
                                                   "plays again."));
    engine.onFollowedApp(QStringLiteral("us.zoom.Zoom"), true);
    EXPECT_EQ(controller->banner(), QStringLiteral("Listening to Zoom alone again."));
    controller->stop();
    EXPECT_TRUE(eventsOnDisk().contains(QStringLiteral("tap_narrowed")));
    EXPECT_EQ(eventsOnDisk().count(QStringLiteral("meeting_source")), 2);
}

TEST_F(SessionControllerTest, FailedNarrowingStaysOnAllAudioAndNamesTheBundleWhenUnknown) {
    settings.setMeetingSource(AppSettings::MeetingSource::singleApp);
    settings.setTappedBundleID(QStringLiteral("com.example.Call"));
    engine.retargetFailure = AudioFailure{QStringLiteral("The stream has gone (error 5).")};
    ASSERT_TRUE(startAndWaitActive(*controller));
    apps.playing.insert(QStringLiteral("com.example.Call"), 5);
    advance(3);
    EXPECT_EQ(controller->banner(),
              QStringLiteral("Stayed on this computer's audio — could not switch to "
                             "com.example.Call: The stream has gone (error 5)."));
}

TEST_F(SessionControllerTest, PlayingAppIsTappedDirectlyAndStopClearsAPendingTarget) {
    settings.setMeetingSource(AppSettings::MeetingSource::singleApp);
    settings.setTappedBundleID(QStringLiteral("us.zoom.Zoom"));
    apps.playing.insert(QStringLiteral("us.zoom.Zoom"), 9);
    ASSERT_TRUE(startAndWaitActive(*controller));
    EXPECT_EQ(std::get<Engine::SystemTap>(*engine.lastSource).target, TapTarget::process(9));
    EXPECT_FALSE(controller->pendingAppTap().has_value());
    controller->stop();

    apps.playing.clear();
    ASSERT_TRUE(startAndWaitActive(*controller));
    EXPECT_TRUE(controller->pendingAppTap().has_value());
    controller->stop();
    EXPECT_FALSE(controller->pendingAppTap().has_value());
    EXPECT_EQ(clock.activeTimers(), 0);
}

TEST_F(SessionControllerTest, SessionsInTheSameSecondNeverShareFiles) {
    settings.setSaveAudio(true);
    QStringList archives;
    for (int i = 0; i < 3; ++i) {
        ASSERT_TRUE(startAndWaitActive(*controller));
        archives << engine.lastArchivePath;
        QFile(engine.lastArchivePath).open(QIODevice::WriteOnly); // the engine's file
        controller->stop();
    }
    EXPECT_TRUE(archives[0].endsWith(QStringLiteral("/meeting_2026-03-14_09-26-53.wav")));
    EXPECT_TRUE(archives[1].endsWith(QStringLiteral("/meeting_2026-03-14_09-26-53-2.wav")));
    EXPECT_TRUE(archives[2].endsWith(QStringLiteral("/meeting_2026-03-14_09-26-53-3.wav")));
    EXPECT_TRUE(
        QFile::exists(folder + QStringLiteral("/meeting_2026-03-14_09-26-53-3.transcript.md")));
    EXPECT_EQ(QDir(folder).entryList({QStringLiteral("*.events.jsonl")}).size(), 3);
}

TEST_F(SessionControllerTest, ApplyInstructionsLive) {
    controller->applyInstructionsLive();
    EXPECT_EQ(controller->banner(), QStringLiteral("Saved — applies on the next Start."));
    EXPECT_TRUE(client.instructions.isEmpty());
    ASSERT_TRUE(startAndWaitActive(*controller));
    settings.setCompanyName(QStringLiteral("Acme 🚀"));
    controller->applyInstructionsLive();
    ASSERT_EQ(client.instructions.size(), 1);
    EXPECT_EQ(controller->banner(),
              QStringLiteral("Job context pushed to the live session (%1 chars).")
                  .arg(settings.instructions().size() - 1)); // the rocket is one character
}

TEST_F(SessionControllerTest, SpeechPermissionAnswersTurnTranscriptionOff) {
    settings.setTranscribeMyAnswers(true);
    mic.availability = MicTranscriberInterface::Availability::denied();
    ASSERT_TRUE(startAndWaitActive(*controller));
    EXPECT_FALSE(settings.transcribeMyAnswers());
    EXPECT_EQ(controller->banner(), QStringLiteral("Speech recognition permission was denied, so "
                                                   "your answers won't be transcribed."));
}

TEST_F(SessionControllerTest, RecordingTranscriptionReportsProgressAndResult) {
    controller->transcribeRecording(QStringLiteral("/rec/meeting_x.wav"));
    EXPECT_EQ(controller->banner(),
              QStringLiteral("Transcribing meeting_x.wav… this runs locally and takes a while."));
    ASSERT_TRUE(recordings.progress);
    recordings.progress(12.7, 60.0);
    EXPECT_EQ(controller->banner(),
              QStringLiteral("Transcribing meeting_x.wav — 21% (12s of 60s)"));
    recordings.progress(0.5, 0.0);
    EXPECT_EQ(controller->banner(), QStringLiteral("Transcribing meeting_x.wav — 50% (0s of 0s)"));
    recordings.completion(QStringLiteral("/rec/meeting_x.transcript.md"));
    EXPECT_EQ(controller->banner(), QStringLiteral("Transcript written: meeting_x.transcript.md"));
    EXPECT_EQ(revealer.revealed.last(),
              QStringList{QStringLiteral("/rec/meeting_x.transcript.md")});
    recordings.completion(RecordingTranscriberInterface::Failure{QStringLiteral("bad file")});
    EXPECT_EQ(controller->banner(), QStringLiteral("Transcription failed: bad file"));

    mic.availability = MicTranscriberInterface::Availability::unsupported(QStringLiteral("x"));
    controller->transcribeRecording(QStringLiteral("/rec/b.wav"));
    EXPECT_EQ(controller->banner(), QStringLiteral("On-device speech recognition is not available, "
                                                   "so the recording can't be transcribed here."));
}

// "Open Session Review…": the chosen log's page is written and opened in the browser; a log that
// holds no session says so in the banner and opens nothing.
TEST_F(SessionControllerTest, AChosenLogsReviewIsWrittenAndOpenedOrTheBannerSaysWhyNot) {
    const QString log = folder + QStringLiteral("/meeting_x.events.jsonl");
    writeBytes(log, R"({"event":"session_started","t":0})"
                    "\n");
    controller->openReview(QUrl::fromLocalFile(log).toString());
    ASSERT_TRUE(waitForBanner(*controller));
    EXPECT_EQ(controller->banner(), QStringLiteral("Review written: meeting_x.review.html"));
    ASSERT_EQ(revealer.opened, QStringList{folder + QStringLiteral("/meeting_x.review.html")});
    EXPECT_TRUE(
        readText(revealer.opened[0]).contains(QStringLiteral("This session was cut short")));

    writeBytes(log, {});
    controller->openReview(log);
    ASSERT_TRUE(waitForBanner(*controller));
    EXPECT_EQ(controller->banner(), QStringLiteral("Couldn't make the review of "
                                                   "meeting_x.events.jsonl (empty: no session to "
                                                   "review)"));
    EXPECT_EQ(revealer.opened.size(), 1);
}

// A whole session as the model would drive it, down to the bytes on disk.
TEST_F(SessionControllerTest, ScriptedSessionLeavesTheExpectedFiles) {
    settings.setFollowUpWindow(8.0);
    ASSERT_TRUE(startAndWaitActive(*controller));
    QByteArray pcm(9600, '\x01');
    engine.onPCM16(pcm);
    EXPECT_EQ(client.appended.size(), 9600);

    clock.advance(2);
    client.onTranscript(QStringLiteral("i1"), QStringLiteral("Why do you want this role?"));
    clock.advance(0.5);
    client.onResponseCreated(QStringLiteral("r1"), QStringLiteral("i1"), QString());
    client.onDelta(QStringLiteral("r1"), QStringLiteral("Because it fits."));
    client.onUsage(QJsonDocument::fromJson(
                       R"({"input_token_details":{"audio_tokens":1000,"text_tokens":200,
                           "cached_tokens":600},"output_token_details":{"text_tokens":50}})")
                       .object());
    client.onResponseDone(QStringLiteral("r1"));
    clock.advance(3);
    client.onTranscript(QStringLiteral("i2"), QStringLiteral("and what would you change?"));
    ASSERT_EQ(client.regenerations.size(), 1);
    EXPECT_EQ(client.regeneratedCards, QStringList{controller->pairs()[0].id});
    EXPECT_EQ(client.skipped, QStringList{"i2"}) << "its own audio needs no answer";
    client.onResponseCreated(QStringLiteral("r2"), QString(), client.regeneratedCards.first());
    client.onDelta(QStringLiteral("r2"), QStringLiteral("The on-call."));
    client.onResponseDone(QStringLiteral("r2"));
    clock.advance(24.5);
    controller->stop();

    const QString stamp = QStringLiteral("2026-03-14_09-26-53");
    QFile events(folder + QStringLiteral("/meeting_") + stamp + QStringLiteral(".events.jsonl"));
    ASSERT_TRUE(events.open(QIODevice::ReadOnly));
    QStringList kinds;
    for (const QByteArray& line : events.readAll().split('\n')) {
        if (line.isEmpty())
            continue;
        QJsonParseError error{};
        const QJsonObject record = QJsonDocument::fromJson(line, &error).object();
        ASSERT_EQ(error.error, QJsonParseError::NoError) << line.toStdString();
        EXPECT_EQ(QJsonDocument(record).toJson(QJsonDocument::Compact), line)
            << "sorted keys, no white space";
        kinds << record.value("event").toString();
        if (kinds.last() == QLatin1String("usage")) {
            EXPECT_EQ(record.value("audio_in").toInt(), 400);
            EXPECT_DOUBLE_EQ(record.value("response_cost_usd").toDouble(), 0.01504);
            EXPECT_DOUBLE_EQ(record.value("session_cost_per_min_usd").toDouble(), 0.4512);
        }
        if (kinds.last() == QLatin1String("session_cost")) {
            EXPECT_DOUBLE_EQ(record.value("minutes").toDouble(), 0.5);
            EXPECT_EQ(record.value("tokens").toInt(), 1250);
            EXPECT_DOUBLE_EQ(record.value("cost_per_min_usd").toDouble(), 0.0301);
        }
        if (kinds.last() == QLatin1String("answer_started") && kinds.count("answer_started") == 1) {
            EXPECT_DOUBLE_EQ(record.value("latency_after_question_s").toDouble(), 0.5);
        }
    }
    EXPECT_EQ(kinds, (QStringList{"session_started", "config", "question", "answer_started",
                                  "usage", "answer_done", "question_extended", "answer_started",
                                  "answer_done", "session_cost", "session_ended"}));

    EXPECT_EQ(
        readText(folder + QStringLiteral("/meeting_") + stamp + QStringLiteral(".transcript.md")),
        QStringLiteral("# Meeting transcript — 2026-03-14_09-26-53\n\n"
                       "Length: 0 min 30 s\n"
                       "Events: `meeting_2026-03-14_09-26-53.events.jsonl`\n\n"
                       "### 09:26:55 (question extended)\n"
                       "**Interviewer:** Why do you want this role? and what would you "
                       "change?\n\n"
                       "**Velmora:** The on-call.\n"));
    EXPECT_EQ(controller->banner(),
              QStringLiteral("Transcript saved · $0.02 this session · $0.03/min · 1250 tokens"));
    EXPECT_EQ(controller->transcriptForExport(),
              QStringLiteral("[09:26:55] Q: Why do you want this role? and what would you "
                             "change?\nA: The on-call."));
}

} // namespace
