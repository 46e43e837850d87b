#pragma once

#include <vector>

// Where a channel of an output plays, as the sound server names it; `other` for auxiliary and
// overhead channels and whatever this program does not place.
enum class ChannelPosition {
    mono,
    frontLeft,
    frontRight,
    frontCentre,
    lfe,
    rearLeft,
    rearRight,
    rearCentre,
    sideLeft,
    sideRight,
    frontLeftOfCentre,
    frontRightOfCentre,
    other,
};

// How much of each channel of an output goes into the meeting's one voice. Placed layouts are
// first folded to stereo with the broadcast downmix (ITU-R BS.775, ATSC A/52): L' = L + 0.707·C
// + 0.707·Ls + 0.707·Lb, R' likewise, the LFE left out; the voice is then (L' + R') / 2. So a
// dialogue on the centre of a 5.1 or 7.1 output keeps the level its stereo rendering (−3 dB on
// each side) has, instead of a sixth or an eighth of it. Stereo stays the average of its two.
//
// The weights add up to more than 1 on surround layouts, as the broadcast fold's own do before
// its optional normalisation: that normalisation would cost a centre voice 7.7 dB again, and
// only content at full scale on several channels at once passes full scale here, where the
// 16-bit conversions saturate it rather than wrap.
struct ChannelDownmix {
    // One weight per channel. Without positions for every channel, or with one not placed,
    // every channel counts the same (1 / channels).
    static std::vector<float> monoWeights(const std::vector<ChannelPosition>& positions,
                                          int channels);
};
