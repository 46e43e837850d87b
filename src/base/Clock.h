#pragma once

#include <QDateTime>
#include <functional>
#include <memory>

// Time as the program sees it: a steady clock for durations, the wall clock for stamps, and
// timers. Tests replace it with a clock they advance by hand (tests/support/FakeClock).
class Clock {
public:
    // Cancels its timer when destroyed.
    class Timer {
    public:
        virtual ~Timer() = default;
    };

    virtual ~Clock() = default;
    // Seconds on a steady clock; only differences mean anything. Any thread, the capture
    // threads too: it takes no lock and allocates nothing.
    virtual double now() const = 0;
    virtual QDateTime wallNow() const = 0;
    // Runs `action` on the calling thread after `seconds`, again every `seconds` when
    // `repeating`, until the returned timer is destroyed.
    virtual std::unique_ptr<Timer> schedule(double seconds, bool repeating,
                                            std::function<void()> action) = 0;
};

// The real clock: QElapsedTimer, and QTimer on the calling thread's event loop.
std::unique_ptr<Clock> makeSystemClock();
// One real clock for the whole process, for whatever is not handed a clock of its own.
Clock& systemClock();
