#include "audio/FrameGatherer.h"

#include <algorithm>
#include <cstring>

FrameGatherer::FrameGatherer(int channels, int64_t capacityFrames, int64_t flushFrames)
    : m_channels(std::max(1, channels)), m_capacity(std::max<int64_t>(1, capacityFrames)),
      m_flushFrames(std::clamp<int64_t>(flushFrames, 1, m_capacity)),
      m_gathered(static_cast<size_t>(m_channels),
                 std::vector<float>(static_cast<size_t>(m_capacity))),
      m_pointers(static_cast<size_t>(m_channels)),
      m_partial(static_cast<size_t>(m_channels) * sizeof(float)),
      m_frame(static_cast<size_t>(m_channels)) {
    for (size_t c = 0; c < m_gathered.size(); ++c)
        m_pointers[c] = m_gathered[c].data();
}

void FrameGatherer::deliver() {
    if (m_filled > 0 && sink)
        sink(FloatAudioBuffer{m_pointers.data(), m_channels, m_filled});
    m_filled = 0;
}

void FrameGatherer::flush() {
    if (m_filled >= m_flushFrames)
        deliver();
}

void FrameGatherer::takeFrames(const float* frames, int64_t count) {
    int64_t offset = 0;
    while (offset < count) {
        const int64_t n = std::min(count - offset, m_capacity - m_filled);
        for (int c = 0; c < m_channels; ++c) {
            float* target = m_gathered[static_cast<size_t>(c)].data() + m_filled;
            const float* from = frames + offset * m_channels + c;
            for (int64_t i = 0; i < n; ++i)
                target[i] = from[i * m_channels];
        }
        m_filled += n;
        offset += n;
        if (m_filled == m_capacity)
            deliver();
    }
}

void FrameGatherer::take(const void* data, size_t size) {
    const auto* bytes = static_cast<const unsigned char*>(data);
    const size_t frameBytes = static_cast<size_t>(m_channels) * sizeof(float);
    if (m_partialBytes > 0) {
        const size_t need = std::min(frameBytes - m_partialBytes, size);
        std::memcpy(m_partial.data() + m_partialBytes, bytes, need);
        m_partialBytes += need;
        bytes += need;
        size -= need;
        if (m_partialBytes < frameBytes)
            return;
        std::memcpy(m_frame.data(), m_partial.data(), frameBytes);
        takeFrames(m_frame.data(), 1);
        m_partialBytes = 0;
    }
    const size_t whole = size / frameBytes;
    if (reinterpret_cast<uintptr_t>(bytes) % alignof(float) == 0) {
        takeFrames(reinterpret_cast<const float*>(bytes), static_cast<int64_t>(whole));
    } else {
        for (size_t i = 0; i < whole; ++i) {
            std::memcpy(m_frame.data(), bytes + i * frameBytes, frameBytes);
            takeFrames(m_frame.data(), 1);
        }
    }
    const size_t rest = size - whole * frameBytes;
    std::memcpy(m_partial.data(), bytes + whole * frameBytes, rest);
    m_partialBytes = rest;
}
