#pragma once

#include <QObject>
#include <functional>

// Runs a task later on the main thread; the seam that lets tests move time by hand.
class SpeechScheduler {
public:
    virtual ~SpeechScheduler() = default;
    virtual void schedule(double seconds, std::function<void()> task) = 0;
};

// Qt's timers on the thread that created the object. Pending tasks die with it.
class QtSpeechScheduler final : public SpeechScheduler {
public:
    void schedule(double seconds, std::function<void()> task) override;

private:
    QObject m_context;
};
