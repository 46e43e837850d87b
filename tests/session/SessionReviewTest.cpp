#include "session/SessionReview.h"

#include <QRegularExpression>
#include <gtest/gtest.h>

namespace {

// A session as its event log tells it: two questions, a follow-up merged into the first, one
// failed answer, the user's two answers, costs per answer and for the whole.
const char* const kLog =
    R"({"event":"session_started","t":0})"
    "\n"
    R"({"event":"config","model":"gpt-realtime-2.1","t":0.01})"
    "\n"
    R"({"event":"question","pair":"A","t":10,"text":"Why us?","you_were_speaking":false})"
    "\n"
    R"({"event":"answer_started","latency_after_question_s":1.2,"pair":"A","t":11.2})"
    "\n"
    R"({"event":"question_extended","added":"and why now?","merged":"Why us? and why now?","pair":"A","t":12})"
    "\n"
    R"({"event":"answer_started","latency_after_question_s":0.8,"pair":"A","t":12.8})"
    "\n"
    R"({"event":"usage","response_cost_usd":0.01776,"session_cost_usd":0.01776,"t":14})"
    "\n"
    R"({"answer":"Because.","chars":8,"event":"answer_done","pair":"A","question":"Why us? and why now?","t":14})"
    "\n"
    R"({"event":"you_started","pair":"A","t":15})"
    "\n"
    R"({"event":"you_stopped","pair":"A","seconds":50,"t":65,"text":"I like it.","words":3})"
    "\n"
    R"({"event":"question","pair":"B","t":70,"text":"Salary?","you_were_speaking":false})"
    "\n"
    R"({"event":"answer_failed","message":"You exceeded your quota.","pair":"B","reason":"insufficient_quota","status":"failed","t":71})"
    "\n"
    R"({"event":"you_stopped","pair":"B","seconds":20,"t":100,"text":"Fair.","words":1})"
    "\n"
    R"({"cost_usd":0.02,"event":"session_cost","minutes":2,"t":120})"
    "\n"
    R"({"event":"session_ended","t":120})"
    "\n";

TEST(SessionReview, TheFiguresComeFromTheLogAlone) {
    const SessionReview::Review r = SessionReview::read(
        QByteArray(kLog), QStringLiteral("/x/meeting_2026-12-07_10-00-00.events.jsonl"));
    EXPECT_EQ(r.stamp, QStringLiteral("2026-12-07_10-00-00"));
    EXPECT_EQ(r.model, QStringLiteral("gpt-realtime-2.1"));
    EXPECT_DOUBLE_EQ(r.lengthSeconds, 120);
    ASSERT_EQ(r.cards.size(), 2);
    EXPECT_EQ(r.cards[0].question, QStringLiteral("Why us? and why now?"));
    EXPECT_TRUE(r.cards[0].extended);
    EXPECT_EQ(r.cards[0].latency, 0.8) << "the answer to the whole question";
    EXPECT_EQ(r.cards[0].cost, 0.01776);
    EXPECT_EQ(r.cards[1].cost, std::nullopt);
    EXPECT_EQ(r.cards[0].answerSeconds, 50);
    EXPECT_EQ(r.medianAnswer(), 35);
    EXPECT_EQ(r.longestAnswer(), 50);
    EXPECT_DOUBLE_EQ(r.speakingShare(), 70.0 / 120);
    EXPECT_EQ(r.followUps, 1);
    ASSERT_EQ(r.failures.size(), 1);
    EXPECT_EQ(r.failures[0].reason, QStringLiteral("insufficient_quota"));
    EXPECT_EQ(r.cost, 0.02);
    EXPECT_EQ(r.costPerMinute(), 0.01);
    EXPECT_FALSE(r.cutShort);
    EXPECT_FALSE(r.brokenLine);

    // The page holds every card and nothing it would have to fetch.
    const QString page = SessionReview::html(r);
    EXPECT_TRUE(page.contains(QStringLiteral("Why us? and why now?")));
    EXPECT_TRUE(page.contains(QStringLiteral("You exceeded your quota.")));
    EXPECT_TRUE(page.contains(QStringLiteral(">45 s<"))) << "the answer timer's mark";
    EXPECT_TRUE(page.contains(QStringLiteral("58 % of the session")));
    EXPECT_FALSE(page.contains(QRegularExpression(QStringLiteral("https?:|//|src="))));
}

TEST(SessionReview, ALogCutShortOrBrokenIsReadAsFarAsItGoes) {
    QByteArray log(kLog);
    log.truncate(log.indexOf(R"({"event":"question","pair":"B")"));
    SessionReview::Review r = SessionReview::read(log, QStringLiteral("meeting_x.events.jsonl"));
    EXPECT_TRUE(r.cutShort);
    EXPECT_EQ(r.cards.size(), 1);
    EXPECT_TRUE(SessionReview::html(r).contains(QStringLiteral("cut short")));

    log += R"({"event":"question","pair":"B","t":7)";
    log += "\n";
    log += R"({"event":"question","pair":"C","t":80,"text":"Never read."})";
    r = SessionReview::read(log, QStringLiteral("meeting_x.events.jsonl"));
    EXPECT_EQ(r.brokenLine, 11);
    EXPECT_EQ(r.cards.size(), 1) << "nothing after the broken line";
    EXPECT_TRUE(SessionReview::html(r).contains(QStringLiteral("line 11")));
    EXPECT_EQ(SessionReview::pagePath(QStringLiteral("/d/meeting_x.events.jsonl")),
              QStringLiteral("/d/meeting_x.review.html"));
}

} // namespace
