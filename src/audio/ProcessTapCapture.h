#pragma once

#include "audio/AudioTypes.h"
#include "audio/ChannelDownmix.h"
#include "audio/FloatAudioBuffer.h"
#include "audio/OutputChoice.h"

#include <QPointer>
#include <atomic>
#include <functional>
#include <memory>
#include <optional>

class PulseRecorder;
class QObject;

// Captures what this computer plays: the monitor of one output (the owner says which; see
// OutputChoice), or the monitor stream of one application's playback. Blocks go to onAudio on
// the capture's own thread; a failing stream is reported through onInterrupted, the end of the
// tapped application's stream through onTargetLost, once per run between them and on the main
// thread, so the owner can rebuild the capture. Changes that may call for another output come
// through onOutputsChanged.
//
// It also holds the class-level listings the capture and the pickers share.
class ProcessTapCapture {
public:
    enum class TapErrorKind {
        serverNotRunning,
        tapFailed,
        aggregateFailed,
        ioProcFailed,
        unsupported,
        formatUnavailable
    };
    struct TapError {
        TapErrorKind kind = TapErrorKind::tapFailed;
        int32_t status = 0; // the sound server's error code, where there is one
        QString description() const;
        friend bool operator==(const TapError&, const TapError&) = default;
    };

    struct Format {
        double sampleRate = 0;
        int channels = 0;
        std::vector<ChannelPosition> positions; // where each channel plays
        friend bool operator==(const Format&, const Format&) = default;
    };

    // `server` empty: the address the client library finds itself.
    explicit ProcessTapCapture(const QString& server = {});
    ~ProcessTapCapture();
    ProcessTapCapture(const ProcessTapCapture&) = delete;
    ProcessTapCapture& operator=(const ProcessTapCapture&) = delete;

    // Every block, on the capture thread; valid only during the call. Set before start().
    std::function<void(const FloatAudioBuffer& block)> onAudio;
    // On the main thread, while running: the default output changed (no cause) or the stream
    // failed (the cause).
    std::function<void(const std::optional<StreamFault>& cause)> onInterrupted;
    // On the main thread, while running: the tapped stream is gone. Applications end a stream
    // and open another when they change device or go quiet, so the owner may look for the
    // application's new one; unset, onInterrupted is called instead.
    std::function<void()> onTargetLost;
    // On the main thread, while an output is recorded: applications started, stopped or moved
    // their playback, or (`defaultChanged`) the user chose another default output. Several
    // changes in a row come as one call.
    std::function<void(bool defaultChanged)> onOutputsChanged;

    // Blocks until the stream runs. Succeeds at once, changing nothing, when already running.
    // `output`: for the system output, the sink whose monitor to record (empty: the default).
    std::optional<TapError> start(const TapTarget& target, const QString& output = {});
    // Clears the running flag, then tears down.
    void stop();
    // Ends the stream and forgets the format; safe to call repeatedly.
    void cleanUp();

    bool isRunning() const { return m_running.load(); }
    std::optional<Format> format() const { return m_format; }
    TapTarget target() const { return m_target; }
    // The output recorded (its server name and its name for people); empty for an application.
    QString outputName() const { return m_outputName; }
    QString outputDescription() const { return m_outputDescription; }

    // The sinks, streams, clients and recordings that choose the output, with the default's
    // name; absent when the server does not answer.
    static std::optional<OutputChoice::Listing> outputListing();
    // Who this process is, as OutputChoice and the listings leave it out.
    static SoundServerListing::Self self();

    // Streams that play now, each with its object id; this application never among them.
    static QList<AudioProcessInfo> runningAudioProcesses();
    // The playing programs first, then the sound server's other programs.
    static QList<AudioProcessInfo> selectableApps();
    // The object id of the first playing process with this bundle identifier.
    static std::optional<uint32_t> audioObject(const QString& bundleID);
    // The bundle identifier of the playing stream with this object id.
    static std::optional<QString> bundleID(uint32_t object);

private:
    void postInterruption(bool targetLost, const std::optional<StreamFault>& cause = {});
    void postOutputsChanged(bool defaultChanged);

    std::unique_ptr<PulseRecorder> m_recorder;
    std::unique_ptr<QObject> m_mainThread; // receives the queued interruptions
    std::optional<Format> m_format;
    TapTarget m_target;
    std::atomic<bool> m_running{false};
    std::atomic<bool> m_interruptionPosted{false};
    std::atomic<bool> m_outputsPosted{false};
    std::atomic<bool> m_defaultChanged{false};
    QString m_outputName;
    QString m_outputDescription;
};
