#pragma once

#include <cstdint>

// A non-interleaved block of float audio owned by someone else: `channelData[c][i]` is frame
// `i` of channel `c`. Valid only for the call it is handed to.
struct FloatAudioBuffer {
    const float* const* channelData = nullptr;
    int channelCount = 0;
    int64_t frameLength = 0;
};
