#pragma once

#include "audio/MonoRingBuffer.h"

#include <cstdint>

// One capture thread's stream, at 48 kHz, taken by another capture thread on that thread's own
// clock: zeros while a cushion builds up (a silent or stalled stream never ends that), then the
// oldest samples, with a few dropped or repeated while the two clocks are found drifting apart.
// The giving thread pushes into fifo(); everything else runs on the taking thread.
class StreamBridge {
public:
    // Beyond the cushion and this much, the stream is trimmed back to the cushion, so that one
    // that started first does not stay behind the other. 100 ms.
    static constexpr int64_t maxBacklogFrames = 4800;
    // The two devices may run on clocks that drift apart. Over each stretch of this many frames
    // the smallest cushion is taken; above the band below, a few samples per block are dropped
    // through the next stretch, up to one in 500; below it, repeated, once two stretches running
    // were below and the second lower still (a late block is no drift).
    static constexpr int64_t driftWindowFrames = 96000;
    // The band, as parts of the cushion; its top is a take's length higher, as a wait for the
    // cushion ends only at a take and may leave up to that much more in hand for good.
    static constexpr int64_t driftLowDivisor = 4;
    static constexpr int64_t driftHighFactor = 2;

    StreamBridge(double maxSeconds, double sampleRate) : m_fifo(maxSeconds, sampleRate) {}

    MonoRingBuffer& fifo() { return m_fifo; }
    // The most samples a take of `frames` may consume for drift.
    static int64_t slipFor(int64_t frames);
    // `frames` samples into `out`, which holds `room` (at least frames + slipFor(frames)),
    // keeping `cushion` samples in hand.
    void take(float* out, int64_t room, int64_t frames, int64_t cushion);
    // The next take waits for a fresh cushion.
    void restart();
    // Whether takes give zeros until the cushion is there.
    bool waiting() const { return m_waits; }

private:
    void restartDriftWatch();

    MonoRingBuffer m_fifo;
    bool m_waits = true;
    int64_t m_lowestSpare = 0;
    int64_t m_previousLowestSpare = 0; // the stretch before
    int64_t m_windowFrames = 0;
    int m_slip = 0; // +1: drop samples, -1: repeat samples, 0: neither
};
