#pragma once

#include "audio/AudioCaptureEngineInterface.h"
#include "audio/CaptureFaults.h"
#include "audio/CapturePipeline.h"
#include "audio/ProcessTapCapture.h"
#include "base/Clock.h"
#include "base/MainThreadInbox.h"

#include <QString>
#include <atomic>
#include <functional>
#include <memory>

class ArchiveWriter;
class PulseConnection;
class PulseRecorder;

// Captures the microphone and the meeting at once and turns them into the 24 kHz model stream,
// the microphone blocks for transcription, the meters' levels and the stereo archive. The
// meeting is another channel of the microphone's device, or the loopback capture of what the
// computer plays. One engine lives for the whole run; it is started and stopped per session.
//
// The microphone is a record stream on its device, all channels; its blocks run the device
// or tap-mode handler on the recorder's thread. The loopback capture runs on a thread of its
// own and hands the meeting to the microphone side through the FIFO.
//
// A tapped application is followed, not its one stream: when the stream ends the capture moves
// to the application's next one, and hears the whole output while the application plays
// nothing, looking for it again every few seconds.
class AudioCaptureEngine : public AudioCaptureEngineInterface {
public:
    // `micAuthorized` answers whether the platform lets this program record (unset: it does);
    // `server` empty: the sound server the client library finds itself.
    explicit AudioCaptureEngine(std::function<bool()> micAuthorized = {},
                                const QString& server = {});
    ~AudioCaptureEngine() override;
    AudioCaptureEngine(const AudioCaptureEngine&) = delete;
    AudioCaptureEngine& operator=(const AudioCaptureEngine&) = delete;

    std::optional<AudioFailure> start(const Source& source, StreamSource streamSource, bool record,
                                      const QString& archivePath) override;
    void stop() override;
    std::optional<AudioFailure> retarget(const TapTarget& meeting) override;
    bool isRunning() const override { return m_running.load(); }
    QString recordingPath() const override { return m_recordingPath; }
    std::optional<AudioFailure> recordingFailure() const override { return m_recordingFailure; }
    double recordingDroppedSeconds() const override { return m_recordingDroppedSeconds; }

    // What the current or last start settled on.
    bool usingTap() const { return m_usingTap; }
    int micChannel() const { return m_pipeline.setup().micChannel; }
    std::optional<int> meetingChannel() const { return m_pipeline.setup().meetingChannel; }
    StreamSource streamSource() const override { return m_pipeline.setup().streamSource; }
    double micRate() const { return m_pipeline.setup().micRate; }
    const ProcessTapCapture& tapCapture() const { return m_tap; }
    // How often an application that went quiet is looked for, in seconds.
    static constexpr double followPollSeconds = 3.0;

    // The microphone's capture block, as asked of the sound server.
    static constexpr int micBlockFrames = 2048;
    static constexpr double micPollSeconds = 2.0;

private:
    std::optional<AudioFailure> startCapture(const Source& source, StreamSource streamSource,
                                             bool record, const QString& archivePath);
    std::variant<AudioInputDevice, AudioFailure> findInput(const QString& uid);
    static std::optional<QString> appOf(const TapTarget& target);
    void release();
    std::optional<AudioFailure> startTap(const TapTarget& target, bool keepConverter);
    void restartTap(const std::optional<StreamFault>& cause = {});
    // The output to record for the whole system: the one applications play on, keeping
    // `keep` while they play there (see OutputChoice). Empty: the default output.
    QString pickOutput(const QString& keep) const;
    void reconsiderOutput(bool defaultChanged);
    void settleOutput();
    void followLostApp(const std::optional<StreamFault>& cause = {});
    bool resumeFollowedApp();
    void pollFollowedApp();
    // A failure of the meeting capture; with a cause, the stream failure that led to it.
    void reportTapError(const QString& description, const std::optional<StreamFault>& cause);
    void reportFault(const CaptureFault& fault);
    // Tap mode: the microphone went (or there is none); the meeting goes on alone until one
    // is back, looked for every `micPollSeconds`.
    void loseMic(const QString& device);
    // Tells `banner` unless the microphone was already silent; looks for one from then on.
    void silenceMic(const QString& banner);
    void pollMic();
    std::optional<AudioFailure> openMic(const AudioInputDevice& input);
    void tell(const QString& text);
    // The sound server went away: both streams end, and resume (with the gap recorded as
    // silence) once it answers again, looked for with a short back-off.
    void loseServer(const StreamFault& fault);
    void pollServer();
    void pollServerAfter(double seconds);
    void resumeAfterServer();

    // First, so it goes last: what the capture threads post here is dropped once it is gone.
    MainThreadInbox m_inbox;
    std::function<bool()> m_micAuthorized;
    // Device lookups; shared with the pool tasks that ask the server away from the GUI thread.
    std::shared_ptr<PulseConnection> m_connection;
    // Carries those tasks' answers back; closed when the engine goes.
    std::shared_ptr<MainThreadInbox> m_background = std::make_shared<MainThreadInbox>();
    ProcessTapCapture m_tap;
    std::unique_ptr<PulseRecorder> m_mic;
    CapturePipeline m_pipeline;
    std::unique_ptr<ArchiveWriter> m_archive;
    QString m_recordingPath;
    std::optional<AudioFailure> m_recordingFailure;
    double m_recordingDroppedSeconds = 0;
    TapTarget m_startTarget;
    // The bundle identifier of the application being tapped, or looked for while it is quiet.
    std::optional<QString> m_followedApp;
    std::unique_ptr<Clock::Timer> m_followPoll; // main thread; null while not polling
    bool m_widened = false; // the followed application went quiet: the whole output
    // The output recorded for the whole system, kept across restarts while applications play
    // on it, and the name last told to the owner.
    QString m_keepOutput;
    QString m_heardOutput;
    std::unique_ptr<Clock::Timer> m_outputSettle; // main thread; null while not waiting
    bool m_chooseAfresh = false; // the user changed the default output since the last look
    QString m_micUid;            // the microphone asked for (empty: the default input)
    int m_micChannelAsked = 0;
    bool m_micMissing = false;                  // main thread
    std::unique_ptr<Clock::Timer> m_micPoll;    // main thread; null while not polling
    std::optional<double> m_serverLostAt;       // main thread, Clock::now() seconds
    std::unique_ptr<Clock::Timer> m_serverPoll; // main thread; null while not polling
    double m_serverPollSeconds = 0;
    bool m_usingTap = false;
    std::atomic<bool> m_running{false};
    // Meeting blocks reach the pipeline only once it knows the new stream's format: a
    // (re)started stream may deliver before start() has returned.
    std::atomic<bool> m_tapReady{false};
    // A lost server fails both captures at once: the banner tells the first failure. Main thread.
    CaptureFaults::Earliest m_faults;
};
