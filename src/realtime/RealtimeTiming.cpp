#include "realtime/RealtimeTiming.h"

#include <algorithm>
#include <limits>

int RealtimeTiming::backoffSteps(int attempt) {
    if (attempt < 0)
        return 1;
    if (attempt >= 5)
        return backoffCapSteps;
    return std::min(1 << attempt, backoffCapSteps);
}

int RealtimeTiming::cycleMinutes(int reconnectMinutes) {
    return std::max(reconnectMinutes, minimumCycleMinutes);
}

std::chrono::milliseconds RealtimeTiming::cycleInterval(int reconnectMinutes) const {
    constexpr std::chrono::milliseconds::rep timerMax = std::numeric_limits<int>::max();
    const std::chrono::milliseconds::rep minute =
        std::max<std::chrono::milliseconds::rep>(cycleMinute.count(), 1);
    const int minutes = cycleMinutes(reconnectMinutes);
    if (minutes > timerMax / minute)
        return std::chrono::milliseconds(timerMax);
    return std::chrono::milliseconds(minute * minutes);
}
