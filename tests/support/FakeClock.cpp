#include "support/FakeClock.h"

class FakeClock::Handle final : public Clock::Timer {
public:
    Handle(FakeClock& clock, int id) : m_clock(clock), m_id(id) {}
    ~Handle() override { m_clock.m_timers.erase(m_id); }

private:
    FakeClock& m_clock;
    int m_id;
};

std::unique_ptr<Clock::Timer> FakeClock::schedule(double seconds, bool repeating,
                                                  std::function<void()> action) {
    const int id = m_nextID++;
    m_timers[id] = {m_now + seconds, seconds, repeating,
                    std::make_shared<std::function<void()>>(std::move(action))};
    return std::make_unique<Handle>(*this, id);
}

void FakeClock::advance(double seconds) {
    const double target = m_now + seconds;
    for (;;) {
        auto next = m_timers.end();
        for (auto it = m_timers.begin(); it != m_timers.end(); ++it)
            if (it->second.due <= target + 1e-9 &&
                (next == m_timers.end() || it->second.due < next->second.due))
                next = it;
        if (next == m_timers.end())
            break;
        m_now = std::max(m_now, next->second.due);
        auto action = next->second.action; // the action may destroy its own timer
        if (next->second.repeating)
            next->second.due += next->second.interval;
        else
            m_timers.erase(next);
        (*action)();
    }
    m_now = target;
}
