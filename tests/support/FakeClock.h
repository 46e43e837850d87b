#pragma once

#include "base/Clock.h"

#include <map>
#include <memory>

// A clock that moves only when the test says so. Timers fire in time order during advance().
// Main thread only.
class FakeClock final : public Clock {
public:
    double now() const override { return m_now += m_stepPerRead; }
    QDateTime wallNow() const override {
        return m_wallStart.addMSecs(qint64((m_now - kStart) * 1000.0));
    }
    std::unique_ptr<Timer> schedule(double seconds, bool repeating,
                                    std::function<void()> action) override;

    void setWallStart(const QDateTime& start) { m_wallStart = start; }
    // Moves time forward, firing every timer that falls due on the way.
    void advance(double seconds);
    int activeTimers() const { return int(m_timers.size()); }
    // From now on every read of now() first moves time on by `seconds` (no timer fires): for
    // code that reads the clock once a block, where the test cannot step in between.
    void advanceOnEveryRead(double seconds) { m_stepPerRead = seconds; }

private:
    struct Entry {
        double due;
        double interval;
        bool repeating;
        std::shared_ptr<std::function<void()>> action;
    };
    class Handle;

    static constexpr double kStart = 1000.0; // steady time is arbitrary; never start at zero
    mutable double m_now = kStart;
    double m_stepPerRead = 0;
    QDateTime m_wallStart{QDate(2026, 3, 14), QTime(9, 26, 53)};
    std::map<int, Entry> m_timers;
    int m_nextID = 0;
};
