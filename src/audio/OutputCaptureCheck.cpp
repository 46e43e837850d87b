#include "audio/OutputCaptureCheck.h"

#include "audio/pulse/PulsePlayer.h"
#include "audio/pulse/PulseRecorder.h"
#include "base/Background.h"

#include <QDeadlineTimer>
#include <QThread>

#include <algorithm>
#include <cmath>
#include <numbers>

namespace {

constexpr int kToneRate = 48000;
// Long enough for the floor, the tone and the monitor's delay at rates up to 96 kHz.
constexpr size_t kRecordingCapacity = 8 * 48000;

// The tone, with 20 ms raised-cosine fades so that it starts and ends without a click.
std::vector<float> makeTone() {
    const int count = int(OutputCaptureCheck::toneSeconds * kToneRate);
    const int fade = kToneRate / 50;
    std::vector<float> tone(size_t(count), 0.0f);
    for (int i = 0; i < count; ++i) {
        double gain = 1;
        const int edge = std::min(i, count - 1 - i);
        if (edge < fade)
            gain = 0.5 - 0.5 * std::cos(std::numbers::pi * edge / fade);
        tone[size_t(i)] = float(
            OutputCaptureCheck::toneAmplitude * gain *
            std::sin(2 * std::numbers::pi * OutputCaptureCheck::toneFrequency * i / kToneRate));
    }
    return tone;
}

// The amplitude of `frequency` in `count` samples (Goertzel): 0.1 for a sine of 0.1.
double amplitudeAt(const float* samples, size_t count, double rate, double frequency) {
    if (count == 0)
        return 0;
    const double coefficient = 2 * std::cos(2 * std::numbers::pi * frequency / rate);
    double previous = 0, beforePrevious = 0;
    for (size_t i = 0; i < count; ++i) {
        const double current = samples[i] + coefficient * previous - beforePrevious;
        beforePrevious = previous;
        previous = current;
    }
    const double power = previous * previous + beforePrevious * beforePrevious -
                         coefficient * previous * beforePrevious;
    return 2 * std::sqrt(std::max(0.0, power)) / double(count);
}

// What the audio thread fills: a mono mix of the monitor in storage allocated up front.
struct Recording {
    std::vector<float> samples = std::vector<float>(kRecordingCapacity);
    std::atomic<size_t> count{0};

    void take(const FloatAudioBuffer& block) {
        size_t n = count.load(std::memory_order_relaxed);
        const float scale = block.channelCount > 0 ? 1.0f / float(block.channelCount) : 0.0f;
        for (int64_t i = 0; i < block.frameLength && n < samples.size(); ++i, ++n) {
            float sum = 0;
            for (int c = 0; c < block.channelCount; ++c)
                sum += block.channelData[c][i];
            samples[n] = sum * scale;
        }
        count.store(n, std::memory_order_release);
    }
};

struct Outcome {
    bool heard = false;
    QString message;
};

// Waits until `done` holds, the recorder stops or the check is cancelled; the pace is a poll
// of a few atomics, on a thread of the check's own.
bool waitUntil(const std::function<bool()>& done, const PulseRecorder& recorder,
               const std::atomic<bool>& cancelled, int timeoutMs) {
    const QDeadlineTimer deadline(timeoutMs);
    while (!done()) {
        if (deadline.hasExpired() || !recorder.isRecording() || cancelled.load())
            return false;
        QThread::msleep(10);
    }
    return true;
}

Outcome runCheck(const QString& server, const std::atomic<bool>& cancelled) {
    const QString notRecorded = QStringLiteral("Could not record what the computer plays: %1.");
    Recording recording;
    PulseRecorder recorder(QStringLiteral("Corvinel output check"), server);
    recorder.onBlock = [&recording](const FloatAudioBuffer& block) { recording.take(block); };
    PulseRecorder::Source source;
    source.kind = PulseRecorder::Source::Kind::output;
    const PulseRecorder::Result started =
        recorder.start(source, PulseRecorder::monitorFragmentFrames);
    if (const auto* failure = std::get_if<PulseRecorder::Failure>(&started))
        return {false, notRecorded.arg(failure->message)};
    const double rate = std::get<PulseRecorder::Format>(started).sampleRate;
    const auto frames = [&recording] { return recording.count.load(std::memory_order_acquire); };
    const auto stopped = [&]() -> Outcome {
        if (cancelled.load())
            return {};
        return {false, notRecorded.arg(QStringLiteral("the recording stopped"))};
    };

    // An idle output may take up to two seconds to deliver its first audio; then a fifth of a
    // second of what plays without the tone.
    if (!waitUntil([&] { return frames() > 0; }, recorder, cancelled, 3000)) {
        if (recorder.isRecording() && !cancelled.load())
            return {false, notRecorded.arg(QStringLiteral("no audio arrived"))};
        return stopped();
    }
    const size_t first = frames();
    if (!waitUntil([&] { return frames() >= first + size_t(rate / 5); }, recorder, cancelled, 2000))
        return stopped();

    const size_t toneStart = frames();
    PulsePlayer player(QStringLiteral("Corvinel test tone"), server);
    if (const auto failure = player.play(makeTone(), kToneRate, 1))
        return {false, QStringLiteral("Could not play the test tone: %1.").arg(*failure)};
    // The monitor hands over what was played a little later.
    const size_t played = frames();
    if (!waitUntil([&] { return frames() >= played + size_t(rate * 3 / 10); }, recorder, cancelled,
                   2000))
        return stopped();
    recorder.stop();
    // No callback runs any more: the samples are this thread's to read.
    const std::vector<float> heard(recording.samples.begin(),
                                   recording.samples.begin() + ptrdiff_t(frames()));
    if (OutputCaptureCheck::toneHeard(heard, toneStart, rate))
        return {true, {}};
    return {false, QStringLiteral("The test tone was not heard in the recording of what the "
                                  "computer plays. Check that the sound output is not muted.")};
}

} // namespace

OutputCaptureCheck::OutputCaptureCheck(QString server, QObject* parent)
    : QObject(parent), m_server(std::move(server)) {}

OutputCaptureCheck::~OutputCaptureCheck() {
    if (m_cancelled)
        m_cancelled->store(true);
}

void OutputCaptureCheck::start() {
    if (m_running)
        return;
    m_running = true;
    m_cancelled = std::make_shared<std::atomic<bool>>(false);
    // The application's pool is waited for when the application object goes, so no check
    // outlives it.
    runInBackground(
        this, [server = m_server, cancelled = m_cancelled] { return runCheck(server, *cancelled); },
        [this, cancelled = m_cancelled](const Outcome& outcome) {
            // A cancelled check has nobody left to tell.
            if (!cancelled->load())
                deliver(outcome.heard, outcome.message);
        });
}

void OutputCaptureCheck::deliver(bool heard, const QString& message) {
    m_running = false;
    m_cancelled.reset();
    emit finished(heard, message);
}

bool OutputCaptureCheck::toneHeard(const std::vector<float>& recording, size_t toneStart,
                                   double sampleRate) {
    // Digital silence measures zero; this is −80 dBFS, far below a tone at any usable volume.
    constexpr double minimumLevel = 1e-4;
    const size_t window = size_t(sampleRate / 20);
    if (window == 0 || toneStart > recording.size())
        return false;
    const auto levels = [&](size_t from, size_t to) {
        std::vector<double> result;
        for (size_t at = from; at + window <= to; at += window)
            result.push_back(amplitudeAt(recording.data() + at, window, sampleRate, toneFrequency));
        return result;
    };
    std::vector<double> before = levels(0, toneStart);
    double floor = 0;
    if (!before.empty()) {
        std::nth_element(before.begin(), before.begin() + ptrdiff_t(before.size() / 2),
                         before.end());
        floor = before[before.size() / 2];
    }
    // Four times the typical level before the tone: 12 dB above whatever else plays there.
    const double threshold = std::max(minimumLevel, 4 * floor);
    const auto after = levels(toneStart, recording.size());
    const auto loud = std::count_if(after.begin(), after.end(),
                                    [threshold](double level) { return level >= threshold; });
    const auto needed = ptrdiff_t(std::ceil(toneSeconds * 20 / 4));
    return loud >= needed;
}
