#include "session/SessionReview.h"

#include "audio/WavWriter.h"
#include "support/TestFiles.h"
#include "support/TestHome.h"

#include <QProcess>
#include <QRegularExpression>
#include <QStandardPaths>
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
    EXPECT_TRUE(page.contains(QStringLiteral("<h1>Session review — 7 December 2026, 10:00</h1>")));
    EXPECT_TRUE(page.contains(QStringLiteral(" · 2 questions · ")));
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

// A recording as the archive writes it: 48 kHz, the user on the left, the meeting on the
// right; each side a square wave of the amplitude its stretch asks for.
void writeRecording(const QString& path, const QList<QPair<float, float>>& stretches,
                    int64_t framesEach) {
    auto created = WavWriter::create(path, 48000, 2);
    ASSERT_TRUE(std::holds_alternative<std::unique_ptr<WavWriter>>(created));
    WavWriter& writer = *std::get<std::unique_ptr<WavWriter>>(created);
    for (const auto& [you, meeting] : stretches) {
        std::vector<float> left(static_cast<size_t>(framesEach)), right(left.size());
        for (size_t i = 0; i < left.size(); ++i) {
            left[i] = i % 2 ? you : -you;
            right[i] = i % 2 ? meeting : -meeting;
        }
        const float* channels[] = {left.data(), right.data()};
        writer.write(FloatAudioBuffer{channels, 2, framesEach});
    }
    writer.close();
}

TEST(SessionReview, TheLevelStripKeepsEachSideAndEachStretchApart) {
    const struct {
        const char* name;
        QList<QPair<float, float>> stretches; // (you, meeting) per stretch
        int64_t framesEach;
        int slices;
        QList<float> you, meeting;
    } rows[] = {
        {"the meeting asks, then you answer",
         {{0, 0.25f}, {0.5f, 0}},
         24000,
         2,
         {0, 0.5f},
         {0.25f, 0}},
        {"both at once", {{0.1f, 0.4f}}, 48000, 1, {0.1f}, {0.4f}},
        // Frames 0-2, 3-5 and 6-9: the middle slice holds two frames of you, one of the meeting.
        {"slices that do not divide the frames",
         {{0.5f, 0}, {0, 0.5f}},
         5,
         3,
         {0.5f, std::sqrt(0.5f / 3), 0},
         {0, std::sqrt(0.25f / 3), 0.5f}},
        {"fewer frames than slices",
         {{0.3f, 0.2f}},
         4,
         300,
         {0.3f, 0.3f, 0.3f, 0.3f},
         {0.2f, 0.2f, 0.2f, 0.2f}},
    };
    TestHome home;
    for (const auto& row : rows) {
        const QString wav = home.path() + QStringLiteral("/meeting_x.wav");
        writeRecording(wav, row.stretches, row.framesEach);
        const auto levels = RecordingLevels::read(wav, row.slices);
        ASSERT_TRUE(levels) << row.name;
        EXPECT_DOUBLE_EQ(levels->seconds, double(row.framesEach * row.stretches.size()) / 48000)
            << row.name;
        ASSERT_EQ(levels->you.size(), row.you.size()) << row.name;
        ASSERT_EQ(levels->meeting.size(), row.meeting.size()) << row.name;
        for (qsizetype i = 0; i < row.you.size(); ++i) {
            EXPECT_NEAR(levels->you[i], row.you[i], 0.001) << row.name << ", slice " << i;
            EXPECT_NEAR(levels->meeting[i], row.meeting[i], 0.001) << row.name << ", slice " << i;
        }
    }
}

// The page of the scripted session beside twelve seconds of its recording: the meeting talks
// for the first six, the user stays silent.
QString recordedPage(const TestHome& home) {
    const QString log = home.path() + QStringLiteral("/meeting_x.events.jsonl");
    writeBytes(log, QByteArray(kLog) + "{\n"); // and a line cut off, for the notice
    writeRecording(SessionReview::recordingPath(log), {{0, 0.25f}, {0, 0}}, 6 * 48000);
    EXPECT_EQ(SessionReview::writePage(log).error, QString());
    return SessionReview::pagePath(log);
}

TEST(SessionReview, ThePageDrawsTheRecordingOnTheTimelinesAxisAndNothingWithoutOne) {
    TestHome home;
    const QString page = recordedPage(home);
    const QString html = readText(page);
    EXPECT_TRUE(html.contains(QStringLiteral("<path class=\"you\" d=\"\"/>")));
    const QString meeting =
        QRegularExpression(QStringLiteral("<path class=\"meeting\" d=\"([^\"]*)\""))
            .match(html)
            .captured(1);
    QList<double> starts;
    for (const auto& bar : QRegularExpression(QStringLiteral("M([0-9.]+) ")).globalMatch(meeting))
        starts << bar.captured(1).toDouble();
    // Half the slices, in the first 6 s of the axis's 120 (20 + 760 × 6 / 120 = 58).
    ASSERT_EQ(starts.size(), SessionReview::levelSlices / 2) << meeting.left(200).toStdString();
    EXPECT_EQ(starts.first(), 20);
    EXPECT_LT(starts.last(), 58);
    EXPECT_FALSE(html.contains(QRegularExpression(QStringLiteral("https?:|//|src="))));

    // A file beside the log that is no recording, or none: no strip, and the page still written.
    const QString log = QString(page).replace(QStringLiteral(".review.html"), ".events.jsonl");
    writeBytes(SessionReview::recordingPath(log), "RIFF, but no audio");
    EXPECT_EQ(SessionReview::writePage(log).error, QString());
    EXPECT_FALSE(readText(page).contains(QStringLiteral("class=\"levels\"")));
    QFile::remove(SessionReview::recordingPath(log));
    EXPECT_EQ(SessionReview::writePage(log).error, QString());
    EXPECT_FALSE(readText(page).contains(QStringLiteral("class=\"levels\"")));
}

TEST(SessionReview, ThePageIsCleanHtml) {
    if (QStandardPaths::findExecutable(QStringLiteral("tidy")).isEmpty())
        GTEST_SKIP() << "tidy is missing (Debian package tidy): the page's HTML is not checked";
    TestHome home;
    QProcess tidy;
    tidy.start(QStringLiteral("tidy"),
               {QStringLiteral("-errors"), QStringLiteral("-q"), recordedPage(home)});
    ASSERT_TRUE(tidy.waitForFinished(10000));
    EXPECT_EQ(tidy.exitCode(), 0);
    EXPECT_EQ(QString::fromUtf8(tidy.readAllStandardError() + tidy.readAllStandardOutput()),
              QString());
}

} // namespace
