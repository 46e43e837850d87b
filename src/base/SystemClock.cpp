#include "base/Clock.h"

#include <QElapsedTimer>
#include <QTimer>

namespace {

class QtTimer final : public Clock::Timer {
public:
    QtTimer(double seconds, bool repeating, std::function<void()> action) : m_timer(new QTimer) {
        m_timer->setTimerType(Qt::PreciseTimer);
        m_timer->setSingleShot(!repeating);
        m_timer->setInterval(int(seconds * 1000.0 + 0.5));
        QObject::connect(m_timer, &QTimer::timeout, m_timer, std::move(action));
        m_timer->start();
    }
    // An action may destroy its own timer (a timeout that tears down what owns it): the QTimer
    // is in the middle of signalling then, so it stops now and goes on its loop's next turn.
    ~QtTimer() override {
        m_timer->stop();
        m_timer->deleteLater();
    }

private:
    QTimer* m_timer;
};

class SystemClock final : public Clock {
public:
    SystemClock() { m_elapsed.start(); }
    double now() const override { return double(m_elapsed.nsecsElapsed()) / 1e9; }
    QDateTime wallNow() const override { return QDateTime::currentDateTime(); }
    std::unique_ptr<Timer> schedule(double seconds, bool repeating,
                                    std::function<void()> action) override {
        return std::make_unique<QtTimer>(seconds, repeating, std::move(action));
    }

private:
    QElapsedTimer m_elapsed;
};

} // namespace

std::unique_ptr<Clock> makeSystemClock() {
    return std::make_unique<SystemClock>();
}

Clock& systemClock() {
    static SystemClock clock;
    return clock;
}
