#include "audio/HalfBandDecimator.h"

#include <algorithm>
#include <cmath>

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
    const float scaled = std::clamp(value * 32768.0f, -32768.0f, 32767.0f);
    *out = static_cast<int16_t>(scaled < 0 ? scaled - 0.5f : scaled + 0.5f);
}
} // namespace

HalfBandDecimator::HalfBandDecimator(int channels)
    : m_channels(std::max(1, channels)),
      m_phase(static_cast<size_t>(m_channels) * 2 * phaseTaps, 0.0f),
      m_other(static_cast<size_t>(m_channels) * 2 * otherLength, 0.0f) {
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

float HalfBandDecimator::filtered(int channel) const {
    const float* phase =
        m_phase.data() + static_cast<size_t>(channel) * 2 * phaseTaps + m_phaseWrite;
    const float* other =
        m_other.data() + static_cast<size_t>(channel) * 2 * otherLength + m_otherWrite;
    // Eight sums side by side: one running sum would wait on each addition in turn.
    float sums[8] = {};
    for (int j = 0; j < phaseTaps; j += 8)
        for (int k = 0; k < 8; ++k)
            sums[k] += m_phaseTaps[static_cast<size_t>(j + k)] * phase[j + k];
    return m_centre * other[0] + ((sums[0] + sums[1]) + (sums[2] + sums[3])) +
           ((sums[4] + sums[5]) + (sums[6] + sums[7]));
}

template <typename Sample>
int64_t HalfBandDecimator::run(const float* input, int64_t frames, Sample* output,
                               int64_t capacity) {
    int64_t produced = 0;
    for (int64_t f = 0; f < frames; ++f) {
        const bool due = m_emitNext;
        m_emitNext = !m_emitNext;
        std::vector<float>& line = due ? m_phase : m_other;
        const int length = due ? phaseTaps : otherLength;
        int& write = due ? m_phaseWrite : m_otherWrite;
        for (int c = 0; c < m_channels; ++c) {
            float* history = line.data() + static_cast<size_t>(c) * 2 * length;
            const float x = input ? input[f * m_channels + c] : 0.0f;
            history[write] = x;
            history[write + length] = x;
        }
        write = write + 1 == length ? 0 : write + 1;
        if (!due || produced >= capacity)
            continue;
        for (int c = 0; c < m_channels; ++c)
            store(filtered(c), output + produced * m_channels + c);
        ++produced;
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
    std::fill(m_phase.begin(), m_phase.end(), 0.0f);
    std::fill(m_other.begin(), m_other.end(), 0.0f);
    m_phaseWrite = 0;
    m_otherWrite = 0;
    m_emitNext = true;
}
