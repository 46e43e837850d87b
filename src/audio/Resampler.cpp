#include "audio/Resampler.h"

#include "audio/HalfBandDecimator.h"

#include <soxr.h>

#include <mutex>

namespace {
// soxr_create touches library-wide tables; creations from two threads must not overlap.
std::mutex s_createLock;
} // namespace

std::unique_ptr<Resampler> Resampler::create(double inputRate, double outputRate, int channels,
                                             Output output, Latency latency) {
    if (!(inputRate > 0) || !(outputRate > 0) || channels <= 0)
        return nullptr;
    if (latency == Latency::low && inputRate == 2 * outputRate) {
        // The library gathers a DFT block before it filters (8 ms even at its smallest); a
        // direct FIR on an exact halving answers each sample pair at once.
        std::unique_ptr<Resampler> halving(new Resampler(nullptr, inputRate, outputRate, channels));
        halving->m_halfBand = std::make_unique<HalfBandDecimator>(channels);
        halving->m_output = output;
        return halving;
    }
    soxr_io_spec_t io =
        soxr_io_spec(SOXR_FLOAT32_I, output == Output::int16 ? SOXR_INT16_I : SOXR_FLOAT32_I);
    // Dither would make the stream differ run to run for the same input.
    io.flags |= SOXR_NO_DITHER;
    const soxr_quality_spec_t quality = soxr_quality_spec(SOXR_HQ, 0);
    soxr_runtime_spec_t runtime = soxr_runtime_spec(1);
    if (latency == Latency::low) {
        // The DFT block size sets how much input the library gathers before it filters.
        runtime.log2_min_dft_size = 8;
        runtime.log2_large_dft_size = 8;
    }
    soxr_error_t error = nullptr;
    soxr_t handle = nullptr;
    {
        std::lock_guard guard(s_createLock);
        handle = soxr_create(inputRate, outputRate, static_cast<unsigned>(channels), &error, &io,
                             &quality, &runtime);
    }
    if (error || !handle) {
        if (handle)
            soxr_delete(handle);
        return nullptr;
    }
    return std::unique_ptr<Resampler>(new Resampler(handle, inputRate, outputRate, channels));
}

Resampler::Resampler(void* handle, double inputRate, double outputRate, int channels)
    : m_handle(handle), m_inputRate(inputRate), m_outputRate(outputRate), m_channels(channels) {}

Resampler::~Resampler() {
    if (m_handle)
        soxr_delete(static_cast<soxr_t>(m_handle));
}

int64_t Resampler::capacityFor(double inputRate, double outputRate, int64_t frames) {
    if (!(inputRate > 0) || frames <= 0)
        return 1024;
    return static_cast<int64_t>(outputRate / inputRate * static_cast<double>(frames)) + 1024;
}

int64_t Resampler::process(const float* input, int64_t frames, void* output, int64_t capacity) {
    if (!input || frames <= 0 || !output || capacity <= 0)
        return 0;
    if (m_halfBand)
        return m_output == Output::int16
                   ? m_halfBand->process(input, frames, static_cast<int16_t*>(output), capacity)
                   : m_halfBand->process(input, frames, static_cast<float*>(output), capacity);
    size_t consumed = 0;
    size_t produced = 0;
    const soxr_error_t error =
        soxr_process(static_cast<soxr_t>(m_handle), input, static_cast<size_t>(frames), &consumed,
                     output, static_cast<size_t>(capacity), &produced);
    if (error)
        return -1;
    return static_cast<int64_t>(produced);
}

int64_t Resampler::flush(void* output, int64_t capacity) {
    if (!output || capacity <= 0)
        return 0;
    if (m_halfBand)
        return m_output == Output::int16
                   ? m_halfBand->flush(static_cast<int16_t*>(output), capacity)
                   : m_halfBand->flush(static_cast<float*>(output), capacity);
    size_t produced = 0;
    const soxr_error_t error = soxr_process(static_cast<soxr_t>(m_handle), nullptr, 0, nullptr,
                                            output, static_cast<size_t>(capacity), &produced);
    return error ? -1 : static_cast<int64_t>(produced);
}

void Resampler::clear() {
    if (m_halfBand)
        return m_halfBand->clear();
    soxr_clear(static_cast<soxr_t>(m_handle));
}

double Resampler::delay() const {
    if (m_halfBand)
        return HalfBandDecimator::delayInputFrames * m_outputRate / m_inputRate;
    return soxr_delay(static_cast<soxr_t>(m_handle));
}
