// Sessions run by the real parts: AppComposition's capture engine on the test's own sound
// server and its Realtime client against the fake endpoint. The meeting apps are paplay.

#include "LiveSupport.h"
#include "app/AppComposition.h"
#include "audio/ProcessTapCapture.h"
#include "session/SessionController.h"
#include "settings/AppSettings.h"
#include "speech/MicTranscriber.h"
#include "speech/OnDeviceSpeech.h"
#include "support/WordErrorRate.h"

namespace {

const QString kQuestion = QStringLiteral("What is your greatest strength as an engineer?");

class LiveSession : public LiveTest {
protected:
    void SetUp() override {
        LiveTest::SetUp();
        m_settings = std::make_unique<AppSettings>(AppSettings::defaultPath());
        m_settings->setDeviceUID(QStringLiteral("fakemic"));
        m_settings->setSaveAudio(true);
    }
    void TearDown() override {
        m_app.reset();
        m_settings.reset();
    }
    SessionController& startSession() {
        m_app = std::make_unique<AppComposition>(*m_settings);
        SessionController& controller = m_app->controller();
        controller.start();
        EXPECT_TRUE(waitUntil([&] { return controller.isSessionActive(); }));
        EXPECT_TRUE(m_server.waitForFrames(QStringLiteral("session.update"), 1));
        // The null sinks' first data may take two seconds; nothing is played before it.
        EXPECT_TRUE(waitUntil([&] { return streamedSamples() > 0; }, 8000));
        return controller;
    }
    std::unique_ptr<AppSettings> m_settings;
    std::unique_ptr<AppComposition> m_app;
};

} // namespace

TEST_F(LiveSession, ASpokenQuestionReachesTheModelAndComesBackAsACardWithTheSessionFiles) {
    const QString speech = makeSpeech(m_files.path(), QStringLiteral("q.wav"), kQuestion, 0.0);
    const QString voice = makeTone(m_files.path(), QStringLiteral("mic.wav"), 20, 700, 0.5, 1);
    ASSERT_FALSE(speech.isEmpty());
    const WavContents spoken = readWav(speech);
    const ActiveSpan spokenSpan = activeSpan(spoken.left, 48000);
    ASSERT_GT(spokenSpan.length(), 1.0);

    m_settings->setMeetingSource(AppSettings::MeetingSource::systemOutput);
    m_settings->setStreamSource(AppSettings::StreamSource::meetingOnly);
    SessionController& controller = startSession();
    ASSERT_TRUE(streamFor(0.4));
    const size_t before = streamedSamples();
    auto mic = playOn(QStringLiteral("mic_feed"), voice);
    auto meeting = playOn(QStringLiteral("speakers"), speech);
    ASSERT_TRUE(meeting->finished(15000));
    ASSERT_TRUE(streamFor(0.6));

    // The speech is in the stream where it was played, as long as it was, and nothing else.
    const std::vector<float> stream = streamed();
    const std::vector<float> played(stream.begin() + long(before), stream.end());
    const ActiveSpan heard = activeSpan(played, 24000);
    ASSERT_GE(heard.start, 0.0) << "no speech reached the model";
    EXPECT_NEAR(heard.length(), spokenSpan.length(), 0.25);
    EXPECT_LT(rms(stream.data(), before), 0.002);        // silence before it was played
    EXPECT_LT(toneAmplitude(played, 24000, 700), 0.005); // the microphone is not streamed

    answer(kQuestion, {QStringLiteral("Turning vague problems "),
                       QStringLiteral("into systems that stay up.")});
    ASSERT_TRUE(waitUntil(
        [&] { return !controller.pairs().isEmpty() && controller.pairs().first().isComplete; }));
    const QAPair card = controller.pairs().first();
    EXPECT_EQ(card.question, kQuestion);
    EXPECT_EQ(card.answer, QStringLiteral("Turning vague problems into systems that stay up."));

    controller.stop();
    EXPECT_FALSE(controller.isSessionActive());
    EXPECT_TRUE(controller.bannerText().startsWith(
        QStringLiteral("Session saved — transcript and recording")));

    // Which side of the recording holds what is the capture engine's tests' business.
    const WavContents wav = readWav(sessionFile(QStringLiteral(".wav")));
    ASSERT_TRUE(wav.valid);
    EXPECT_NEAR(activeSpan(wav.right, 48000).length(), spokenSpan.length(), 0.25);

    const QString events = readText(sessionFile(QStringLiteral(".events.jsonl")));
    EXPECT_TRUE(events.contains(QStringLiteral("\"event\":\"question\""))) << events.toStdString();
    EXPECT_TRUE(events.contains(kQuestion));
    const QString transcript = readText(sessionFile(QStringLiteral(".transcript.md")));
    EXPECT_TRUE(transcript.contains(kQuestion));
    EXPECT_TRUE(transcript.contains(QStringLiteral("into systems that stay up.")));
}

TEST_F(LiveSession, ASessionStartedBeforeTheAppPlaysNarrowsToItWithinOnePoll) {
    const QString zoomTone = makeTone(m_files.path(), QStringLiteral("zoom.wav"), 30, 1300);
    const QString otherTone = makeTone(m_files.path(), QStringLiteral("other.wav"), 30, 2100);
    auto other = playOn(QStringLiteral("speakers"), otherTone,
                        {QStringLiteral("--client-name=FakeMeet"),
                         QStringLiteral("--property=application.id=test.meet")});
    m_settings->setMeetingSource(AppSettings::MeetingSource::singleApp);
    m_settings->setTappedBundleID(QStringLiteral("test.zoom"));
    m_settings->setStreamSource(AppSettings::StreamSource::meetingOnly);
    m_settings->setSaveAudio(false);
    SessionController& controller = startSession();
    EXPECT_TRUE(controller.bannerText().contains(QStringLiteral("isn't playing audio yet")))
        << controller.bannerText().toStdString();
    // Until then the whole output is heard.
    ASSERT_TRUE(hears(2100));

    auto zoom = playOn(QStringLiteral("speakers"), zoomTone,
                       {QStringLiteral("--client-name=FakeZoom"),
                        QStringLiteral("--property=application.id=test.zoom")});
    // One poll is three seconds; the rest is slack for a loaded machine.
    ASSERT_TRUE(waitUntil(
        [&] {
            return controller.bannerText() == QStringLiteral("Now listening to FakeZoom only.");
        },
        6000))
        << controller.bannerText().toStdString();
    // That the tap then hears Zoom alone is the capture engine's tests' business.
    EXPECT_TRUE(hears(1300));
    controller.stop();
}

TEST_F(LiveSession, AKilledSoundServerGivesABannerAndStopStillLeavesAValidRecording) {
    m_settings->setMeetingSource(AppSettings::MeetingSource::systemOutput);
    m_settings->setStreamSource(AppSettings::StreamSource::both);
    SessionController& controller = startSession();
    ASSERT_TRUE(streamFor(0.3));
    ASSERT_TRUE(m_sound.stop());
    ASSERT_TRUE(waitUntil([&] { return controller.banner().has_value(); }));
    EXPECT_FALSE(controller.bannerText().isEmpty());
    EXPECT_TRUE(controller.isSessionActive());
    controller.stop();
    const WavContents wav = readWav(sessionFile(QStringLiteral(".wav")));
    EXPECT_TRUE(wav.valid);
    EXPECT_GT(wav.left.size(), 4800u);
    EXPECT_FALSE(sessionFile(QStringLiteral(".events.jsonl")).isEmpty());
    EXPECT_FALSE(sessionFile(QStringLiteral(".transcript.md")).isEmpty());
}

TEST_F(LiveSession, ADefaultOutputChangeMidSessionRestartsTheTapAndCaptureGoesOn) {
    const QString tone = makeTone(m_files.path(), QStringLiteral("h.wav"), 30, 1700);
    auto headsetPlayer = playOn(QStringLiteral("headset"), tone);
    auto speakersPlayer = playOn(QStringLiteral("speakers"),
                                 makeTone(m_files.path(), QStringLiteral("s.wav"), 30, 1300));
    ASSERT_TRUE(waitUntil([] { return ProcessTapCapture::runningAudioProcesses().size() == 2; }));
    m_settings->setMeetingSource(AppSettings::MeetingSource::systemOutput);
    m_settings->setStreamSource(AppSettings::StreamSource::meetingOnly);
    SessionController& controller = startSession();
    // What reaches the model on each output is the engine's tests' business; here the window's
    // name for the output follows, and the session goes on without a word.
    ASSERT_TRUE(hears(1300));
    EXPECT_EQ(controller.heardOutput(), QStringLiteral("FakeSpeakers"));
    ASSERT_TRUE(m_sound.pactl({QStringLiteral("set-default-sink"), QStringLiteral("headset")}));
    ASSERT_TRUE(hears(1700));
    EXPECT_EQ(controller.heardOutput(), QStringLiteral("FakeHeadset"));
    EXPECT_TRUE(controller.isSessionActive());
    EXPECT_FALSE(controller.banner().has_value()) << controller.bannerText().toStdString();
    controller.stop();
    EXPECT_TRUE(controller.heardOutput().isEmpty());
    EXPECT_TRUE(readWav(sessionFile(QStringLiteral(".wav"))).valid);
}

TEST_F(LiveSession, SpeakingIntoTheMicrophoneFillsMyAnswerOfTheNewestCard) {
    const QString reply = QStringLiteral(
        "I worked on the payment system for three years and led a team of five engineers.");
    const QString voice = makeFliteSpeech(m_files.path(), QStringLiteral("me.wav"),
                                          QStringLiteral("slt"), reply, 0.3, 0.5);
    ASSERT_FALSE(voice.isEmpty());
    m_settings->setMeetingSource(AppSettings::MeetingSource::systemOutput);
    m_settings->setStreamSource(AppSettings::StreamSource::meetingOnly);
    m_settings->setTranscribeMyAnswers(true);
    SessionController& controller = startSession();
    const MicTranscriber& transcriber = m_app->speech().micTranscriber();
    answer(QStringLiteral("Tell me about a project you led."),
           {QStringLiteral("Pick one with numbers.")});
    ASSERT_TRUE(waitUntil(
        [&] { return controller.pairs().size() == 1 && controller.pairs().first().isComplete; }));
    answer(kQuestion, {QStringLiteral("Turning vague problems into systems.")});
    ASSERT_TRUE(waitUntil(
        [&] { return controller.pairs().size() == 2 && controller.pairs().last().isComplete; }));

    bool sawInterim = false;
    QObject::connect(&controller, &SessionController::pairsChanged, &controller, [&] {
        const QAPair& newest = controller.pairs().last();
        if (newest.myAnswerInProgress && !newest.myAnswer.isEmpty() && controller.isSpeaking())
            sawInterim = true;
    });
    auto me = playOn(QStringLiteral("mic_feed"), voice);
    ASSERT_TRUE(me->finished(20000));
    // Two seconds of quiet end the segment; the recognizer's final text closes its task.
    ASSERT_TRUE(
        waitUntil([&] { return !controller.isSpeaking() && !transcriber.hasOpenTask(); }, 20000));
    QList<QAPair> cards = controller.pairs();
    ASSERT_EQ(cards.size(), 2);
    EXPECT_TRUE(cards.first().myAnswer.isEmpty());
    EXPECT_TRUE(sawInterim);
    EXPECT_TRUE(cards.last().myAnswerInProgress); // still answering until the interviewer speaks
    EXPECT_FALSE(controller.banner().has_value()) << controller.bannerText().toStdString();
    const QString mine = cards.last().myAnswer;
    const double wer = wordErrorRate(reply, mine);
    RecordProperty("wer_percent", int(wer * 100));
    EXPECT_LE(wer, 0.30) << mine.toStdString();

    // The interviewer's next question ends the answer and opens a card of its own.
    answer(QStringLiteral("Why do you want this role?"), {QStringLiteral("Growth.")});
    ASSERT_TRUE(waitUntil(
        [&] { return controller.pairs().size() == 3 && controller.pairs().last().isComplete; }));
    cards = controller.pairs();
    EXPECT_FALSE(cards[1].myAnswerInProgress);
    EXPECT_EQ(cards[1].myAnswer, mine);
    EXPECT_TRUE(cards[2].myAnswer.isEmpty());

    controller.stop();
    const QString transcript = readText(sessionFile(QStringLiteral(".transcript.md")));
    EXPECT_TRUE(transcript.contains(QStringLiteral("**You:** ") + mine + u'\n'))
        << transcript.toStdString();
    const QString events = readText(sessionFile(QStringLiteral(".events.jsonl")));
    EXPECT_TRUE(events.contains(QStringLiteral("\"event\":\"you_started\"")));
    EXPECT_TRUE(events.contains(QStringLiteral("\"text\":\"") + mine + u'"'))
        << events.toStdString();
}
