#pragma once

#include <cstdint>
#include <memory>

class HalfBandDecimator;

// A streaming sample-rate converter (libsoxr, high quality; see Latency for the one
// exception) for interleaved float input. One object per stream, kept across blocks, so
// consecutive blocks form one continuous signal. Not thread-safe: one thread at a time
// processes through it.
class Resampler {
public:
    enum class Output { float32, int16 };
    // `normal`: a sample is held back about 23 ms (48 → 24 kHz). `low`: an exact halving goes
    // through a half-band filter of its own (HalfBandDecimator), about 1.2 ms; other ratios
    // keep the library's filter on short blocks, about 8 ms, for some more work per sample.
    enum class Latency { normal, low };

    // Absent when the library refuses the rates or the channel count.
    static std::unique_ptr<Resampler> create(double inputRate, double outputRate, int channels,
                                             Output output, Latency latency = Latency::normal);
    ~Resampler();
    Resampler(const Resampler&) = delete;
    Resampler& operator=(const Resampler&) = delete;

    // Frames of room the output of an input block of `frames` needs: the rate ratio times the
    // block, truncated, plus 1024.
    static int64_t capacityFor(double inputRate, double outputRate, int64_t frames);
    int64_t capacityFor(int64_t frames) const {
        return capacityFor(m_inputRate, m_outputRate, frames);
    }

    // Converts `frames` interleaved input frames into `output` (float or int16 samples, as
    // created), holding at most `capacity` frames. Returns the frames produced, possibly 0, or
    // -1 when the library reports an error (the block is then lost).
    int64_t process(const float* input, int64_t frames, void* output, int64_t capacity);

    // Ends the input: whatever the filter still holds comes out. Returns frames, or -1.
    int64_t flush(void* output, int64_t capacity);
    // Forgets everything the filter holds, ready for an unrelated stream.
    void clear();

    double inputRate() const { return m_inputRate; }
    double outputRate() const { return m_outputRate; }
    int channels() const { return m_channels; }
    // Output frames the filter holds back at this moment.
    double delay() const;

private:
    Resampler(void* handle, double inputRate, double outputRate, int channels);

    void* m_handle = nullptr;
    std::unique_ptr<HalfBandDecimator> m_halfBand; // instead of the library, when set
    Output m_output = Output::float32;
    double m_inputRate;
    double m_outputRate;
    int m_channels;
};
