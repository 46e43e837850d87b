#include "audio/ChannelDownmix.h"

#include <algorithm>
#include <cmath>

namespace {
// −3 dB: what a centre or surround channel gives each side of the stereo fold.
constexpr float kSide = static_cast<float>(M_SQRT1_2);

struct Fold {
    float left = 0;
    float right = 0;
};

// Absent for a position that has no place in the fold.
bool fold(ChannelPosition position, Fold& out) {
    switch (position) {
    case ChannelPosition::mono:
        out = {1, 1};
        return true;
    case ChannelPosition::frontLeft:
    case ChannelPosition::frontLeftOfCentre:
        out = {1, 0};
        return true;
    case ChannelPosition::frontRight:
    case ChannelPosition::frontRightOfCentre:
        out = {0, 1};
        return true;
    case ChannelPosition::frontCentre:
        out = {kSide, kSide};
        return true;
    case ChannelPosition::lfe:
        out = {0, 0};
        return true;
    case ChannelPosition::rearLeft:
    case ChannelPosition::sideLeft:
        out = {kSide, 0};
        return true;
    case ChannelPosition::rearRight:
    case ChannelPosition::sideRight:
        out = {0, kSide};
        return true;
    case ChannelPosition::rearCentre:
        out = {0.5f, 0.5f};
        return true;
    case ChannelPosition::other:
        break;
    }
    return false;
}
} // namespace

std::vector<float> ChannelDownmix::monoWeights(const std::vector<ChannelPosition>& positions,
                                               int channels) {
    const int count = std::max(1, channels);
    const std::vector<float> even(static_cast<size_t>(count), 1.0f / static_cast<float>(count));
    if (static_cast<int>(positions.size()) != count)
        return even;
    std::vector<float> weights;
    for (ChannelPosition position : positions) {
        Fold f;
        if (!fold(position, f))
            return even;
        weights.push_back((f.left + f.right) / 2);
    }
    return weights;
}
