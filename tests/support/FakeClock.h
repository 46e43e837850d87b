#pragma once

#include "session/Clock.h"

#include <map>
#include <memory>

// A clock that moves only when the test says so. Timers fire in time order during advance().
class FakeClock final : public Clock {
public:
    double now() const override { return m_now; }
    QDateTime wallNow() const override {
        return m_wallStart.addMSecs(qint64((m_now - kStart) * 1000.0));
    }
    std::unique_ptr<Timer> schedule(double seconds, bool repeating,
                                    std::function<void()> action) override;

    void setWallStart(const QDateTime& start) { m_wallStart = start; }
    // Moves time forward, firing every timer that falls due on the way.
    void advance(double seconds);
    int activeTimers() const { return int(m_timers.size()); }

private:
    struct Entry {
        double due;
        double interval;
        bool repeating;
        std::shared_ptr<std::function<void()>> action;
    };
    class Handle;

    static constexpr double kStart = 1000.0; // steady time is arbitrary; never start at zero
    double m_now = kStart;
    QDateTime m_wallStart{QDate(2026, 3, 14), QTime(9, 26, 53)};
    std::map<int, Entry> m_timers;
    int m_nextID = 0;
};
