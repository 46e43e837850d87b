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
    template <typename Sample>
    int64_t run(const float* input, int64_t frames, Sample* output, int64_t capacity);
    float filtered(int channel) const;

    int m_channels;
    // The centre tap is 1/2; of the others only those an odd distance away are not zero.
    std::vector<float> m_oddTaps; // distance 1, 3, 5, ... delayInputFrames
    float m_centre = 0.5f;
    // Per channel, the last `taps` inputs, each written twice so that they read contiguously.
    std::vector<float> m_history;
    int m_write = 0;
    bool m_emitNext = true;
};
