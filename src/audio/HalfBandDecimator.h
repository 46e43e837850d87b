#pragma once

#include <cstdint>
#include <vector>

// Halves the rate of interleaved float audio with a linear-phase half-band FIR: each output
// sample is out as soon as the input sample it needs has arrived, and holds the signal back
// by half the filter, `delayInputFrames` input frames (1.15 ms at 48 kHz). Below 0.458 of the
// output's rate (11 kHz of 24) the level stays within 0.01 dB; from 0.542 of it (13 kHz of 24)
// on, what would fold back is at least 70 dB down.
//
// Storage is allocated in the constructor; process() allocates nothing.
class HalfBandDecimator {
public:
    static constexpr int taps = 111;
    static constexpr int delayInputFrames = (taps - 1) / 2;

    explicit HalfBandDecimator(int channels);

    // Writes up to `capacity` frames to `output` (float, or int16 scaled by 32768, rounded and
    // clipped) and returns how many; input beyond what fits still enters the filter.
    int64_t process(const float* input, int64_t frames, float* output, int64_t capacity);
    int64_t process(const float* input, int64_t frames, int16_t* output, int64_t capacity);
    // Pushes the half filter's worth of silence through, so the last input comes out.
    int64_t flush(float* output, int64_t capacity);
    int64_t flush(int16_t* output, int64_t capacity);
    void clear();

    int channels() const { return m_channels; }

private:
    // Only the centre tap and those an odd distance from it are not zero, and when an output
    // is due the odd-distance ones all fall on inputs of the phase it is due on (every second
    // input): one delay line per phase, a plain dot product over the first, the centre tap on
    // the second's oldest sample.
    static constexpr int phaseTaps = (taps + 1) / 2;   // 56
    static constexpr int otherLength = (taps + 1) / 4; // 28: back to the centre's sample
    static_assert(phaseTaps % 8 == 0, "filtered() sums eight taps at a time");

    template <typename Sample>
    int64_t run(const float* input, int64_t frames, Sample* output, int64_t capacity);
    float filtered(int channel) const;

    int m_channels;
    std::vector<float> m_phaseTaps; // the taps on the computing phase, oldest sample first
    float m_centre = 0.5f;
    // Per channel, each delay line written twice over so that it reads contiguously.
    std::vector<float> m_phase, m_other;
    int m_phaseWrite = 0, m_otherWrite = 0;
    bool m_emitNext = true;
};
