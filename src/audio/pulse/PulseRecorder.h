#pragma once

#include "audio/AudioTypes.h"
#include "audio/ChannelDownmix.h"
#include "audio/FloatAudioBuffer.h"

#include <QString>
#include <cstdint>
#include <functional>
#include <memory>
#include <variant>
#include <vector>

// One record stream on the sound server, with a connection and an event thread of its own: an
// input device, the monitor of an output (what the computer plays), or the monitor of one
// application's playback stream. Blocks arrive as 32-bit float in the source's own rate,
// channel count and channel order, re-chunked so that the irregular pieces the server hands
// over become blocks of about one fragment.
//
// Every callback runs on the recorder's event thread, with its lock held: they must return
// quickly and must not call start() or stop().
class PulseRecorder {
public:
    struct Source {
        enum class Kind {
            device,      // the source named `name` (an input device's uid)
            output,      // the monitor of the output named `name`, or of the default one
            application, // the monitor stream of the playback stream `streamIndex`
        };
        Kind kind = Kind::device;
        QString name;
        uint32_t streamIndex = 0;
    };

    struct Format {
        double sampleRate = 0;
        int channels = 0;
        std::vector<ChannelPosition> positions; // one per channel, from the server's map
        QString outputName;  // the output whose monitor is recorded (outputs only)
        QString description; // the device's or output's name for people
    };

    // Why start() failed, at which step, with the server's error code (0 when there is none).
    struct Failure {
        // noServer: nothing answers at the server's address (it is not running).
        enum class Step { noServer, connect, lookup, stream, format };
        Step step = Step::connect;
        int code = 0;
        QString message;
    };
    using Result = std::variant<Format, Failure>;

    // `server` empty: the address the client library finds itself (PULSE_SERVER, client.conf).
    explicit PulseRecorder(QString streamName, QString server = {});
    ~PulseRecorder();
    PulseRecorder(const PulseRecorder&) = delete;
    PulseRecorder& operator=(const PulseRecorder&) = delete;

    // Set before start(); each may be unset.
    std::function<void(const FloatAudioBuffer& block)> onBlock;
    // The server's default output changed (output sources only).
    std::function<void()> onDefaultOutputChanged;
    // A playback stream came, went or changed (output sources only): where applications play
    // may have moved.
    std::function<void()> onStreamsChanged;
    // The recorded application's stream ended or moved to another output.
    std::function<void()> onSourceLost;
    // The stream or the connection failed after a successful start; reported once.
    std::function<void(const StreamFault& fault)> onFailure;

    // The rate `fragmentFrames` counts at when an output or application is recorded.
    static constexpr int outputFragmentRate = 48000;
    // Blocks of 100 ms at 48 kHz, one model chunk each. Recording a monitor sets the output's own
    // period to the fragment (PulseAudio) or to the fragment rounded down to a power of two
    // (PipeWire, up to its longest period), so it never shortens what the applications asked
    // for. Shorter blocks only cost wake-ups: the model takes the audio in 100 ms chunks, which
    // 40 ms blocks filled every 120 ms on PulseAudio. On PipeWire, whose periods are 2048 frames
    // at most, the blocks come every 85 or 128 ms.
    static constexpr int monitorFragmentFrames = 4800;

    // Connects and records; blocks until the stream runs or fails. `fragmentFrames` is the
    // block size asked of the server and the size blocks are gathered to: frames of a device,
    // or of 48 kHz for an output or an application, whatever rate that plays at.
    Result start(const Source& source, int fragmentFrames);
    // Ends the stream and the connection; no callback runs once it returns. Safe to repeat.
    void stop();
    bool isRecording() const;

    // How long connecting and each step of start may take before the server counts as frozen.
    static constexpr int timeoutMs = 3000;

private:
    struct Impl;
    std::unique_ptr<Impl> d;
};
