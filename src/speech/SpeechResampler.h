#pragma once

#include <cstdint>
#include <memory>
#include <vector>

class Resampler;

// Mono float audio at any rate to 16-bit samples at the recognizer's rate, appended to a
// growing buffer; the filter state is kept across blocks (one object per stream). The capture
// engine's converter does the work, so every libsoxr converter of the program is made one way.
class SpeechResampler {
public:
    SpeechResampler(double inputRate, double outputRate);
    ~SpeechResampler();
    SpeechResampler(const SpeechResampler&) = delete;
    SpeechResampler& operator=(const SpeechResampler&) = delete;

    bool isValid() const { return m_converter != nullptr; }
    double inputRate() const { return m_inputRate; }
    // Appends the converted samples of `frames` input frames to `out`.
    void process(const float* samples, int frames, std::vector<int16_t>& out);
    // Appends what the filter still holds and readies the object for a new stream.
    void flush(std::vector<int16_t>& out);

private:
    double m_inputRate;
    std::unique_ptr<Resampler> m_converter;
};
