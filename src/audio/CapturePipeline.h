#pragma once

#include "audio/AudioCaptureEngineInterface.h"
#include "audio/ChannelDownmix.h"
#include "audio/FloatAudioBuffer.h"
#include "audio/MonoRingBuffer.h"
#include "audio/StreamBridge.h"
#include "base/Clock.h"

#include <QByteArray>
#include <atomic>
#include <functional>
#include <memory>
#include <optional>
#include <vector>

class ArchiveWriter;
class Resampler;

// Drops level pairs that come within `interval` seconds of the last one passed on; nothing is
// held or summed across dropped pairs.
class LevelThrottle {
public:
    static constexpr double interval = 0.05;
    // True when a pair computed at `now` (seconds on a steady clock) is to be posted.
    bool admit(double now);
    void reset() { m_last.reset(); }

private:
    std::optional<double> m_last;
};

// What the capture engine does with every block, apart from where the blocks come from: the
// channel picks, the mix, the conversions to the 24 kHz model stream and to 48 kHz, the
// meeting FIFO between the two capture threads, the archive hand-off and the levels.
//
// prepare() and setTapFormat() run while no capture thread delivers; each handler then runs
// on one capture thread and neither allocates beyond the one byte buffer per emitted block.
class CapturePipeline {
public:
    using StreamSource = AudioCaptureEngineInterface::StreamSource;
    static constexpr double apiRate = 24000;
    static constexpr double meetingRate = 48000;
    // The meeting audio the microphone side lets build up before it takes any: the two
    // servers hand over blocks of their own sizes and rhythms, and a FIFO that runs just short
    // would pad the meeting with a few zeros again and again. 30 ms.
    static constexpr int64_t meetingCushionFrames = 1440;
    // In `both` with the microphone delivering, the tap mixes the model stream: the meeting
    // goes to the model the moment it arrives, the microphone waiting in a cushion of its own.
    // When the tap has taken none of this much microphone (an app's paused stream delivers
    // nothing), the microphone mixes instead until the meeting comes again. 500 ms.
    static constexpr int64_t tapStallFrames = 24000;

    struct Setup {
        bool usingTap = false;
        double micRate = 0;
        int micChannel = 0;                // already clamped
        std::optional<int> meetingChannel; // already validated; device mode only
        StreamSource streamSource = StreamSource::meetingOnly;
        // The largest block a handler is given at once; larger ones are taken in pieces.
        int64_t maxBlockFrames = 8192;
    };

    CapturePipeline();
    ~CapturePipeline();

    // On the capture threads.
    std::function<void(const QByteArray& pcm16)> onPCM16;
    std::function<void(const float* samples, int frames, double sampleRate)> onMicBuffer;
    // A level pair that passed the throttle; the engine posts it to the main thread.
    std::function<void(float mic, float meeting)> onLevels;

    // The throttle's clock, read on the capture threads; set before any block runs.
    void setClock(const Clock& clock) { m_clock = &clock; }

    // Builds the converters and the scratch space; false when a converter can't be made.
    bool prepare(const Setup& setup, ArchiveWriter* archive);
    // The tap's format: a fresh converter to 48 kHz mono, and an empty FIFO. `positions`
    // places the channels for the fold into one voice (see ChannelDownmix); without them every
    // channel counts the same.
    bool setTapFormat(double sampleRate, int channels,
                      const std::vector<ChannelPosition>& positions = {});
    // The same, unless rate and channel count are the ones already set: then converter and
    // FIFO stay (the fold follows the positions either way).
    bool setTapFormatIfChanged(double sampleRate, int channels,
                               const std::vector<ChannelPosition>& positions = {});
    // Drops the converters and the archive, and empties the FIFO.
    void reset();

    // Tap mode, while no microphone stream delivers (it was lost, or there is none): the tap
    // drives the archive, whose left channel is silent, the levels and, in `both`, the model
    // stream, so the meeting goes on whatever the microphone does.
    void setMicAbsent();
    // A microphone stream at `micRate` is about to deliver on `micChannel`: at its next block
    // the tap hands archive, levels and mix back to it. False when no converter fits the rate.
    bool setMicReturning(double micRate, int micChannel);

    // Once both capture streams have stopped: the meeting the microphone had not yet taken
    // goes into the archive, beside silence.
    void flushMeeting();

    // Device mode: one block of the input device, all its channels.
    void deviceBlock(const FloatAudioBuffer& block);
    // Tap mode: one block of the microphone device.
    void micBlock(const FloatAudioBuffer& block);
    // Tap mode: one block of the tapped output, in the tap's format.
    void tapBlock(const FloatAudioBuffer& block);

    MonoRingBuffer& meetingFIFO() { return m_meeting.fifo(); }
    MonoRingBuffer& micFIFO() { return m_mic.fifo(); }
    float meetingPeak() const { return m_meetingPeak.load(std::memory_order_relaxed); }
    const Setup& setup() const { return m_setup; }

    // In `both`: (mic + meeting) × 0.5, clamped to [−1, 1].
    static float mix(float mic, float meeting);
    static float peak(const float* samples, int64_t frames);

private:
    void devicePiece(const FloatAudioBuffer& block, int64_t offset, int64_t frames);
    void micPiece(const FloatAudioBuffer& block, int64_t offset, int64_t frames);
    void tapPiece(const FloatAudioBuffer& block, int64_t offset, int64_t frames);
    void takeMeeting(int64_t frames);
    void sendToModel(Resampler* converter, const float* mono, int64_t frames,
                     std::vector<int16_t>& out);
    void postLevels(float mic, float meeting);

    Setup m_setup;
    ArchiveWriter* m_archive = nullptr;
    std::unique_ptr<Resampler> m_apiFromMicRate;
    std::unique_ptr<Resampler> m_apiFrom48;
    std::unique_ptr<Resampler> m_micTo48;
    std::unique_ptr<Resampler> m_tapTo48;
    double m_tapRate = 0;
    int m_tapChannels = 0;
    std::vector<float> m_tapWeights; // each tap channel's share of the meeting's voice

    // The meeting for the microphone thread (the archive, and the mix while it mixes), and
    // the microphone for the tap thread's mix.
    StreamBridge m_meeting;
    StreamBridge m_mic;
    // In `both`, who mixes the model stream. The microphone takes it over with a store and
    // then waits to see the tap outside its mix once (m_tapMixing, set around it); both sides
    // use sequentially consistent order, so the two never convert at the same time.
    enum MixOwner { tapOwnsMix, micOwnsMix };
    std::atomic<int> m_mixOwner{tapOwnsMix};
    std::atomic<bool> m_tapMixing{false};
    bool m_micMixConfirmed = false; // microphone thread
    bool m_tapMixedLast = false;    // tap thread: a fresh start empties the microphone's FIFO
    // The largest microphone block (at 48 kHz), read by the tap thread for its cushion.
    std::atomic<int64_t> m_micBlockFrames{0};
    bool micMixes(const float* mic48, int64_t frames);
    bool tapMixesWith(const float* meeting, int64_t frames);
    // Written by the tap thread, read by the microphone thread for the meter.
    std::atomic<float> m_meetingPeak{0.0f};
    // The largest block the tap has handed over (at 48 kHz), read by the microphone thread.
    std::atomic<int64_t> m_tapBlockFrames{0};
    // Who drives the archive in tap mode; the tap thread takes `returning` to `present`.
    enum MicState { micPresent, micAbsent, micReturning };
    std::atomic<int> m_micState{micPresent};
    bool prepareMic(double micRate);
    bool m_tapArchives = false; // tap thread: it wrote the archive's last block
    bool m_micCatchUp = false;  // set while no microphone block runs
    void archiveMeetingAlone(int64_t frames, float* scratch, const float* zeros, int64_t room);
    void archiveMeetingBesideSilence(int64_t frames);
    int64_t meetingCushion() const;
    LevelThrottle m_throttle;
    const Clock* m_clock = &systemClock();

    // Scratch space of the microphone thread...
    std::vector<float> m_mono, m_mic48, m_popped, m_mix48;
    std::vector<int16_t> m_micPCM;
    // ...and of the tap thread.
    std::vector<float> m_tapMono, m_tap48, m_tapMix, m_silence, m_micPopped;
    std::vector<int16_t> m_tapPCM;
};
