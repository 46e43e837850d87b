#include "session/AnswerRequests.h"
#include "session/QAFlow.h"
#include "support/FakeClock.h"
#include "support/SessionFakes.h"
#include "support/TestHome.h"

#include <QImage>
#include <QTest>

#include <gtest/gtest.h>

namespace {

// A flow and its requests, with what they log and ask the client for.
class AnswerRequestsTest : public ::testing::Test {
protected:
    AnswerRequestsTest() {
        QAFlow::Hooks hooks;
        hooks.record = [this](const QString& e, const QJsonObject& f) { records.append({e, f}); };
        hooks.answerFinished = [this](QAPair& card) { requests->answerFinished(card); };
        hooks.updateHistory = [this](const auto& pairs) { history = pairs; };
        flow = std::make_unique<QAFlow>(
            clock, [] { return 8.0; }, hooks);
        requests = std::make_unique<AnswerRequests>(
            *flow, &screen,
            AnswerRequests::Hooks{
                {},
                [this](const QString& e, const QJsonObject& f) {
                    records.append({e, f});
                },
                [this](const QString& card, const QString& message, const QByteArray& image) {
                    asked.append({card, message});
                    images.append(image);
                },
                [this](const QString& text) { banners.append(text); },
                [this] { return picturePath; }});
    }
    // The service answers the newest request for its card.
    void answer(const QString& response, const QString& text) {
        flow->startResponse(response, {}, asked.last().first);
        flow->ingestDelta(response, text);
        flow->completeResponse(response);
    }
    const QJsonObject* last(const char* event) const {
        for (auto it = records.rbegin(); it != records.rend(); ++it)
            if (it->first == QLatin1String(event))
                return &it->second;
        return nullptr;
    }

    FakeClock clock;
    std::unique_ptr<QAFlow> flow;
    std::unique_ptr<AnswerRequests> requests;
    QList<QPair<QString, QJsonObject>> records;
    QList<QPair<QString, QString>> asked;
    QList<QByteArray> images;
    QList<RealtimeClientInterface::HistoryPair> history;
    QStringList banners;
    FakeScreenCapture screen;
    QString picturePath;
};

TEST_F(AnswerRequestsTest, ATypedQuestionGetsACardOfItsOwnAndItsAnswer) {
    EXPECT_FALSE(requests->ask(QStringLiteral("  \n")));
    flow->ingestTranscript(QStringLiteral("Why us?"), QStringLiteral("i1"));
    const auto id = requests->ask(QStringLiteral(" Which team would I join? "));
    ASSERT_TRUE(id);
    ASSERT_EQ(asked.size(), 1);
    EXPECT_EQ(asked.last(), qMakePair(*id, QStringLiteral("Which team would I join?")));
    const QJsonObject* question = last("question");
    ASSERT_TRUE(question);
    EXPECT_TRUE(question->value("typed").toBool());
    EXPECT_EQ(question->value("pair").toString(), *id);
    // The heard question's answer keeps its card; the typed one's goes to the typed card.
    flow->startResponse(QStringLiteral("r1"), QStringLiteral("i1"));
    flow->ingestDelta(QStringLiteral("r1"), QStringLiteral("Because."));
    answer(QStringLiteral("r2"), QStringLiteral("Payments."));
    flow->completeResponse(QStringLiteral("r1"));
    ASSERT_EQ(flow->pairs().size(), 2);
    EXPECT_EQ(flow->pairs()[0].answer, QStringLiteral("Because."));
    EXPECT_TRUE(flow->pairs()[1].isTyped);
    EXPECT_EQ(flow->pairs()[1].answer, QStringLiteral("Payments."));
    // A renewed connection starts with it, as with a heard one.
    ASSERT_EQ(history.size(), 2);
    EXPECT_EQ(history[1].question, QStringLiteral("Which team would I join?"));
}

TEST_F(AnswerRequestsTest, ARewriteBecomesANewVersionAndTheOldOneStaysReachable) {
    flow->ingestTranscript(QStringLiteral("Tell me about yourself."), QStringLiteral("i1"));
    const QString card = flow->pairs()[0].id;
    EXPECT_FALSE(requests->rewrite(card, AnswerRequests::Style::shorter)) << "no answer yet";
    flow->startResponse(QStringLiteral("r1"), QStringLiteral("i1"));
    flow->ingestDelta(QStringLiteral("r1"), QStringLiteral("A long answer about payments."));
    flow->completeResponse(QStringLiteral("r1"));

    ASSERT_TRUE(requests->rewrite(card, AnswerRequests::Style::bullets));
    EXPECT_FALSE(requests->rewrite(card, AnswerRequests::Style::shorter)) << "one at a time";
    EXPECT_EQ(asked.last().second,
              AnswerRequests::rewriteMessage(AnswerRequests::Style::bullets,
                                             QStringLiteral("Tell me about yourself."),
                                             QStringLiteral("A long answer about payments.")));
    EXPECT_TRUE(flow->pairs()[0].answer.isEmpty());
    answer(QStringLiteral("r2"), QStringLiteral("- Payments"));
    const QAPair& rewritten = flow->pairs()[0];
    EXPECT_EQ(rewritten.versions, (QStringList{"A long answer about payments.", "- Payments"}));
    EXPECT_EQ(rewritten.shownVersion, 1);
    const QJsonObject* refined = last("answer_refined");
    ASSERT_TRUE(refined);
    EXPECT_EQ(refined->value("style").toString(), QStringLiteral("bullets"));
    EXPECT_EQ(refined->value("from_chars").toInt(), 29);
    EXPECT_EQ(refined->value("to_chars").toInt(), 10);
    EXPECT_EQ(last("answer_done")->value("answer").toString(), QStringLiteral("- Payments"));

    requests->showVersion(card, 0);
    EXPECT_EQ(flow->pairs()[0].answer, QStringLiteral("A long answer about payments."));
    requests->showVersion(card, 5);
    EXPECT_EQ(flow->pairs()[0].shownVersion, 0);

    // A rewrite that brings nothing leaves the answer it was to replace.
    ASSERT_TRUE(requests->rewrite(card, AnswerRequests::Style::example));
    flow->answerRefused({}, card, QStringLiteral("busy"));
    EXPECT_EQ(flow->pairs()[0].answer, QStringLiteral("A long answer about payments."));
    EXPECT_EQ(flow->pairs()[0].versions.size(), 2);
    EXPECT_TRUE(flow->pairs()[0].isComplete);

    // A follow-up changes the question: the versions of the old answer go.
    clock.advance(1);
    flow->ingestTranscript(QStringLiteral("and your hobbies"), QStringLiteral("i2"));
    EXPECT_TRUE(flow->pairs()[0].versions.isEmpty());
}

// Only the user's command takes a picture; what the desktop answers decides what follows.
TEST_F(AnswerRequestsTest, AQuestionAboutTheScreenSendsThePictureAndKeepsIt) {
    TestHome home;
    picturePath = home.path() + QStringLiteral("/meeting_x.screen-1.jpg");
    QImage blue(3200, 2000, QImage::Format_RGB32);
    blue.fill(QColor(0x33, 0x66, 0xcc));
    screen.next.image = blue;
    requests->captureScreen(true);
    ASSERT_TRUE(QTest::qWaitFor([&] { return !asked.isEmpty(); }));
    EXPECT_EQ(screen.requests, QList<bool>{true});
    EXPECT_EQ(asked.last().second, AnswerRequests::screenMessage());
    const QImage sent = QImage::fromData(images.last(), "JPEG");
    EXPECT_EQ(sent.size(), QSize(1600, 1000));
    EXPECT_LT(std::abs(QColor(sent.pixel(800, 500)).blue() - 0xcc), 8);
    ASSERT_EQ(flow->pairs().size(), 1);
    const QAPair& card = flow->pairs().first();
    EXPECT_TRUE(card.isScreen);
    EXPECT_EQ(card.question, QStringLiteral("Screen at ") + card.timestamp);
    EXPECT_EQ(card.picture, picturePath);
    EXPECT_EQ(QImage(picturePath).size(), QSize(1600, 1000)) << "saved as it was sent";
    EXPECT_EQ(last("question")->value("picture").toString(),
              QStringLiteral("meeting_x.screen-1.jpg"));

    // Cancelled: nothing at all. Refused: the banner says so and nothing is sent.
    screen.next = {QImage(), true, {}};
    requests->captureScreen(false);
    screen.next = {QImage(), false, QStringLiteral("The desktop refused the screenshot.")};
    requests->captureScreen(false);
    ASSERT_TRUE(QTest::qWaitFor([&] { return !banners.isEmpty(); }));
    EXPECT_EQ(banners, QStringList{"The desktop refused the screenshot."});
    EXPECT_EQ(asked.size(), 1);
    EXPECT_EQ(flow->pairs().size(), 1);
}

} // namespace
