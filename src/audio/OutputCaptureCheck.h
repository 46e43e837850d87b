#pragma once

#include <QObject>
#include <QString>
#include <atomic>
#include <memory>
#include <vector>

// Proves, before an interview, that what the computer plays can be recorded: plays a short
// quiet tone on the default output while recording that output's monitor, and says whether the
// tone was heard. Lives on the GUI thread; the sound server work runs on a pool thread and the
// answer comes back by a queued call. Nothing is delivered once the object is gone.
class OutputCaptureCheck : public QObject {
    Q_OBJECT
public:
    static constexpr double toneFrequency = 880;
    static constexpr double toneSeconds = 0.8;
    static constexpr double toneAmplitude = 0.1;

    // `server` empty: the address the client library finds itself.
    explicit OutputCaptureCheck(QString server = {}, QObject* parent = nullptr);
    ~OutputCaptureCheck() override;

    // Starts a check of about two seconds; ignored while one runs.
    void start();
    bool isRunning() const { return m_running; }

    // Whether a mono recording at `sampleRate` holds the tone from sample `toneStart` on:
    // 50 ms windows measured at the tone's frequency, of which at least a quarter of the tone's
    // length stands clearly above the level before it.
    static bool toneHeard(const std::vector<float>& recording, size_t toneStart, double sampleRate);

signals:
    // `message` says what went wrong, for the user, when the tone was not heard; else empty.
    void finished(bool heard, const QString& message);

private:
    void deliver(bool heard, const QString& message);

    QString m_server;
    bool m_running = false;
    // Set when the object goes, so that a running check ends early.
    std::shared_ptr<std::atomic<bool>> m_cancelled;
};
