#pragma once

#include "audio/AudioCaptureEngineInterface.h"

#include <QObject>
#include <QTimer>
#include <atomic>
#include <memory>
#include <optional>
#include <vector>

class ArchiveWriter;

// A capture engine that touches no sound server: it runs as soon as it is started and moves
// the meters gently, higher while someone is said to be talking. Asked to record, it writes
// what the meters show as sound, so the session's recording has each side where the script
// puts it.
class QuietCaptureEngine : public QObject, public AudioCaptureEngineInterface {
    Q_OBJECT
public:
    explicit QuietCaptureEngine(QObject* parent = nullptr);
    ~QuietCaptureEngine() override;

    std::optional<AudioFailure> start(const Source& source, StreamSource streamSource, bool record,
                                      const QString& archivePath) override;
    void stop() override;
    std::optional<AudioFailure> retarget(const TapTarget&) override { return std::nullopt; }
    bool isRunning() const override { return m_running; }
    StreamSource streamSource() const override { return StreamSource::meetingOnly; }
    QString recordingPath() const override { return m_recordingPath; }
    std::optional<AudioFailure> recordingFailure() const override { return std::nullopt; }
    double recordingDroppedSeconds() const override { return 0; }

    // Main thread: the meeting or the microphone carries speech for this many seconds.
    void meetingSpeaks(double seconds);
    void micSpeaks(double seconds);

    // The levels at `t` seconds: a quiet floor, or speech while `speaking`.
    static float level(double t, bool speaking, double phase);

private:
    void tick();
    // Writes the recording up to `t` seconds since the start.
    void recordUntil(double t);
    // Seconds since the session started; absent before.
    std::optional<double> elapsed() const;

    std::atomic<bool> m_running{false};
    QTimer m_timer;
    std::optional<double> m_startedAt; // Clock::now() seconds
    double m_meetingUntil = -1;
    double m_micUntil = -1;
    std::unique_ptr<ArchiveWriter> m_archive;
    QString m_recordingPath;
    int64_t m_recordedFrames = 0;
    uint32_t m_noise = 1;
    std::vector<float> m_mic, m_meeting;
};
