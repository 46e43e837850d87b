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
    // input): each phase gets a line of its own, the due phase's filtered by a plain dot
    // product, the centre tap taken from the other's sample back at the middle.
    static constexpr int phaseTaps = (taps + 1) / 2;   // 56
    static constexpr int otherLength = (taps + 1) / 4; // 28: back to the centre's sample
    // Outputs are worked out a chunk at a time, 32 side by side in vector registers, which a
    // sample-at-a-time sum cannot use.
    static constexpr int lanes = 32;
    static constexpr int chunkOutputs = 256;
    static constexpr int dueStride = phaseTaps - 1 + chunkOutputs + lanes;
    static constexpr int otherStride = otherLength + 1 + chunkOutputs + lanes;

    template <typename Sample>
    int64_t run(const float* input, int64_t frames, Sample* output, int64_t capacity);
    // Filters the `count` due samples gathered after each channel's history into m_sums.
    void filterChunk(int count, int otherOffset);
    void keepHistory(int dueCount, int otherCount);

    int m_channels;
    std::vector<float> m_phaseTaps; // the taps on the due phase, oldest sample first
    float m_centre = 0.5f;
    // Per channel: the last phaseTaps - 1 (due) or otherLength (other) samples of the line,
    // then room for a chunk's new ones.
    std::vector<float> m_due, m_other;
    std::vector<float> m_sums; // per channel, a chunk's outputs
    bool m_emitNext = true;
};
