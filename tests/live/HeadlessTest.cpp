// The corvinel program itself: --headless against the fake endpoint and the test's own sound
// server, and the listings.

#include "LiveSupport.h"
#include "app/HeadlessSession.h"
#include "settings/AppSettings.h"
#include "support/Chromium.h"
#include "support/TestFiles.h"

#include <QElapsedTimer>
#include <QFileInfo>
#include <QProcess>
#include <QRegularExpression>

#include <csignal>
#include <cstring>
#include <functional>
#include <iostream>
#include <optional>
#include <thread>

namespace {

class Corvinel {
public:
    explicit Corvinel(const QStringList& arguments, std::function<void()> inChild = {}) {
        m_process.setChildProcessModifier(std::move(inChild));
        QObject::connect(&m_process, &QProcess::readyReadStandardOutput,
                         [this] { m_out += m_process.readAllStandardOutput(); });
        QObject::connect(&m_process, &QProcess::readyReadStandardError,
                         [this] { m_err += m_process.readAllStandardError(); });
        m_process.start(QStringLiteral(CORVINEL_BINARY), arguments);
        m_process.waitForStarted(5000);
    }
    ~Corvinel() {
        if (m_process.state() != QProcess::NotRunning) {
            m_process.kill();
            m_process.waitForFinished(5000);
        }
    }
    bool exited(int timeoutMs) {
        return waitUntil([&] { return m_process.state() == QProcess::NotRunning; }, timeoutMs);
    }
    void signal(int number) { ::kill(pid_t(m_process.processId()), number); }
    // Until the program runs lines of its own: the front holds the stop signals, or has handed
    // over to the program. Before that no program can take a signal, and a loaded machine can
    // leave a new process waiting several milliseconds after its exec for a core to run on.
    // Looked at every 0.1 ms: waitUntil's 5 ms steps would add to the delays under test.
    bool waitUntilRunning() const {
        const QString exe = QStringLiteral("/proc/%1/exe").arg(m_process.processId());
        const QString front = QFileInfo(QStringLiteral(CORVINEL_BINARY)).canonicalFilePath();
        const quint64 stop = (1ULL << (SIGINT - 1)) | (1ULL << (SIGTERM - 1));
        QElapsedTimer clock;
        clock.start();
        while (clock.elapsed() < 5000) {
            const QString running = QFileInfo(exe).canonicalFilePath();
            if (running.isEmpty() || running != front || (signalMask("SigBlk") & stop) == stop)
                return true;
            std::this_thread::sleep_for(std::chrono::microseconds(100));
        }
        return false;
    }
    // Whether the program has put a handler of its own on this signal.
    bool catches(int number) const { return (signalMask("SigCgt") >> (number - 1)) & 1; }
    int exitCode() const { return m_process.exitCode(); }
    bool crashed() const { return m_process.exitStatus() == QProcess::CrashExit; }
    QString out() const { return QString::fromUtf8(m_out); }
    QString err() const { return QString::fromUtf8(m_err); }

private:
    // One of the signal masks /proc/PID/status shows ("SigBlk", "SigCgt"…); 0 once it is gone.
    quint64 signalMask(const char* field) const {
        const QString status =
            readText(QStringLiteral("/proc/%1/status").arg(m_process.processId()));
        const QRegularExpressionMatch mask =
            QRegularExpression(QString::fromLatin1(field) + QStringLiteral(":\\s*([0-9a-f]+)"))
                .match(status);
        return mask.hasMatch() ? mask.captured(1).toULongLong(nullptr, 16) : 0;
    }

    QProcess m_process;
    QByteArray m_out, m_err;
};

// One run of the program's listing, captured whole.
QString run(const QStringList& arguments, int* status = nullptr) {
    QProcess process;
    process.start(QStringLiteral(CORVINEL_BINARY), arguments);
    process.waitForFinished(15000);
    if (status)
        *status = process.exitCode();
    return QString::fromUtf8(process.readAllStandardOutput());
}

class Headless : public LiveTest {
protected:
    void SetUp() override {
        LiveTest::SetUp();
        // The settings a user would have left in the INI file before starting.
        AppSettings settings(AppSettings::defaultPath());
        settings.setMeetingSource(AppSettings::MeetingSource::systemOutput);
        settings.setStreamSource(AppSettings::StreamSource::meetingOnly);
        settings.setDeviceUID(QStringLiteral("fakemic"));
    }
};

} // namespace

TEST(HeadlessCard, IsTimestampQuestionAnswerAndAnEmptyLine) {
    EXPECT_EQ(HeadlessSession::formatCard(QStringLiteral("09:05:07"), QStringLiteral("Why us?"),
                                          QStringLiteral("Because.")),
              QStringLiteral("[09:05:07] Q: Why us?\nA: Because.\n\n"));
}

TEST_F(Headless, PrintsTheCardAndStopsWhenTheDurationIsUpLeavingTheThreeFiles) {
    // What the meeting's sound becomes on the way to the model is the windowed session's test;
    // here the card on the terminal, the end when the time is up and the files left behind.
    AppSettings(AppSettings::defaultPath()).setSaveAudio(true);
    // Long enough for the start, the null sink's first data and the answer.
    Corvinel corvinel(
        {QStringLiteral("--headless"), QStringLiteral("--duration"), QStringLiteral("7")});
    ASSERT_TRUE(m_server.waitForFrames(QStringLiteral("session.update"), 1, 10000))
        << corvinel.err().toStdString();
    ASSERT_TRUE(waitUntil([&] { return streamedSamples() > 0; }, 8000));
    answer(QStringLiteral("Tell me about a hard bug you fixed."),
           {QStringLiteral("A race in the audio path.")});
    ASSERT_TRUE(waitUntil([&] { return corvinel.out().contains(QStringLiteral("A: ")); }))
        << corvinel.err().toStdString();
    const QRegularExpression card(QStringLiteral(
        "^\\[\\d\\d:\\d\\d:\\d\\d\\] Q: Tell me about a hard bug you fixed\\.\\nA: A race in the "
        "audio path\\.\\n\\n$"));
    EXPECT_TRUE(card.match(corvinel.out()).hasMatch()) << corvinel.out().toStdString();

    ASSERT_TRUE(corvinel.exited(15000)) << corvinel.err().toStdString();
    EXPECT_FALSE(corvinel.crashed());
    EXPECT_EQ(corvinel.exitCode(), 0) << corvinel.err().toStdString();
    EXPECT_TRUE(corvinel.err().contains(QStringLiteral("Session saved — transcript and recording")))
        << corvinel.err().toStdString();
    const QString wav = sessionFile(QStringLiteral(".wav"));
    EXPECT_TRUE(readWav(wav).valid);
    EXPECT_TRUE(corvinel.err().contains(QStringLiteral("  Recording: ") + wav));
    EXPECT_FALSE(sessionFile(QStringLiteral(".events.jsonl")).isEmpty());
    EXPECT_FALSE(sessionFile(QStringLiteral(".transcript.md")).isEmpty());

    // The session's review page, from its event log, beside it: the stop's, which the program
    // finished with the recording's levels before it ended, and --review's, the same.
    const QString atStop = readText(sessionFile(QStringLiteral(".review.html")));
    EXPECT_TRUE(atStop.contains(QStringLiteral("class=\"levels\"")));
    int status = -1;
    const QString page =
        run({QStringLiteral("--review"), sessionFile(QStringLiteral(".events.jsonl"))}, &status)
            .trimmed();
    EXPECT_EQ(status, 0);
    EXPECT_EQ(page, sessionFile(QStringLiteral(".review.html")));
    const QString html = readText(page);
    EXPECT_EQ(html, atStop);
    EXPECT_TRUE(html.contains(QStringLiteral("Tell me about a hard bug you fixed.")));
    const double length =
        readJsonLines(sessionFile(QStringLiteral(".events.jsonl"))).last().value("t").toDouble();
    EXPECT_TRUE(html.contains(QStringLiteral("0 min %1 s · 1 question")
                                  .arg(static_cast<int>(length), 2, 10, QChar(u'0'))));
    EXPECT_FALSE(html.contains(QStringLiteral("cut short")));
    const ChromiumShot shot = renderInChromium(page, m_files.path() + QStringLiteral("/page.png"));
    if (shot.missing.isEmpty()) {
        EXPECT_EQ(shot.exitCode, 0);
        EXPECT_EQ(shot.pageErrors, QString());
        EXPECT_GT(pixelsNear(shot.image, QColor(0x1d1d1f)), 500) << "the page's text, drawn";
    } else {
        std::cerr << "The page is not drawn: " << shot.missing.toStdString() << '\n';
    }

    // What is no session's log says why, and fails.
    const QString empty = m_files.path() + QStringLiteral("/empty.events.jsonl");
    writeBytes(empty, {});
    for (const QString& path :
         {m_files.path() + QStringLiteral("/none.events.jsonl"), m_files.path(), empty}) {
        QProcess review;
        review.start(QStringLiteral(CORVINEL_BINARY), {QStringLiteral("--review"), path});
        ASSERT_TRUE(review.waitForFinished(15000));
        EXPECT_EQ(review.exitCode(), 1) << path.toStdString();
        EXPECT_TRUE(QString::fromUtf8(review.readAllStandardError())
                        .startsWith(QStringLiteral("corvinel: ") + path + QStringLiteral(": ")))
            << path.toStdString();
    }
}

// Ctrl-C, SIGTERM and a closed terminal, from the first moment the program can take them: each
// stops the session within a second as the Stop button does, and an answer the stop cuts off is
// printed as it stood.
// A stop asked for while the session was still starting was once lost.
TEST_F(Headless, EverySignalAtAnyMomentStopsTheSessionAndSavesIt) {
    enum class Moment { catching, configured, answering, dropped };
    const char* const moments[] = {"as soon as it takes signals", "once configured",
                                   "while answering", "after a dropped connection"};
    const char* const nothing = "^$";
    const char* const cutOff = "^\\[\\d\\d:\\d\\d:\\d\\d\\] Q: Why Rust\\?\\nA: Fewer crashes, and "
                               "\\(answer interrupted\\)\\n\\n$";
    const struct {
        Moment moment;
        int signal;
        const char* out; // what stdout must match
    } rows[] = {
        {Moment::catching, SIGINT, nothing},   {Moment::catching, SIGTERM, nothing},
        {Moment::catching, SIGHUP, nothing},   {Moment::configured, SIGINT, nothing},
        {Moment::configured, SIGHUP, nothing}, {Moment::answering, SIGINT, cutOff},
        {Moment::dropped, SIGTERM, cutOff},
    };
    for (const auto& row : rows) {
        const std::string name =
            std::string(strsignal(row.signal)) + ' ' + moments[int(row.moment)] + ": ";
        QDir(sessionFolder()).removeRecursively();
        m_server.clearFrames();
        Corvinel corvinel({QStringLiteral("--headless")});
        if (row.moment == Moment::catching) {
            // One that never takes it is killed by it, which the checks below tell.
            waitUntil([&] { return corvinel.catches(row.signal); }, 3000);
        } else {
            ASSERT_TRUE(m_server.waitForFrames(QStringLiteral("session.update"), 1, 10000))
                << name << corvinel.err().toStdString();
        }
        if (row.moment >= Moment::answering) {
            const QString item = m_service.commitTurn();
            m_service.transcribe(item, QStringLiteral("Why Rust?"));
            m_service.stream(QStringLiteral("Fewer crashes, and"));
            ASSERT_TRUE(waitUntil([&] {
                return readText(sessionFile(QStringLiteral(".events.jsonl")))
                    .contains(QStringLiteral("answer_started"));
            })) << name;
        }
        if (row.moment == Moment::dropped) { // the card is printed then, and not again at the stop
            m_server.dropConnection();
            ASSERT_TRUE(waitUntil([&] {
                return corvinel.out().contains(QStringLiteral("(answer interrupted)"));
            })) << name;
        }
        corvinel.signal(row.signal);
        ASSERT_TRUE(corvinel.exited(2000)) << name << corvinel.err().toStdString();
        EXPECT_FALSE(corvinel.crashed()) << name;
        EXPECT_EQ(corvinel.exitCode(), 0) << name << corvinel.err().toStdString();
        EXPECT_TRUE(
            QRegularExpression(QString::fromLatin1(row.out)).match(corvinel.out()).hasMatch())
            << name << corvinel.out().toStdString();
        EXPECT_TRUE(corvinel.err().contains(QStringLiteral("Transcript saved")))
            << name << corvinel.err().toStdString();
        EXPECT_FALSE(sessionFile(QStringLiteral(".transcript.md")).isEmpty()) << name;
        const QList<QJsonObject> log = readJsonLines(sessionFile(QStringLiteral(".events.jsonl")));
        ASSERT_FALSE(log.isEmpty()) << name;
        EXPECT_EQ(log.last().value(QStringLiteral("event")).toString(), u"session_ended") << name;
    }
}

// A signal in the first 100 ms after the program begins, while the dynamic loader still links
// the program (20 to 100 ms) and while the session starts, stops it within a second and saves
// it. SIGINT comes as a script's background job gets it, ignored at launch; at 0 ms the signal
// is already waiting when the program begins (one sent during the exec itself, or before the
// new process first runs, meets no program). Such a signal was once dropped or fatal.
TEST_F(Headless, ASignalInTheFirst100MillisecondsStopsAndSaves) {
    for (const int number : {SIGINT, SIGTERM}) {
        for (int ms = 0; ms <= 100; ms += 5) {
            const std::string name = strsignal(number) + (" at " + std::to_string(ms) + " ms: ");
            QDir(sessionFolder()).removeRecursively();
            Corvinel corvinel({QStringLiteral("--headless")}, [number, ms] {
                if (number == SIGINT)
                    ::signal(SIGINT, SIG_IGN);
                if (ms == 0) {
                    sigset_t held;
                    sigemptyset(&held);
                    sigaddset(&held, number);
                    sigprocmask(SIG_BLOCK, &held, nullptr);
                    ::raise(number);
                }
            });
            ASSERT_TRUE(corvinel.waitUntilRunning()) << name;
            std::this_thread::sleep_for(std::chrono::milliseconds(ms));
            corvinel.signal(number);
            ASSERT_TRUE(corvinel.exited(1000)) << name << corvinel.err().toStdString();
            EXPECT_FALSE(corvinel.crashed()) << name;
            EXPECT_EQ(corvinel.exitCode(), 0) << name << corvinel.err().toStdString();
            EXPECT_TRUE(corvinel.err().contains(QStringLiteral("Transcript saved"))) << name;
            const QList<QJsonObject> log =
                readJsonLines(sessionFile(QStringLiteral(".events.jsonl")));
            ASSERT_FALSE(log.isEmpty()) << name;
            EXPECT_EQ(log.last().value(QStringLiteral("event")).toString(), u"session_ended")
                << name;
        }
    }
}

// Started to outlive its terminal, as nohup does, the session keeps SIGHUP ignored.
TEST_F(Headless, UnderNohupAClosedTerminalDoesNotStopIt) {
    Corvinel corvinel({QStringLiteral("--headless")}, [] { ::signal(SIGHUP, SIG_IGN); });
    ASSERT_TRUE(m_server.waitForFrames(QStringLiteral("session.update"), 1, 10000))
        << corvinel.err().toStdString();
    EXPECT_TRUE(corvinel.catches(SIGINT));
    EXPECT_FALSE(corvinel.catches(SIGHUP));
}

// Whatever the service sends, the terminal gets no control characters from it but line feeds
// and tabs, and a NUL does not end the card early.
TEST_F(Headless, ACardReachesTheTerminalWithoutControlCharacters) {
    Corvinel corvinel({QStringLiteral("--headless")});
    ASSERT_TRUE(m_server.waitForFrames(QStringLiteral("session.update"), 1, 10000))
        << corvinel.err().toStdString();
    answer(QStringLiteral("Any\x1b]0;owned\x07 gaps?"),
           {QStringLiteral("One\x1b[31m red,\x00 one\x07 bell,\r\n\tone\x9b"
                           "2J\x7f end.")});
    ASSERT_TRUE(waitUntil([&] { return corvinel.out().endsWith(QStringLiteral("\n\n")); }))
        << corvinel.err().toStdString();
    EXPECT_EQ(corvinel.out().mid(11),
              QStringLiteral("Q: Any]0;owned gaps?\nA: One[31m red, one bell,\n\tone2J end.\n\n"))
        << corvinel.out().toStdString();
    corvinel.signal(SIGTERM);
    EXPECT_TRUE(corvinel.exited(5000));
}

// A session whose questions come back empty, failed, late and out of order, and whose last
// answer fails for want of credit: every answer stays under its own question on the terminal and
// in the transcript (the event log's cards are QAFlowTest's), and the terminal says what to do
// about the credit.
TEST_F(Headless, EveryAnswerStaysUnderItsOwnQuestionAndAFailedOneSaysWhy) {
    Corvinel corvinel({QStringLiteral("--headless")});
    ASSERT_TRUE(m_server.waitForFrames(QStringLiteral("session.update"), 1, 10000))
        << corvinel.err().toStdString();
    const auto answer = [&](const QString& text) {
        m_service.stream(text);
        m_service.finish();
    };
    const QString i1 = m_service.commitTurn(); // a cough: answered, its transcript empty
    answer(QStringLiteral("Sure, take your time."));
    m_service.transcribe(i1, QString());
    const QString i2 = m_service.commitTurn();
    m_service.transcribe(i2, QStringLiteral("What is your greatest weakness?"));
    answer(QStringLiteral("Impatience."));
    const QString i3 = m_service.commitTurn(); // two answers before their transcripts
    answer(QStringLiteral("Leading a team."));
    const QString i4 = m_service.commitTurn();
    answer(QStringLiteral("Remote, mostly."));
    const QString i5 = m_service.commitTurn(); // its transcription fails before it is answered
    m_server.sendText(
        QStringLiteral(
            R"({"type":"conversation.item.input_audio_transcription.failed","item_id":"%1","error":{"message":"Audio too short."}})")
            .arg(i5));
    answer(QStringLiteral("Happy to."));
    m_service.transcribe(i3, QStringLiteral("Where do you see yourself in five years?"));
    m_service.transcribe(i4, QStringLiteral("Remote or office?"));
    const QString i6 = m_service.commitTurn();
    m_service.transcribe(i6, QStringLiteral("Why should we hire you?"));
    m_service.fail(QStringLiteral("insufficient_quota"),
                   QStringLiteral("You exceeded your current quota."));
    ASSERT_TRUE(waitUntil([&] {
        return corvinel.out().contains(QStringLiteral("Q: Remote or office?")) &&
               corvinel.err().contains(QStringLiteral("out of credit"));
    })) << corvinel.out().toStdString()
        << corvinel.err().toStdString();
    corvinel.signal(SIGTERM);
    ASSERT_TRUE(corvinel.exited(15000));
    EXPECT_EQ(corvinel.exitCode(), 0);
    EXPECT_TRUE(corvinel.err().contains(
        QStringLiteral("Your OpenAI account is out of credit — add credit at platform.openai.com, "
                       "then Start again.")))
        << corvinel.err().toStdString();

    // Each card as "question | answer".
    const QStringList expected{QStringLiteral(" | Sure, take your time."),
                               QStringLiteral("What is your greatest weakness? | Impatience."),
                               QStringLiteral("Where do you see yourself in five years? | "
                                              "Leading a team."),
                               QStringLiteral("Remote or office? | Remote, mostly."),
                               QStringLiteral(" | Happy to."),
                               QStringLiteral("Why should we hire you? | ")};
    for (const QString& card : expected.mid(1, 3))
        EXPECT_TRUE(corvinel.out().contains(QStringLiteral("] Q: ") +
                                            QString(card).replace(QStringLiteral(" | "), "\nA: ")))
            << corvinel.out().toStdString();

    QStringList transcript;
    const QStringList lines = readText(sessionFile(QStringLiteral(".transcript.md"))).split(u'\n');
    const auto orEmpty = [](const QString& text) { return text == u"—" ? QString() : text; };
    for (qsizetype i = 0; i + 2 < lines.size(); ++i)
        if (lines[i].startsWith(QStringLiteral("**Interviewer:** ")))
            transcript << orEmpty(lines[i].mid(17)) + " | " + orEmpty(lines[i + 2].mid(13));
    EXPECT_EQ(transcript, expected);
}

// The service writes one answer at a time and leaves a turn heard meanwhile unanswered: a
// question asked while the previous answer streams, a follow-up merged while its answer streams
// and a question transcribed after its answer began each get their own answer under their own
// card, nothing the client sends is refused, and the cost is the price table's.
TEST_F(Headless, QuestionsAskedWhileAnAnswerStreamsEachGetTheirOwnAnswer) {
    Corvinel corvinel({QStringLiteral("--headless")});
    ASSERT_TRUE(m_server.waitForFrames(QStringLiteral("session.update"), 1, 10000))
        << corvinel.err().toStdString();
    const QJsonObject usage = StrictRealtimeService::usageOf(2800, 2400, 400, 0, 100);
    const QString q1 = m_service.commitTurn();
    m_service.transcribe(q1, QStringLiteral("Why this company?"));
    m_service.stream(QStringLiteral("Its mission."));
    const QString q2 = m_service.commitTurn(); // no answer of its own from the service
    m_service.transcribe(q2, QStringLiteral("What do you know about our product?"));
    m_service.stream(QStringLiteral(" And its people."));
    m_service.finish(usage);
    ASSERT_TRUE(waitUntil([&] { return m_service.activeMetadata().contains("item"); }))
        << "the client asks for the waiting question's answer";
    m_service.stream(QStringLiteral("It records calls."));
    const QString q3 = m_service.commitTurn(); // a follow-up while that answer streams
    m_service.transcribe(q3, QStringLiteral("and who uses it?"));
    ASSERT_TRUE(waitUntil([&] { return m_service.activeMetadata().contains("card"); }))
        << corvinel.err().toStdString();
    m_service.stream(QStringLiteral("Sales teams, to coach their reps."));
    m_service.finish(usage);
    const QString q4 = m_service.commitTurn();
    m_service.stream(QStringLiteral("Remote, mostly.")); // before its transcript
    m_service.transcribe(q4, QStringLiteral("Remote or office?"));
    m_service.finish(usage);
    ASSERT_TRUE(waitUntil([&] {
        return corvinel.out().contains(QStringLiteral("Remote, mostly."));
    })) << corvinel.out().toStdString()
        << corvinel.err().toStdString();
    corvinel.signal(SIGTERM);
    ASSERT_TRUE(corvinel.exited(15000));
    EXPECT_EQ(m_service.errorCodes(), QStringList());

    const QString out = corvinel.out();
    for (const char* card :
         {"Q: Why this company?\nA: Its mission. And its people.\n",
          "Q: What do you know about our product? and who uses it?\nA: Sales teams, to coach "
          "their reps.\n",
          "Q: Remote or office?\nA: Remote, mostly.\n"})
        EXPECT_TRUE(out.contains(QString::fromUtf8(card))) << card << "\n" << out.toStdString();
    EXPECT_FALSE(out.contains(QStringLiteral("It records calls."))) << "a superseded answer";
    const QString transcript = readText(sessionFile(QStringLiteral(".transcript.md")));
    EXPECT_EQ(transcript.count(QStringLiteral("**Interviewer:**")), 3) << transcript.toStdString();

    // Three answers of 400 uncached audio, 400 text and 2400 cached text tokens in, 100 out,
    // a cancelled one at no cost, and 8 s of transcription.
    double cost = -1;
    for (const QJsonObject& record : readJsonLines(sessionFile(QStringLiteral(".events.jsonl"))))
        if (record.value(QStringLiteral("event")).toString() == u"session_cost")
            cost = record.value(QStringLiteral("cost_usd")).toDouble();
    const double expected =
        3 * (400 * 32.0 + 400 * 4.0 + 2400 * 0.4 + 100 * 24.0) / 1e6 + 8.0 / 60 * 0.017;
    EXPECT_NEAR(cost, expected, 0.00001);
}

// A service that takes the connection but never answers the session setup: the client gives up on
// that socket, says so, and tries again; nothing is streamed into the void.
TEST_F(Headless, ASetupNobodyAnswersIsRetriedAndSaidSo) {
    m_service.answersSetup = false;
    m_home.setEnv("OV_REALTIME_HANDSHAKE_MS", QByteArray("300"));
    Corvinel corvinel(
        {QStringLiteral("--headless"), QStringLiteral("--duration"), QStringLiteral("2.5")});
    ASSERT_TRUE(m_server.waitForUpgradeRequests(2, 10000)) << corvinel.err().toStdString();
    ASSERT_TRUE(corvinel.exited(15000));
    EXPECT_EQ(corvinel.exitCode(), 0) << corvinel.err().toStdString();
    EXPECT_TRUE(corvinel.err().contains(
        QStringLiteral("The Realtime service did not answer the session setup — reconnecting in "
                       "1 s.\n")))
        << corvinel.err().toStdString();
    EXPECT_TRUE(m_server.frames(QStringLiteral("input_audio_buffer.append")).isEmpty());
}

// The documents folder on a disk that fills up while recording: the banner names what is whole
// and what is not, and every file it calls saved is valid.
TEST_F(Headless, AFullDiskIsToldAndLeavesOnlyValidFiles) {
    ScratchDisk disk(512 * 1024);
    if (!disk.isMounted())
        GTEST_SKIP() << disk.whyNot().toStdString();
    ASSERT_TRUE(QFile::link(disk.path(), m_home.path() + QStringLiteral("/Documents")));
    AppSettings(AppSettings::defaultPath()).setSaveAudio(true);
    Corvinel corvinel(
        {QStringLiteral("--headless"), QStringLiteral("--duration"), QStringLiteral("5")});
    ASSERT_TRUE(m_server.waitForFrames(QStringLiteral("session.update"), 1, 10000))
        << corvinel.err().toStdString();
    answer(QStringLiteral("Why this team?"), {QStringLiteral("The on-call culture.")});
    ASSERT_TRUE(corvinel.exited(20000));
    EXPECT_EQ(corvinel.exitCode(), 0);
    const QString err = corvinel.err();
    EXPECT_TRUE(err.contains(QStringLiteral("Recording stopped early (No space left on device) — "
                                            "what came before it is saved")))
        << err.toStdString();
    EXPECT_FALSE(err.contains(QStringLiteral("saved — transcript and recording")));
    EXPECT_FALSE(err.contains(QStringLiteral("Copy transcript"))) << "a button of the window";

    const QString wav = sessionFile(QStringLiteral(".wav"));
    const WavContents recording = readWav(wav);
    ASSERT_TRUE(recording.valid);
    EXPECT_EQ(QFileInfo(wav).size(), 44 + qint64(recording.left.size()) * 4)
        << "the header counts exactly what is on disk";
    EXPECT_GT(recording.left.size(), 48000u);
    const QString transcript = sessionFile(QStringLiteral(".transcript.md"));
    if (err.contains(QStringLiteral("Transcript not saved")))
        EXPECT_TRUE(transcript.isEmpty()) << "no partial transcript";
    else
        EXPECT_TRUE(readText(transcript).contains(QStringLiteral("The on-call culture.")));
    const QStringList lines =
        readText(sessionFile(QStringLiteral(".events.jsonl"))).split(u'\n', Qt::SkipEmptyParts);
    EXPECT_EQ(readJsonLines(sessionFile(QStringLiteral(".events.jsonl"))).size(), lines.size())
        << "every line of the event log parses";
}

// A documents folder that cannot be written (a read-only disk, recording off) or made (below a
// file, as even root cannot, "Save .wav" on): the session runs without files and says at Start
// and at Stop that nothing is kept, and where the cards are.
TEST_F(Headless, AFolderThatCannotBeWrittenIsToldAtStartAndStop) {
    const struct {
        bool readOnlyDisk;
        const char* why;
    } rows[] = {{false, "Not a directory"}, {true, "Read-only file system"}};
    for (const auto& row : rows) {
        SCOPED_TRACE(row.why);
        const QString documents = m_home.path() + QStringLiteral("/Documents");
        QFile::remove(documents);
        std::optional<ScratchDisk> disk;
        if (row.readOnlyDisk) {
            disk.emplace(64 * 1024, true);
            if (!disk->isMounted())
                continue; // where no disk can be mounted
            ASSERT_TRUE(QFile::link(disk->path(), documents));
        } else {
            writeBytes(documents, "a file");
        }
        AppSettings(AppSettings::defaultPath()).setSaveAudio(!row.readOnlyDisk);
        Corvinel corvinel(
            {QStringLiteral("--headless"), QStringLiteral("--duration"), QStringLiteral("1")});
        ASSERT_TRUE(corvinel.exited(15000));
        EXPECT_EQ(corvinel.exitCode(), 0) << corvinel.err().toStdString();
        const QString folder = documents + QStringLiteral("/Corvinel");
        EXPECT_TRUE(corvinel.err().contains(
            QStringLiteral("Corvinel can't save files in %1 (%2). The session runs; copy the "
                           "cards from this terminal before you close it.\n")
                .arg(folder, row.why)))
            << corvinel.err().toStdString();
        EXPECT_TRUE(corvinel.err().contains(
            QStringLiteral("Nothing was saved in %1 (%2) — the cards are on the terminal above; "
                           "copy them before you close it\n")
                .arg(folder, row.why)))
            << corvinel.err().toStdString();
        EXPECT_FALSE(corvinel.err().contains(QStringLiteral("Transcript saved")));
        EXPECT_FALSE(corvinel.err().contains(QStringLiteral("Recording")));
    }
}

TEST_F(Headless, WithoutAKeyItSaysSoAndFails) {
    m_home.setEnv("OPENAI_API_KEY", std::nullopt);
    Corvinel corvinel({QStringLiteral("--headless")});
    ASSERT_TRUE(corvinel.exited(10000));
    EXPECT_EQ(corvinel.exitCode(), 1);
    EXPECT_TRUE(
        corvinel.err().contains(QStringLiteral("Add your OpenAI API key in Settings first.")));
    EXPECT_EQ(m_server.upgradeRequestCount(), 0);
}

TEST_F(Headless, ListsTheInputDevicesAndThePlayingApps) {
    int status = -1;
    EXPECT_EQ(run({QStringLiteral("--list-devices")}, &status),
              QStringLiteral("FakeInterface4ch — 4 ch @ 48000 Hz\tiface4\n"
                             "FakeMic — 1 ch @ 48000 Hz\tfakemic\n"));
    EXPECT_EQ(status, 0);

    const QString tone = makeTone(m_files.path(), QStringLiteral("t.wav"), 30, 1000);
    auto player = playOn(QStringLiteral("speakers"), tone,
                         {QStringLiteral("--client-name=FakeZoom"),
                          QStringLiteral("--property=application.id=test.zoom")});
    QString apps;
    ASSERT_TRUE(waitUntil([&] {
        apps = run({QStringLiteral("--list-apps")}, &status);
        return apps.contains(QStringLiteral("test.zoom"));
    }));
    EXPECT_EQ(status, 0);
    EXPECT_TRUE(
        apps.contains(QStringLiteral("test.zoom\tFakeZoom\t%1\tplaying\n").arg(player->pid())))
        << apps.toStdString();

    EXPECT_TRUE(m_sound.stop());
    run({QStringLiteral("--list-devices")}, &status);
    EXPECT_EQ(status, 1);
    EXPECT_EQ(run({QStringLiteral("--duration"), QStringLiteral("3")}, &status), QString());
    EXPECT_EQ(status, 2);
    EXPECT_EQ(run({QStringLiteral("--headless"), QStringLiteral("--duration"), QStringLiteral("x")},
                  &status),
              QString());
    EXPECT_EQ(status, 2);
}
