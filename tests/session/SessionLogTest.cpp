#include "session/SessionLog.h"
#include "support/FakeClock.h"
#include "support/TestHome.h"

#include <QDir>
#include <QFile>
#include <QJsonDocument>
#include <gtest/gtest.h>

namespace {

QByteArray read(const QString& path) {
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray("<missing>");
}

QAPair card(const char* time, const char* q, const char* a, const char* mine = "",
            bool extended = false) {
    QAPair p;
    p.id = QStringLiteral("ID");
    p.timestamp = QString::fromUtf8(time);
    p.question = QString::fromUtf8(q);
    p.answer = QString::fromUtf8(a);
    p.myAnswer = QString::fromUtf8(mine);
    p.wasExtended = extended;
    return p;
}

TEST(SessionLogTest, LinesAreSortedCompactJsonWithRoundedTime) {
    TestHome home;
    FakeClock clock;
    {
        SessionLog log(home.path(), QStringLiteral("2026-03-14_09-26-53"), clock);
        clock.advance(1.0625);
        log.append(QStringLiteral("question"),
                   {{QStringLiteral("text"), QStringLiteral("Why \"Rust\"?\nÅ")},
                    {QStringLiteral("pair"), QStringLiteral("P1")},
                    {QStringLiteral("you_were_speaking"), false}});
        clock.advance(0.5);
        log.append(QStringLiteral("usage"), {{QStringLiteral("audio_in"), 400},
                                             {QStringLiteral("response_cost_usd"), 0.01296},
                                             {QStringLiteral("t"), 99}});
    }
    const QByteArray bytes =
        read(home.path() + QStringLiteral("/meeting_2026-03-14_09-26-53.events.jsonl"));
    EXPECT_EQ(bytes,
              QByteArray("{\"event\":\"session_started\",\"t\":0}\n"
                         "{\"event\":\"question\",\"pair\":\"P1\",\"t\":1.063,"
                         "\"text\":\"Why \\\"Rust\\\"?\\n\xc3\x85\",\"you_were_speaking\":false}\n"
                         "{\"audio_in\":400,\"event\":\"usage\",\"response_cost_usd\":0.01296,"
                         "\"t\":1.563}\n"
                         "{\"event\":\"session_ended\",\"t\":1.563}\n"));
}

TEST(SessionLogTest, UnopenableFileWritesNothingAndDoesNotFail) {
    TestHome home;
    FakeClock clock;
    SessionLog log(home.path() + QStringLiteral("/missing/folder"), QStringLiteral("x"), clock);
    EXPECT_FALSE(log.isOpen());
    log.append(QStringLiteral("question"));
    log.close();
    EXPECT_FALSE(QFile::exists(log.jsonPath()));
}

TEST(SessionLogTest, TranscriptFileIsByteExact) {
    TestHome home;
    FakeClock clock;
    SessionLog log(home.path(), QStringLiteral("2026-03-14_09-26-53"), clock);
    clock.advance(125.9);
    const QList<QAPair> pairs{card("09:27:01", "Why Rust?", "Safety.\nSpeed."),
                              card("09:28:10", "And Go?", "", "", true),
                              card("09:29:00", "", "", "I think so")};
    const auto path = log.writeMarkdown(pairs, home.path(), QStringLiteral("2026-03-14_09-26-53"));
    ASSERT_TRUE(path.has_value());
    EXPECT_EQ(*path, home.path() + QStringLiteral("/meeting_2026-03-14_09-26-53.transcript.md"));
    EXPECT_EQ(read(*path), QStringLiteral("# Meeting transcript — 2026-03-14_09-26-53\n"
                                          "\n"
                                          "Length: 2 min 05 s\n"
                                          "Events: `meeting_2026-03-14_09-26-53.events.jsonl`\n"
                                          "\n"
                                          "### 09:27:01\n"
                                          "**Interviewer:** Why Rust?\n"
                                          "\n"
                                          "**Velmora:** Safety.\nSpeed.\n"
                                          "\n"
                                          "### 09:28:10 (question extended)\n"
                                          "**Interviewer:** And Go?\n"
                                          "\n"
                                          "**Velmora:** —\n"
                                          "\n"
                                          "### 09:29:00\n"
                                          "**Interviewer:** —\n"
                                          "\n"
                                          "**Velmora:** —\n"
                                          "\n"
                                          "**You:** I think so\n")
                               .toUtf8());
}

TEST(SessionLogTest, TranscriptWithoutCardsIsTheHeaderOnly) {
    EXPECT_EQ(
        meetingTranscript({}, QStringLiteral("S"), 59.99, QStringLiteral("e.jsonl")),
        QStringLiteral("# Meeting transcript — S\n\nLength: 0 min 59 s\nEvents: `e.jsonl`\n"));
}

TEST(SessionLogTest, TranscriptThatCannotBeWrittenIsNotOffered) {
    TestHome home;
    FakeClock clock;
    SessionLog log(home.path(), QStringLiteral("s"), clock);
    EXPECT_FALSE(log.writeMarkdown({}, home.path() + QStringLiteral("/nope"), QStringLiteral("s")));
}

TEST(SessionLogTest, ExportTextHasOneEmptyLineBetweenCards) {
    EXPECT_EQ(transcriptForExport({}), QString());
    EXPECT_EQ(transcriptForExport(
                  {card("10:00:00", "Q1", "A1", "mine", true), card("10:01:00", "Q2", "")}),
              QStringLiteral("[10:00:00] Q: Q1\nA: A1\n\n[10:01:00] Q: Q2\nA: "));
}

} // namespace
