#pragma once

#include <cstdint>
#include <vector>

// Converts mono float audio at any rate to 16-bit samples at another rate, keeping its filter
// state across blocks (one object per stream).
class SpeechResampler {
public:
    SpeechResampler(double inputRate, double outputRate);
    ~SpeechResampler();
    SpeechResampler(const SpeechResampler&) = delete;
    SpeechResampler& operator=(const SpeechResampler&) = delete;

    bool isValid() const { return m_soxr != nullptr; }
    double inputRate() const { return m_inputRate; }
    // Appends the converted samples of `frames` input frames to `out`.
    void process(const float* samples, int frames, std::vector<int16_t>& out);
    // Appends what the filter still holds and readies the object for a new stream.
    void flush(std::vector<int16_t>& out);

private:
    void drain(const float* samples, int frames, std::vector<int16_t>& out);

    double m_inputRate;
    double m_outputRate;
    void* m_soxr = nullptr;
};
