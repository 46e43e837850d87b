// Every 100 ms of meeting audio becomes one input_audio_buffer.append message on the client's
// thread; building it (Base64 + JSON) must stay a negligible share of a core over an hour.
#include "realtime/RealtimeProtocol.h"

#include <benchmark/benchmark.h>
#include <cmath>

namespace {

QByteArray speechLikePcm(int bytes) {
    QByteArray pcm(bytes, Qt::Uninitialized);
    auto* samples = reinterpret_cast<qint16*>(pcm.data());
    for (int i = 0; i < bytes / 2; ++i)
        samples[i] = qint16(8000 * std::sin(i * 0.07) + 3000 * std::sin(i * 0.31));
    return pcm;
}

void BM_AudioAppendMessage(benchmark::State& state) {
    const QByteArray pcm = speechLikePcm(4800); // 100 ms of 24 kHz mono PCM16
    for (auto _ : state) {
        const QByteArray frame =
            RealtimeProtocol::serialize(RealtimeProtocol::audioAppend(pcm)).toUtf8();
        benchmark::DoNotOptimize(frame.size());
    }
    // 36 000 messages carry one hour of audio: CPU time spent per hour of audio.
    state.counters["cpu_per_audio_hour"] =
        benchmark::Counter(double(state.iterations()) / 36000.0,
                           benchmark::Counter::kIsRate | benchmark::Counter::kInvert);
    state.SetBytesProcessed(state.iterations() * pcm.size());
}
BENCHMARK(BM_AudioAppendMessage);

void BM_DecodeDelta(benchmark::State& state) {
    const QByteArray frame = R"({"type":"response.output_text.delta","event_id":"event_123",)"
                             R"("response_id":"resp_456","item_id":"item_789","output_index":0,)"
                             R"("content_index":0,"delta":"I led the migration of"})";
    for (auto _ : state)
        benchmark::DoNotOptimize(RealtimeProtocol::decode(frame).text.size());
}
BENCHMARK(BM_DecodeDelta);

} // namespace

BENCHMARK_MAIN();
