#include "speech/SpeechResampler.h"

#include "speech/SpeechLibraryLock.h"

#include <soxr.h>

#include <cmath>

SpeechResampler::SpeechResampler(double inputRate, double outputRate)
    : m_inputRate(inputRate), m_outputRate(outputRate) {
    if (!(inputRate > 0) || !(outputRate > 0))
        return;
    soxr_io_spec_t io = soxr_io_spec(SOXR_FLOAT32_I, SOXR_INT16_I);
    // Deterministic output: the same audio always gives the same samples (and the same text).
    io.flags |= SOXR_NO_DITHER;
    const soxr_quality_spec_t quality = soxr_quality_spec(SOXR_HQ, 0);
    soxr_error_t error = nullptr;
    std::lock_guard<std::mutex> guard(speechLibraryLock());
    soxr_t soxr = soxr_create(inputRate, outputRate, 1, &error, &io, &quality, nullptr);
    if (!error)
        m_soxr = soxr;
}

SpeechResampler::~SpeechResampler() {
    if (m_soxr)
        soxr_delete(static_cast<soxr_t>(m_soxr));
}

void SpeechResampler::drain(const float* samples, int frames, std::vector<int16_t>& out) {
    auto* soxr = static_cast<soxr_t>(m_soxr);
    size_t remaining = frames > 0 ? size_t(frames) : 0;
    const float* in = samples;
    // A NULL input asks soxr for its tail; it then may need several calls to hand it all out.
    for (;;) {
        const size_t room = size_t(std::ceil(double(remaining) * m_outputRate / m_inputRate)) + 64;
        const size_t start = out.size();
        out.resize(start + room);
        size_t used = 0;
        size_t produced = 0;
        soxr_process(soxr, in, remaining, &used, out.data() + start, room, &produced);
        out.resize(start + produced);
        if (in) {
            in += used;
            remaining -= used;
            if (remaining == 0 && produced < room)
                return;
        } else if (produced < room) {
            return;
        }
    }
}

void SpeechResampler::process(const float* samples, int frames, std::vector<int16_t>& out) {
    if (!m_soxr || frames <= 0)
        return;
    drain(samples, frames, out);
}

void SpeechResampler::flush(std::vector<int16_t>& out) {
    if (!m_soxr)
        return;
    drain(nullptr, 0, out);
    soxr_clear(static_cast<soxr_t>(m_soxr));
}
