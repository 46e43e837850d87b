#include "audio/CapturePipeline.h"

#include "audio/ArchiveWriter.h"
#include "audio/Resampler.h"

#include <algorithm>
#include <cmath>
#include <limits>
#include <utility>

namespace {
constexpr double kFIFOSeconds = 5.0;
// Past the point where the microphone takes the mix over.
constexpr double kMicFIFOSeconds = 1.0;

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

CapturePipeline::CapturePipeline()
    : m_meeting(kFIFOSeconds, meetingRate), m_mic(kMicFIFOSeconds, meetingRate) {}

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
    m_meeting.restart();
    // A tap that delivers before the microphone: the recording starts with the meeting.
    m_micCatchUp = true;
    m_mic.fifo().clear();
    m_mic.restart();
    m_mixOwner.store(tapOwnsMix);
    m_tapMixedLast = false;
    m_micMixConfirmed = false;
    m_micBlockFrames.store(0, std::memory_order_relaxed);
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
    ensure(m_popped, mic48 + StreamBridge::slipFor(mic48));
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
    m_meeting.restart();
    m_micCatchUp = true;
    m_micState.store(micReturning, std::memory_order_release);
    return true;
}

bool CapturePipeline::setTapFormat(double sampleRate, int channels,
                                   const std::vector<ChannelPosition>& positions) {
    m_meeting.fifo().clear();
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
    ensure(m_micPopped, tap48 + StreamBridge::slipFor(tap48));
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
    m_micCatchUp = false;
    m_tapArchives = false;
    m_apiFromMicRate.reset();
    m_apiFrom48.reset();
    m_micTo48.reset();
    m_tapTo48.reset();
    m_tapRate = 0;
    m_tapChannels = 0;
    m_archive = nullptr;
    m_meeting.fifo().clear();
    m_mic.fifo().clear();
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
            // The tap stopped writing the archive when the microphone came (back), and the
            // meeting since waits in the FIFO: what this block cannot pair with goes beside
            // silence, so the recording keeps every moment and the meeting its place.
            if (std::exchange(m_micCatchUp, false) && m_archive)
                archiveMeetingBesideSilence(m_meeting.fifo().count() - m - meetingCushion());
            const bool mixing = both && micMixes(mic48, m);
            if (m_archive || mixing)
                takeMeeting(m);
            if (mixing) {
                float* mixed = m_mix48.data();
                const float* meeting = m_popped.data();
                for (int64_t i = 0; i < m; ++i)
                    mixed[i] = mix(mic48[i], meeting[i]);
                sendToModel(m_apiFrom48.get(), m_mix48.data(), m, m_micPCM);
                // The meeting arrives again: the tap takes the mix back from its next block.
                if (!m_meeting.waiting())
                    m_mixOwner.store(tapOwnsMix);
            }
            if (m_archive)
                m_archive->push(mic48, m_popped.data(), m);
        }
    }
    if (paired)
        postLevels(peak(mic, frames), meetingPeak());
}

// The oldest `frames` of the meeting FIFO into the archive beside silence, through `scratch`
// and `zeros` (`room` floats each, the latter all zero).
void CapturePipeline::archiveMeetingAlone(int64_t frames, float* scratch, const float* zeros,
                                          int64_t room) {
    for (frames = std::min(frames, m_meeting.fifo().count()); frames > 0;) {
        const int64_t n = std::min(frames, room);
        m_meeting.fifo().pop(scratch, n);
        m_archive->push(zeros, scratch, n);
        frames -= n;
    }
}

// On the microphone's thread, or once both streams have stopped: the oldest `frames` of the
// meeting beside silence, through the microphone's scratch space.
void CapturePipeline::archiveMeetingBesideSilence(int64_t frames) {
    const int64_t room = static_cast<int64_t>(std::min(m_popped.size(), m_mix48.size()));
    std::fill(m_mix48.begin(), m_mix48.begin() + room, 0.0f);
    archiveMeetingAlone(frames, m_popped.data(), m_mix48.data(), room);
}

void CapturePipeline::flushMeeting() {
    if (m_archive && m_setup.usingTap)
        archiveMeetingBesideSilence(m_meeting.fifo().count());
}

// Whether the microphone thread mixes this block; while the tap mixes, the block goes to it.
bool CapturePipeline::micMixes(const float* mic48, int64_t frames) {
    if (m_mixOwner.load() == tapOwnsMix) {
        m_micMixConfirmed = false;
        if (frames > m_micBlockFrames.load(std::memory_order_relaxed))
            m_micBlockFrames.store(frames, std::memory_order_relaxed);
        m_mic.fifo().push(mic48, frames);
        if (m_mic.fifo().count() < tapStallFrames)
            return false;
        m_mixOwner.store(micOwnsMix);
        // Without an archive the meeting's FIFO holds only what was left from the last time.
        if (!m_archive)
            m_meeting.fifo().clear();
        m_meeting.restart();
    }
    // The tap may still be inside a mix it began before the switch.
    if (!m_micMixConfirmed && m_tapMixing.load())
        return false;
    m_micMixConfirmed = true;
    return true;
}

// The meeting that goes with `frames` of microphone, into m_popped.
void CapturePipeline::takeMeeting(int64_t frames) {
    m_meeting.take(m_popped.data(), static_cast<int64_t>(m_popped.size()), frames,
                   meetingCushion());
}

// At least a whole tap block: a cushion shorter than the blocks the tap hands over runs dry
// whenever a microphone block comes just before the next one.
int64_t CapturePipeline::meetingCushion() const {
    return std::max(meetingCushionFrames, m_tapBlockFrames.load(std::memory_order_relaxed));
}

// In `both`: the tap's mix of `frames` of meeting with the microphone, unless the microphone
// mixes; false then.
bool CapturePipeline::tapMixesWith(const float* meeting, int64_t frames) {
    m_tapMixing.store(true);
    if (m_mixOwner.load() != tapOwnsMix) {
        m_tapMixing.store(false);
        m_tapMixedLast = false;
        return false;
    }
    if (!m_tapMixedLast) {
        // What waits was pushed before the microphone last mixed: stale.
        m_mic.fifo().clear();
        m_mic.restart();
        m_tapMixedLast = true;
    }
    const int64_t cushion =
        std::max(meetingCushionFrames, m_micBlockFrames.load(std::memory_order_relaxed));
    m_mic.take(m_micPopped.data(), static_cast<int64_t>(m_micPopped.size()), frames, cushion);
    float* mixed = m_tapMix.data();
    const float* mic = m_micPopped.data();
    for (int64_t i = 0; i < frames; ++i)
        mixed[i] = mix(mic[i], meeting[i]);
    sendToModel(m_apiFrom48.get(), mixed, frames, m_tapPCM);
    m_tapMixing.store(false);
    return true;
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
        // The microphone takes the archive over from its next block, with a fresh cushion, and
        // its blocks join the tap's mix. The FIFO is empty unless no tap block came during the
        // absence: then its first block writes what the lost microphone left beside silence.
        m_mixOwner.store(tapOwnsMix);
        m_tapMixedLast = false;
        m_micState.store(micPresent, std::memory_order_release);
        state = micPresent;
    }
    if (state == micPresent) {
        m_tapArchives = false;
        const bool mixed = both && tapMixesWith(meeting, m);
        if (m_archive || (both && !mixed))
            m_meeting.fifo().push(meeting, m);
        return;
    }
    if (m_archive && !std::exchange(m_tapArchives, true)) {
        // The microphone's stream has stopped, and what it had not yet taken of the meeting
        // goes into the recording before this block.
        archiveMeetingAlone(m_meeting.fifo().count(), m_tapMix.data(), m_silence.data(),
                            static_cast<int64_t>(std::min(m_tapMix.size(), m_silence.size())));
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
