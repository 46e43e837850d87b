#include "audio/MonoRingBuffer.h"
#include "audio/WavWriter.h"

#include <QTemporaryDir>
#include <benchmark/benchmark.h>

#include <cmath>

namespace {

constexpr int blockFrames = 2048;

// One archive block: 2048 frames of microphone (left) and meeting (right).
struct StereoBlock {
    std::vector<float> left, right;
    const float* channels[2];
    StereoBlock() : left(blockFrames), right(blockFrames) {
        for (int i = 0; i < blockFrames; ++i) {
            left[static_cast<size_t>(i)] = static_cast<float>(0.5 * std::sin(i * 0.0576));
            right[static_cast<size_t>(i)] = static_cast<float>(0.3 * std::sin(i * 0.131));
        }
        channels[0] = left.data();
        channels[1] = right.data();
    }
    FloatAudioBuffer buffer() const { return {channels, 2, blockFrames}; }
};

// Conversion, the single append and the header patch every 384000 bytes, as the archive runs.
void WavWriterStereoBlock(benchmark::State& state) {
    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("bench.wav"));
    const StereoBlock block;
    auto writer = std::get<std::unique_ptr<WavWriter>>(WavWriter::create(path, 48000, 2));
    int64_t blocks = 0;
    for (auto _ : state) {
        writer->write(block.buffer());
        // Start over now and then so the benchmark does not fill the disk.
        if (++blocks % 8192 == 0) {
            state.PauseTiming();
            writer = std::get<std::unique_ptr<WavWriter>>(WavWriter::create(path, 48000, 2));
            state.ResumeTiming();
        }
    }
    state.SetBytesProcessed(state.iterations() * blockFrames * 2 * 2);
}
BENCHMARK(WavWriterStereoBlock)->Unit(benchmark::kMicrosecond);

// The meeting side pushes a block, the microphone side pops the same amount.
void RingBufferPushPopBlock(benchmark::State& state) {
    MonoRingBuffer buffer(5.0, 48000.0);
    std::vector<float> in(blockFrames, 0.25f), out(blockFrames);
    for (auto _ : state) {
        buffer.push(in.data(), blockFrames);
        buffer.pop(out.data(), blockFrames);
        benchmark::DoNotOptimize(out.data());
    }
    state.SetItemsProcessed(state.iterations() * blockFrames);
}
BENCHMARK(RingBufferPushPopBlock)->Unit(benchmark::kMicrosecond);

// The same with the pop that returns a fresh array.
void RingBufferPushPopAllocatingBlock(benchmark::State& state) {
    MonoRingBuffer buffer(5.0, 48000.0);
    std::vector<float> in(blockFrames, 0.25f);
    for (auto _ : state) {
        buffer.push(in.data(), blockFrames);
        auto out = buffer.pop(blockFrames);
        benchmark::DoNotOptimize(out.data());
    }
    state.SetItemsProcessed(state.iterations() * blockFrames);
}
BENCHMARK(RingBufferPushPopAllocatingBlock)->Unit(benchmark::kMicrosecond);

} // namespace

BENCHMARK_MAIN();
