// The capture engine and the loopback capture against a PulseAudio daemon of each test's own
// (fake speakers, headset, microphone and 4-channel interface), with paplay as the meeting
// apps: what reaches the model stream and the archive, the channel rules, narrowing to one
// application, a default-output change, a killed server and failed starts.

#include "audio/AudioCaptureEngine.h"
#include "audio/AudioDeviceManager.h"
#include "audio/ProcessTapCapture.h"
#include "audio/pulse/PulseConnection.h"
#include "audio/pulse/PulseRecorder.h"
#include "support/SoundPeers.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QFileInfo>
#include <QProcess>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <QThread>
#include <QTimer>
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <cmath>
#include <mutex>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>
#include <vector>

using namespace Qt::StringLiterals;

namespace {

using Engine = AudioCaptureEngine;
using StreamSource = AudioCaptureEngineInterface::StreamSource;
using DeviceChannels = AudioCaptureEngineInterface::DeviceChannels;
using SystemTap = AudioCaptureEngineInterface::SystemTap;

// Everything the engine hands out, gathered from whichever thread it comes on.
struct Output {
    std::mutex lock;
    QByteArray pcm;
    int blocks = 0;
    int blocksOnMainThread = 0;
    long long micFrames = 0;
    int levels = 0;
    int levelsOffMainThread = 0;
    QStringList errors;
    QStringList heardOutputs; // main thread

    void attach(Engine& engine) {
        engine.onHeardOutput = [this](const QString& output) { heardOutputs << output; };
        QThread* main = QCoreApplication::instance()->thread();
        engine.onPCM16 = [this, main](const QByteArray& block) {
            std::lock_guard guard(lock);
            pcm += block;
            ++blocks;
            blocksOnMainThread += QThread::currentThread() == main ? 1 : 0;
        };
        engine.onMicBuffer = [this](const float*, int frames, double) {
            std::lock_guard guard(lock);
            micFrames += frames;
        };
        engine.onLevels = [this, main](float, float) {
            ++levels;
            levelsOffMainThread += QThread::currentThread() == main ? 0 : 1;
        };
        engine.onError = [this](const AudioFailure& error) { errors << error.description; };
    }
    qsizetype bytes() {
        std::lock_guard guard(lock);
        return pcm.size();
    }
    // The stream from byte `from` on, as floats at 24 kHz.
    std::vector<float> since(qsizetype from) {
        std::lock_guard guard(lock);
        return pcm16ToFloat(pcm.mid(from));
    }
    // Waits until the stream's last 0.1 s carries each tone at `level` or more.
    bool hears(std::initializer_list<double> frequencies, double level = 0.2) {
        return waitUntil([&] {
            const auto recent = since(std::max<qsizetype>(0, bytes() - 4800));
            for (const double frequency : frequencies)
                if (toneAmplitude(recent, 24000, frequency) < level)
                    return false;
            return true;
        });
    }
    // Waits until `seconds` more of the stream have arrived; returns them.
    std::vector<float> collect(double seconds, int timeoutMs = 8000) {
        const qsizetype from = bytes();
        const auto wanted = qsizetype(seconds * 24000 * 2);
        waitUntil([&] { return bytes() - from >= wanted; }, timeoutMs);
        return since(from);
    }
};

class CaptureEngine : public testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(m_server.start());
        m_server.useForThisProcess();
        m_engine.emplace();
        out.attach(*m_engine);
    }
    // An engine on the test's server, made once that server runs, its output gathered in `out`.
    Engine& engine() { return *m_engine; }
    QString file(const QString& name) const { return m_files.filePath(name); }
    // `file` on the speakers, as the application with this bundle identifier.
    static std::unique_ptr<SoundPeer> playAs(const QString& bundleID, const QString& file) {
        return playOn(QStringLiteral("speakers"), file,
                      {QStringLiteral("--property=application.id=") + bundleID});
    }
    // Waits until an application with this bundle identifier plays; its audio object.
    static std::optional<uint32_t> playing(const QString& bundleID) {
        std::optional<uint32_t> object;
        waitUntil([&] {
            object = ProcessTapCapture::audioObject(bundleID);
            return object.has_value();
        });
        return object;
    }
    // One application as the meeting, streamed alone.
    static std::optional<AudioFailure> startOnApp(Engine& engine, uint32_t object) {
        return engine.start(SystemTap{TapTarget::process(object), QStringLiteral("fakemic"), 0},
                            StreamSource::meetingOnly, false, {});
    }
    // The whole output as the meeting, the fake microphone beside it.
    static std::optional<AudioFailure> startOnOutput(Engine& engine, StreamSource source,
                                                     const QString& archive = {},
                                                     const QString& mic = u"fakemic"_s) {
        return engine.start(SystemTap{TapTarget::systemOutput(), mic, 0}, source,
                            !archive.isEmpty(), archive);
    }
    // Waits for the null sinks' first data, which may take up to two seconds after the start.
    static bool streaming(Output& out) {
        return waitUntil([&] { return out.bytes() > 0; }, 5000);
    }

    PrivateSoundServer m_server;
    QTemporaryDir m_files;
    Output out;

private:
    std::optional<Engine> m_engine;
};

} // namespace

struct ChannelCase {
    const char* name;
    int mic;
    std::optional<int> meeting;
    StreamSource asked;
    int usedMic;
    std::optional<int> usedMeeting;
    StreamSource used;
};

void PrintTo(const ChannelCase& c, std::ostream* out) {
    *out << c.name;
}

class ChannelRules : public CaptureEngine, public testing::WithParamInterface<ChannelCase> {};

TEST_P(ChannelRules, OnTheFourChannelInterface) {
    const ChannelCase& c = GetParam();
    Engine engine;
    ASSERT_EQ(engine.start(DeviceChannels{QStringLiteral("iface4"), c.mic, c.meeting}, c.asked,
                           false, {}),
              std::nullopt);
    EXPECT_TRUE(engine.isRunning());
    EXPECT_FALSE(engine.usingTap());
    EXPECT_EQ(engine.micChannel(), c.usedMic);
    EXPECT_EQ(engine.meetingChannel(), c.usedMeeting);
    EXPECT_EQ(engine.streamSource(), c.used);
    EXPECT_EQ(engine.micRate(), 48000);
    EXPECT_TRUE(engine.recordingPath().isEmpty());
    engine.stop();
    EXPECT_FALSE(engine.isRunning());
}

INSTANTIATE_TEST_SUITE_P(
    Rules, ChannelRules,
    testing::Values(ChannelCase{"valid", 0, 1, StreamSource::meetingOnly, 0, 1,
                                StreamSource::meetingOnly},
                    ChannelCase{"noMeetingStreamsTheMic", 0, std::nullopt,
                                StreamSource::meetingOnly, 0, std::nullopt, StreamSource::micOnly},
                    ChannelCase{"meetingEqualToMicIsDropped", 1, 1, StreamSource::both, 1,
                                std::nullopt, StreamSource::both},
                    ChannelCase{"negativeMeetingIsDropped", 0, -1, StreamSource::both, 0,
                                std::nullopt, StreamSource::both},
                    ChannelCase{"meetingBeyondTheDeviceIsDropped", 0, 4, StreamSource::meetingOnly,
                                0, std::nullopt, StreamSource::micOnly},
                    ChannelCase{"micBeyondTheDeviceIsTheLast", 9, 0, StreamSource::meetingOnly, 3,
                                0, StreamSource::meetingOnly},
                    ChannelCase{"negativeMicIsZero", -2, 3, StreamSource::micOnly, 0, 3,
                                StreamSource::micOnly}),
    [](const testing::TestParamInfo<ChannelCase>& info) { return std::string(info.param.name); });

// A meeting device that has gone is refused: the default input in its place would be the user's
// own microphone. A microphone that has gone is replaced by the default input.
TEST_F(CaptureEngine, AMissingMeetingDeviceIsRefusedAndAMissingMicFallsBackToTheDefault) {
    Engine engine;
    EXPECT_EQ(engine.start(DeviceChannels{QStringLiteral("no-such-device"), 5, 1},
                           StreamSource::both, false, {}),
              AudioFailure{Engine::missingMeetingDevice(QStringLiteral("no-such-device"))});
    EXPECT_FALSE(engine.isRunning());
    ASSERT_EQ(
        engine.start(SystemTap{TapTarget::systemOutput(), QStringLiteral("no-such-device"), 2},
                     StreamSource::both, false, {}),
        std::nullopt);
    EXPECT_EQ(engine.micChannel(), 0) << "the one-channel fake microphone, the default input";
    EXPECT_EQ(engine.start(DeviceChannels{QStringLiteral("iface4"), 0, 1}, StreamSource::micOnly,
                           true, file(QStringLiteral("x.wav"))),
              std::nullopt);
    EXPECT_TRUE(engine.usingTap()) << "a second start changes nothing";
    EXPECT_EQ(engine.streamSource(), StreamSource::both);
    EXPECT_FALSE(QFileInfo::exists(file(QStringLiteral("x.wav"))));
    engine.stop();
    engine.stop(); // a second stop does nothing
}

TEST_F(CaptureEngine, DeviceModeStreamsTheMeetingChannelAndArchivesBoth) {
    const QString quad =
        makeQuad(m_files.path(), QStringLiteral("quad.wav"), 6, {700, 1100, 2500, 300});
    ASSERT_FALSE(quad.isEmpty());
    const QString archive = file(QStringLiteral("device.wav"));
    ASSERT_EQ(engine().start(DeviceChannels{QStringLiteral("iface4"), 0, 1},
                             StreamSource::meetingOnly, true, archive),
              std::nullopt);
    EXPECT_EQ(engine().recordingPath(), archive);
    ASSERT_TRUE(streaming(out));
    auto player = playOn(QStringLiteral("iface_feed"), quad,
                         {QStringLiteral("--channel-map=aux0,aux1,aux2,aux3")});
    // Wait for the tones, then take a second of them.
    ASSERT_TRUE(out.hears({1100}));
    const auto stream = out.collect(1.0);
    engine().stop();
    EXPECT_NEAR(steadyToneAmplitude(stream, 24000, 1100), 0.5, 0.05);
    EXPECT_LT(toneAmplitude(stream, 24000, 700), 0.01);
    EXPECT_LT(toneAmplitude(stream, 24000, 2500), 0.01);
    EXPECT_EQ(out.blocksOnMainThread, 0);
    EXPECT_GT(out.micFrames, 48000);
    EXPECT_GT(out.levels, 0);
    EXPECT_EQ(out.levelsOffMainThread, 0);

    const WavContents wav = readWav(archive);
    ASSERT_TRUE(wav.valid);
    ASSERT_EQ(wav.channels, 2);
    ASSERT_GT(wav.left.size(), 48000u);
    EXPECT_TRUE(separateChannels(wav, 700, 1100));
}

TEST_F(CaptureEngine, SystemOutputTapStreamsWhatTheSpeakersPlayFromTheTapThread) {
    const QString tone = makeTone(m_files.path(), QStringLiteral("t.wav"), 6, 1300);
    ASSERT_EQ(startOnOutput(engine(), StreamSource::meetingOnly), std::nullopt);
    EXPECT_TRUE(engine().usingTap());
    ASSERT_TRUE(engine().tapCapture().format());
    EXPECT_EQ(engine().tapCapture().format()->sampleRate, 48000);
    EXPECT_EQ(engine().tapCapture().format()->channels, 2);
    ASSERT_TRUE(streaming(out));
    auto player = playOn(QStringLiteral("speakers"), tone);
    ASSERT_TRUE(out.hears({1300}));
    const auto stream = out.collect(0.5);
    EXPECT_NEAR(steadyToneAmplitude(stream, 24000, 1300), 0.5, 0.05);
    EXPECT_EQ(out.blocksOnMainThread, 0);
    engine().stop();
    EXPECT_FALSE(engine().tapCapture().isRunning());
}

TEST_F(CaptureEngine, OneApplicationIsHeardAloneAndRetargetSwitchesToAnother) {
    const QString a = makeTone(m_files.path(), QStringLiteral("a.wav"), 20, 1300);
    const QString b = makeTone(m_files.path(), QStringLiteral("b.wav"), 20, 2100);
    auto zoom = playAs(QStringLiteral("test.zoom"), a);
    auto meet = playAs(QStringLiteral("test.meet"), b);
    const std::optional<uint32_t> zoomObject = playing(QStringLiteral("test.zoom"));
    const std::optional<uint32_t> meetObject = playing(QStringLiteral("test.meet"));
    ASSERT_TRUE(zoomObject && meetObject);

    ASSERT_EQ(startOnApp(engine(), *zoomObject), std::nullopt);
    ASSERT_TRUE(out.hears({1300}));
    auto stream = out.collect(0.5);
    EXPECT_NEAR(steadyToneAmplitude(stream, 24000, 1300), 0.5, 0.05);
    EXPECT_LT(toneAmplitude(stream, 24000, 2100), 0.005);

    ASSERT_EQ(engine().retarget(TapTarget::process(*meetObject)), std::nullopt);
    EXPECT_EQ(engine().tapCapture().target(), TapTarget::process(*meetObject));
    ASSERT_TRUE(out.hears({2100}));
    stream = out.collect(0.5);
    EXPECT_NEAR(steadyToneAmplitude(stream, 24000, 2100), 0.5, 0.05);
    EXPECT_LT(toneAmplitude(stream, 24000, 1300), 0.005);
    engine().stop();
    EXPECT_TRUE(out.errors.isEmpty());
}

// Applications end a stream and open another when they change device or go quiet; the
// capture stays with the application, and hears everything while it plays nothing.
TEST_F(CaptureEngine, WhenTheTappedStreamEndsTheCaptureFollowsTheApplication) {
    const QString first = makeTone(m_files.path(), QStringLiteral("z1.wav"), 20, 1300);
    const QString second = makeTone(m_files.path(), QStringLiteral("z2.wav"), 20, 1700);
    const QString other = makeTone(m_files.path(), QStringLiteral("m.wav"), 30, 2100);
    auto zoom = playAs(QStringLiteral("test.zoom"), first);
    auto meet = playAs(QStringLiteral("test.meet"), other);
    const std::optional<uint32_t> zoomObject = playing(QStringLiteral("test.zoom"));
    ASSERT_TRUE(zoomObject && playing(QStringLiteral("test.meet")));

    QStringList told;
    engine().onFollowedApp = [&](const QString& app, bool alone) {
        told << app + (alone ? QStringLiteral(" alone") : QStringLiteral(" quiet"));
    };
    ASSERT_EQ(startOnApp(engine(), *zoomObject), std::nullopt);
    ASSERT_TRUE(out.hears({1300}));

    zoom.reset(); // the stream ends
    ASSERT_TRUE(out.hears({2100})) << "nothing is heard while the application is quiet";
    EXPECT_EQ(engine().tapCapture().target(), TapTarget::systemOutput());
    EXPECT_EQ(told, QStringList{QStringLiteral("test.zoom quiet")});

    auto zoomAgain = playAs(QStringLiteral("test.zoom"), second);
    // Within one look-up, with slack for a loaded machine.
    ASSERT_TRUE(waitUntil([&] { return !engine().tapCapture().target().isSystemOutput(); },
                          int(Engine::followPollSeconds * 1000) + 3000));
    EXPECT_EQ(engine().tapCapture().target().processObject,
              ProcessTapCapture::audioObject(QStringLiteral("test.zoom")));
    ASSERT_TRUE(out.hears({1700}));
    out.collect(0.3); // what was under way at the switch
    const auto stream = out.collect(0.5);
    EXPECT_NEAR(steadyToneAmplitude(stream, 24000, 1700), 0.5, 0.05);
    EXPECT_LT(toneAmplitude(stream, 24000, 2100), 0.005);
    EXPECT_EQ(told,
              (QStringList{QStringLiteral("test.zoom quiet"), QStringLiteral("test.zoom alone")}));
    zoomAgain.reset(); // and once more: the session is told again
    ASSERT_TRUE(waitUntil([&] { return told.size() == 3; }));
    EXPECT_EQ(told.last(), QStringLiteral("test.zoom quiet"));
    EXPECT_TRUE(out.errors.isEmpty()) << out.errors.join(u'\n').toStdString();
    engine().stop();
}

// The user sends the meeting app to the headset mid-call: its stream moves to another output
// (the servers end the monitor stream, or keep it on silence) and the capture moves with it.
TEST_F(CaptureEngine, AnApplicationMovedToAnotherOutputIsStillHeard) {
    const QString tone = makeTone(m_files.path(), QStringLiteral("z.wav"), 20, 1300);
    auto zoom = playAs(QStringLiteral("test.zoom"), tone);
    const std::optional<uint32_t> zoomObject = playing(QStringLiteral("test.zoom"));
    ASSERT_TRUE(zoomObject);
    ASSERT_EQ(startOnApp(engine(), *zoomObject), std::nullopt);
    ASSERT_TRUE(out.hears({1300}));

    // A change of its volume is no move: the tap keeps the stream it has.
    const auto tapStreams = [&] {
        return m_server.pactlOutput({u"list"_s, u"short"_s, u"source-outputs"_s});
    };
    const auto before = tapStreams();
    const QString zoomIndex = QString::number(*zoomObject);
    ASSERT_TRUE(m_server.pactl({u"set-sink-input-mute"_s, zoomIndex, u"1"_s}));
    ASSERT_TRUE(m_server.pactl({u"set-sink-input-mute"_s, zoomIndex, u"0"_s}));
    out.collect(0.3);
    EXPECT_EQ(tapStreams(), before);

    // Once the server has moved it, nothing of it is left on the speakers: what is heard from
    // then on comes from the headset.
    ASSERT_TRUE(m_server.moveSinkInput(*zoomObject, QStringLiteral("headset")));
    out.collect(0.3);
    const auto stream = out.collect(0.5);
    EXPECT_NEAR(steadyToneAmplitude(stream, 24000, 1300), 0.5, 0.05);
    EXPECT_EQ(engine().tapCapture().target(), TapTarget::process(*zoomObject));
    EXPECT_TRUE(out.errors.isEmpty()) << out.errors.join(u'\n').toStdString();
    engine().stop();
}

// At 48 kHz, and at the 44.1 kHz that many PulseAudio setups run: the model still gets 24 kHz,
// the recording 48 kHz, each with the right sound in the right place.
class TapRates : public CaptureEngine, public testing::WithParamInterface<int> {};

TEST_P(TapRates, BothAndRecordingKeepMicLeftAndMeetingRight) {
    const int rate = GetParam();
    QString speakers = QStringLiteral("speakers"), feed = QStringLiteral("mic_feed"),
            microphone = QStringLiteral("fakemic");
    if (rate != 48000) {
        const QString n = QString::number(rate);
        speakers += n;
        feed += n;
        microphone += n;
        ASSERT_TRUE(m_server.pactl({QStringLiteral("load-module"),
                                    QStringLiteral("module-null-sink"), u"sink_name="_s + speakers,
                                    u"rate="_s + n, QStringLiteral("channels=2")}));
        ASSERT_TRUE(
            m_server.pactl({QStringLiteral("load-module"), QStringLiteral("module-null-sink"),
                            u"sink_name="_s + feed, u"rate="_s + n, QStringLiteral("channels=1"),
                            QStringLiteral("channel_map=mono")}));
        ASSERT_TRUE(
            m_server.pactl({QStringLiteral("load-module"), QStringLiteral("module-remap-source"),
                            u"source_name="_s + microphone, u"master="_s + feed + u".monitor"_s,
                            QStringLiteral("channels=1"), QStringLiteral("channel_map=mono")}));
        ASSERT_TRUE(m_server.pactl({QStringLiteral("set-default-sink"), speakers}));
    }
    const QString voice = makeTone(m_files.path(), QStringLiteral("mic.wav"), 8, 700, 0.5, 1);
    const QString meeting = makeTone(m_files.path(), QStringLiteral("meeting.wav"), 8, 1300);
    const QString archive = file(QStringLiteral("tap.wav"));
    ASSERT_EQ(startOnOutput(engine(), StreamSource::both, archive, microphone), std::nullopt);
    // The output runs at the rate asked; the microphone at the one its server gives the remap
    // (PipeWire keeps 48 kHz there).
    ASSERT_TRUE(engine().tapCapture().format());
    EXPECT_EQ(engine().tapCapture().format()->sampleRate, rate);
    const auto device = AudioDeviceManager::device(microphone);
    ASSERT_TRUE(device);
    EXPECT_EQ(engine().micRate(), device->sampleRate);
    ASSERT_TRUE(streaming(out));
    auto micPlayer = playOn(feed, voice);
    auto meetingPlayer = playOn(speakers, meeting);
    ASSERT_TRUE(out.hears({700, 1300}, 0.1));
    const auto stream = out.collect(1.0);
    engine().stop();
    EXPECT_NEAR(steadyToneAmplitude(stream, 24000, 700), 0.25, 0.05);
    EXPECT_NEAR(steadyToneAmplitude(stream, 24000, 1300), 0.25, 0.05);

    const WavContents wav = readWav(archive);
    ASSERT_TRUE(wav.valid);
    EXPECT_EQ(wav.sampleRate, 48000);
    ASSERT_GT(wav.left.size(), 48000u);
    EXPECT_TRUE(separateChannels(wav, 700, 1300));
}

INSTANTIATE_TEST_SUITE_P(Rates, TapRates, testing::Values(48000, 44100));

// A session narrowed to one application stays on it when the default output changes.
TEST_F(CaptureEngine, ANarrowedSessionKeepsItsApplicationWhenTheDefaultOutputChanges) {
    auto zoom = playAs(QStringLiteral("test.zoom"),
                       makeTone(m_files.path(), QStringLiteral("z.wav"), 20, 1300));
    auto meet = playAs(QStringLiteral("test.meet"),
                       makeTone(m_files.path(), QStringLiteral("m.wav"), 20, 2100));
    const std::optional<uint32_t> zoomObject = playing(QStringLiteral("test.zoom"));
    ASSERT_TRUE(zoomObject && playing(QStringLiteral("test.meet")));
    ASSERT_EQ(startOnOutput(engine(), StreamSource::meetingOnly), std::nullopt);
    ASSERT_EQ(engine().retarget(TapTarget::process(*zoomObject)), std::nullopt);
    ASSERT_TRUE(out.hears({1300}));

    ASSERT_TRUE(m_server.pactl({QStringLiteral("set-default-sink"), QStringLiteral("headset")}));
    out.collect(1.0); // time for the change to reach the capture
    const auto stream = out.collect(0.5);
    EXPECT_NEAR(steadyToneAmplitude(stream, 24000, 1300), 0.5, 0.05);
    EXPECT_LT(toneAmplitude(stream, 24000, 2100), 0.005);
    EXPECT_EQ(engine().tapCapture().target(), TapTarget::process(*zoomObject));
    EXPECT_TRUE(out.errors.isEmpty());
    engine().stop();
}

// A 5.1 output (HDMI to a receiver) with the dialogue on its centre: the meeting keeps the
// voice at the level of its stereo rendering (-3 dB on each side), not a sixth of it.
TEST_F(CaptureEngine, ACentreChannelVoiceOnA51OutputKeepsItsLevel) {
    const QString map =
        QStringLiteral("front-left,front-right,front-center,lfe,rear-left,rear-right");
    ASSERT_TRUE(m_server.pactl({QStringLiteral("load-module"), QStringLiteral("module-null-sink"),
                                QStringLiteral("sink_name=hdmi51"), QStringLiteral("rate=48000"),
                                QStringLiteral("channels=6"), u"channel_map="_s + map}));
    ASSERT_TRUE(m_server.pactl({QStringLiteral("set-default-sink"), QStringLiteral("hdmi51")}));
    const QString centre = file(QStringLiteral("centre.wav"));
    ASSERT_EQ(
        QProcess::execute(QStringLiteral("sox"), {QStringLiteral("-n"),    QStringLiteral("-r"),
                                                  QStringLiteral("48000"), QStringLiteral("-c"),
                                                  QStringLiteral("6"),     QStringLiteral("-b"),
                                                  QStringLiteral("16"),    centre,
                                                  QStringLiteral("synth"), QStringLiteral("8"),
                                                  QStringLiteral("sine"),  QStringLiteral("1300"),
                                                  QStringLiteral("vol"),   QStringLiteral("0.5"),
                                                  QStringLiteral("remix"), QStringLiteral("0"),
                                                  QStringLiteral("0"),     QStringLiteral("1"),
                                                  QStringLiteral("0"),     QStringLiteral("0"),
                                                  QStringLiteral("0")}),
        0);
    ASSERT_EQ(startOnOutput(engine(), StreamSource::meetingOnly), std::nullopt);
    ASSERT_TRUE(engine().tapCapture().format());
    ASSERT_EQ(engine().tapCapture().format()->channels, 6);
    ASSERT_TRUE(streaming(out));
    auto player = playOn(QStringLiteral("hdmi51"), centre, {u"--channel-map="_s + map});
    ASSERT_TRUE(out.hears({1300}, 0.05));
    const auto stream = out.collect(0.5);
    engine().stop();
    const double db = 20 * std::log10(steadyToneAmplitude(stream, 24000, 1300) / (0.5 * M_SQRT1_2));
    EXPECT_NEAR(db, 0.0, 1.0);
}

// A call app on a headset that is not the default output is heard, and said so; a sound on
// the default meanwhile does not pull the capture away, and the end of the call does.
TEST_F(CaptureEngine, TheOutputWhereTheCallPlaysIsHeardRatherThanASilentDefault) {
    const QString call = makeTone(m_files.path(), QStringLiteral("h.wav"), 20, 1700);
    const QString chime = makeTone(m_files.path(), QStringLiteral("s.wav"), 20, 1300);
    auto headset = playOn(QStringLiteral("headset"), call);
    ASSERT_TRUE(waitUntil([] { return !ProcessTapCapture::runningAudioProcesses().isEmpty(); }));
    ASSERT_EQ(startOnOutput(engine(), StreamSource::meetingOnly), std::nullopt);
    ASSERT_TRUE(streaming(out));
    ASSERT_TRUE(out.hears({1700}));
    ASSERT_TRUE(waitUntil([&] { return out.heardOutputs == QStringList{u"FakeHeadset"_s}; }));

    auto speakers = playOn(QStringLiteral("speakers"), chime);
    ASSERT_TRUE(waitUntil([] { return ProcessTapCapture::runningAudioProcesses().size() == 2; }));
    out.collect(0.5); // past the look that follows the new stream
    auto stream = out.collect(0.3);
    EXPECT_GT(toneAmplitude(stream, 24000, 1700), 0.2);
    EXPECT_LT(toneAmplitude(stream, 24000, 1300), 0.005);

    headset.reset();
    ASSERT_TRUE(out.hears({1300}));
    EXPECT_EQ(out.heardOutputs, (QStringList{u"FakeHeadset"_s, u"FakeSpeakers"_s}));
    EXPECT_TRUE(out.errors.isEmpty()) << out.errors.join(u'\n').toStdString();
    engine().stop();
}

// With sound on both, the default output is heard, and a new default takes over.
TEST_F(CaptureEngine, ADefaultOutputChangeRestartsTheTapOnTheNewOutput) {
    auto headset = playOn(QStringLiteral("headset"),
                          makeTone(m_files.path(), QStringLiteral("h.wav"), 20, 1700));
    auto speakers = playOn(QStringLiteral("speakers"),
                           makeTone(m_files.path(), QStringLiteral("s.wav"), 20, 1300));
    ASSERT_TRUE(waitUntil([] { return ProcessTapCapture::runningAudioProcesses().size() == 2; }));
    ASSERT_EQ(startOnOutput(engine(), StreamSource::meetingOnly), std::nullopt);
    ASSERT_TRUE(streaming(out));
    ASSERT_TRUE(out.hears({1300}));
    auto stream = out.collect(0.3);
    EXPECT_LT(toneAmplitude(stream, 24000, 1700), 0.005); // the headset is not tapped yet

    ASSERT_TRUE(m_server.pactl({QStringLiteral("set-default-sink"), QStringLiteral("headset")}));
    ASSERT_TRUE(out.hears({1700}));
    EXPECT_TRUE(engine().isRunning());
    EXPECT_TRUE(engine().tapCapture().isRunning());
    EXPECT_TRUE(out.errors.isEmpty());
    engine().stop();
}

// Both streams fail within milliseconds when the server goes; whichever report is handled
// first, the banner tells the loss, never the failed reconnection that follows it.
// The sound server killed and started again (a crash, `systemctl --user restart …`): said once,
// capture resumes by itself, and the recording is one file with the gap as silence.
TEST_F(CaptureEngine, AKilledServerIsToldOnceAndCaptureResumesWhenItIsBack) {
    for (int run = 0; run < 3; ++run) {
        SCOPED_TRACE(run);
        Engine engine;
        Output out;
        out.attach(engine);
        const QString archive = file(QStringLiteral("killed%1.wav").arg(run));
        ASSERT_EQ(startOnOutput(engine, StreamSource::both, archive), std::nullopt);
        ASSERT_TRUE(streaming(out));
        QElapsedTimer streamed;
        streamed.start();
        out.collect(0.3);
        ASSERT_TRUE(m_server.stop());
        ASSERT_TRUE(waitUntil([&] { return !out.errors.isEmpty(); }));
        // A second banner would follow within milliseconds: give it the time to show.
        waitUntil([] { return false; }, 300);
        ASSERT_EQ(out.errors.size(), 1);
        EXPECT_EQ(out.errors.first(),
                  u"The sound server stopped (Connection terminated). Capture resumes as soon "
                  u"as it is back; the recording keeps the gap as silence."_s);

        ASSERT_TRUE(m_server.start());
        auto meeting = playOn(QStringLiteral("speakers"),
                              makeTone(m_files.path(), QStringLiteral("r.wav"), 20, 1300));
        ASSERT_TRUE(waitUntil([&] { return out.errors.size() >= 2; }, 8000));
        EXPECT_EQ(out.errors[1], u"The sound server is back; capture has resumed."_s);
        // A fresh server's outputs take a moment before their first data: not a gap of ours.
        const qint64 back = streamed.elapsed();
        ASSERT_TRUE(out.hears({1300}, 0.15));
        const qint64 firstData = streamed.elapsed() - back;
        EXPECT_TRUE(engine.isRunning());
        engine.stop();
        const WavContents wav = readWav(archive);
        ASSERT_TRUE(wav.valid);
        EXPECT_GT(double(wav.left.size()) / 48000, (streamed.elapsed() - firstData) / 1000.0 - 0.3)
            << "the time without a server is in the file, as silence";
    }
}

// A server that hangs instead of ending (it takes connections and never answers) can make each
// look for it last seconds: the window must not wait for them.
TEST_F(CaptureEngine, AHangingServerNeverHoldsUpTheMainThread) {
    Engine engine;
    Output out;
    out.attach(engine);
    ASSERT_EQ(startOnOutput(engine, StreamSource::meetingOnly), std::nullopt);
    ASSERT_TRUE(m_server.stop());
    ASSERT_TRUE(waitUntil([&] { return !out.errors.isEmpty(); }));
    const QByteArray path = m_server.server().mid(int(qstrlen("unix:"))).toUtf8();
    ::unlink(path.constData());
    const int hanging = ::socket(AF_UNIX, SOCK_STREAM, 0);
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    qstrncpy(address.sun_path, path.constData(), sizeof address.sun_path);
    ASSERT_EQ(::bind(hanging, reinterpret_cast<sockaddr*>(&address), sizeof address), 0);
    ASSERT_EQ(::listen(hanging, 16), 0);

    QElapsedTimer clock;
    clock.start();
    qint64 last = 0, longestGap = 0;
    QTimer tick;
    QObject::connect(&tick, &QTimer::timeout, [&] {
        longestGap = std::max(longestGap, clock.elapsed() - last);
        last = clock.elapsed();
    });
    tick.start(20);
    // Long enough for a look at the server to wait out the whole connection limit.
    waitUntil([] { return false; }, PulseConnection::connectTimeoutMs + 500);
    EXPECT_LT(longestGap, PulseConnection::connectTimeoutMs / 3) << "the main thread waited";
    engine.stop();
    ::close(hanging);
}

TEST_F(CaptureEngine, AMicrophoneTheServerRemovesIsNamedInTheError) {
    ASSERT_EQ(engine().start(DeviceChannels{QStringLiteral("fakemic"), 0, {}},
                             StreamSource::micOnly, false, {}),
              std::nullopt);
    const auto modules = m_server.pactlOutput({u"list"_s, u"short"_s, u"modules"_s});
    ASSERT_TRUE(modules);
    QString module;
    for (const QString& line : modules->split(u'\n'))
        if (line.contains(u"source_name=fakemic"_s))
            module = line.section(u'\t', 0, 0);
    ASSERT_FALSE(module.isEmpty()) << modules->toStdString();
    ASSERT_TRUE(m_server.pactl({u"unload-module"_s, module}));
    ASSERT_TRUE(waitUntil([&] { return !out.errors.isEmpty(); }));
    EXPECT_EQ(out.errors.first(),
              u"The sound server ended the microphone recording on FakeMic: Entity killed."_s);
    engine().stop();
}

namespace {
// The index of the module that made `source`, for unloading it as a pulled plug would.
QString moduleOf(PrivateSoundServer& server, const QString& source) {
    const auto modules = server.pactlOutput({u"list"_s, u"short"_s, u"modules"_s});
    for (const QString& line : modules.value_or(QString()).split(u'\n'))
        if (line.contains(u"source_name="_s + source + u' '))
            return line.section(u'\t', 0, 0);
    return {};
}
} // namespace

// The meeting needs no microphone: one unplugged mid-session leaves the meeting streaming and
// recorded beside a silent left channel, and another input is taken when there is one.
TEST_F(CaptureEngine, AMicrophoneLostMidSessionLeavesTheMeetingRunning) {
    auto meeting = playOn(QStringLiteral("speakers"),
                          makeTone(m_files.path(), QStringLiteral("m.wav"), 30, 1300));
    ASSERT_EQ(engine().start(SystemTap{TapTarget::systemOutput(), u"fakemic"_s, 0},
                             StreamSource::both, true, file(u"lost.wav"_s)),
              std::nullopt);
    ASSERT_TRUE(out.hears({1300}, 0.15));
    QElapsedTimer heard; // from the first meeting block on, every moment is recorded
    heard.start();
    const QString module = moduleOf(m_server, u"fakemic"_s);
    ASSERT_FALSE(module.isEmpty());
    ASSERT_TRUE(m_server.pactl({u"unload-module"_s, module}));
    ASSERT_TRUE(waitUntil([&] { return !out.errors.isEmpty(); }));
    EXPECT_EQ(out.errors.first(), u"The microphone FakeMic was lost. The meeting is still heard "
                                  u"and recorded; your side is silent until a microphone is "
                                  u"back."_s);
    // The 4-channel interface is the input left: it becomes the microphone.
    ASSERT_TRUE(waitUntil([&] { return out.errors.size() >= 2; },
                          int(Engine::micPollSeconds * 1000) + 3000));
    EXPECT_EQ(out.errors[1], u"The microphone FakeInterface4ch is back."_s);
    ASSERT_TRUE(out.hears({1300}, 0.15)) << "the meeting still reaches the model";
    engine().stop();
    const WavContents wav = readWav(file(u"lost.wav"_s));
    ASSERT_TRUE(wav.valid);
    EXPECT_GT(double(wav.right.size()) / 48000, heard.elapsed() / 1000.0)
        << "no stretch of the session is missing from the recording";
}

// A computer whose only inputs are monitors can still send the meeting alone.
TEST_F(CaptureEngine, WithoutAnyMicrophoneOnlyTheMeetingCanStart) {
    for (const QString& source : {u"fakemic"_s, u"iface4"_s})
        ASSERT_TRUE(m_server.pactl({u"unload-module"_s, moduleOf(m_server, source)}));
    auto meeting = playOn(QStringLiteral("speakers"),
                          makeTone(m_files.path(), QStringLiteral("m.wav"), 30, 1300));
    Engine engine;
    EXPECT_EQ(
        engine.start(SystemTap{TapTarget::systemOutput(), {}, 0}, StreamSource::both, false, {}),
        AudioFailure{Engine::description(Engine::EngineError::noDevice)});
    Output out;
    out.attach(engine);
    ASSERT_EQ(engine.start(SystemTap{TapTarget::systemOutput(), {}, 0}, StreamSource::meetingOnly,
                           false, {}),
              std::nullopt);
    ASSERT_TRUE(out.hears({1300}));
    ASSERT_TRUE(waitUntil([&] { return !out.errors.isEmpty(); }));
    EXPECT_EQ(out.errors.first(), u"No microphone was found. The meeting is heard and recorded; "
                                  u"your side is silent until a microphone is connected."_s);
    engine.stop();
}

TEST_F(CaptureEngine, AFailedStartLeavesNothingRunningAndNoFile) {
    Engine engine;
    const QString archive = file(QStringLiteral("never.wav"));
    const auto failure =
        engine.start(SystemTap{TapTarget::process(999999), QStringLiteral("fakemic"), 0},
                     StreamSource::both, true, archive);
    ASSERT_TRUE(failure);
    EXPECT_EQ(failure->description, QStringLiteral("Could not find the audio to record (error 5): "
                                                   "its output or app stream has gone."));
    EXPECT_FALSE(engine.isRunning());
    EXPECT_FALSE(engine.tapCapture().isRunning());
    EXPECT_FALSE(QFileInfo::exists(archive));
    EXPECT_TRUE(engine.recordingPath().isEmpty());
    // The engine starts normally afterwards.
    EXPECT_EQ(engine.start(SystemTap{TapTarget::systemOutput(), QStringLiteral("fakemic"), 0},
                           StreamSource::both, true, archive),
              std::nullopt);
    engine.stop();
    EXPECT_TRUE(readWav(archive).valid);
}

TEST_F(CaptureEngine, AMicrophoneRefusalIsMicDenied) {
    Engine engine([] { return false; });
    const auto failure = engine.start(DeviceChannels{QStringLiteral("fakemic"), 0, {}},
                                      StreamSource::micOnly, false, {});
    ASSERT_TRUE(failure);
    EXPECT_EQ(failure->description, AudioCaptureEngineInterface::description(
                                        AudioCaptureEngineInterface::EngineError::micDenied));
}

TEST(CaptureWithoutServer, NoServerIsSaidAsSuchByTheEngineAndTheTap) {
    QTemporaryDir dir;
    const QString nowhere = QStringLiteral("unix:") + dir.path() + QStringLiteral("/none/native");
    Engine engine({}, nowhere);
    const auto failure = engine.start(DeviceChannels{QStringLiteral("fakemic"), 0, {}},
                                      StreamSource::micOnly, true, dir.filePath("x.wav"));
    ASSERT_TRUE(failure);
    EXPECT_EQ(failure->description,
              QStringLiteral("The sound server is not running, so nothing can be recorded. Start "
                             "PipeWire or PulseAudio (or log in again), then press Start."));
    EXPECT_FALSE(QFileInfo::exists(dir.filePath("x.wav")));

    ProcessTapCapture tap(nowhere);
    const auto error = tap.start(TapTarget::systemOutput());
    ASSERT_TRUE(error);
    EXPECT_EQ(error->kind, ProcessTapCapture::TapErrorKind::serverNotRunning);
    EXPECT_EQ(error->status, 6); // connection refused
    EXPECT_FALSE(tap.isRunning());
    EXPECT_FALSE(tap.format());
    tap.cleanUp();
    tap.cleanUp();
}

TEST(TapErrorText, EachCaseWithItsCode) {
    using Kind = ProcessTapCapture::TapErrorKind;
    struct Case {
        Kind kind;
        int32_t status;
        const char* text;
    };
    for (const Case& c :
         {Case{Kind::serverNotRunning, 6,
               "The sound server is not running, so nothing can be recorded. Start PipeWire or "
               "PulseAudio (or log in again), then press Start."},
          Case{Kind::tapFailed, 6,
               "Could not connect to the sound server (error 6): it may be slow or restarting. "
               "Press Start again; if it keeps failing, restart PipeWire or PulseAudio."},
          Case{Kind::aggregateFailed, -5,
               "Could not find the audio to record (error -5): its output or app stream has gone."},
          Case{Kind::ioProcFailed, 3, "Could not start reading the tapped audio (error 3)."},
          Case{Kind::unsupported, 0,
               "Capturing this computer's audio needs PipeWire or PulseAudio."},
          Case{Kind::formatUnavailable, 0, "The tapped audio stream reported no usable format."}}) {
        EXPECT_EQ(ProcessTapCapture::TapError({c.kind, c.status}).description(),
                  QString::fromUtf8(c.text));
    }
}

TEST_F(CaptureEngine, TheTapIgnoresASecondStartAndTearsDownRepeatedly) {
    ProcessTapCapture tap;
    int interruptions = 0;
    tap.onInterrupted = [&](const std::optional<StreamFault>&) { ++interruptions; };
    int changes = 0;
    tap.onOutputsChanged = [&](bool defaultChanged) {
        EXPECT_TRUE(defaultChanged);
        ++changes;
    };
    ASSERT_EQ(tap.start(TapTarget::systemOutput()), std::nullopt);
    EXPECT_TRUE(tap.isRunning());
    EXPECT_EQ(tap.start(TapTarget::process(12345)), std::nullopt);
    EXPECT_EQ(tap.target(), TapTarget::systemOutput());
    // A change of the default output is reported on the main thread, as no failure.
    ASSERT_TRUE(m_server.pactl({QStringLiteral("set-default-sink"), QStringLiteral("headset")}));
    ASSERT_TRUE(waitUntil([&] { return changes == 1; }));
    ASSERT_TRUE(m_server.pactl({QStringLiteral("set-default-sink"), QStringLiteral("speakers")}));
    tap.stop();
    QCoreApplication::processEvents();
    QThread::msleep(100);
    QCoreApplication::processEvents();
    EXPECT_EQ(changes, 1);
    EXPECT_EQ(interruptions, 0);
    EXPECT_FALSE(tap.format());
    tap.cleanUp();
    tap.cleanUp();
    EXPECT_FALSE(tap.isRunning());
}

// A server that delivers from the first moment (PipeWire) once crashed a start that had not
// read the stream's format yet; blocks come whole and in the stream's own channel count, also
// when a recorder moves from one stream to another.
TEST_F(CaptureEngine, RecordersStartedAgainAndAgainDeliverOnlyWholeBlocks) {
    const QString tone = makeTone(m_files.path(), QStringLiteral("m.wav"), 20, 700, 0.5, 1);
    auto feed = playOn(QStringLiteral("mic_feed"), tone);
    auto music = playOn(QStringLiteral("speakers"), tone);
    PulseRecorder::Source microphone;
    microphone.name = QStringLiteral("fakemic");
    PulseRecorder::Source output;
    output.kind = PulseRecorder::Source::Kind::output;
    std::atomic<int> blocks{0}, wrong{0}, channels{0};
    const auto count = [&](const FloatAudioBuffer& block) {
        ++blocks;
        if (block.channelCount != channels || block.frameLength <= 0)
            ++wrong;
    };
    for (int i = 0; i < 10; ++i) {
        PulseRecorder recorder(QStringLiteral("test"));
        recorder.onBlock = count;
        // The output's monitor has two channels, the microphone one.
        for (const PulseRecorder::Source& source : {output, microphone}) {
            channels = source.kind == PulseRecorder::Source::Kind::output ? 2 : 1;
            const auto started = recorder.start(source, 480);
            ASSERT_TRUE(std::holds_alternative<PulseRecorder::Format>(started)) << i;
            EXPECT_EQ(std::get<PulseRecorder::Format>(started).channels, channels);
            if (i == 0) { // once on each: blocks do come
                EXPECT_TRUE(waitUntil([&] { return blocks > 0; }));
            }
            recorder.stop();
            blocks = 0;
        }
    }
    EXPECT_EQ(wrong, 0);
}

TEST_F(CaptureEngine, AFailedRetargetKeepsListeningToWhatItHeardBefore) {
    const QString tone = makeTone(m_files.path(), QStringLiteral("t.wav"), 20, 1300);
    ASSERT_EQ(startOnOutput(engine(), StreamSource::meetingOnly), std::nullopt);
    const auto failure = engine().retarget(TapTarget::process(999999));
    ASSERT_TRUE(failure);
    EXPECT_EQ(failure->description, QStringLiteral("Could not find the audio to record (error 5): "
                                                   "its output or app stream has gone."));
    EXPECT_TRUE(engine().tapCapture().isRunning());
    EXPECT_EQ(engine().tapCapture().target(), TapTarget::systemOutput());
    auto player = playOn(QStringLiteral("speakers"), tone);
    EXPECT_TRUE(out.hears({1300}));
    engine().stop();
    // Retargeting a stopped engine, or one in device mode, does nothing.
    EXPECT_EQ(engine().retarget(TapTarget::process(999999)), std::nullopt);
    EXPECT_FALSE(engine().tapCapture().isRunning());
}

namespace {

// How long the server lets the speakers run ahead, in ms, as it reports it: PulseAudio's
// configured latency of the sink. PipeWire's layer reports none for a null sink (0 usec); its
// graph runs at the shortest period any stream asks for, so there it is what the recording
// asks (node.latency of the source output).
std::optional<double> outputLatencyMs(const PrivateSoundServer& server, const QString& sink) {
    const QString info = server.pactlOutput({u"info"_s}).value_or(QString());
    if (info.contains(u"on PipeWire"_s)) {
        const QString outputs =
            server.pactlOutput({u"list"_s, u"source-outputs"_s}).value_or(QString());
        const auto match =
            QRegularExpression(uR"re(node\.latency = "(\d+)/(\d+)")re"_s).match(outputs);
        if (!match.hasMatch() || match.captured(2).toDouble() <= 0)
            return std::nullopt;
        return 1000 * match.captured(1).toDouble() / match.captured(2).toDouble();
    }
    const QString sinks = server.pactlOutput({u"list"_s, u"sinks"_s}).value_or(QString());
    const qsizetype speakers = sinks.indexOf(u"Name: "_s + sink);
    const auto match = QRegularExpression(u"configured (\\d+) usec"_s).match(sinks, speakers);
    if (speakers < 0 || !match.hasMatch())
        return std::nullopt;
    return match.captured(1).toDouble() / 1000;
}

} // namespace

// Recording what the computer plays must not shorten the output's period (more wake-ups, and
// crackle on weak machines), while the meeting still comes in a steady rhythm: a model chunk
// (100 ms) a block, PipeWire's at most one of its periods (2048 frames) late.
TEST_F(CaptureEngine, TheTapLeavesTheOutputALongPeriodAndStillDeliversSteadily) {
    using Clock = std::chrono::steady_clock;
    // The fake speakers, and an output at 44.1 kHz, whose 100 ms are not 4800 frames.
    ASSERT_TRUE(m_server.pactl({u"load-module"_s, u"module-null-sink"_s, u"sink_name=cd"_s,
                                u"rate=44100"_s, u"channels=2"_s}));
    for (const QString& sink : {u"speakers"_s, u"cd"_s}) {
        SCOPED_TRACE(sink.toStdString());
        ASSERT_TRUE(m_server.pactl({u"set-default-sink"_s, sink}));
        const QString tone = makeTone(m_files.path(), QStringLiteral("t.wav"), 20, 700);
        auto music = playOn(sink, tone);
        std::mutex lock; // before the tap: no block may come once they are gone
        std::vector<Clock::time_point> arrivals;
        ProcessTapCapture tap;
        tap.onAudio = [&](const FloatAudioBuffer&) {
            std::lock_guard guard(lock);
            arrivals.push_back(Clock::now());
        };
        const auto span = [&] {
            std::lock_guard guard(lock);
            return arrivals.empty() ? Clock::duration{} : arrivals.back() - arrivals.front();
        };
        ASSERT_EQ(tap.start(TapTarget::systemOutput()), std::nullopt);
        // An idle null sink sends its first data up to two seconds late; the rhythm counts after.
        ASSERT_TRUE(waitUntil([&] { return span() > Clock::duration{}; }));
        {
            std::lock_guard guard(lock);
            arrivals.erase(arrivals.begin(), arrivals.end() - 1);
        }
        ASSERT_TRUE(waitUntil([&] { return span() >= std::chrono::seconds(2); }));
        double longestMs = 0;
        {
            std::lock_guard guard(lock);
            for (size_t i = 1; i < arrivals.size(); ++i)
                longestMs = std::max(longestMs, std::chrono::duration<double, std::milli>(
                                                    arrivals[i] - arrivals[i - 1])
                                                    .count());
        }
        EXPECT_LE(longestMs, 100 + 2048 / 48.0 + 10);
        const auto latency = outputLatencyMs(m_server, sink);
        ASSERT_TRUE(latency);
        EXPECT_GE(*latency, 35);
        tap.stop();
    }
}
