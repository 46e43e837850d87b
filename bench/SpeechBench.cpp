// Real-time factor and memory of on-device speech: the live path (48 kHz microphone blocks of
// 10 ms → resampler → live decoder, interim texts every 100 ms) and the batch path (a stereo
// 48 kHz recording through the recording transcriber). Input: Debian's LibriVox clips.
#include "speech/MicTranscriber.h"
#include "speech/RecordingTranscriber.h"
#include "speech/SpeechResampler.h"
#include "speech/sphinx/SphinxEngine.h"

#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QProcess>
#include <QTemporaryDir>

#include <benchmark/benchmark.h>
#include <sndfile.h>

#include <chrono>
#include <thread>

namespace {
const QString kLibriVox = QStringLiteral("/usr/share/pocketsphinx/test/data/librivox/");

// Resident and peak resident memory of this process, in MB.
double memoryMB(const char* field) {
    QFile status(QStringLiteral("/proc/self/status"));
    if (!status.open(QIODevice::ReadOnly))
        return 0;
    for (const QByteArray& line : status.readAll().split('\n')) {
        if (line.startsWith(field))
            return line.mid(int(strlen(field))).trimmed().split(' ').first().toDouble() / 1024.0;
    }
    return 0;
}

struct Corpus {
    QTemporaryDir dir;
    QString mono48k;   // all five clips, 48 kHz mono float
    QString stereo48k; // clips on the right, the same clips reversed on the left
    std::vector<float> samples;

    Corpus() {
        const QStringList clips =
            QDir(kLibriVox).entryList({QStringLiteral("*.wav")}, QDir::Files, QDir::Name);
        QStringList inputs;
        for (const QString& clip : clips)
            inputs << kLibriVox + clip;
        mono48k = dir.filePath(QStringLiteral("mono.wav"));
        const QString reversed = dir.filePath(QStringLiteral("reversed.wav"));
        stereo48k = dir.filePath(QStringLiteral("stereo.wav"));
        QProcess::execute(QStringLiteral("sox"),
                          QStringList(inputs)
                              << QStringLiteral("-r") << QStringLiteral("48000")
                              << QStringLiteral("-e") << QStringLiteral("float") << mono48k);
        QProcess::execute(QStringLiteral("sox"), {mono48k, reversed, QStringLiteral("reverse")});
        QProcess::execute(QStringLiteral("sox"),
                          {QStringLiteral("-M"), reversed, mono48k, QStringLiteral("-b"),
                           QStringLiteral("16"), QStringLiteral("-e"), QStringLiteral("signed"),
                           stereo48k});
        SF_INFO info{};
        SNDFILE* file = sf_open(QFile::encodeName(mono48k).constData(), SFM_READ, &info);
        if (file) {
            samples.resize(size_t(info.frames));
            sf_readf_float(file, samples.data(), info.frames);
            sf_close(file);
        }
    }
};

Corpus& corpus() {
    static Corpus instance;
    return instance;
}
} // namespace

static void BM_LivePath(benchmark::State& state) {
    const std::vector<float>& samples = corpus().samples;
    SphinxEngine engine;
    const double before = memoryMB("VmRSS:");
    auto created = engine.createStream(SpeechEngine::Mode::live);
    if (!created.stream) {
        state.SkipWithError("no English model");
        return;
    }
    SpeechStream& stream = *created.stream;
    SpeechResampler resampler(48000, SpeechEngine::sampleRate);
    std::vector<int16_t> converted;
    size_t characters = 0;
    for (auto _ : state) {
        stream.begin();
        int sinceInterim = 0;
        for (size_t offset = 0; offset < samples.size(); offset += 480) {
            converted.clear();
            resampler.process(samples.data() + offset,
                              int(std::min<size_t>(480, samples.size() - offset)), converted);
            stream.feed(converted.data(), int(converted.size()));
            sinceInterim += int(converted.size());
            if (sinceInterim >= 1600) {
                sinceInterim = 0;
                benchmark::DoNotOptimize(stream.interim());
            }
        }
        converted.clear();
        resampler.flush(converted);
        stream.feed(converted.data(), int(converted.size()));
        characters = size_t(stream.finish().text.size());
    }
    const double audioSeconds = double(samples.size()) / 48000.0;
    // Wall seconds per second of audio.
    state.counters["rtf"] = benchmark::Counter(
        audioSeconds, benchmark::Counter::kIsIterationInvariantRate | benchmark::Counter::kInvert);
    state.counters["decoder_MB"] = memoryMB("VmRSS:") - before;
    state.counters["peak_rss_MB"] = memoryMB("VmHWM:");
    state.counters["chars"] = double(characters);
}
BENCHMARK(BM_LivePath)->Unit(benchmark::kMillisecond)->UseRealTime()->Iterations(3);

static void BM_BatchPath(benchmark::State& state) {
    auto engine = std::make_shared<SphinxEngine>();
    RecordingTranscriber transcriber(engine, QStringLiteral("en_US"));
    const double before = memoryMB("VmRSS:");
    for (auto _ : state) {
        const auto result = transcriber.run(corpus().stereo48k, {});
        if (!std::holds_alternative<QString>(result)) {
            state.SkipWithError("transcription failed");
            return;
        }
    }
    const double audioSeconds = double(corpus().samples.size()) / 48000.0;
    // Wall seconds per second of the recording (both channels are recognised).
    state.counters["rtf"] = benchmark::Counter(
        audioSeconds, benchmark::Counter::kIsIterationInvariantRate | benchmark::Counter::kInvert);
    state.counters["growth_MB"] = memoryMB("VmRSS:") - before;
    state.counters["peak_rss_MB"] = memoryMB("VmHWM:");
}
BENCHMARK(BM_BatchPath)->Unit(benchmark::kMillisecond)->UseRealTime()->Iterations(2);

// What the user waits for: the time from the end of an answer to its final text, with the
// microphone's blocks arriving in real time from a capture thread, as in a session.
static void BM_LiveFinalLatency(benchmark::State& state) {
    const std::vector<float>& all = corpus().samples;
    // The last clip alone (about 3 s): "he might even have been made amiable himself".
    const std::vector<float> clip(all.end() - std::min<ptrdiff_t>(ptrdiff_t(all.size()), 158000),
                                  all.end());
    MicTranscriber transcriber(std::make_shared<SphinxEngine>(), systemClock(),
                               QStringLiteral("en_US"));
    bool finished = false;
    transcriber.onFinal = [&finished](const QString&) { finished = true; };
    for (auto _ : state) {
        finished = false;
        transcriber.begin();
        std::atomic<bool> fed{false};
        std::thread capture([&] {
            auto next = std::chrono::steady_clock::now();
            for (size_t offset = 0; offset + 480 <= clip.size(); offset += 480) {
                transcriber.append(clip.data() + offset, 480, 48000.0);
                next += std::chrono::milliseconds(10);
                std::this_thread::sleep_until(next);
            }
            fed = true;
        });
        while (!fed)
            QCoreApplication::processEvents(QEventLoop::AllEvents, 5);
        capture.join();
        transcriber.end();
        QElapsedTimer waited;
        waited.start();
        while (transcriber.hasOpenTask() && waited.elapsed() < 5000)
            QCoreApplication::processEvents(QEventLoop::AllEvents, 1);
        state.SetIterationTime(double(waited.nsecsElapsed()) / 1e9);
        if (!finished)
            state.SkipWithError("no final text");
    }
}
BENCHMARK(BM_LiveFinalLatency)->Unit(benchmark::kMillisecond)->UseManualTime()->Iterations(3);

int main(int argc, char** argv) {
    QCoreApplication app(argc, argv); // the mic transcriber delivers through its event loop
    benchmark::Initialize(&argc, argv);
    if (benchmark::ReportUnrecognizedArguments(argc, argv))
        return 1;
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
