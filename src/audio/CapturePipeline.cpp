#include "audio/CapturePipeline.h"

#include "audio/ArchiveWriter.h"
#include "audio/Resampler.h"

#include <algorithm>
#include <cmath>
#include <limits>

namespace {
constexpr double kFIFOSeconds = 5.0;

// The most samples one block of `frames` may drop or repeat for drift.
int64_t slipFor(int64_t frames) {
    return std::max<int64_t>(1, frames / 500);
}

template <typename T> void ensure(std::vector<T>& buffer, int64_t size) {
    if (static_cast<int64_t>(buffer.size()) < size)
        buffer.assign(static_cast<size_t>(size), T{});
}

// A block longer than the buffers were prepared for is handled in pieces: nothing grows on a
// capture thread.
template <typename Piece>
void inPieces(const FloatAudioBuffer& block, int64_t maxFrames, Piece&& piece) {
    if (!block.channelData || block.channelCount <= 0 || block.frameLength <= 0)
        return;
    const int64_t step = std::max<int64_t>(1, maxFrames);
    for (int64_t offset = 0; offset < block.frameLength; offset += step)
        piece(offset, std::min(step, block.frameLength - offset));
}
} // namespace

bool LevelThrottle::admit(double now) {
    if (m_last && now - *m_last <= interval)
        return false;
    m_last = now;
    return true;
}

CapturePipeline::CapturePipeline() : m_fifo(kFIFOSeconds, meetingRate) {}

CapturePipeline::~CapturePipeline() = default;

float CapturePipeline::mix(float mic, float meeting) {
    return std::clamp((mic + meeting) * 0.5f, -1.0f, 1.0f);
}

float CapturePipeline::peak(const float* samples, int64_t frames) {
    // Eight maxima side by side: one running maximum cannot be vectorized without letting go
    // of how a NaN sample is treated.
    constexpr int lanes = 8;
    float maxima[lanes] = {};
    int64_t i = 0;
    for (; i + lanes <= frames; i += lanes)
        for (int k = 0; k < lanes; ++k)
            maxima[k] = std::max(maxima[k], std::fabs(samples[i + k]));
    float result = 0.0f;
    for (; i < frames; ++i)
        result = std::max(result, std::fabs(samples[i]));
    for (const float lane : maxima)
        result = std::max(result, lane);
    return std::min(result, 1.0f);
}

bool CapturePipeline::prepare(const Setup& setup, ArchiveWriter* archive) {
    reset();
    m_setup = setup;
    // Everything on the way to the model holds samples back as briefly as the filter allows.
    m_apiFrom48 = Resampler::create(meetingRate, apiRate, 1, Resampler::Output::int16,
                                    Resampler::Latency::low);
    if (!m_apiFrom48 || !prepareMic(setup.micRate)) {
        reset();
        return false;
    }
    m_archive = archive;
    m_throttle.reset();
    m_meetingWaits = true;
    restartDriftWatch();
    m_meetingPeak = 0.0f;
    return true;
}

// The microphone's converters and scratch space, for `rate`.
bool CapturePipeline::prepareMic(double rate) {
    const int64_t maxFrames = std::max<int64_t>(1, m_setup.maxBlockFrames);
    const auto low = Resampler::Latency::low;
    m_apiFromMicRate = Resampler::create(rate, apiRate, 1, Resampler::Output::int16, low);
    m_micTo48.reset();
    if (rate != meetingRate)
        m_micTo48 = Resampler::create(rate, meetingRate, 1, Resampler::Output::float32, low);
    if (!m_apiFromMicRate || (rate != meetingRate && !m_micTo48))
        return false;
    const int64_t mic48 = Resampler::capacityFor(rate, meetingRate, maxFrames);
    ensure(m_mono, maxFrames);
    ensure(m_mic48, mic48);
    ensure(m_popped, mic48 + slipFor(mic48));
    ensure(m_mix48, mic48);
    ensure(m_micPCM, std::max(Resampler::capacityFor(rate, apiRate, maxFrames),
                              Resampler::capacityFor(meetingRate, apiRate, mic48)));
    m_setup.micRate = rate;
    return true;
}

void CapturePipeline::setMicAbsent() {
    m_micState.store(micAbsent, std::memory_order_release);
}

bool CapturePipeline::setMicReturning(double micRate, int micChannel) {
    // No microphone block runs now: its converters and state are this thread's to set.
    if (micRate != m_setup.micRate && !prepareMic(micRate))
        return false;
    m_setup.micChannel = micChannel;
    m_meetingWaits = true;
    restartDriftWatch();
    m_micState.store(micReturning, std::memory_order_release);
    return true;
}

bool CapturePipeline::setTapFormat(double sampleRate, int channels,
                                   const std::vector<ChannelPosition>& positions) {
    m_fifo.clear();
    m_tapBlockFrames.store(0, std::memory_order_relaxed);
    m_tapTo48.reset();
    if (!(sampleRate > 0) || channels <= 0)
        return false;
    if (sampleRate != meetingRate) {
        m_tapTo48 = Resampler::create(sampleRate, meetingRate, 1, Resampler::Output::float32,
                                      Resampler::Latency::low);
        if (!m_tapTo48)
            return false;
    }
    m_tapRate = sampleRate;
    m_tapChannels = channels;
    m_tapWeights = ChannelDownmix::monoWeights(positions, channels);
    const int64_t maxFrames = std::max<int64_t>(1, m_setup.maxBlockFrames);
    const int64_t tap48 = Resampler::capacityFor(sampleRate, meetingRate, maxFrames);
    ensure(m_tapMono, maxFrames);
    ensure(m_tap48, tap48);
    ensure(m_tapMix, tap48);
    m_silence.assign(static_cast<size_t>(tap48), 0.0f);
    ensure(m_tapPCM, Resampler::capacityFor(meetingRate, apiRate, tap48));
    return true;
}

bool CapturePipeline::setTapFormatIfChanged(double sampleRate, int channels,
                                            const std::vector<ChannelPosition>& positions) {
    if (sampleRate != m_tapRate || channels != m_tapChannels)
        return setTapFormat(sampleRate, channels, positions);
    m_tapWeights = ChannelDownmix::monoWeights(positions, channels);
    return true;
}

void CapturePipeline::reset() {
    m_apiFromMicRate.reset();
    m_apiFrom48.reset();
    m_micTo48.reset();
    m_tapTo48.reset();
    m_tapRate = 0;
    m_tapChannels = 0;
    m_archive = nullptr;
    m_fifo.clear();
    m_tapBlockFrames.store(0, std::memory_order_relaxed);
    m_micState.store(micPresent, std::memory_order_relaxed);
}

void CapturePipeline::sendToModel(Resampler* converter, const float* mono, int64_t frames,
                                  std::vector<int16_t>& out) {
    if (!converter || frames <= 0)
        return;
    const int64_t produced =
        converter->process(mono, frames, out.data(), static_cast<int64_t>(out.size()));
    if (produced <= 0 || !onPCM16)
        return;
    onPCM16(QByteArray(reinterpret_cast<const char*>(out.data()),
                       static_cast<qsizetype>(produced * 2)));
}

void CapturePipeline::postLevels(float mic, float meeting) {
    if (m_throttle.admit(m_clock->now()) && onLevels)
        onLevels(mic, meeting);
}

void CapturePipeline::deviceBlock(const FloatAudioBuffer& block) {
    inPieces(block, m_setup.maxBlockFrames,
             [&](int64_t offset, int64_t frames) { devicePiece(block, offset, frames); });
}

void CapturePipeline::devicePiece(const FloatAudioBuffer& block, int64_t offset, int64_t frames) {
    const int last = block.channelCount - 1;
    const float* mic = block.channelData[std::min(last, m_setup.micChannel)] + offset;
    const float* meeting = m_setup.meetingChannel
                               ? block.channelData[std::min(last, *m_setup.meetingChannel)] + offset
                               : nullptr;

    float* mono = m_mono.data();
    switch (m_setup.streamSource) {
    case StreamSource::meetingOnly:
        if (meeting)
            std::copy(meeting, meeting + frames, mono);
        else
            std::fill(mono, mono + frames, 0.0f);
        break;
    case StreamSource::micOnly:
        std::copy(mic, mic + frames, mono);
        break;
    case StreamSource::both:
        if (meeting)
            for (int64_t i = 0; i < frames; ++i)
                mono[i] = mix(mic[i], meeting[i]);
        else
            std::copy(mic, mic + frames, mono);
        break;
    }
    sendToModel(m_apiFromMicRate.get(), mono, frames, m_micPCM);

    if (onMicBuffer)
        onMicBuffer(mic, static_cast<int>(frames), m_setup.micRate);
    if (m_archive)
        m_archive->push(mic, meeting ? meeting : mic, frames);
    postLevels(peak(mic, frames), meeting ? peak(meeting, frames) : 0.0f);
}

void CapturePipeline::micBlock(const FloatAudioBuffer& block) {
    inPieces(block, m_setup.maxBlockFrames,
             [&](int64_t offset, int64_t frames) { micPiece(block, offset, frames); });
}

void CapturePipeline::micPiece(const FloatAudioBuffer& block, int64_t offset, int64_t frames) {
    const float* mic =
        block.channelData[std::min(block.channelCount - 1, m_setup.micChannel)] + offset;
    if (onMicBuffer)
        onMicBuffer(mic, static_cast<int>(frames), m_setup.micRate);
    if (m_setup.streamSource == StreamSource::micOnly)
        sendToModel(m_apiFromMicRate.get(), mic, frames, m_micPCM);

    const bool both = m_setup.streamSource == StreamSource::both;
    // Until the tap hands them back, archive and mix stay with the tap thread.
    const bool paired = m_micState.load(std::memory_order_acquire) == micPresent;
    if ((m_archive || both) && paired) {
        const float* mic48 = mic;
        int64_t m = frames;
        if (m_micTo48) {
            m = m_micTo48->process(mic, frames, m_mic48.data(),
                                   static_cast<int64_t>(m_mic48.size()));
            mic48 = m_mic48.data();
        }
        if (m > 0) {
            takeMeeting(m);
            if (both) {
                float* mixed = m_mix48.data();
                const float* meeting = m_popped.data();
                for (int64_t i = 0; i < m; ++i)
                    mixed[i] = mix(mic48[i], meeting[i]);
                sendToModel(m_apiFrom48.get(), m_mix48.data(), m, m_micPCM);
            }
            if (m_archive)
                m_archive->push(mic48, m_popped.data(), m);
        }
    }
    if (paired)
        postLevels(peak(mic, frames), meetingPeak());
}

// The meeting that goes with `frames` of microphone, into m_popped: zeros while the cushion
// builds up (a silent or stalled meeting never ends that), then the FIFO's oldest samples,
// with a few dropped or repeated while the two clocks are found drifting apart.
void CapturePipeline::takeMeeting(int64_t frames) {
    // At least a whole tap block: a cushion shorter than the blocks the tap hands over runs
    // dry whenever a microphone block comes just before the next one.
    const int64_t cushion =
        std::max(meetingCushionFrames, m_tapBlockFrames.load(std::memory_order_relaxed));
    int64_t held = m_fifo.count();
    if (m_meetingWaits && held >= frames + cushion) {
        m_meetingWaits = false;
        restartDriftWatch();
    }
    if (m_meetingWaits) {
        std::fill(m_popped.begin(), m_popped.begin() + frames, 0.0f);
        return;
    }
    if (held < frames) {
        m_meetingWaits = true; // ran dry: this block is padded, then the cushion is rebuilt
    } else if (held > frames + maxMeetingBacklogFrames) {
        for (held -= frames + cushion; held > 0;) {
            const int64_t n = std::min<int64_t>(held, static_cast<int64_t>(m_popped.size()));
            m_fifo.pop(m_popped.data(), n);
            held -= n;
        }
        restartDriftWatch();
    } else {
        m_lowestSpare = std::min(m_lowestSpare, held - frames);
        m_windowFrames += frames;
        if (m_windowFrames >= driftWindowFrames) {
            // A low cushion alone may be a late block now and then, which no repeated sample
            // cures: the microphone runs ahead only when it is low two stretches running and
            // still sinking.
            const int64_t low = cushion / driftLowDivisor;
            const bool sinking = m_lowestSpare < low && m_previousLowestSpare < low &&
                                 m_lowestSpare < m_previousLowestSpare;
            m_slip = m_lowestSpare > cushion * driftHighFactor ? 1 : sinking ? -1 : 0;
            m_previousLowestSpare = m_lowestSpare;
            m_lowestSpare = std::numeric_limits<int64_t>::max();
            m_windowFrames = 0;
        }
        const int64_t slip = slipFor(frames);
        float* out = m_popped.data();
        if (m_slip > 0 && held >= frames + slip) {
            // Ahead: `frames + slip` samples in `frames`, a sample left out now and then.
            const int64_t taken = frames + slip;
            m_fifo.pop(out, taken);
            for (int64_t i = 0; i < frames; ++i)
                out[i] = out[i * taken / frames];
            return;
        }
        if (m_slip < 0 && frames > slip) {
            // Behind: `frames - slip` samples in `frames`, a sample said twice now and then.
            const int64_t taken = frames - slip;
            m_fifo.pop(out, taken);
            for (int64_t i = frames - 1; i >= 0; --i)
                out[i] = out[i * taken / frames];
            return;
        }
    }
    m_fifo.pop(m_popped.data(), frames);
}

void CapturePipeline::restartDriftWatch() {
    m_lowestSpare = std::numeric_limits<int64_t>::max();
    m_previousLowestSpare = std::numeric_limits<int64_t>::max();
    m_windowFrames = 0;
    m_slip = 0;
}

void CapturePipeline::tapBlock(const FloatAudioBuffer& block) {
    if (m_tapChannels <= 0)
        return;
    inPieces(block, m_setup.maxBlockFrames,
             [&](int64_t offset, int64_t frames) { tapPiece(block, offset, frames); });
}

void CapturePipeline::tapPiece(const FloatAudioBuffer& block, int64_t offset, int64_t frames) {
    // The meeting is one voice: the output's channels are folded into it by where they play,
    // so meters and the model hear the same level whichever server mixes the monitor, and a
    // surround output's centre dialogue is not diluted by the other channels.
    float* mono = m_tapMono.data();
    const int channels = std::min(block.channelCount, static_cast<int>(m_tapWeights.size()));
    std::fill(mono, mono + frames, 0.0f);
    for (int c = 0; c < channels; ++c) {
        const float* channel = block.channelData[c] + offset;
        const float weight = m_tapWeights[static_cast<size_t>(c)];
        if (weight != 0.0f)
            for (int64_t i = 0; i < frames; ++i)
                mono[i] += weight * channel[i];
    }

    const float* meeting = mono;
    int64_t m = frames;
    if (m_tapTo48) {
        m = m_tapTo48->process(mono, frames, m_tap48.data(), static_cast<int64_t>(m_tap48.size()));
        meeting = m_tap48.data();
    }
    if (m <= 0)
        return;
    m_meetingPeak.store(peak(meeting, m), std::memory_order_relaxed);
    if (m > m_tapBlockFrames.load(std::memory_order_relaxed))
        m_tapBlockFrames.store(m, std::memory_order_relaxed);
    if (m_setup.streamSource == StreamSource::meetingOnly)
        sendToModel(m_apiFrom48.get(), meeting, m, m_tapPCM);
    const bool both = m_setup.streamSource == StreamSource::both;
    int state = m_micState.load(std::memory_order_acquire);
    if (state == micReturning) {
        // The microphone takes over from its next block, with a fresh cushion.
        m_fifo.clear();
        m_micState.store(micPresent, std::memory_order_release);
        state = micPresent;
    }
    if (state == micPresent) {
        if (m_archive || both)
            m_fifo.push(meeting, m);
        return;
    }
    if (both) {
        float* mixed = m_tapMix.data();
        for (int64_t i = 0; i < m; ++i)
            mixed[i] = mix(0.0f, meeting[i]);
        sendToModel(m_apiFrom48.get(), m_tapMix.data(), m, m_tapPCM);
    }
    if (m_archive)
        m_archive->push(m_silence.data(), meeting, m);
    postLevels(0.0f, meetingPeak());
}
