#include "speech/MicTranscriber.h"
#include "support/FakeSpeechEngine.h"

#include <QTest>
#include <gtest/gtest.h>

#include <atomic>
#include <cmath>
#include <thread>
#include <vector>

namespace {
constexpr int kWait = 5000; // ms; a safety net only, every wait ends on its condition

// 100 ms of a loud 440 Hz tone at 48 kHz, the microphone's usual format.
std::vector<float> toneBlock() {
    std::vector<float> block(4800);
    for (size_t i = 0; i < block.size(); ++i)
        block[i] = 0.5f * float(std::sin(2 * M_PI * 440.0 * double(i) / 48000.0));
    return block;
}

class MicTranscriberTest : public ::testing::Test {
protected:
    MicTranscriberTest() {
        transcriber.onPartial = [this](const QString& text) { partials << text; };
        transcriber.onFinal = [this](const QString& text) { finals << text; };
        transcriber.onFailure = [this](const QString& text) { failures << text; };
    }

    void script(const QString& interim, const SpeechOutcome& outcome) {
        FakeSpeechEngine::Script s = engine->script();
        s.interim = interim;
        s.outcome = outcome;
        engine->setScript(s);
    }

    void speak(int blocks = 3) {
        const std::vector<float> block = toneBlock();
        for (int i = 0; i < blocks; ++i)
            transcriber.append(block.data(), int(block.size()), 48000.0);
    }

    // A segment with speech and an interim text, ended, whose final result the engine holds.
    bool speakAndEndWithTheFinalHeldBack() {
        engine->holdFinish();
        transcriber.begin();
        speak();
        if (!QTest::qWaitFor([this] { return !partials.isEmpty(); }, kWait))
            return false;
        transcriber.end();
        return QTest::qWaitFor([this] { return engine->finishWaiting(); }, kWait);
    }

    bool waitIdle() {
        return QTest::qWaitFor([this] { return !transcriber.hasOpenTask(); }, kWait);
    }

    std::shared_ptr<FakeSpeechEngine> engine = std::make_shared<FakeSpeechEngine>();
    FakeClock clock;
    MicTranscriber transcriber{engine, clock, QStringLiteral("en_US")};
    QStringList partials, finals, failures;
};
} // namespace

TEST_F(MicTranscriberTest, SegmentDeliversInterimThenOneFinal) {
    script(QStringLiteral("tell me"), SpeechOutcome::recognized(QStringLiteral("tell me more")));
    transcriber.begin();
    EXPECT_TRUE(transcriber.hasOpenTask());
    // Speech that comes once the segment is open, as an answer's does, is heard before it ends.
    ASSERT_TRUE(QTest::qWaitFor([this] { return engine->counts().begins == 1; }, kWait));
    speak();
    ASSERT_TRUE(QTest::qWaitFor([this] { return !partials.isEmpty(); }, kWait));
    EXPECT_EQ(partials.first(), QStringLiteral("tell me"));
    transcriber.end();
    EXPECT_TRUE(transcriber.hasOpenTask()); // open until the final result or the fallback
    ASSERT_TRUE(waitIdle());
    EXPECT_EQ(finals, QStringList{QStringLiteral("tell me more")});
    // The recognizer repeats its interim text at every look; it is passed on once.
    EXPECT_EQ(partials, (QStringList{QStringLiteral("tell me"), QStringLiteral("tell me more")}));
    EXPECT_TRUE(failures.isEmpty());
    // 300 ms at 48 kHz reach the recognizer as 300 ms at 16 kHz.
    EXPECT_NEAR(double(engine->counts().samplesFed), 4800.0, 48.0);
    EXPECT_EQ(engine->modes(), QList<SpeechEngine::Mode>{SpeechEngine::Mode::live});

    // The fallback of a segment that finished normally does nothing.
    clock.advance(2.99);
    EXPECT_EQ(clock.activeTimers(), 1);
    clock.advance(0.01);
    EXPECT_EQ(clock.activeTimers(), 0);
    EXPECT_EQ(finals.size(), 1);
}

TEST_F(MicTranscriberTest, SilenceEndsWithoutCallbacks) {
    script(QString(), SpeechOutcome::noSpeech());
    transcriber.begin();
    const std::vector<float> silence(4800, 0.0f);
    transcriber.append(silence.data(), int(silence.size()), 48000.0);
    transcriber.end();
    ASSERT_TRUE(waitIdle());
    clock.advance(MicTranscriber::fallbackSeconds);
    EXPECT_TRUE(finals.isEmpty());
    EXPECT_TRUE(failures.isEmpty());
    EXPECT_TRUE(partials.isEmpty());
}

TEST_F(MicTranscriberTest, CancelledWithoutTextEndsSilently) {
    script(QString(), SpeechOutcome::cancelled());
    transcriber.begin();
    speak();
    transcriber.end();
    ASSERT_TRUE(waitIdle());
    EXPECT_TRUE(finals.isEmpty());
    EXPECT_TRUE(failures.isEmpty());
}

TEST_F(MicTranscriberTest, FailureWithoutTextIsReported) {
    script(QString(), SpeechOutcome::failed(QStringLiteral("The decoder broke.")));
    transcriber.begin();
    speak();
    transcriber.end();
    ASSERT_TRUE(waitIdle());
    EXPECT_EQ(failures,
              QStringList{QStringLiteral("On-device transcription failed: The decoder broke.")});
    EXPECT_TRUE(finals.isEmpty());
}

TEST_F(MicTranscriberTest, FailureAfterSomeTextFinishesWithThatText) {
    script(QStringLiteral("my first job"), SpeechOutcome::failed(QStringLiteral("broke")));
    transcriber.begin();
    speak();
    ASSERT_TRUE(QTest::qWaitFor([this] { return !partials.isEmpty(); }, kWait));
    transcriber.end();
    ASSERT_TRUE(waitIdle());
    EXPECT_EQ(finals, QStringList{QStringLiteral("my first job")});
    EXPECT_TRUE(failures.isEmpty());
}

TEST_F(MicTranscriberTest, RecognizerThatCannotLoadReportsFailure) {
    FakeSpeechEngine::Script s;
    s.createError = QStringLiteral("The English speech model could not be loaded.");
    engine->setScript(s);
    transcriber.begin();
    ASSERT_TRUE(waitIdle());
    EXPECT_EQ(failures, QStringList{QStringLiteral("On-device transcription failed: The English "
                                                   "speech model could not be loaded.")});
}

TEST_F(MicTranscriberTest, SecondBeginAbandonsTheFirstWithoutCallback) {
    script(QStringLiteral("first"), SpeechOutcome::recognized(QStringLiteral("first answer")));
    transcriber.begin();
    speak();
    const int firstSegment = transcriber.segmentID();
    script(QString(), SpeechOutcome::recognized(QStringLiteral("second answer")));
    transcriber.begin();
    EXPECT_TRUE(transcriber.hasOpenTask());
    EXPECT_GT(transcriber.segmentID(), firstSegment + 1); // the silent stop counts too
    speak();
    transcriber.end();
    ASSERT_TRUE(waitIdle());
    EXPECT_EQ(finals, QStringList{QStringLiteral("second answer")});
    EXPECT_FALSE(partials.contains(QStringLiteral("first answer")));
    EXPECT_TRUE(failures.isEmpty());
    EXPECT_EQ(engine->counts().begins, 2);
    EXPECT_EQ(engine->counts().finishes, 1);
    EXPECT_EQ(engine->counts().streamsCreated, 1); // the recognizer is kept across segments
}

TEST_F(MicTranscriberTest, ResultAfterSilentStopIsIgnored) {
    script(QString(), SpeechOutcome::recognized(QStringLiteral("too late")));
    engine->holdFinish();
    transcriber.begin();
    speak();
    transcriber.end();
    ASSERT_TRUE(QTest::qWaitFor([this] { return engine->finishWaiting(); }, kWait));
    transcriber.stopTask(true);
    EXPECT_FALSE(transcriber.hasOpenTask());
    engine->releaseFinish();

    // A later segment's result arrives after the abandoned one's, so seeing it proves the
    // earlier result was delivered and dropped.
    script(QString(), SpeechOutcome::recognized(QStringLiteral("on time")));
    transcriber.begin();
    speak();
    transcriber.end();
    ASSERT_TRUE(waitIdle());
    EXPECT_EQ(finals, QStringList{QStringLiteral("on time")});
    EXPECT_FALSE(partials.contains(QStringLiteral("too late")));
}

TEST_F(MicTranscriberTest, FallbackDeliversLatestTextWhenNoFinalCame) {
    script(QStringLiteral("I led the team"), SpeechOutcome::recognized(QStringLiteral("late")));
    ASSERT_TRUE(speakAndEndWithTheFinalHeldBack());
    EXPECT_TRUE(finals.isEmpty());

    clock.advance(MicTranscriber::fallbackSeconds);
    EXPECT_EQ(finals, QStringList{QStringLiteral("I led the team")});
    EXPECT_FALSE(transcriber.hasOpenTask());

    engine->releaseFinish();
    script(QString(), SpeechOutcome::recognized(QStringLiteral("next")));
    transcriber.begin();
    transcriber.end();
    ASSERT_TRUE(waitIdle());
    EXPECT_EQ(finals, (QStringList{QStringLiteral("I led the team"), QStringLiteral("next")}));
}

TEST_F(MicTranscriberTest, FallbackWithoutTextStaysSilent) {
    script(QString(), SpeechOutcome::noSpeech());
    engine->holdFinish();
    transcriber.begin();
    transcriber.end();
    ASSERT_TRUE(QTest::qWaitFor([this] { return engine->finishWaiting(); }, kWait));
    clock.advance(MicTranscriber::fallbackSeconds);
    EXPECT_FALSE(transcriber.hasOpenTask());
    engine->releaseFinish();
    EXPECT_TRUE(finals.isEmpty());
    EXPECT_TRUE(failures.isEmpty());
}

TEST_F(MicTranscriberTest, BlocksFedWhileClosedAreDropped) {
    script(QString(), SpeechOutcome::recognized(QStringLiteral("answer")));
    speak(2); // before any segment
    EXPECT_EQ(transcriber.appendedFrames(), 0);
    transcriber.begin();
    speak(1);
    EXPECT_EQ(transcriber.appendedFrames(), 4800);
    transcriber.end();
    speak(2); // after the audio ended
    EXPECT_EQ(transcriber.appendedFrames(), 4800);
    ASSERT_TRUE(waitIdle());
    speak(2); // between segments
    transcriber.begin();
    transcriber.end();
    ASSERT_TRUE(waitIdle());
    EXPECT_NEAR(double(engine->counts().samplesFed), 1600.0, 32.0);
}

TEST_F(MicTranscriberTest, NonSilentStopMakesNoCallback) {
    script(QStringLiteral("partial"), SpeechOutcome::recognized(QStringLiteral("whole")));
    transcriber.begin();
    speak();
    transcriber.stopTask(false);
    EXPECT_FALSE(transcriber.hasOpenTask());
    script(QString(), SpeechOutcome::recognized(QStringLiteral("after")));
    transcriber.begin();
    transcriber.end();
    ASSERT_TRUE(waitIdle());
    EXPECT_EQ(finals, QStringList{QStringLiteral("after")});
}

TEST_F(MicTranscriberTest, PendingFallbackLeavesANewerSegmentAlone) {
    script(QStringLiteral("old words"), SpeechOutcome::noSpeech());
    ASSERT_TRUE(speakAndEndWithTheFinalHeldBack());
    transcriber.begin(); // the user starts the next answer before three seconds pass
    clock.advance(MicTranscriber::fallbackSeconds);
    EXPECT_TRUE(transcriber.hasOpenTask());
    EXPECT_TRUE(finals.isEmpty());
    engine->releaseFinish();
}

// The capture thread keeps appending while the main thread opens, ends and abandons segments.
TEST_F(MicTranscriberTest, CaptureThreadAppendsWhileSegmentsChange) {
    script(QStringLiteral("so"), SpeechOutcome::recognized(QStringLiteral("answer")));
    std::atomic<bool> running{true};
    std::thread capture([this, &running] {
        const std::vector<float> block = toneBlock();
        while (running.load())
            transcriber.append(block.data(), 480, 48000.0);
    });
    int ended = 0;
    for (int round = 0; round < 40; ++round) {
        transcriber.begin();
        QTest::qWait(1);
        if (round % 3 == 0) {
            transcriber.stopTask(true);
        } else {
            transcriber.end();
            ++ended;
            ASSERT_TRUE(waitIdle());
        }
    }
    running = false;
    capture.join();
    EXPECT_EQ(finals.size(), ended);
    EXPECT_TRUE(failures.isEmpty());
    EXPECT_EQ(engine->counts().finishes, ended);
}

TEST(MicTranscriberAvailability, MissingModelMeansBeginDoesNothing) {
    auto engine = std::make_shared<FakeSpeechEngine>();
    FakeSpeechEngine::Script s;
    s.modelState = SpeechEngine::ModelState::unsupportedLanguage;
    engine->setScript(s);
    FakeClock clock;
    MicTranscriber transcriber(engine, clock, QStringLiteral("de_DE"));
    transcriber.begin();
    EXPECT_FALSE(transcriber.hasOpenTask());
    EXPECT_EQ(transcriber.segmentID(), 0);

    std::optional<MicTranscriberInterface::Availability> answer;
    transcriber.requestAuthorization([&](const auto& availability) { answer = availability; });
    ASSERT_TRUE(QTest::qWaitFor([&] { return answer.has_value(); }, kWait));
    EXPECT_EQ(*answer, MicTranscriberInterface::Availability::unsupported(
                           QStringLiteral("Speech recognition is unavailable for de_DE.")));
}
