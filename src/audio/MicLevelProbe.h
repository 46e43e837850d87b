#pragma once

#include "base/Clock.h"

#include <QObject>
#include <QString>
#include <memory>

// A live level meter for one input, so the user can see the microphone hears them before an
// interview. Lives on the GUI thread; opening the input runs on a pool thread, the audio
// thread only updates an atomic peak, and a timer on this object's thread reports it.
// Destroying the probe stops it; nothing is delivered once it is gone.
class MicLevelProbe : public QObject {
    Q_OBJECT
public:
    // How often the level is reported at most.
    static constexpr int intervalMs = 50;

    // `server` empty: the address the client library finds itself.
    explicit MicLevelProbe(QString server = {}, QObject* parent = nullptr);
    ~MicLevelProbe() override;

    // Records the input whose uid is `uid`, or the server's default input when `uid` is empty;
    // a probe that runs is stopped first.
    void start(const QString& uid = {});
    void stop();
    bool isRunning() const { return m_run != nullptr; }

signals:
    // The highest sample magnitude (0..1) across the input's channels since the last report;
    // only while audio arrives.
    void levelChanged(float peak);
    // The input could not be opened or stopped working; the probe has stopped.
    void failed(const QString& message);

private:
    struct Run;
    void report();
    // Stops the probe and says `message` on the probe's thread, once per run, unless the probe
    // has stopped that run meanwhile. Any thread.
    static void postFailure(Run& run, const QString& message);

    QString m_server;
    std::shared_ptr<Run> m_run;
    std::unique_ptr<Clock::Timer> m_timer; // while a run reports
};
