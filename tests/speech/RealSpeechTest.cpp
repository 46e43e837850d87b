// Recognition of real speech that no one here wrote: flite voices and Debian's LibriVox clips.
#include "speech/MicTranscriber.h"
#include "speech/OnDeviceSpeech.h"
#include "speech/sphinx/SphinxEngine.h"
#include "support/FakeSpeechEngine.h"
#include "support/TestHome.h"
#include "support/WordErrorRate.h"

#include <QFile>
#include <QProcess>
#include <QTest>
#include <gtest/gtest.h>

#include <sndfile.h>

namespace {
const QString kLibriVox = QStringLiteral("/usr/share/pocketsphinx/test/data/librivox/");
constexpr int kWait = 60000; // ms; a safety net only

bool runTool(const QString& program, const QStringList& arguments) {
    QProcess process;
    process.start(program, arguments);
    if (!process.waitForFinished(30000)) {
        ADD_FAILURE() << program.toStdString() << " did not finish";
        return false;
    }
    if (process.exitStatus() != QProcess::NormalExit || process.exitCode() != 0) {
        ADD_FAILURE() << program.toStdString() << ": "
                      << process.readAllStandardError().toStdString();
        return false;
    }
    return true;
}

std::vector<float> readMono(const QString& path, int* rate) {
    SF_INFO info{};
    SNDFILE* file = sf_open(QFile::encodeName(path).constData(), SFM_READ, &info);
    if (!file || info.channels != 1) {
        ADD_FAILURE() << "cannot read " << path.toStdString();
        if (file)
            sf_close(file);
        return {};
    }
    std::vector<float> samples(size_t(info.frames));
    sf_readf_float(file, samples.data(), info.frames);
    sf_close(file);
    *rate = info.samplerate;
    return samples;
}

struct Utterance {
    const char* voice;
    const char* text;
};

// Answers as a candidate might give them, in three of flite's voices.
const Utterance kAnswers[] = {
    {"slt", "I worked on the payment system for three years and led a team of five engineers."},
    {"rms", "The hardest part was moving the old database without any downtime."},
    {"awb", "I would start by talking to the customers and then write a short plan."},
};

TEST(WordErrorRateTest, CountsEditsOverReferenceWords) {
    EXPECT_DOUBLE_EQ(wordErrorRate("the cat sat", "the cat sat"), 0.0);
    EXPECT_DOUBLE_EQ(wordErrorRate("the cat sat", "the bat sat down"), 2.0 / 3.0);
    EXPECT_DOUBLE_EQ(wordErrorRate("The cat, sat.", "the cat sat"), 0.0);
    EXPECT_DOUBLE_EQ(wordErrorRate("a b c d", ""), 1.0);
}
} // namespace

// The live path: flite answers as 48 kHz microphone blocks of 10 ms, one segment each.
TEST(RealSpeechTest, LivePathTranscribesFliteAnswers) {
    TestHome home;
    auto engine = std::make_shared<SphinxEngine>();
    FakeClock clock; // the fallback never fires: every final comes from decoding
    MicTranscriber transcriber(engine, clock, QStringLiteral("en_US"));
    QStringList finals;
    int partials = 0;
    transcriber.onFinal = [&finals](const QString& text) { finals << text; };
    transcriber.onPartial = [&partials](const QString&) { ++partials; };
    transcriber.onFailure = [](const QString& text) { ADD_FAILURE() << text.toStdString(); };

    QString reference;
    for (const Utterance& answer : kAnswers) {
        const QString raw = home.path() + QStringLiteral("/raw.wav");
        const QString mic = home.path() + QStringLiteral("/mic.wav");
        ASSERT_TRUE(runTool(QStringLiteral("flite"),
                            {QStringLiteral("-voice"), QString::fromLatin1(answer.voice),
                             QStringLiteral("-t"), QString::fromLatin1(answer.text),
                             QStringLiteral("-o"), raw}));
        ASSERT_TRUE(runTool(QStringLiteral("sox"),
                            {raw, QStringLiteral("-r"), QStringLiteral("48000"), mic}));
        int rate = 0;
        const std::vector<float> samples = readMono(mic, &rate);
        ASSERT_EQ(rate, 48000);

        transcriber.begin();
        for (size_t offset = 0; offset < samples.size(); offset += 480)
            transcriber.append(samples.data() + offset,
                               int(std::min<size_t>(480, samples.size() - offset)), 48000.0);
        transcriber.end();
        ASSERT_TRUE(QTest::qWaitFor([&] { return !transcriber.hasOpenTask(); }, kWait));
        reference += QString::fromLatin1(answer.text) + QLatin1Char(' ');
    }
    ASSERT_EQ(finals.size(), 3);
    EXPECT_GT(partials, 3); // interim texts arrive while an answer is spoken
    const double wer = wordErrorRate(reference, finals.join(QLatin1Char(' ')));
    RecordProperty("wer_percent", int(wer * 100));
    EXPECT_LE(wer, 0.30) << finals.join(QLatin1String(" | ")).toStdString();
}

TEST(RealSpeechTest, LivePathSilenceEndsSilently) {
    auto engine = std::make_shared<SphinxEngine>();
    FakeClock clock;
    MicTranscriber transcriber(engine, clock, QStringLiteral("en_US"));
    int callbacks = 0;
    transcriber.onFinal = [&callbacks](const QString&) { ++callbacks; };
    transcriber.onFailure = [&callbacks](const QString&) { ++callbacks; };

    const std::vector<float> silence(480, 0.0f);
    transcriber.begin();
    for (int block = 0; block < 200; ++block) // two seconds
        transcriber.append(silence.data(), int(silence.size()), 48000.0);
    transcriber.end();
    ASSERT_TRUE(QTest::qWaitFor([&] { return !transcriber.hasOpenTask(); }, kWait));
    EXPECT_EQ(callbacks, 0);
}

// The acceptance run: `corvinel --transcribe` on a stereo file, flite on the left (you) and
// LibriVox on the right (the meeting).
TEST(RealSpeechTest, CommandLineTranscribesStereoRecording) {
    TestHome home;
    const QString left = home.path() + QStringLiteral("/left.wav");
    const QString right = home.path() + QStringLiteral("/right.wav");
    const QString wav = home.path() + QStringLiteral("/meeting_2025-03-14_09-05-07.wav");
    ASSERT_TRUE(runTool(QStringLiteral("flite"),
                        {QStringLiteral("-voice"), QStringLiteral("slt"), QStringLiteral("-t"),
                         QString::fromLatin1(kAnswers[0].text), QStringLiteral("-o"), left}));
    const QStringList clips = {QStringLiteral("sense_and_sensibility_01_austen_64kb-0880.wav"),
                               QStringLiteral("sense_and_sensibility_01_austen_64kb-0890.wav"),
                               QStringLiteral("sense_and_sensibility_01_austen_64kb-0930.wav")};
    QStringList concat;
    for (const QString& clip : clips)
        concat << kLibriVox + clip;
    ASSERT_TRUE(runTool(QStringLiteral("sox"), concat << right));
    // Merged into two channels at the archive's format, 48 kHz 16-bit.
    ASSERT_TRUE(runTool(QStringLiteral("sox"), {QStringLiteral("-M"), left, right,
                                                QStringLiteral("-r"), QStringLiteral("48000"),
                                                QStringLiteral("-b"), QStringLiteral("16"), wav}));

    QProcess corvinel;
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    environment.insert(QStringLiteral("LANG"), QStringLiteral("C.UTF-8"));
    environment.remove(QStringLiteral("LC_ALL"));
    environment.remove(QStringLiteral("LC_MESSAGES"));
    corvinel.setProcessEnvironment(environment);
    corvinel.start(QStringLiteral(CORVINEL_BINARY), {QStringLiteral("--transcribe"), wav});
    ASSERT_TRUE(corvinel.waitForFinished(kWait));
    const QString err = QString::fromUtf8(corvinel.readAllStandardError());
    ASSERT_EQ(corvinel.exitCode(), 0) << err.toStdString();

    const QString target =
        home.path() + QStringLiteral("/meeting_2025-03-14_09-05-07.transcript.md");
    EXPECT_EQ(QString::fromUtf8(corvinel.readAllStandardOutput()), target + QLatin1Char('\n'));
    EXPECT_TRUE(err.startsWith(QStringLiteral(
        "Transcribing meeting_2025-03-14_09-05-07.wav… this runs locally and takes a while.\n"
        "Transcribing meeting_2025-03-14_09-05-07.wav — 100% (11s of 11s)\n")))
        << err.toStdString();

    QFile file(target);
    ASSERT_TRUE(file.open(QIODevice::ReadOnly));
    const QStringList lines = QString::fromUtf8(file.readAll()).split(QLatin1Char('\n'));
    ASSERT_EQ(lines.size(), 10) << lines.join(QLatin1Char('\n')).toStdString();
    EXPECT_EQ(lines.mid(0, 7),
              (QStringList{QStringLiteral("# Meeting transcript"), QString(),
                           QStringLiteral("Source: `meeting_2025-03-14_09-05-07.wav`"),
                           QStringLiteral("Duration: 0 min 11 s"),
                           QStringLiteral("Transcribed on-device. Left channel = you, right "
                                          "channel = the meeting."),
                           QString(), QStringLiteral("### 00:00")}));
    ASSERT_TRUE(lines[7].startsWith(QStringLiteral("**You:** ")));
    ASSERT_TRUE(lines[8].startsWith(QStringLiteral("**Interviewer:** ")));
    EXPECT_EQ(lines[9], QString()); // the section's closing empty line: the file ends with \n

    const double you = wordErrorRate(QString::fromLatin1(kAnswers[0].text), lines[7].mid(9));
    const double interviewer =
        wordErrorRate(QStringLiteral("he was not an ill disposed young man unless to be rather "
                                     "cold hearted and rather selfish is to be ill disposed he "
                                     "might even have been made amiable himself"),
                      lines[8].mid(17));
    EXPECT_LE(you, 0.30) << lines[7].toStdString();
    EXPECT_LE(interviewer, 0.45) << lines[8].toStdString();
}

// The real components as the application wires them (PocketSphinx, Qt timers): ready for
// English, and a segment of silence closes on its own.
TEST(RealSpeechTest, OnDeviceSpeechAnswersReadyAndEndsSegments) {
    OnDeviceSpeech speech(std::make_shared<SphinxEngine>(), QStringLiteral("en_US"));
    std::optional<MicTranscriberInterface::Availability> answer;
    speech.micTranscriber().requestAuthorization([&](const auto& a) { answer = a; });
    ASSERT_TRUE(QTest::qWaitFor([&] { return answer.has_value(); }, kWait));
    EXPECT_EQ(*answer, MicTranscriberInterface::Availability::ready());

    speech.micTranscriber().begin();
    const std::vector<float> silence(480, 0.0f);
    for (int block = 0; block < 50; ++block)
        speech.micTranscriber().append(silence.data(), 480, 48000.0);
    speech.micTranscriber().end();
    EXPECT_TRUE(QTest::qWaitFor([&] { return !speech.micTranscriber().hasOpenTask(); }, kWait));
}
