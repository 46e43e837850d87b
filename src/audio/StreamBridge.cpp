#include "audio/StreamBridge.h"

#include <algorithm>
#include <limits>

int64_t StreamBridge::slipFor(int64_t frames) {
    return std::max<int64_t>(1, frames / 500);
}

void StreamBridge::restart() {
    m_waits = true;
    restartDriftWatch();
}

void StreamBridge::restartDriftWatch() {
    m_lowestSpare = std::numeric_limits<int64_t>::max();
    m_previousLowestSpare = std::numeric_limits<int64_t>::max();
    m_windowFrames = 0;
    m_slip = 0;
}

void StreamBridge::take(float* out, int64_t room, int64_t frames, int64_t cushion) {
    int64_t held = m_fifo.count();
    if (m_waits && held >= frames + cushion) {
        m_waits = false;
        restartDriftWatch();
    }
    if (m_waits) {
        std::fill(out, out + frames, 0.0f);
        return;
    }
    if (held < frames) {
        m_waits = true; // ran dry: this block is padded, then the cushion is rebuilt
    } else if (held > frames + cushion + maxBacklogFrames) {
        for (held -= frames + cushion; held > 0;) {
            const int64_t n = std::min(held, room);
            m_fifo.pop(out, n);
            held -= n;
        }
        restartDriftWatch();
    } else {
        m_lowestSpare = std::min(m_lowestSpare, held - frames);
        m_windowFrames += frames;
        if (m_windowFrames >= driftWindowFrames) {
            // A low cushion alone may be a late block now and then, which no repeated sample
            // cures: the taker runs ahead only when it is low two stretches running and still
            // sinking.
            const int64_t low = cushion / driftLowDivisor;
            const bool sinking = m_lowestSpare < low && m_previousLowestSpare < low &&
                                 m_lowestSpare < m_previousLowestSpare;
            m_slip = m_lowestSpare > cushion * driftHighFactor + frames ? 1 : sinking ? -1 : 0;
            m_previousLowestSpare = m_lowestSpare;
            m_lowestSpare = std::numeric_limits<int64_t>::max();
            m_windowFrames = 0;
        }
        const int64_t slip = slipFor(frames);
        if (m_slip > 0 && held >= frames + slip) {
            // Ahead: `frames + slip` samples in `frames`, a sample left out now and then.
            const int64_t taken = frames + slip;
            m_fifo.pop(out, taken);
            for (int64_t i = 0; i < frames; ++i)
                out[i] = out[i * taken / frames];
            return;
        }
        if (m_slip < 0 && frames > slip) {
            // Behind: `frames - slip` samples in `frames`, a sample said twice now and then.
            const int64_t taken = frames - slip;
            m_fifo.pop(out, taken);
            for (int64_t i = frames - 1; i >= 0; --i)
                out[i] = out[i * taken / frames];
            return;
        }
    }
    m_fifo.pop(out, frames);
}
