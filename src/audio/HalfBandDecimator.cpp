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
    const float scaled = std::nearbyint(value * 32768.0f);
    *out = static_cast<int16_t>(std::clamp(scaled, -32768.0f, 32767.0f));
}
} // namespace

HalfBandDecimator::HalfBandDecimator(int channels)
    : m_channels(std::max(1, channels)),
      m_history(static_cast<size_t>(m_channels) * 2 * taps, 0.0f) {
    // A windowed sinc cut at a quarter of the input rate; scaled so that DC passes at 1.
    const int half = delayInputFrames;
    std::vector<double> odd;
    double sum = 0.5;
    for (int n = 1; n <= half; n += 2) {
        const double x = M_PI * n / 2.0;
        const double ratio = static_cast<double>(n) / half;
        const double window = besselI0(kBeta * std::sqrt(1.0 - ratio * ratio)) / besselI0(kBeta);
        odd.push_back(0.5 * std::sin(x) / x * window);
        sum += 2.0 * odd.back();
    }
    for (double tap : odd)
        m_oddTaps.push_back(static_cast<float>(tap / sum));
    m_centre = static_cast<float>(0.5 / sum);
}

float HalfBandDecimator::filtered(int channel) const {
    // Oldest first: the window's middle is delayInputFrames behind the newest input.
    const float* window = m_history.data() + static_cast<size_t>(channel) * 2 * taps + m_write;
    const float* middle = window + delayInputFrames;
    float sum = m_centre * *middle;
    for (size_t i = 0; i < m_oddTaps.size(); ++i) {
        const auto d = static_cast<ptrdiff_t>(2 * i + 1);
        sum += m_oddTaps[i] * (middle[-d] + middle[d]);
    }
    return sum;
}

template <typename Sample>
int64_t HalfBandDecimator::run(const float* input, int64_t frames, Sample* output,
                               int64_t capacity) {
    int64_t produced = 0;
    for (int64_t f = 0; f < frames; ++f) {
        for (int c = 0; c < m_channels; ++c) {
            float* history = m_history.data() + static_cast<size_t>(c) * 2 * taps;
            const float x = input ? input[f * m_channels + c] : 0.0f;
            history[m_write] = x;
            history[m_write + taps] = x;
        }
        m_write = (m_write + 1) % taps;
        const bool due = m_emitNext;
        m_emitNext = !m_emitNext;
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
    std::fill(m_history.begin(), m_history.end(), 0.0f);
    m_write = 0;
    m_emitNext = true;
}
