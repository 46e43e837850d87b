#include "session/SessionLog.h"
#include "support/FakeClock.h"
#include "support/TestFiles.h"
#include "support/TestHome.h"

#include <QDir>
#include <QFile>
#include <QJsonDocument>
#include <gtest/gtest.h>
#include <thread>

namespace {

QByteArray read(const QString& path) {
    return QFile::exists(path) ? readBytes(path) : QByteArray("<missing>");
}

// A log whose session has begun, in `directory`.
std::unique_ptr<SessionLog> begun(const QString& directory, const QString& stamp,
                                  const Clock& clock) {
    SessionLog::Reserved reserved = SessionLog::reserve(directory, stamp, clock);
    auto* log = std::get_if<std::unique_ptr<SessionLog>>(&reserved);
    if (!log)
        return nullptr;
    (*log)->begin();
    return std::move(*log);
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
    const QString path = home.path() + QStringLiteral("/meeting_2026-03-14_09-26-53.events.jsonl");
    QByteArray running; // read while the session runs
    {
        auto reserved =
            SessionLog::reserve(home.path(), QStringLiteral("2026-03-14_09-26-53"), clock);
        clock.advance(7); // times count from the session's start, not from the reservation
        auto log = std::move(std::get<std::unique_ptr<SessionLog>>(reserved));
        log->begin();
        clock.advance(1.0625);
        log->append(QStringLiteral("question"),
                    {{QStringLiteral("text"), QStringLiteral("Why \"Rust\"?\nÅ")},
                     {QStringLiteral("pair"), QStringLiteral("P1")},
                     {QStringLiteral("you_were_speaking"), false}});
        clock.advance(0.5);
        log->append(QStringLiteral("usage"), {{QStringLiteral("audio_in"), 400},
                                              {QStringLiteral("response_cost_usd"), 0.01296},
                                              {QStringLiteral("t"), 99}});
        running = read(path);
    }
    const QByteArray bytes = read(path);
    EXPECT_EQ(running, bytes.left(bytes.indexOf("{\"event\":\"session_ended\"")))
        << "every record is in the file, whole, as soon as it is written";
    EXPECT_EQ(bytes,
              QByteArray("{\"event\":\"session_started\",\"t\":0}\n"
                         "{\"event\":\"question\",\"pair\":\"P1\",\"t\":1.063,"
                         "\"text\":\"Why \\\"Rust\\\"?\\n\xc3\x85\",\"you_were_speaking\":false}\n"
                         "{\"audio_in\":400,\"event\":\"usage\",\"response_cost_usd\":0.01296,"
                         "\"t\":1.563}\n"
                         "{\"event\":\"session_ended\",\"t\":1.563}\n"));
}

// The stamp is taken by creating the event file: names already used, and sessions starting in
// the same second (of this or another process), each get their own.
TEST(SessionLogTest, EachSessionReservesAStampOfItsOwn) {
    TestHome home;
    FakeClock clock;
    const QString stamp = QStringLiteral("2026-03-14_09-26-53");
    QFile(home.path() + QStringLiteral("/meeting_2026-03-14_09-26-53.wav"))
        .open(QIODevice::WriteOnly);
    constexpr int sessions = 6;
    std::vector<SessionLog::Reserved> reserved(sessions);
    std::vector<std::thread> starts;
    for (int i = 0; i < sessions; ++i)
        starts.emplace_back(
            [&, i] { reserved[i] = SessionLog::reserve(home.path(), stamp, clock); });
    for (std::thread& start : starts)
        start.join();
    QStringList stamps;
    for (SessionLog::Reserved& r : reserved) {
        auto* log = std::get_if<std::unique_ptr<SessionLog>>(&r);
        ASSERT_TRUE(log);
        stamps << (*log)->stamp();
    }
    stamps.sort();
    EXPECT_EQ(stamps, (QStringList{stamp + "-2", stamp + "-3", stamp + "-4", stamp + "-5",
                                   stamp + "-6", stamp + "-7"}));

    // A session that never began leaves nothing; a folder that cannot be written says why.
    auto* first = std::get_if<std::unique_ptr<SessionLog>>(&reserved[0]);
    const QString path = (*first)->jsonPath();
    (*first)->discard();
    EXPECT_FALSE(QFile::exists(path));
    SessionLog::Reserved refused = SessionLog::reserve(
        home.path() + QStringLiteral("/meeting_2026-03-14_09-26-53.wav"), stamp, clock);
    ASSERT_TRUE(std::holds_alternative<QString>(refused));
    EXPECT_FALSE(std::get<QString>(refused).isEmpty());
}

// A full disk ends the event file at its last whole record and the transcript is not left
// behind half written; both say why.
TEST(SessionLogTest, AFullDiskLeavesWholeRecordsAndNoPartialTranscript) {
    ScratchDisk disk(64 * 1024);
    if (!disk.isMounted())
        GTEST_SKIP() << disk.whyNot().toStdString();
    FakeClock clock;
    auto log = begun(disk.path(), QStringLiteral("s"), clock);
    ASSERT_TRUE(log);
    const QString text(400, u'x');
    for (int i = 0; i < 400 && !log->failure(); ++i)
        log->append(QStringLiteral("question"), {{QStringLiteral("text"), text}});
    ASSERT_TRUE(log->failure());
    EXPECT_EQ(*log->failure(), QStringLiteral("No space left on device"));
    const SavedFile transcript = log->writeMarkdown({card("09:27:01", "Why Rust?", "Safety.")});
    EXPECT_FALSE(transcript.isComplete());
    EXPECT_FALSE(QFile::exists(transcript.path));
    log->close();
    const QByteArray bytes = readBytes(log->jsonPath());
    ASSERT_TRUE(bytes.endsWith('\n'));
    const QList<QByteArray> lines = bytes.chopped(1).split('\n');
    EXPECT_EQ(readJsonLines(log->jsonPath()).size(), lines.size()) << "every line parses";
    EXPECT_FALSE(bytes.contains("session_ended")) << "nothing after the first refusal";
}

TEST(SessionLogTest, TranscriptFileIsByteExact) {
    TestHome home;
    FakeClock clock;
    auto log = begun(home.path(), QStringLiteral("2026-03-14_09-26-53"), clock);
    ASSERT_TRUE(log);
    clock.advance(125.9);
    const QList<QAPair> pairs{card("09:27:01", "Why Rust?", "Safety.\nSpeed."),
                              card("09:28:10", "And Go?", "", "", true),
                              card("09:29:00", "", "", "I think so")};
    const SavedFile saved = log->writeMarkdown(pairs);
    ASSERT_TRUE(saved.isComplete());
    EXPECT_EQ(saved.path,
              home.path() + QStringLiteral("/meeting_2026-03-14_09-26-53.transcript.md"));
    EXPECT_EQ(read(saved.path),
              QStringLiteral("# Meeting transcript — 2026-03-14_09-26-53\n"
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

TEST(SessionLogTest, ExportTextHasOneEmptyLineBetweenCards) {
    EXPECT_EQ(transcriptForExport({}), QString());
    EXPECT_EQ(transcriptForExport(
                  {card("10:00:00", "Q1", "A1", "mine", true), card("10:01:00", "Q2", "")}),
              QStringLiteral("[10:00:00] Q: Q1\nA: A1\n\n[10:01:00] Q: Q2\nA: "));
}

} // namespace
