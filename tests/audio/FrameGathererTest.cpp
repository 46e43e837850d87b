// The re-chunking of what the sound server hands over: pieces of any size, frames split
// across pieces, holes, and blocks of a bounded size.

#include "audio/FrameGatherer.h"

#include <gtest/gtest.h>

#include <cstring>
#include <numeric>

namespace {

// Interleaved frames whose samples count up: frame f, channel c holds f * 10 + c.
std::vector<float> frames(int count, int channels) {
    std::vector<float> data(size_t(count * channels));
    for (int f = 0; f < count; ++f)
        for (int c = 0; c < channels; ++c)
            data[size_t(f * channels + c)] = float(f * 10 + c);
    return data;
}

struct Blocks {
    std::vector<int64_t> sizes;
    std::vector<std::vector<float>> channels;
    void attach(FrameGatherer& gatherer) {
        channels.assign(size_t(gatherer.channels()), {});
        gatherer.sink = [this](const FloatAudioBuffer& block) {
            sizes.push_back(block.frameLength);
            for (int c = 0; c < block.channelCount; ++c)
                channels[size_t(c)].insert(channels[size_t(c)].end(), block.channelData[c],
                                           block.channelData[c] + block.frameLength);
        };
    }
};

} // namespace

TEST(FrameGatherer, PiecesOfAnySizeBecomeWholeFramesInOrder) {
    for (const size_t piece : {size_t(2), size_t(3), size_t(7), size_t(12), size_t(100)}) {
        FrameGatherer gatherer(3, 64, 16);
        Blocks blocks;
        blocks.attach(gatherer);
        const auto data = frames(500, 3);
        const auto* bytes = reinterpret_cast<const unsigned char*>(data.data());
        const size_t total = data.size() * sizeof(float);
        for (size_t at = 0; at < total; at += piece) {
            gatherer.take(bytes + at, std::min(piece, total - at));
            gatherer.flush();
        }
        std::vector<float> expected(500);
        for (int c = 0; c < 3; ++c) {
            for (int f = 0; f < 500; ++f)
                expected[size_t(f)] = float(f * 10 + c);
            const auto& got = blocks.channels[size_t(c)];
            // All but what waits below the flush size has been handed on, in order.
            ASSERT_EQ(got.size() + size_t(gatherer.waiting()), 500u) << "piece " << piece;
            EXPECT_TRUE(std::equal(got.begin(), got.end(), expected.begin())) << "piece " << piece;
        }
        for (const int64_t size : blocks.sizes) {
            EXPECT_GE(size, 16) << "piece " << piece;
            EXPECT_LE(size, 64) << "piece " << piece;
        }
    }
}

TEST(FrameGatherer, LargePiecesAreSplitAtTheCapacityAndSmallOnesWaitForTheFlushSize) {
    FrameGatherer gatherer(2, 100, 40);
    Blocks blocks;
    blocks.attach(gatherer);
    const auto big = frames(250, 2);
    gatherer.take(big.data(), big.size() * sizeof(float));
    EXPECT_EQ(blocks.sizes, (std::vector<int64_t>{100, 100}));
    EXPECT_EQ(gatherer.waiting(), 50);
    gatherer.flush();
    EXPECT_EQ(blocks.sizes, (std::vector<int64_t>{100, 100, 50}));

    const auto small = frames(30, 2);
    gatherer.take(small.data(), small.size() * sizeof(float));
    gatherer.flush();
    EXPECT_EQ(blocks.sizes.size(), 3u); // 30 < 40: it waits
    gatherer.take(small.data(), small.size() * sizeof(float));
    gatherer.flush();
    EXPECT_EQ(blocks.sizes.back(), 60);
    const auto exact = frames(40, 2);
    gatherer.take(exact.data(), exact.size() * sizeof(float));
    gatherer.flush();
    EXPECT_EQ(blocks.sizes.back(), 40) << "exactly the flush size is enough";
}

TEST(FrameGatherer, AHoleDropsTheFrameItSplitAndMisalignedPiecesStillRead) {
    FrameGatherer gatherer(2, 10, 1);
    Blocks blocks;
    blocks.attach(gatherer);
    const auto data = frames(4, 2);
    std::vector<unsigned char> bytes(data.size() * sizeof(float) + 1);
    std::memcpy(bytes.data() + 1, data.data(), data.size() * sizeof(float));
    gatherer.take(bytes.data() + 1, 12); // one frame and half of the next
    gatherer.hole();
    gatherer.take(bytes.data() + 1 + 16, 16); // frames 2 and 3, misaligned in memory
    gatherer.flush();
    ASSERT_EQ(blocks.channels[0], (std::vector<float>{0, 20, 30}));
    EXPECT_EQ(blocks.channels[1], (std::vector<float>{1, 21, 31}));
}
