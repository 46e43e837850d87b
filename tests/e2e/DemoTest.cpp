// The demo's scripted interview through the real session controller, played fast: the cards it
// leaves, the candidate's answer timer, and the user's own files left alone.

#include "app/demo/DemoComposition.h"
#include "app/demo/DemoScript.h"
#include "app/demo/QuietCaptureEngine.h"
#include "app/demo/ScriptedRealtimeClient.h"
#include "session/SessionController.h"
#include "session/SpeakingTracker.h"
#include "settings/AppSettings.h"
#include "settings/SecretStore.h"
#include "support/Chromium.h"
#include "support/TestFiles.h"
#include "support/TestHome.h"

#include <QFile>
#include <QSignalSpy>
#include <QTest>
#include <QThreadPool>
#include <gtest/gtest.h>

namespace {

class Demo : public testing::Test {
protected:
    void SetUp() override {
        m_home.setEnv("CORVINEL_DEMO_SPEED", QByteArray("20"));
        m_home.setEnv("OPENAI_API_KEY", std::nullopt);
        AppSettings(AppSettings::defaultPath()).setFontSize(17);
        m_userSettings = readBytes(AppSettings::defaultPath());
        m_keyFile = SecretStore::keyFilePath();
    }

    // Plays the whole script; the statuses the client reported, in order.
    QList<SessionController::StatusKind> play(DemoComposition& demo) {
        QList<SessionController::StatusKind> statuses;
        const QMetaObject::Connection watch =
            QObject::connect(&demo.controller(), &SessionController::statusChanged,
                             [&] { statuses << demo.controller().statusKind(); });
        bool ended = false;
        demo.client().onMark = [&](const QString& name) {
            ended = ended || name == QLatin1String("end");
        };
        demo.controller().start();
        EXPECT_TRUE(QTest::qWaitFor([&] { return ended; }, 30000));
        QObject::disconnect(watch);
        demo.client().onMark = nullptr;
        return statuses;
    }

    TestHome m_home;
    QByteArray m_userSettings;
    QString m_keyFile;
};

struct CardRow {
    const char* questionStart;
    bool wasExtended;
    bool hasMyAnswer;
};

} // namespace

TEST_F(Demo, PlaysTheInterviewIntoCompleteCardsWithOneFollowUpMerged) {
    DemoComposition demo;
    QSignalSpy durations(&demo.controller(), &SessionController::lastAnswerDurationChanged);
    const auto statuses = play(demo);
    ASSERT_GE(statuses.size(), 2);
    EXPECT_EQ(statuses[0], SessionController::StatusKind::connecting);
    EXPECT_EQ(statuses[1], SessionController::StatusKind::connected);

    const CardRow rows[] = {
        {"Thanks for joining us today.", false, true},
        {"What was the hardest performance problem you solved there? and how did you measure", true,
         false},
        {"Tell me about a time you disagreed", false, false},
        {"What would your first ninety days", false, false},
        {"Why do you want to join our team?", false, false},
        {"What notice period should I mention?", false, false},
        {"Screen at ", false, false},
    };
    const QList<QAPair>& pairs = demo.controller().pairs();
    ASSERT_EQ(pairs.size(), qsizetype(std::size(rows)));
    for (qsizetype i = 0; i < pairs.size(); ++i) {
        const CardRow& row = rows[i];
        SCOPED_TRACE(row.questionStart);
        EXPECT_TRUE(pairs[i].question.startsWith(QLatin1String(row.questionStart)))
            << pairs[i].question.toStdString();
        EXPECT_EQ(pairs[i].wasExtended, row.wasExtended);
        EXPECT_EQ(!pairs[i].myAnswer.isEmpty(), row.hasMyAnswer);
        EXPECT_TRUE(pairs[i].isComplete);
        EXPECT_FALSE(pairs[i].answer.isEmpty());
    }
    // The typed question's answer was made shorter; the first version stays.
    const QAPair& typed = pairs[pairs.size() - 2];
    EXPECT_TRUE(typed.isTyped);
    ASSERT_EQ(typed.versions.size(), 2);
    EXPECT_TRUE(typed.answer.startsWith(QLatin1String("Three months by contract")));
    // The question about the screen keeps its picture beside the session's files.
    EXPECT_TRUE(pairs.last().isScreen);
    EXPECT_TRUE(pairs.last().picture.endsWith(QLatin1String(".screen-1.jpg")));
    // The follow-up's answer replaced the first one of its card.
    EXPECT_TRUE(pairs[1].answer.startsWith(QLatin1String("We tracked")));
    // The candidate answered once: the timer started, then showed its duration.
    EXPECT_TRUE(demo.controller().lastAnswerDuration().has_value());
    EXPECT_GE(durations.size(), 1);
    EXPECT_FALSE(demo.controller().costSummary().value_or(QString()).isEmpty());
}

TEST_F(Demo, LeavesTheUsersSettingsAndKeyAlone) {
    {
        DemoComposition demo;
        // Changes made in the demo's Settings.
        demo.settings().setFontSize(22);
        demo.settings().setApiKey(QStringLiteral("sk-typed-into-the-demo"));
        play(demo);
        demo.controller().stop();
        EXPECT_EQ(demo.settings().apiKey(), QStringLiteral("sk-typed-into-the-demo"));
    }
    EXPECT_EQ(readBytes(AppSettings::defaultPath()), m_userSettings);
    EXPECT_FALSE(QFile::exists(m_keyFile));
    EXPECT_EQ(SecretStore::keyFilePath().toStdString(), m_keyFile.toStdString());
    EXPECT_FALSE(qEnvironmentVariableIsSet("OPENAI_API_KEY"));
}

// The demo's session leaves a review page that a browser draws without a complaint: the
// recording's two sides in their own colours, and dark for a reader who prefers it.
TEST_F(Demo, ItsReviewPageDrawsInABrowserWithTheRecordingInBothThemes) {
    DemoComposition demo;
    play(demo);
    demo.controller().stop();
    QThreadPool::globalInstance()->waitForDone(); // the page written again with the recording
    QString page;
    for (const SessionController::BannerLink& link : demo.controller().bannerLinks())
        if (link.label == QLatin1String("Review"))
            page = link.path;
    ASSERT_TRUE(readText(page).contains(QStringLiteral("class=\"levels\""))) << page.toStdString();
    for (const bool dark : {false, true}) {
        SCOPED_TRACE(dark ? "dark" : "light");
        const ChromiumShot shot =
            renderInChromium(page, m_home.path() + (dark ? "/dark.png" : "/light.png"), dark);
        if (!shot.missing.isEmpty())
            GTEST_SKIP() << shot.missing.toStdString();
        EXPECT_EQ(shot.exitCode, 0);
        EXPECT_EQ(shot.pageErrors, QString());
        ASSERT_EQ(shot.image.size(), QSize(1000, 1400));
        const QColor background(dark ? 0x1c1c1e : 0xfafafa);
        EXPECT_EQ(pixelsNear(shot.image.copy(0, 0, 10, 10), background, 3), 100);
        // The meeting's colour is the strip's alone (but for its key in the legend).
        EXPECT_GT(pixelsNear(shot.image, QColor(dark ? 0xa58cff : 0x7b61d9)), 400);
        EXPECT_GT(pixelsNear(shot.image, QColor(dark ? 0xf0a54a : 0xe08a1e)), 400);
    }
}

TEST(DemoScript, StreamsEachAnswerInFragmentsThirtyToSixtyMillisecondsApart) {
    for (const DemoScript::Turn& turn : DemoScript::interview()) {
        EXPECT_EQ(DemoScript::fragments(turn.answer).join(QString()), turn.answer);
        EXPECT_GT(DemoScript::fragments(turn.answer).size(), 20);
    }
    for (int i = 0; i < 200; ++i) {
        EXPECT_GE(DemoScript::fragmentDelayMs(i), 30);
        EXPECT_LE(DemoScript::fragmentDelayMs(i), 60);
    }
}

TEST(QuietCaptureEngine, SpeechIsAboveTheVoiceThresholdAndTheRoomBelowIt) {
    for (int i = 0; i < 400; ++i) {
        const double t = i * 0.05;
        ASSERT_GE(QuietCaptureEngine::level(t, true, 1.3), SpeakingTracker::voiceThreshold) << t;
        ASSERT_LT(QuietCaptureEngine::level(t, false, 1.3), SpeakingTracker::voiceThreshold) << t;
        EXPECT_LE(QuietCaptureEngine::level(t, true, 0.0), 1.0f);
        EXPECT_GE(QuietCaptureEngine::level(t, false, 0.0), 0.0f);
    }
}
