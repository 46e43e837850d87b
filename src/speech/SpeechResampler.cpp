#include "speech/SpeechResampler.h"

#include "audio/Resampler.h"

#include <algorithm>

SpeechResampler::SpeechResampler(double inputRate, double outputRate)
    : m_inputRate(inputRate),
      m_converter(Resampler::create(inputRate, outputRate, 1, Resampler::Output::int16)) {}

SpeechResampler::~SpeechResampler() = default;

void SpeechResampler::process(const float* samples, int frames, std::vector<int16_t>& out) {
    if (!m_converter || frames <= 0)
        return;
    const size_t start = out.size();
    const int64_t room = m_converter->capacityFor(frames);
    out.resize(start + size_t(room));
    const int64_t produced = m_converter->process(samples, frames, out.data() + start, room);
    out.resize(start + size_t(std::max<int64_t>(0, produced)));
}

void SpeechResampler::flush(std::vector<int16_t>& out) {
    if (!m_converter)
        return;
    // The filter's tail may take more than one call to come out whole.
    const int64_t room = m_converter->capacityFor(0);
    for (;;) {
        const size_t start = out.size();
        out.resize(start + size_t(room));
        const int64_t produced = m_converter->flush(out.data() + start, room);
        out.resize(start + size_t(std::max<int64_t>(0, produced)));
        if (produced < room)
            break;
    }
    m_converter->clear();
}
