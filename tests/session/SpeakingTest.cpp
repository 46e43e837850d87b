#include "session/QAFlow.h"
#include "session/SpeakingTracker.h"
#include "support/FakeClock.h"
#include "support/SessionFakes.h"

#include <QSignalSpy>
#include <gtest/gtest.h>

namespace {

class SpeakingTest : public ::testing::Test {
protected:
    SpeakingTest() {
        QAFlow::Hooks flowHooks;
        flowHooks.isSpeaking = [this] { return tracker->isSpeaking(); };
        flowHooks.interviewerTookOver = [this] { tracker->interviewerTookOver(); };
        flowHooks.record = [this](const QString& e, const QJsonObject& f) { record(e, f); };
        flow = std::make_unique<QAFlow>(
            clock, [] { return 8.0; }, flowHooks);
        SpeakingTracker::Hooks hooks;
        hooks.isSessionActive = [this] { return active; };
        hooks.transcribeMyAnswers = [this] { return transcribe; };
        hooks.hasLog = [] { return true; };
        hooks.record = [this](const QString& e, const QJsonObject& f) { record(e, f); };
        hooks.showsAnswerTimer = [this] { return showsTimer; };
        tracker = std::make_unique<SpeakingTracker>(clock, *flow, mic, &inhibitor, hooks);
    }

    void record(const QString& event, const QJsonObject& fields) {
        events << event;
        lastFields[event] = fields;
    }
    // Levels arrive at most 20 times a second.
    void level(float value, double then = 0.05) {
        tracker->trackSpeaking(value);
        clock.advance(then);
    }

    FakeClock clock;
    FakeMicTranscriber mic;
    FakeSleepInhibitor inhibitor;
    bool active = true;
    bool transcribe = true;
    bool showsTimer = true;
    QStringList events;
    QMap<QString, QJsonObject> lastFields;
    std::unique_ptr<QAFlow> flow;
    std::unique_ptr<SpeakingTracker> tracker;
};

TEST_F(SpeakingTest, ThresholdIsInclusive) {
    level(0.0449f);
    EXPECT_FALSE(tracker->isSpeaking());
    EXPECT_FALSE(tracker->isAnswering());
    level(0.045f);
    EXPECT_TRUE(tracker->isSpeaking());
    EXPECT_TRUE(tracker->isAnswering());
}

TEST_F(SpeakingTest, HangOverEndsSpeakingAtExactlyTwoSeconds) {
    level(0.5f, 1.875);
    level(0.0f, 0.125);
    EXPECT_TRUE(tracker->isSpeaking()) << "1.875 s of silence";
    EXPECT_EQ(mic.ends, 0);
    level(0.0f);
    EXPECT_FALSE(tracker->isSpeaking()) << "2.0 s of silence";
    EXPECT_TRUE(tracker->isAnswering()) << "a pause does not end the answer";
    EXPECT_EQ(mic.ends, 1);
}

TEST_F(SpeakingTest, LevelsOutsideASessionChangeNothing) {
    active = false;
    level(1.0f);
    EXPECT_FALSE(tracker->isSpeaking());
    EXPECT_TRUE(events.isEmpty());
}

TEST_F(SpeakingTest, PauseKeepsTheTimerAndTheNextVoiceAppendsANewSegment) {
    flow->ingestTranscript(QStringLiteral("Tell me about yourself."));
    for (int i = 0; i < 3; ++i)
        level(0.3f);
    EXPECT_EQ(mic.begins, 1);
    tracker->updateMyAnswer(QStringLiteral("I build"), false);
    tracker->updateMyAnswer(QStringLiteral("I build systems"), true);
    clock.advance(2.0);
    level(0.0f, 5.0); // a 5 s pause
    EXPECT_TRUE(tracker->isAnswering());
    EXPECT_NEAR(tracker->speakingElapsed(), 7.0, 0.21);
    level(0.3f);
    EXPECT_EQ(mic.begins, 2);
    tracker->updateMyAnswer(QStringLiteral("at scale"), false);
    EXPECT_EQ(flow->pairs()[0].myAnswer, QStringLiteral("I build systems at scale"));
    tracker->updateMyAnswer(QStringLiteral("at scale."), true);
    EXPECT_EQ(flow->pairs()[0].myAnswer, QStringLiteral("I build systems at scale."));
    EXPECT_TRUE(flow->pairs()[0].myAnswerInProgress);
    clock.advance(0.4);
    EXPECT_NEAR(tracker->speakingElapsed(), 7.6, 0.21) << "the whole answer, its pause included";
    EXPECT_EQ(events.count(QStringLiteral("you_started")), 1);
}

// The user talks again before the recognizer's final text of the last words: those words, as
// last heard, stay ahead of the new ones.
TEST_F(SpeakingTest, ResumingBeforeTheFinalTextKeepsTheEarlierWords) {
    flow->ingestTranscript(QStringLiteral("Why Rust?"));
    level(0.3f, 2.0);
    tracker->updateMyAnswer(QStringLiteral("I build"), false);
    level(0.0f); // two seconds of silence close the segment
    level(0.3f);
    tracker->updateMyAnswer(QStringLiteral("systems"), false);
    EXPECT_EQ(flow->pairs()[0].myAnswer, QStringLiteral("I build systems"));
}

TEST_F(SpeakingTest, RecognizerClosingASegmentMidSpeechOpensAnother) {
    level(0.3f);
    mic.open = false; // the recognizer finished on its own
    level(0.3f);
    EXPECT_EQ(mic.begins, 2);
}

TEST_F(SpeakingTest, SpeakingBeforeAnyQuestionCreatesOneEmptyCardOnlyWhenTranscribing) {
    transcribe = false;
    level(0.3f);
    EXPECT_TRUE(flow->pairs().isEmpty());
    tracker->endSpeaking();

    transcribe = true;
    level(0.3f);
    ASSERT_EQ(flow->pairs().size(), 1);
    const QAPair& card = flow->pairs()[0];
    EXPECT_TRUE(card.isComplete);
    EXPECT_TRUE(card.question.isEmpty());
    EXPECT_TRUE(card.myAnswerInProgress);
    tracker->updateMyAnswer(QStringLiteral("Hello there"), true);
    EXPECT_EQ(flow->pairs()[0].myAnswer, QStringLiteral("Hello there"));
    flow->ingestTranscript(QStringLiteral("Why?")); // never into the card of the user's words
    ASSERT_EQ(flow->pairs().size(), 2);
    EXPECT_EQ(flow->pairs()[0].question, QString());
}

TEST_F(SpeakingTest, WhereNoTimerShowsTheAnswerIsTimedWithoutTicks) {
    showsTimer = false;
    const int before = clock.activeTimers();
    flow->ingestTranscript(QStringLiteral("First?"));
    level(0.3f, 4.0);
    EXPECT_TRUE(tracker->isAnswering());
    EXPECT_EQ(clock.activeTimers(), before);
    flow->ingestTranscript(QStringLiteral("Second?"));
    ASSERT_TRUE(tracker->lastAnswerDuration().has_value());
    EXPECT_NEAR(*tracker->lastAnswerDuration(), 4.0, 1e-9);
    EXPECT_DOUBLE_EQ(lastFields.value("you_stopped").value("seconds").toDouble(), 4.0);
}

TEST_F(SpeakingTest, NextQuestionEndsTheAnswerAndKeepsItsLength) {
    flow->ingestTranscript(QStringLiteral("First?"));
    level(0.3f, 12.34);
    tracker->updateMyAnswer(QStringLiteral("one two  three"), true);
    flow->ingestTranscript(QStringLiteral("Second?"));
    EXPECT_FALSE(tracker->isAnswering());
    EXPECT_EQ(tracker->speakingElapsed(), 0.0);
    ASSERT_TRUE(tracker->lastAnswerDuration().has_value());
    EXPECT_NEAR(*tracker->lastAnswerDuration(), 12.34, 1e-9);
    const QJsonObject stopped = lastFields.value("you_stopped");
    EXPECT_DOUBLE_EQ(stopped.value("seconds").toDouble(), 12.3);
    EXPECT_EQ(stopped.value("words").toInt(), 3);
    EXPECT_EQ(stopped.value("text").toString(), QStringLiteral("one two  three"));
    EXPECT_EQ(events.indexOf("you_stopped"), events.lastIndexOf("question") - 1)
        << "the answer ends before the question is recorded";
    EXPECT_FALSE(flow->pairs()[0].myAnswerInProgress);
}

TEST_F(SpeakingTest, YouStoppedRoundsSecondsToOneDecimal) {
    level(0.3f, 12.34 - 0.05);
    clock.advance(0.05);
    tracker->endSpeaking();
    EXPECT_DOUBLE_EQ(lastFields.value("you_stopped").value("seconds").toDouble(), 12.3);
}

TEST_F(SpeakingTest, SessionClockTicksEverySecondAndHoldsTheMachineAwake) {
    tracker->startSessionClock();
    EXPECT_EQ(inhibitor.active, 1);
    EXPECT_EQ(inhibitor.reason, QStringLiteral("Live meeting transcription"));
    clock.advance(3.5);
    EXPECT_DOUBLE_EQ(tracker->sessionElapsed(), 3.0);
    tracker->stopSessionClock();
    EXPECT_EQ(inhibitor.active, 0);
    clock.advance(5);
    EXPECT_DOUBLE_EQ(tracker->sessionElapsed(), 3.0) << "keeps its last value after Stop";
}

TEST(ClockTextTest, FormatsTable) {
    const std::pair<double, const char*> clockRows[] = {
        {0, "00:00"},      {59.9, "00:59"},   {61, "01:01"},      {3599.99, "59:59"},
        {3600, "1:00:00"}, {3725, "1:02:05"}, {36000, "10:00:00"}};
    for (const auto& [seconds, text] : clockRows)
        EXPECT_EQ(SpeakingTracker::formatClock(seconds), QString::fromLatin1(text)) << seconds;
    const std::pair<double, const char*> durationRows[] = {
        {0, "0s"}, {42.4, "42s"}, {42.5, "43s"}, {59.4, "59s"}, {59.5, "1:00"}, {125, "2:05"}};
    for (const auto& [seconds, text] : durationRows)
        EXPECT_EQ(SpeakingTracker::formatDuration(seconds), QString::fromLatin1(text)) << seconds;
}

} // namespace
