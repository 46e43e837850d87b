#pragma once

#include <QByteArray>
#include <QProcess>
#include <QString>
#include <QStringList>
#include <QTemporaryDir>
#include <array>
#include <functional>
#include <gtest/gtest.h>
#include <memory>
#include <optional>
#include <vector>

// A PulseAudio daemon of one test's own (fake speakers, headset, microphone and a 4-channel
// interface, as scripts/pulse-test-daemon builds them), for tests that change the default
// output, kill the server, or must not hear other tests' players.
class PrivateSoundServer {
public:
    PrivateSoundServer();
    ~PrivateSoundServer();
    bool start();
    bool stop();
    QString server() const;
    pid_t pid() const;
    // Points this process (and the programs it starts) at the daemon. Call before the first
    // connection to any sound server in the process.
    void useForThisProcess() const;
    // pactl against this daemon; true on success.
    bool pactl(const QStringList& arguments) const;
    // Its output; absent on failure.
    std::optional<QString> pactlOutput(const QStringList& arguments) const;
    // Moves a playing stream to the named output, as the user does from the volume control;
    // true once the server reports it there.
    bool moveSinkInput(uint32_t index, const QString& sink) const;

private:
    // The second column of the `pactl list short` line of `kind` whose index is `index`.
    QString listedField(const QString& kind, uint32_t index) const;

    QTemporaryDir m_dir;
};

// A real program on the sound server (paplay playing a file), killed when it goes.
class SoundPeer {
public:
    SoundPeer(const QString& program, const QStringList& arguments);
    ~SoundPeer();
    // Waits, with the event loop turning, until the program has ended.
    bool finished(int timeoutMs);
    int32_t pid() const;

private:
    QProcess m_process;
};

// paplay on `device` with a bundle identifier of its own, optionally its own client name.
std::unique_ptr<SoundPeer> playOn(const QString& device, const QString& file,
                                  const QStringList& extra = {});

// Files made by real tools into `dir`; empty on failure.
// Stereo unless `channels` says otherwise. A file for a mono device is made mono: servers
// down-mix stereo differently (PulseAudio averages, PipeWire sums at -3 dB).
QString makeTone(const QString& dir, const QString& name, double seconds, double frequency,
                 double volume = 0.5, int channels = 2);
// Silence, then the tone, then silence.
QString makeToneBurst(const QString& dir, const QString& name, double leadSeconds,
                      double toneSeconds, double tailSeconds, double frequency);
// Four channels with one sine each.
QString makeQuad(const QString& dir, const QString& name, double seconds,
                 const std::array<double, 4>& frequencies);
// espeak-ng speaking `text`, with `leadSeconds` of silence before it, at 48 kHz mono.
QString makeSpeech(const QString& dir, const QString& name, const QString& text,
                   double leadSeconds);
// A flite voice ("slt", "rms", "awb"…) speaking `text` at 48 kHz mono, with silence before
// and after: the recognizer copes with flite, not with espeak-ng.
QString makeFliteSpeech(const QString& dir, const QString& name, const QString& voice,
                        const QString& text, double leadSeconds, double tailSeconds);

// The amplitude of one sine frequency in `samples` (Goertzel), about 0.5 for a sine of 0.5.
double toneAmplitude(const float* samples, size_t count, double rate, double frequency);
double toneAmplitude(const std::vector<float>& samples, double rate, double frequency);
// The tone's typical amplitude: the median over 50 ms windows. A real sound server on a busy
// machine may drop a block now and then; that shortens the tone without changing its level,
// while one amplitude over the whole span counts the gap and the phase jump after it.
double steadyToneAmplitude(const std::vector<float>& samples, double rate, double frequency);
double rms(const float* samples, size_t count);
std::vector<float> pcm16ToFloat(const QByteArray& pcm16);

struct WavContents {
    int sampleRate = 0;
    int channels = 0;
    std::vector<float> left, right;
    bool valid = false;
};
// Reads a WAV with libsndfile: a file whose header does not match its data reads as invalid.
WavContents readWav(const QString& path);

// The half second before the recording's last quarter: the left channel carries the `leftHz` sine
// at 0.5 and not the `rightHz` one, the right channel the other way round.
testing::AssertionResult separateChannels(const WavContents& wav, double leftHz, double rightHz);

// Spins the event loop until `condition` holds; the limit is a safety net.
bool waitUntil(const std::function<bool()>& condition, int timeoutMs = 8000);
