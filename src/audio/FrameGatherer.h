#pragma once

#include "audio/FloatAudioBuffer.h"

#include <cstddef>
#include <cstdint>
#include <functional>
#include <vector>

// Turns the pieces of interleaved 32-bit float audio a sound server hands over (of any size,
// down to a few bytes, a frame sometimes split across two pieces) into non-interleaved blocks
// of a bounded size. A block is handed on when `capacityFrames` are gathered, and on flush()
// once at least `flushFrames` wait. Storage is allocated once, in the constructor.
class FrameGatherer {
public:
    using Sink = std::function<void(const FloatAudioBuffer& block)>;

    FrameGatherer(int channels, int64_t capacityFrames, int64_t flushFrames);

    void take(const void* bytes, size_t size);
    // The server left a hole: a frame begun before it is dropped.
    void hole() { m_partialBytes = 0; }
    // Hands on what waits if it is at least `flushFrames`.
    void flush();

    int channels() const { return m_channels; }
    int64_t waiting() const { return m_filled; }

    Sink sink;

private:
    void takeFrames(const float* frames, int64_t count);
    void deliver();

    int m_channels;
    int64_t m_capacity;
    int64_t m_flushFrames;
    int64_t m_filled = 0;
    std::vector<std::vector<float>> m_gathered;
    std::vector<const float*> m_pointers;
    std::vector<unsigned char> m_partial;
    size_t m_partialBytes = 0;
    std::vector<float> m_frame; // one frame, for pieces that are not float-aligned
};
