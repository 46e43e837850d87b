#include "speech/RecordingTranscriber.h"
#include "speech/RecordingTranscript.h"
#include "support/FakeSpeechEngine.h"
#include "support/TestFiles.h"
#include "support/TestHome.h"

#include <QFile>
#include <QTest>
#include <QThread>
#include <QThreadPool>
#include <gtest/gtest.h>

#include <sndfile.h>

#include <cmath>

namespace {
constexpr int kRate = 16000;
constexpr int kWait = 30000; // ms; a safety net only

// Writes a 16-bit WAV where each channel is loud (a tone) inside the given spans of seconds.
void writeWav(const QString& path, double seconds, int channels,
              const std::vector<std::vector<std::pair<double, double>>>& loud) {
    SF_INFO info{};
    info.samplerate = kRate;
    info.channels = channels;
    info.format = SF_FORMAT_WAV | SF_FORMAT_PCM_16;
    SNDFILE* file = sf_open(QFile::encodeName(path).constData(), SFM_WRITE, &info);
    ASSERT_NE(file, nullptr);
    const sf_count_t frames = sf_count_t(std::llround(seconds * kRate));
    std::vector<float> data(size_t(frames) * size_t(channels), 0.0f);
    for (int c = 0; c < channels; ++c) {
        for (const auto& [from, to] : loud[size_t(c)]) {
            for (sf_count_t i = sf_count_t(from * kRate); i < sf_count_t(to * kRate); ++i)
                data[size_t(i) * size_t(channels) + size_t(c)] =
                    0.5f * float(std::sin(2 * M_PI * 300.0 * double(i) / kRate));
        }
    }
    sf_writef_float(file, data.data(), frames);
    sf_close(file);
}

const QString kHeaderTail =
    QStringLiteral("Transcribed on-device. Left channel = you, right channel = the meeting.\n");

class RecordingTranscriberTest : public ::testing::Test {
protected:
    RecordingTranscriberTest() {
        FakeSpeechEngine::Script s;
        s.loudText = QStringLiteral("words");
        engine->setScript(s);
    }

    // Runs through transcribe() and the event loop, as the session controller does.
    RecordingTranscriberInterface::Result transcribe(const QString& path) {
        RecordingTranscriber transcriber(engine, QStringLiteral("en_US"));
        std::optional<RecordingTranscriberInterface::Result> result;
        transcriber.transcribe(
            path,
            [this](double done, double total) {
                progress.append({done, total});
                onMainThread = onMainThread && QThread::currentThread() == qApp->thread();
            },
            [&result, this](const RecordingTranscriberInterface::Result& r) {
                result = r;
                onMainThread = onMainThread && QThread::currentThread() == qApp->thread();
            });
        EXPECT_TRUE(QTest::qWaitFor([&] { return result.has_value(); }, kWait));
        return result.value_or(RecordingTranscriberInterface::Failure{QStringLiteral("timeout")});
    }

    TestHome home;
    std::shared_ptr<FakeSpeechEngine> engine = std::make_shared<FakeSpeechEngine>();
    QList<std::pair<double, double>> progress;
    bool onMainThread = true;
};
} // namespace

TEST_F(RecordingTranscriberTest, HundredSecondStereoRecording) {
    const QString wav = home.path() + QStringLiteral("/meeting_2025-03-14_09-05-07.wav");
    // Chunk 0: both speak; chunk 1: only the meeting; chunk 2: only the user.
    writeWav(wav, 100.0, 2, {{{5, 10}, {95, 99}}, {{20, 30}, {50, 60}}});
    const auto result = transcribe(wav);
    ASSERT_TRUE(std::holds_alternative<QString>(result));
    const QString target =
        home.path() + QStringLiteral("/meeting_2025-03-14_09-05-07.transcript.md");
    EXPECT_EQ(std::get<QString>(result), target);
    EXPECT_EQ(readText(target), QStringLiteral("# Meeting transcript\n"
                                               "\n"
                                               "Source: `meeting_2025-03-14_09-05-07.wav`\n"
                                               "Duration: 1 min 40 s\n") +
                                    kHeaderTail +
                                    QStringLiteral("\n"
                                                   "### 00:00\n"
                                                   "**You:** words\n"
                                                   "**Interviewer:** words\n"
                                                   "\n"
                                                   "### 00:45\n"
                                                   "**Interviewer:** words\n"
                                                   "\n"
                                                   "### 01:30\n"
                                                   "**You:** words\n"));
    EXPECT_EQ(progress, (QList<std::pair<double, double>>{{45, 100}, {90, 100}, {100, 100}}));
    EXPECT_TRUE(onMainThread);
    EXPECT_EQ(engine->modes(), QList<SpeechEngine::Mode>{SpeechEngine::Mode::batch});
    EXPECT_EQ(engine->counts().begins, 6); // each channel of each chunk on its own
}

TEST_F(RecordingTranscriberTest, MonoRecordingHasOnlyYouAndSkipsSilentChunks) {
    const QString wav = home.path() + QStringLiteral("/mono.wav");
    writeWav(wav, 100.0, 1, {{{1, 3}, {91, 92}}});
    const auto result = transcribe(wav);
    ASSERT_TRUE(std::holds_alternative<QString>(result));
    EXPECT_EQ(readText(std::get<QString>(result)),
              QStringLiteral("# Meeting transcript\n\nSource: `mono.wav`\nDuration: 1 min 40 s\n") +
                  kHeaderTail +
                  QStringLiteral("\n### 00:00\n**You:** words\n\n### 01:30\n**You:** words\n"));
}

TEST_F(RecordingTranscriberTest, ShortRecordingGivesTheHeaderOnly) {
    const QString wav = home.path() + QStringLiteral("/short.wav");
    writeWav(wav, 0.5, 2, {{}, {}});
    const auto result = transcribe(wav);
    ASSERT_TRUE(std::holds_alternative<QString>(result));
    EXPECT_EQ(
        readText(std::get<QString>(result)),
        QStringLiteral("# Meeting transcript\n\nSource: `short.wav`\nDuration: 0 min 00 s\n") +
            kHeaderTail);
    EXPECT_EQ(progress, (QList<std::pair<double, double>>{{0.5, 0.5}}));
}

TEST_F(RecordingTranscriberTest, SecondRunReplacesItsOwnTranscript) {
    const QString wav = home.path() + QStringLiteral("/again.wav");
    writeWav(wav, 2.0, 2, {{{0, 1}}, {}});
    ASSERT_TRUE(std::holds_alternative<QString>(transcribe(wav)));
    writeWav(wav, 2.0, 2, {{}, {{0, 1}}});
    const auto result = transcribe(wav);
    ASSERT_TRUE(std::holds_alternative<QString>(result));
    EXPECT_EQ(std::get<QString>(result), home.path() + QStringLiteral("/again.transcript.md"));
    EXPECT_TRUE(
        readText(std::get<QString>(result)).endsWith(QStringLiteral("**Interviewer:** words\n")));
}

TEST_F(RecordingTranscriberTest, NeverOverwritesTheSessionsOwnTranscript) {
    const QString wav = home.path() + QStringLiteral("/meeting_2025-03-14_09-05-07.wav");
    const QString sessionTranscript =
        home.path() + QStringLiteral("/meeting_2025-03-14_09-05-07.transcript.md");
    const QByteArray cards = "# Meeting transcript — 2025-03-14_09-05-07\n\nQ&A\n";
    writeBytes(sessionTranscript, cards);
    writeWav(wav, 2.0, 2, {{{0, 1}}, {}});
    const auto result = transcribe(wav);
    ASSERT_TRUE(std::holds_alternative<QString>(result));
    EXPECT_EQ(std::get<QString>(result),
              home.path() + QStringLiteral("/meeting_2025-03-14_09-05-07.recording.transcript.md"));
    EXPECT_EQ(readText(sessionTranscript).toUtf8(), cards);
    EXPECT_TRUE(
        readText(std::get<QString>(result)).startsWith(QStringLiteral("# Meeting transcript\n\n")));
}

// The run ends on the worker while the main thread is busy; the main thread then handles
// deferred deletes before queued calls, as QTest::qWaitFor and some nested loops do.
TEST_F(RecordingTranscriberTest, CompletionSurvivesDeferredDeletesHandledFirst) {
    const QString wav = home.path() + QStringLiteral("/busy.wav");
    writeWav(wav, 2.0, 2, {{{0, 1}}, {}});
    RecordingTranscriber transcriber(engine, QStringLiteral("en_US"));
    std::optional<RecordingTranscriberInterface::Result> result;
    transcriber.transcribe(wav, {}, [&result](const auto& r) { result = r; });
    ASSERT_TRUE(QThreadPool::globalInstance()->waitForDone(kWait));
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    ASSERT_TRUE(QTest::qWaitFor([&] { return result.has_value(); }, kWait));
    EXPECT_TRUE(std::holds_alternative<QString>(*result));
}

// A recorder that crashed leaves its header counting less than the file holds: the rest is read
// too. A chunk after the samples (tags) means the count is right.
TEST_F(RecordingTranscriberTest, ReadsSamplesThatTheHeaderDoesNotCountYet) {
    const QString wav = home.path() + QStringLiteral("/crashed.wav");
    writeWav(wav, 50.0, 2, {{}, {{46, 48}}});
    QFile file(wav);
    ASSERT_TRUE(file.open(QIODevice::ReadWrite));
    const quint32 behind = 40 * kRate * 4; // the header as it stood 10 s before the end
    file.seek(40);
    file.write(reinterpret_cast<const char*>(&behind), 4);
    file.close();
    auto result = transcribe(wav);
    ASSERT_TRUE(std::holds_alternative<QString>(result));
    EXPECT_TRUE(
        readText(std::get<QString>(result)).contains(QStringLiteral("Duration: 0 min 50 s\n")))
        << readText(std::get<QString>(result)).toStdString();
    EXPECT_TRUE(readText(std::get<QString>(result))
                    .contains(QStringLiteral("### 00:45\n**Interviewer:** words")));

    const quint32 all = 50 * kRate * 4, tags = 10 * kRate * 4;
    ASSERT_TRUE(file.open(QIODevice::ReadWrite));
    file.seek(40);
    file.write(reinterpret_cast<const char*>(&all), 4);
    file.seek(file.size());
    file.write("LIST");
    file.write(reinterpret_cast<const char*>(&tags), 4);
    file.write(QByteArray(tags, 'x'));
    file.close();
    result = transcribe(wav);
    ASSERT_TRUE(std::holds_alternative<QString>(result));
    EXPECT_TRUE(
        readText(std::get<QString>(result)).contains(QStringLiteral("Duration: 0 min 50 s\n")));
}

TEST_F(RecordingTranscriberTest, UnreadableFileFailsWithoutTranscript) {
    const QString wav = home.path() + QStringLiteral("/missing.wav");
    const auto result = transcribe(wav);
    ASSERT_TRUE(std::holds_alternative<RecordingTranscriberInterface::Failure>(result));
    EXPECT_TRUE(std::get<RecordingTranscriberInterface::Failure>(result).description.startsWith(
        QStringLiteral("The recording “missing.wav” couldn't be opened: ")));
    EXPECT_FALSE(QFile::exists(home.path() + QStringLiteral("/missing.transcript.md")));
}

// A damaged header must neither crash the program nor start an endless run.
TEST_F(RecordingTranscriberTest, ImplausibleSampleRateIsRefused) {
    for (const quint32 rate : {2000000000u, 1u}) {
        const QString wav = home.path() + QStringLiteral("/damaged.wav");
        writeWav(wav, 1.0, 1, {{{0, 1}}});
        QFile file(wav);
        ASSERT_TRUE(file.open(QIODevice::ReadWrite));
        ASSERT_TRUE(file.seek(24)); // the fmt chunk's sample rate
        const char bytes[4] = {char(rate & 0xff), char((rate >> 8) & 0xff),
                               char((rate >> 16) & 0xff), char((rate >> 24) & 0xff)};
        file.write(bytes, 4);
        file.close();
        const auto result = transcribe(wav);
        ASSERT_TRUE(std::holds_alternative<RecordingTranscriberInterface::Failure>(result));
        EXPECT_EQ(std::get<RecordingTranscriberInterface::Failure>(result).description,
                  QStringLiteral("The recording “damaged.wav” has an unsupported sample rate "
                                 "(%1 Hz).")
                      .arg(rate));
    }
}

TEST_F(RecordingTranscriberTest, MissingModelFailsWithTheUnavailableText) {
    FakeSpeechEngine::Script s;
    s.modelState = SpeechEngine::ModelState::notInstalled;
    engine->setScript(s);
    const QString wav = home.path() + QStringLiteral("/any.wav");
    writeWav(wav, 1.0, 2, {{}, {}});
    const auto result = transcribe(wav);
    ASSERT_TRUE(std::holds_alternative<RecordingTranscriberInterface::Failure>(result));
    EXPECT_EQ(std::get<RecordingTranscriberInterface::Failure>(result).description,
              QStringLiteral("Speech recognition is unavailable for en_US."));
    EXPECT_FALSE(QFile::exists(home.path() + QStringLiteral("/any.transcript.md")));
}

TEST_F(RecordingTranscriberTest, BufferOverTheTimeLimitContributesNothing) {
    FakeClock clock;
    FakeSpeechEngine::Script s = engine->script();
    s.secondsPerFeed = 50.0; // every second of audio "takes" 50 s
    s.clock = &clock;
    engine->setScript(s);
    RecordingTranscriber::Options options;
    options.clock = &clock;
    RecordingTranscriber transcriber(engine, QStringLiteral("en_US"), options);

    // Two seconds per channel finish in 100 s, inside the limit of 120 s.
    const QString inTime = home.path() + QStringLiteral("/in-time.wav");
    writeWav(inTime, 2.0, 2, {{{0, 2}}, {{0, 2}}});
    const auto first = transcriber.run(inTime, {});
    ASSERT_TRUE(std::holds_alternative<QString>(first));
    EXPECT_TRUE(readText(std::get<QString>(first))
                    .endsWith(QStringLiteral("**You:** words\n**Interviewer:** words\n")));

    // Four seconds would take 200 s: both channels are given up and contribute nothing.
    const QString tooLong = home.path() + QStringLiteral("/too-long.wav");
    writeWav(tooLong, 4.0, 2, {{{0, 4}}, {{0, 4}}});
    const auto second = transcriber.run(tooLong, {});
    ASSERT_TRUE(std::holds_alternative<QString>(second));
    EXPECT_TRUE(readText(std::get<QString>(second)).endsWith(kHeaderTail));
    EXPECT_EQ(engine->counts().cancels, 2);
}

struct StampCase {
    double seconds;
    const char* duration;
    int chunk;
    const char* stamp;
};

void PrintTo(const StampCase& c, std::ostream* os) {
    *os << c.seconds << " s, chunk " << c.chunk;
}

class TranscriptLayoutTest : public ::testing::TestWithParam<StampCase> {};

TEST_P(TranscriptLayoutTest, DurationAndChunkStamps) {
    EXPECT_EQ(RecordingTranscript::durationLine(GetParam().seconds),
              QString::fromUtf8(GetParam().duration));
    EXPECT_EQ(RecordingTranscript::chunkStamp(GetParam().chunk, 45.0),
              QString::fromUtf8(GetParam().stamp));
}

INSTANTIATE_TEST_SUITE_P(Table, TranscriptLayoutTest,
                         ::testing::Values(StampCase{0.0, "Duration: 0 min 00 s", 0, "00:00"},
                                           StampCase{0.99, "Duration: 0 min 00 s", 1, "00:45"},
                                           StampCase{59.999, "Duration: 0 min 59 s", 2, "01:30"},
                                           StampCase{100.0, "Duration: 1 min 40 s", 4, "03:00"},
                                           StampCase{3600.5, "Duration: 60 min 00 s", 80, "60:00"}),
                         [](const auto& info) { return "case" + std::to_string(info.index); });

TEST(TranscriptProgress, NamesTheFileAsItIsWithWholePercentAndSeconds) {
    EXPECT_EQ(RecordingTranscript::progressText(QStringLiteral("take%1%2.wav"), 60.7, 200.0),
              QStringLiteral("Transcribing take%1%2.wav — 30% (60s of 200s)"));
    EXPECT_EQ(RecordingTranscript::progressText(QStringLiteral("a.wav"), 0.5, 0.0),
              QStringLiteral("Transcribing a.wav — 50% (0s of 0s)"));
}
