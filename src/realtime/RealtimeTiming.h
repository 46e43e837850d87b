#pragma once

#include <chrono>

// Every interval of the connection lifecycle, in one value so tests can run the whole schedule
// in milliseconds. The defaults are the production values.
struct RealtimeTiming {
    // From opening the socket to the service's session.updated: a service that accepts the
    // WebSocket but never answers the setup would otherwise leave the client connecting forever.
    static constexpr std::chrono::milliseconds defaultHandshakeTimeout{15000};
    // How much longer a scheduled cycle waits for an answer that is still streaming.
    static constexpr std::chrono::milliseconds defaultCycleGrace{20000};

    // One step of the back-off schedule (1, 2, 4, 8, 16, 20, 20… steps).
    std::chrono::milliseconds backoffUnit{1000};
    std::chrono::milliseconds pingInterval{20000};
    // A ping whose pong has not come back by then counts as a failed ping.
    std::chrono::milliseconds pongTimeout{10000};
    // One minute of the session cycling period.
    std::chrono::milliseconds cycleMinute{60000};
    std::chrono::milliseconds handshakeTimeout{defaultHandshakeTimeout};
    std::chrono::milliseconds cycleGrace{defaultCycleGrace};
    // A request refused because an answer was under way that this client had not yet heard of
    // is asked again after this, unless that answer's end comes first.
    std::chrono::milliseconds askAgainDelay{250};

    static constexpr int backoffCapSteps = 20;
    static constexpr int minimumCycleMinutes = 5;

    // Steps to wait before reconnect attempt `attempt` (0-based): 2^attempt, at most 20.
    static int backoffSteps(int attempt);
    // `reconnectMinutes` raised to the minimum.
    static int cycleMinutes(int reconnectMinutes);
    // The session cycling period for `reconnectMinutes`, at most what a timer's int of
    // milliseconds holds: a longer one would wrap round and cycle within seconds.
    std::chrono::milliseconds cycleInterval(int reconnectMinutes) const;
};
