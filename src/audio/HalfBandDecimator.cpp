#include "audio/HalfBandDecimator.h"

#include <algorithm>
#include <cmath>
#include <cstring>

namespace {
// The Kaiser window's shape: the stopband reaches past 70 dB at this length.
constexpr double kBeta = 7.0;

double besselI0(double x) {
    double sum = 1.0, term = 1.0;
    for (int k = 1; term > 1e-12 * sum; ++k) {
        term *= (x / (2.0 * k)) * (x / (2.0 * k));
        sum += term;
    }
    return sum;
}

inline void store(float value, float* out) {
    *out = value;
}

inline void store(float value, int16_t* out) {
    // Rounded half away from zero, without a branch, so that the loops storing are vectorized.
    const float x = value * 32768.0f;
    const float scaled = x < -32768.0f ? -32768.0f : x > 32767.0f ? 32767.0f : x;
    *out = static_cast<int16_t>(static_cast<int32_t>(scaled + std::copysign(0.5f, scaled)));
}
} // namespace

HalfBandDecimator::HalfBandDecimator(int channels)
    : m_channels(std::max(1, channels)), m_due(static_cast<size_t>(m_channels) * dueStride, 0.0f),
      m_other(static_cast<size_t>(m_channels) * otherStride, 0.0f),
      m_sums(static_cast<size_t>(m_channels) * (chunkOutputs + lanes), 0.0f) {
    // A windowed sinc cut at a quarter of the input rate; scaled so that DC passes at 1.
    const int half = delayInputFrames;
    std::vector<double> taps(phaseTaps);
    double sum = 0.5;
    for (int j = 0; j < phaseTaps; ++j) {
        const int n = std::abs(2 * j - half); // odd: the distance from the centre
        const double x = M_PI * n / 2.0;
        const double ratio = static_cast<double>(n) / half;
        const double window = besselI0(kBeta * std::sqrt(1.0 - ratio * ratio)) / besselI0(kBeta);
        taps[static_cast<size_t>(j)] = 0.5 * std::sin(x) / x * window;
        sum += taps[static_cast<size_t>(j)];
    }
    for (double tap : taps)
        m_phaseTaps.push_back(static_cast<float>(tap / sum));
    m_centre = static_cast<float>(0.5 / sum);
}

namespace {
// Eight floats as one value: two SSE registers, or one AVX register in the AVX2 build.
using Eight = float __attribute__((vector_size(32)));

// Unaligned; filled in place rather than returned, which would change the calling convention
// between the two builds.
inline void load(Eight& value, const float* samples) {
    std::memcpy(&value, samples, sizeof value);
}
inline void storeMono(const float* sums, int count, float* out) {
    std::copy(sums, sums + count, out);
}

// As store() does it, eight at a time.
inline void storeMono(const float* sums, int count, int16_t* out) {
    using EightInts = int32_t __attribute__((vector_size(32)));
    using EightShorts = int16_t __attribute__((vector_size(16)));
    int n = 0;
    for (; n + 8 <= count; n += 8) {
        Eight x;
        load(x, sums + n);
        x *= 32768.0f;
        x = x < -32768.0f ? -32768.0f : x;
        x = x > 32767.0f ? 32767.0f : x;
        const Eight half = x < 0.0f ? -0.5f : 0.5f;
        const EightShorts pcm =
            __builtin_convertvector(__builtin_convertvector(x + half, EightInts), EightShorts);
        std::memcpy(out + n, &pcm, sizeof pcm);
    }
    for (; n < count; ++n)
        store(sums[n], out + n);
}
} // namespace

// Built for AVX2 too where the processor has it: the same sums, eight to a register.
__attribute__((target_clones("avx2", "default"))) void
HalfBandDecimator::filterChunk(int count, int otherOffset) {
    static_assert(lanes == 32, "four groups of eight sums");
    const float* taps = m_phaseTaps.data();
    for (int c = 0; c < m_channels; ++c) {
        const float* due = m_due.data() + static_cast<size_t>(c) * dueStride;
        const float* other = m_other.data() + static_cast<size_t>(c) * otherStride + otherOffset;
        float* sums = m_sums.data() + static_cast<size_t>(c) * (chunkOutputs + lanes);
        // A last group past `count` reads stale samples of the padding; its sums are not used.
        // Four sums in flight: each addition waits on the one before it in its own sum only.
        for (int n = 0; n < count; n += lanes) {
            Eight a0, a1, a2, a3, early, late;
            load(a0, other + n);
            load(a1, other + n + 8);
            load(a2, other + n + 16);
            load(a3, other + n + 24);
            a0 *= m_centre;
            a1 *= m_centre;
            a2 *= m_centre;
            a3 *= m_centre;
            // The taps mirror each other about the centre: each multiplies two samples' sum.
            for (int j = 0; j < phaseTaps / 2; ++j) {
                const float tap = taps[j];
                const float* first = due + n + j;
                const float* last = due + n + (phaseTaps - 1 - j);
                const auto add = [&](Eight& sum, int offset) {
                    load(early, first + offset);
                    load(late, last + offset);
                    sum += tap * (early + late);
                };
                add(a0, 0);
                add(a1, 8);
                add(a2, 16);
                add(a3, 24);
            }
            std::memcpy(sums + n, &a0, sizeof a0);
            std::memcpy(sums + n + 8, &a1, sizeof a1);
            std::memcpy(sums + n + 16, &a2, sizeof a2);
            std::memcpy(sums + n + 24, &a3, sizeof a3);
        }
    }
}

void HalfBandDecimator::keepHistory(int dueCount, int otherCount) {
    for (int c = 0; c < m_channels; ++c) {
        float* due = m_due.data() + static_cast<size_t>(c) * dueStride;
        float* other = m_other.data() + static_cast<size_t>(c) * otherStride;
        std::copy(due + dueCount, due + dueCount + phaseTaps - 1, due);
        std::copy(other + otherCount, other + otherCount + otherLength, other);
    }
}

template <typename Sample>
int64_t HalfBandDecimator::run(const float* input, int64_t frames, Sample* output,
                               int64_t capacity) {
    int64_t produced = 0;
    int64_t f = 0;
    while (f < frames) {
        // Up to a chunk's worth of each phase: the frames alternate, the first one due when
        // an output is.
        const int take = static_cast<int>(std::min<int64_t>(frames - f, 2 * chunkOutputs));
        const int firstDue = m_emitNext ? 0 : 1;
        const int dueCount = (take - firstDue + 1) / 2;
        const int otherCount = take - dueCount;
        for (int c = 0; c < m_channels; ++c) {
            float* due = m_due.data() + static_cast<size_t>(c) * dueStride + (phaseTaps - 1);
            float* other = m_other.data() + static_cast<size_t>(c) * otherStride + otherLength;
            if (!input) {
                std::fill(due, due + dueCount, 0.0f);
                std::fill(other, other + otherCount, 0.0f);
                continue;
            }
            const float* in = input + f * m_channels + c;
            if (m_channels == 1) {
                for (int i = 0; i < dueCount; ++i)
                    due[i] = in[firstDue + 2 * i];
                for (int i = 0; i < otherCount; ++i)
                    other[i] = in[1 - firstDue + 2 * i];
                continue;
            }
            for (int i = 0; i < dueCount; ++i)
                due[i] = in[(firstDue + 2 * i) * m_channels];
            for (int i = 0; i < otherCount; ++i)
                other[i] = in[(1 - firstDue + 2 * i) * m_channels];
        }
        // The first output of a chunk that starts on the other phase has that sample in the
        // chunk: its centre sample sits one further on.
        const int otherOffset = firstDue;
        f += take;
        if (take % 2 != 0)
            m_emitNext = !m_emitNext;
        if (dueCount > 0)
            filterChunk(dueCount, otherOffset);
        const int stored = static_cast<int>(std::min<int64_t>(dueCount, capacity - produced));
        for (int c = 0; c < m_channels; ++c) {
            const float* sums = m_sums.data() + static_cast<size_t>(c) * (chunkOutputs + lanes);
            Sample* out = output + produced * m_channels + c;
            if (m_channels == 1)
                storeMono(sums, stored, out);
            else
                for (int n = 0; n < stored; ++n)
                    store(sums[n], out + n * m_channels);
        }
        produced += std::max(0, stored);
        keepHistory(dueCount, otherCount);
    }
    return produced;
}

int64_t HalfBandDecimator::process(const float* input, int64_t frames, float* output,
                                   int64_t capacity) {
    return input ? run(input, frames, output, capacity) : 0;
}

int64_t HalfBandDecimator::process(const float* input, int64_t frames, int16_t* output,
                                   int64_t capacity) {
    return input ? run(input, frames, output, capacity) : 0;
}

int64_t HalfBandDecimator::flush(float* output, int64_t capacity) {
    return run(static_cast<const float*>(nullptr), delayInputFrames + 1, output, capacity);
}

int64_t HalfBandDecimator::flush(int16_t* output, int64_t capacity) {
    return run(static_cast<const float*>(nullptr), delayInputFrames + 1, output, capacity);
}

void HalfBandDecimator::clear() {
    std::fill(m_due.begin(), m_due.end(), 0.0f);
    std::fill(m_other.begin(), m_other.end(), 0.0f);
    m_emitNext = true;
}
