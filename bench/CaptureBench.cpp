// The capture engine's cost against sox doing the model stream's conversion alone, and the
// delay a meeting sample sees from the capture thread to the Realtime socket.
//
//   bench_capture            both measurements, side by side, with their ratio

#include "audio/ArchiveWriter.h"
#include "audio/CapturePipeline.h"
#include "realtime/RealtimeClient.h"
#include "support/FakeRealtimeServer.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QProcess>
#include <QTemporaryDir>
#include <benchmark/benchmark.h>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <thread>

namespace {

constexpr double kRate = 48000;
constexpr int kTapBlock = 960;  // the loopback capture's 20 ms blocks
constexpr int kMicBlock = 2048; // the microphone's blocks
constexpr int kSeconds = 10;    // audio per benchmark iteration

// A tap-mode pipeline at kRate for `channels` of tapped output.
void prepareTap(CapturePipeline& pipeline, CapturePipeline::StreamSource source, int channels,
                ArchiveWriter* archive = nullptr) {
    CapturePipeline::Setup setup;
    setup.usingTap = true;
    setup.micRate = kRate;
    setup.streamSource = source;
    pipeline.prepare(setup, archive);
    pipeline.setTapFormat(kRate, channels);
}

// Ten seconds of a stereo meeting and a mono microphone, as the two capture threads get them.
struct Audio {
    std::vector<float> meetingLeft, meetingRight, mic;
    Audio() {
        const auto frames = size_t(kRate * kSeconds);
        meetingLeft.resize(frames);
        meetingRight.resize(frames);
        mic.resize(frames);
        for (size_t i = 0; i < frames; ++i) {
            const double t = double(i) / kRate;
            meetingLeft[i] = float(0.4 * std::sin(2 * M_PI * 440 * t));
            meetingRight[i] = float(0.4 * std::sin(2 * M_PI * 660 * t));
            mic[i] = float(0.3 * std::sin(2 * M_PI * 300 * t));
        }
    }
    // Hands one second's worth of blocks to the pipeline, the tap and the mic interleaved.
    void feed(CapturePipeline& pipeline) const {
        size_t tap = 0, mic = 0;
        const size_t frames = meetingLeft.size();
        while (tap < frames || mic < frames) {
            if (tap < frames && tap <= mic) {
                const auto n = std::min<size_t>(kTapBlock, frames - tap);
                const float* channels[2] = {meetingLeft.data() + tap, meetingRight.data() + tap};
                pipeline.tapBlock(FloatAudioBuffer{channels, 2, int64_t(n)});
                tap += n;
            } else {
                const auto n = std::min<size_t>(kMicBlock, frames - mic);
                const float* channels[1] = {this->mic.data() + mic};
                pipeline.micBlock(FloatAudioBuffer{channels, 1, int64_t(n)});
                mic += n;
            }
        }
    }
};

double g_engineSecondsPerAudioSecond = 0;
double g_soxSecondsPerAudioSecond = 0;

// Tap mode, `both`, recording on: downmix, FIFO, mix, 48→24 kHz PCM16, the archive hand-off,
// and the write thread's conversion and disk writes (counted as process CPU time).
void EngineTapBothRecording(benchmark::State& state) {
    QTemporaryDir dir;
    const Audio audio;
    auto archive = std::move(std::get<std::unique_ptr<ArchiveWriter>>(
        ArchiveWriter::open(dir.filePath(QStringLiteral("bench.wav")), kRate)));
    CapturePipeline pipeline;
    prepareTap(pipeline, CapturePipeline::StreamSource::both, 2, archive.get());
    qsizetype bytes = 0;
    pipeline.onPCM16 = [&bytes](const QByteArray& pcm) { bytes += pcm.size(); };
    for (auto _ : state)
        audio.feed(pipeline);
    archive->close();
    benchmark::DoNotOptimize(bytes);
    state.counters["audio_s"] =
        benchmark::Counter(double(kSeconds), benchmark::Counter::kIsIterationInvariantRate);
}
BENCHMARK(EngineTapBothRecording)
    ->Unit(benchmark::kMillisecond)
    ->MeasureProcessCPUTime()
    ->Iterations(20);

// sox converting the same 48 kHz audio (the meeting, mono) to 24 kHz PCM16, high quality.
void SoxTo24kPCM16(benchmark::State& state) {
    QTemporaryDir dir;
    const QString in = dir.filePath(QStringLiteral("in.wav"));
    const QString out = dir.filePath(QStringLiteral("out.wav"));
    // Sixty seconds, so the program's start-up is a small part of each run.
    QProcess::execute(QStringLiteral("sox"),
                      {QStringLiteral("-n"), QStringLiteral("-r"), QStringLiteral("48000"),
                       QStringLiteral("-c"), QStringLiteral("1"), QStringLiteral("-e"),
                       QStringLiteral("floating-point"), QStringLiteral("-b"), QStringLiteral("32"),
                       in, QStringLiteral("synth"), QStringLiteral("60"), QStringLiteral("sine"),
                       QStringLiteral("440"), QStringLiteral("vol"), QStringLiteral("0.4")});
    for (auto _ : state)
        QProcess::execute(QStringLiteral("sox"),
                          {in, QStringLiteral("-r"), QStringLiteral("24000"), QStringLiteral("-b"),
                           QStringLiteral("16"), QStringLiteral("-e"),
                           QStringLiteral("signed-integer"), out, QStringLiteral("rate"),
                           QStringLiteral("-h")});
    state.counters["audio_s"] =
        benchmark::Counter(60.0, benchmark::Counter::kIsIterationInvariantRate);
}
BENCHMARK(SoxTo24kPCM16)->Unit(benchmark::kMillisecond)->UseRealTime()->Iterations(5);

// Collects the per-audio-second cost of the two runs for the summary.
class Reporter : public benchmark::ConsoleReporter {
public:
    void ReportRuns(const std::vector<Run>& runs) override {
        ConsoleReporter::ReportRuns(runs);
        for (const Run& run : runs) {
            // The engine's CPU time counts its write thread too; sox's wall time counts the
            // child process, which the parent's CPU time would not.
            if (run.benchmark_name().rfind("EngineTapBothRecording", 0) == 0)
                g_engineSecondsPerAudioSecond = run.GetAdjustedCPUTime() / 1000.0 / kSeconds;
            if (run.benchmark_name().rfind("SoxTo24kPCM16", 0) == 0)
                g_soxSecondsPerAudioSecond = run.GetAdjustedRealTime() / 1000.0 / 60.0;
        }
    }
};

// How long the converters hold a meeting sample back: an impulse is fed in blocks of 8 frames
// (1/6 ms) and the time counted from it until the stream sample that carries its peak is out.
// The peak is found on a first run, its hand-off timed on a second.
double converterDelaySeconds() {
    constexpr int block = 8;
    const size_t impulseAt = 24000 - 1; // the last sample of a block
    std::vector<float> signal(96000, 0.0f);
    signal[impulseAt] = 1.0f;
    qsizetype peakAt = -1;
    for (int pass = 0; pass < 2; ++pass) {
        CapturePipeline pipeline;
        prepareTap(pipeline, CapturePipeline::StreamSource::meetingOnly, 2);
        std::vector<int16_t> stream;
        pipeline.onPCM16 = [&stream](const QByteArray& pcm) {
            const auto* samples = reinterpret_cast<const int16_t*>(pcm.constData());
            stream.insert(stream.end(), samples, samples + pcm.size() / 2);
        };
        for (size_t offset = 0; offset < signal.size(); offset += block) {
            const float* channels[2] = {signal.data() + offset, signal.data() + offset};
            pipeline.tapBlock(FloatAudioBuffer{channels, 2, block});
            if (pass == 1 && qsizetype(stream.size()) > peakAt)
                return double(offset + block - 1 - impulseAt) / kRate;
        }
        const auto peak = std::max_element(stream.begin(), stream.end(), [](int16_t a, int16_t b) {
            return std::abs(a) < std::abs(b);
        });
        peakAt = peak - stream.begin();
    }
    return -1;
}

// In `both` the two captures are simulated on one clock (tap blocks of 20 ms, microphone blocks
// of 2048 frames) and the wait from a meeting block's arrival to the stream that carries it,
// whichever thread hands it over, is taken for impulses at many phases; the median is
// returned.
double bothModeMeetingWaitSeconds() {
    std::vector<double> waits;
    for (int phase = 0; phase < 40; ++phase) {
        CapturePipeline pipeline;
        prepareTap(pipeline, CapturePipeline::StreamSource::both, 1);
        // The impulse is out once a sample of the stream carries it (mixed at half, spread a
        // little by the converters).
        bool heard = false;
        pipeline.onPCM16 = [&heard](const QByteArray& pcm) {
            const auto* samples = reinterpret_cast<const int16_t*>(pcm.constData());
            for (qsizetype i = 0; i < pcm.size() / 2; ++i)
                heard = heard || std::abs(int(samples[i])) > 3000;
        };
        const size_t impulseAt = 24000 + size_t(phase) * 97;
        std::vector<float> meeting(96000, 0.0f), mic(96000, 0.0f);
        meeting[impulseAt] = 1.0f;
        size_t tap = 0, micAt = 0;
        double arrival = -1;
        while (micAt + kMicBlock <= mic.size()) {
            // Whichever block ends first arrives first.
            if (tap + kTapBlock <= micAt + kMicBlock) {
                const float* channels[1] = {meeting.data() + tap};
                pipeline.tapBlock(FloatAudioBuffer{channels, 1, kTapBlock});
                tap += kTapBlock;
                if (arrival < 0 && tap > impulseAt)
                    arrival = double(tap) / kRate;
                if (arrival >= 0 && heard) {
                    waits.push_back(double(tap) / kRate - arrival);
                    break;
                }
            } else {
                const float* channels[1] = {mic.data() + micAt};
                pipeline.micBlock(FloatAudioBuffer{channels, 1, kMicBlock});
                micAt += kMicBlock;
                if (arrival >= 0 && heard) {
                    waits.push_back(double(micAt) / kRate - arrival);
                    break;
                }
            }
        }
    }
    std::sort(waits.begin(), waits.end());
    return waits.empty() ? -1 : waits[waits.size() / 2];
}

// Processing time of one tap block from its arrival to the PCM16 hand-off, median of many.
double blockProcessingSeconds() {
    CapturePipeline pipeline;
    prepareTap(pipeline, CapturePipeline::StreamSource::meetingOnly, 2);
    std::chrono::steady_clock::time_point handedOff;
    pipeline.onPCM16 = [&handedOff](const QByteArray&) {
        handedOff = std::chrono::steady_clock::now();
    };
    const Audio audio;
    std::vector<double> times;
    for (size_t offset = 0; offset + kTapBlock <= audio.meetingLeft.size(); offset += kTapBlock) {
        const float* channels[2] = {audio.meetingLeft.data() + offset,
                                    audio.meetingRight.data() + offset};
        const auto begin = std::chrono::steady_clock::now();
        pipeline.tapBlock(FloatAudioBuffer{channels, 2, kTapBlock});
        times.push_back(std::chrono::duration<double>(handedOff - begin).count());
    }
    std::sort(times.begin(), times.end());
    return times[times.size() / 2];
}

// From RealtimeClient::append on a capture thread until the chunk arrives at a WebSocket
// server on 127.0.0.1: the client's queue, encoding and the socket. Median of 200 chunks.
double clientHandOffSeconds() {
    FakeRealtimeServer server;
    server.setAutoConfigure(true);
    if (!server.listen())
        return -1;
    qputenv("OV_REALTIME_URL", server.url().toString().toUtf8());
    RealtimeClient client;
    RealtimeClientInterface::Config config;
    config.apiKey = QStringLiteral("sk-bench");
    config.model = QStringLiteral("gpt-realtime");
    client.start(config);
    if (!server.waitForFrames(QStringLiteral("session.update"), 1))
        return -1;
    QElapsedTimer wait;
    wait.start();
    while (wait.elapsed() < 300)
        QCoreApplication::processEvents(QEventLoop::AllEvents, 10);

    std::vector<double> delays;
    std::chrono::steady_clock::time_point sent;
    QObject::connect(&server, &FakeRealtimeServer::frameReceived, [&](const QJsonObject& frame) {
        if (frame.value(QStringLiteral("type")).toString() ==
            QStringLiteral("input_audio_buffer.append"))
            delays.push_back(
                std::chrono::duration<double>(std::chrono::steady_clock::now() - sent).count());
    });
    const QByteArray chunk(4800, '\x01');
    for (int i = 0; i < 200; ++i) {
        const size_t before = delays.size();
        sent = std::chrono::steady_clock::now();
        std::thread([&] { client.append(chunk); }).join();
        QElapsedTimer timer;
        timer.start();
        while (delays.size() == before && timer.elapsed() < 2000)
            QCoreApplication::processEvents(QEventLoop::AllEvents, 1);
    }
    client.stop();
    if (delays.empty())
        return -1;
    std::sort(delays.begin(), delays.end());
    return delays[delays.size() / 2];
}

} // namespace

int main(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    benchmark::Initialize(&argc, argv);
    Reporter reporter;
    benchmark::RunSpecifiedBenchmarks(&reporter);
    benchmark::Shutdown();

    if (g_engineSecondsPerAudioSecond > 0 && g_soxSecondsPerAudioSecond > 0) {
        printf("\nengine (tap, both, recording): %.3f ms per audio second = %.0fx real time\n",
               g_engineSecondsPerAudioSecond * 1e3, 1.0 / g_engineSecondsPerAudioSecond);
        printf("sox 48 kHz -> 24 kHz PCM16:    %.3f ms per audio second = %.0fx real time\n",
               g_soxSecondsPerAudioSecond * 1e3, 1.0 / g_soxSecondsPerAudioSecond);
        printf("engine / sox cost ratio:       %.2f (goal <= 0.5)\n",
               g_engineSecondsPerAudioSecond / g_soxSecondsPerAudioSecond);
    }
    const double converter = converterDelaySeconds();
    const double processing = blockProcessingSeconds();
    const double handOff = clientHandOffSeconds();
    printf("\ncapture -> socket, beyond the 100 ms chunking (meetingOnly):\n");
    printf("  converters holding a sample back:     %.2f ms\n", converter * 1e3);
    printf("  block processing (20 ms tap block):  %.3f ms\n", processing * 1e3);
    printf("  client hand-off to the socket:        %.3f ms\n", handOff * 1e3);
    printf("  total:                                %.2f ms\n",
           (converter + processing + handOff) * 1e3);
    printf("in `both`, from the tap block that brings a meeting sample to its stream:\n");
    printf("  median wait, converters included:     %.2f ms (goal <= 10 ms)\n",
           bothModeMeetingWaitSeconds() * 1e3);
    return 0;
}
