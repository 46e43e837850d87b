// The walkthrough's checks and the capture proofs against a sound server of each test's own,
// so that no other test's players are heard.

#include "audio/CaptureChecks.h"
#include "audio/MicLevelProbe.h"
#include "audio/OutputCaptureCheck.h"

#include "support/SoundPeers.h"

#include <QSignalSpy>
#include <QTemporaryDir>
#include <QThreadPool>
#include <gtest/gtest.h>

#include <cmath>
#include <numbers>
#include <random>

namespace {

class CaptureChecks : public testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(m_server.start());
        m_server.useForThisProcess();
    }
    // An address where no server answers.
    QString deadServer() const { return QStringLiteral("unix:") + m_files.filePath("none/native"); }

    PrivateSoundServer m_server;
    QTemporaryDir m_files;
};

// Unloads every module of this kind from the server.
bool unloadModules(const PrivateSoundServer& server, const QString& module) {
    const auto list = server.pactlOutput(
        {QStringLiteral("list"), QStringLiteral("short"), QStringLiteral("modules")});
    if (!list)
        return false;
    for (const QString& line : list->split(u'\n', Qt::SkipEmptyParts)) {
        const QStringList fields = line.split(u'\t');
        if (fields.size() > 1 && fields[1] == module &&
            !server.pactl({QStringLiteral("unload-module"), fields[0]}))
            return false;
    }
    return true;
}

} // namespace

TEST_F(CaptureChecks, TheServerAnswersTheWalkthroughsRows) {
    EXPECT_TRUE(hasMicrophone());
    EXPECT_TRUE(hasMicrophone(m_server.server()));
    EXPECT_TRUE(canRecordSystemOutput());
    EXPECT_TRUE(canRecordSystemOutput(m_server.server()));
    ASSERT_TRUE(defaultMicrophone());
    EXPECT_EQ(defaultMicrophone(m_server.server())->uid, QStringLiteral("fakemic"));

    // Monitors of outputs are no microphones.
    ASSERT_TRUE(unloadModules(m_server, QStringLiteral("module-remap-source")));
    EXPECT_TRUE(waitUntil([&] { return !hasMicrophone(m_server.server()); }));
    EXPECT_FALSE(defaultMicrophone(m_server.server()));
    EXPECT_TRUE(canRecordSystemOutput(m_server.server()));
}

TEST_F(CaptureChecks, NoServerAnswersNoAndTheProofsFail) {
    EXPECT_FALSE(hasMicrophone(deadServer()));
    EXPECT_FALSE(canRecordSystemOutput(deadServer()));
    EXPECT_FALSE(defaultMicrophone(deadServer()));

    OutputCaptureCheck check(deadServer());
    QSignalSpy finished(&check, &OutputCaptureCheck::finished);
    check.start();
    ASSERT_TRUE(finished.wait(10000));
    EXPECT_FALSE(finished[0][0].toBool());
    EXPECT_EQ(finished[0][1].toString(),
              QStringLiteral("Could not record what the computer plays: Connection refused."));
    EXPECT_FALSE(check.isRunning());

    for (const QString& uid : {QString(), QStringLiteral("fakemic")}) {
        MicLevelProbe probe(deadServer());
        QSignalSpy failed(&probe, &MicLevelProbe::failed);
        probe.start(uid);
        ASSERT_TRUE(failed.wait(10000)) << uid.toStdString();
        EXPECT_FALSE(probe.isRunning());
        EXPECT_EQ(failed[0][0].toString(), uid.isEmpty()
                                               ? QStringLiteral("No microphone was found.")
                                               : QStringLiteral("Could not open the microphone: "
                                                                "Connection refused."));
    }
}

TEST_F(CaptureChecks, TheOutputCheckHearsItsToneOnce) {
    OutputCaptureCheck check;
    QSignalSpy finished(&check, &OutputCaptureCheck::finished);
    check.start();
    EXPECT_TRUE(check.isRunning());
    check.start(); // ignored while the first runs
    ASSERT_TRUE(finished.wait(15000));
    EXPECT_TRUE(finished[0][0].toBool()) << finished[0][1].toString().toStdString();
    EXPECT_EQ(finished[0][1].toString(), QString());
    EXPECT_FALSE(check.isRunning());
    EXPECT_FALSE(finished.wait(500)) << "the ignored start ran a second check";

    // A check whose object goes meanwhile ends without delivering anything.
    auto* gone = new OutputCaptureCheck;
    gone->start();
    delete gone;
    QThreadPool::globalInstance()->waitForDone();
    QCoreApplication::processEvents();
}

TEST_F(CaptureChecks, TheMicrophoneLevelFollowsWhatItHears) {
    const QString tone = makeTone(m_files.path(), QStringLiteral("mic.wav"), 10, 440, 0.5, 1);
    ASSERT_FALSE(tone.isEmpty());
    const QStringList uids{QString(), QStringLiteral("fakemic")};
    // Silence first, for both: a few reports, all near zero. (A tone fed into the pipe would
    // linger in the server's buffers for the next probe.)
    for (const QString& uid : uids) {
        MicLevelProbe probe;
        QSignalSpy levels(&probe, &MicLevelProbe::levelChanged);
        probe.start(uid);
        ASSERT_TRUE(waitUntil([&] { return levels.size() >= 5; })) << uid.toStdString();
        for (const auto& level : levels)
            EXPECT_LT(level[0].toFloat(), 0.01f) << uid.toStdString();
    }
    auto feed = playOn(QStringLiteral("mic_feed"), tone);
    for (const QString& uid : uids) {
        MicLevelProbe probe;
        QSignalSpy levels(&probe, &MicLevelProbe::levelChanged);
        QSignalSpy failed(&probe, &MicLevelProbe::failed);
        probe.start(uid);
        EXPECT_TRUE(waitUntil([&] {
            return !levels.isEmpty() && levels.last()[0].toFloat() > 0.4f;
        })) << uid.toStdString();
        EXPECT_LE(levels.last()[0].toFloat(), 0.55f);
        EXPECT_TRUE(failed.isEmpty());
        probe.stop();
        EXPECT_FALSE(probe.isRunning());
    }
}

TEST_F(CaptureChecks, AMicrophoneProbeFailsWhenTheServerGoesAndStopsWhenItGoes) {
    {
        MicLevelProbe probe;
        QSignalSpy levels(&probe, &MicLevelProbe::levelChanged);
        QSignalSpy failed(&probe, &MicLevelProbe::failed);
        probe.start();
        ASSERT_TRUE(levels.wait(5000));
        ASSERT_TRUE(m_server.stop());
        ASSERT_TRUE(failed.wait(5000));
        EXPECT_TRUE(failed[0][0].toString().startsWith(
            QStringLiteral("The connection to the sound server was lost")))
            << failed[0][0].toString().toStdString();
        EXPECT_FALSE(probe.isRunning());
    }
    ASSERT_TRUE(m_server.start());
    auto* gone = new MicLevelProbe;
    gone->start();
    delete gone;
    QThreadPool::globalInstance()->waitForDone();
    QCoreApplication::processEvents();
}

namespace {

struct ToneCase {
    const char* name;
    double frequency;
    double level;       // of the tone from its start on
    double seconds;     // how long the tone lasts
    double noise;       // white noise throughout
    double levelBefore; // of the same frequency before the tone's start
    bool heard;
};

void PrintTo(const ToneCase& c, std::ostream* out) {
    *out << c.name;
}

class ToneDetection : public testing::TestWithParam<ToneCase> {};

} // namespace

TEST_P(ToneDetection, TheToneMustStandAboveWhatPlayedBefore) {
    const ToneCase& c = GetParam();
    constexpr double rate = 48000;
    const size_t start = size_t(0.3 * rate);
    std::vector<float> recording(size_t(1.5 * rate));
    std::mt19937 random(7);
    std::uniform_real_distribution<float> noise(-float(c.noise), float(c.noise));
    for (size_t i = 0; i < recording.size(); ++i) {
        const double t = double(i) / rate;
        double sample = noise(random);
        sample += c.levelBefore * std::sin(2 * std::numbers::pi * 880 * t);
        if (i >= start && t < 0.3 + c.seconds)
            sample += c.level * std::sin(2 * std::numbers::pi * c.frequency * t + 1);
        recording[i] = float(sample);
    }
    EXPECT_EQ(OutputCaptureCheck::toneHeard(recording, start, rate), c.heard);
}

INSTANTIATE_TEST_SUITE_P(
    Recordings, ToneDetection,
    testing::Values(ToneCase{"Tone", 880, 0.1, 0.8, 0, 0, true},
                    ToneCase{"QuietOutput", 880, 0.002, 0.8, 0, 0, true},
                    ToneCase{"ToneInNoise", 880, 0.1, 0.8, 0.05, 0, true},
                    ToneCase{"Silence", 880, 0, 0.8, 0, 0, false},
                    ToneCase{"AnotherPitch", 440, 0.1, 0.8, 0, 0, false},
                    ToneCase{"BelowHearing", 880, 0.00003, 0.8, 0, 0, false},
                    ToneCase{"ABlipOnly", 880, 0.1, 0.1, 0, 0, false},
                    ToneCase{"NothingNewOverTheSamePitch", 880, 0.02, 0.8, 0, 0.1, false}),
    [](const testing::TestParamInfo<ToneCase>& info) { return info.param.name; });
