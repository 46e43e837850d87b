#include "realtime/RealtimeTiming.h"

#include <algorithm>

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
