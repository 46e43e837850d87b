#pragma once

#include "audio/AudioTypes.h"

#include <QByteArray>
#include <QString>
#include <functional>
#include <optional>
#include <variant>

// The session controller's view of the capture engine.
class AudioCaptureEngineInterface {
public:
    // One channel of an input device carries the microphone, optionally another the meeting.
    struct DeviceChannels {
        QString uid; // empty or unknown: the default input device
        int micChannel = 0;
        std::optional<int> meetingChannel;
        friend bool operator==(const DeviceChannels&, const DeviceChannels&) = default;
    };
    // The meeting comes from the loopback capture, the microphone from a device.
    struct SystemTap {
        TapTarget target;
        QString micDeviceUID;
        int micChannel = 0;
        friend bool operator==(const SystemTap&, const SystemTap&) = default;
    };
    using Source = std::variant<DeviceChannels, SystemTap>;

    enum class StreamSource { meetingOnly, micOnly, both };

    enum class EngineError { noServer, noDevice, badFormat, micDenied };
    static QString description(EngineError error);
    // Why a session on an input device that has gone is refused.
    static QString missingMeetingDevice(const QString& uid);

    virtual ~AudioCaptureEngineInterface() = default;

    // Blocks until capture runs; called off the main thread. Succeeds at once when running.
    // With `record`, the archive is written to `archivePath` (chosen by the session, so that
    // the recording, the event log and the transcript of one session share one stamp).
    virtual std::optional<AudioFailure> start(const Source& source, StreamSource streamSource,
                                              bool record, const QString& archivePath) = 0;
    virtual void stop() = 0;
    // Switches the loopback capture to another target; only while running in tap mode.
    virtual std::optional<AudioFailure> retarget(const TapTarget& meeting) = 0;
    virtual bool isRunning() const = 0;
    // What the model hears since the last start: the asked source, or the microphone when the
    // device has no meeting channel apart from the microphone's.
    virtual StreamSource streamSource() const = 0;
    // The archive of the current or last session; empty when not recording.
    virtual QString recordingPath() const = 0;
    // After stop(): why the last archive holds less than was captured (the file system's
    // words); empty when it holds everything.
    virtual std::optional<AudioFailure> recordingFailure() const = 0;
    // After stop(): the seconds of audio the last archive lost while the disk lagged more
    // than its buffer behind (the file has a gap there); 0 when none.
    virtual double recordingDroppedSeconds() const = 0;

    // Each converted 24 kHz mono PCM16 block, on the capture thread that produced it.
    std::function<void(const QByteArray& pcm16)> onPCM16;
    // Levels in [0, 1], on the main thread, at most 20 times a second.
    std::function<void(float mic, float meeting)> onLevels;
    // The microphone channel of each block: mono float at `sampleRate`, on the capture thread.
    std::function<void(const float* samples, int frames, double sampleRate)> onMicBuffer;
    // Failures after a successful start, on the main thread.
    std::function<void(const AudioFailure& error)> onError;
    // The application the meeting is narrowed to stopped playing, so the whole output is heard
    // until it plays again (`alone` false), or it plays again and is heard alone (`alone` true).
    // On the main thread.
    std::function<void(const QString& app, bool alone)> onFollowedApp;
    // The output whose sound is heard as the meeting, by its name for people; empty while an
    // application or an input device is heard instead. On the main thread, on each change.
    std::function<void(const QString& output)> onHeardOutput;
};
