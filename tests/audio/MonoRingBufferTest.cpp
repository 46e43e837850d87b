#include "audio/MonoRingBuffer.h"

#include <gtest/gtest.h>

#include <atomic>
#include <cmath>
#include <deque>
#include <numeric>
#include <random>
#include <thread>

namespace {

std::vector<float> ramp(int64_t first, int64_t count) {
    std::vector<float> values(static_cast<size_t>(count));
    std::iota(values.begin(), values.end(), static_cast<float>(first));
    return values;
}

} // namespace

TEST(MonoRingBuffer, CapacityIsTheProductTruncated) {
    const struct {
        double seconds, rate;
        int64_t capacity;
    } rows[] = {
        {5.0, 48000.0, 240000}, {0.5, 44100.0, 22050}, {0.0001, 48000.0, 4},
        {1.0, 0.0, 0},          {-1.0, 48000.0, 0},    {std::nan(""), 48000.0, 0},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(testing::Message() << row.seconds << " s at " << row.rate);
        EXPECT_EQ(MonoRingBuffer(row.seconds, row.rate).capacity(), row.capacity);
    }
}

TEST(MonoRingBuffer, OverfullPushKeepsTheNewestSamples) {
    MonoRingBuffer buffer(5.0, 48000.0);
    const auto input = ramp(1, 300000);
    buffer.push(input.data(), static_cast<int64_t>(input.size()));
    EXPECT_EQ(buffer.count(), 240000);
    EXPECT_EQ(buffer.pop(240000), ramp(60001, 240000));
    EXPECT_EQ(buffer.count(), 0);
}

TEST(MonoRingBuffer, OverflowAcrossManyPushesDropsTheOldest) {
    MonoRingBuffer buffer(1.0, 1000.0);
    for (int64_t start = 1; start <= 3000; start += 300) {
        const auto block = ramp(start, 300);
        buffer.push(block.data(), 300);
    }
    EXPECT_EQ(buffer.pop(1000), ramp(2001, 1000));
}

TEST(MonoRingBuffer, PopPastWhatIsHeldPadsWithZeros) {
    MonoRingBuffer buffer(5.0, 48000.0);
    const auto input = ramp(1, 100);
    buffer.push(input.data(), 100);
    // Through the pointer form the pipeline uses, into scratch space that held older audio.
    std::vector<float> output(512, -1.0f);
    buffer.pop(output.data(), 512);
    EXPECT_EQ(std::vector<float>(output.begin(), output.begin() + 100), input);
    EXPECT_EQ(std::vector<float>(output.begin() + 100, output.end()),
              std::vector<float>(412, 0.0f));
    EXPECT_EQ(buffer.count(), 0);
}

TEST(MonoRingBuffer, PopFromEmptyGivesZerosAndPopZeroRemovesNothing) {
    MonoRingBuffer buffer(5.0, 48000.0);
    EXPECT_EQ(buffer.pop(7), std::vector<float>(7, 0.0f));
    EXPECT_TRUE(buffer.pop(0).empty());

    const auto input = ramp(1, 10);
    buffer.push(input.data(), 10);
    EXPECT_TRUE(buffer.pop(0).empty());
    EXPECT_EQ(buffer.count(), 10);
}

TEST(MonoRingBuffer, ClearForgetsEverythingAndTheBufferStaysUsable) {
    MonoRingBuffer buffer(0.01, 1000.0);
    const auto input = ramp(1, 8);
    buffer.push(input.data(), 8);
    buffer.clear();
    EXPECT_EQ(buffer.count(), 0);
    EXPECT_EQ(buffer.pop(3), std::vector<float>(3, 0.0f));
    buffer.push(input.data(), 8);
    EXPECT_EQ(buffer.pop(12), std::vector<float>({1, 2, 3, 4, 5, 6, 7, 8, 0, 0, 0, 0}));
}

// Irregular pushes and pops that wrap the storage many times agree with a plain queue that is
// trimmed the same way.
TEST(MonoRingBuffer, AgreesWithASimpleQueueUnderIrregularUse) {
    MonoRingBuffer buffer(1.0, 997.0);
    std::deque<float> model;
    std::mt19937 random(42);
    std::uniform_int_distribution<int> size(0, 1500);
    float next = 1;
    for (int step = 0; step < 2000; ++step) {
        if (random() % 2) {
            const auto block = ramp(static_cast<int64_t>(next), size(random));
            next += static_cast<float>(block.size());
            buffer.push(block.data(), static_cast<int64_t>(block.size()));
            model.insert(model.end(), block.begin(), block.end());
            while (model.size() > 997)
                model.pop_front();
        } else {
            const int n = size(random);
            std::vector<float> expected(static_cast<size_t>(n), 0.0f);
            for (int i = 0; i < n && !model.empty(); ++i) {
                expected[static_cast<size_t>(i)] = model.front();
                model.pop_front();
            }
            ASSERT_EQ(buffer.pop(n), expected) << "step " << step;
        }
        ASSERT_EQ(buffer.count(), static_cast<int64_t>(model.size()));
    }
}

namespace {

// Pushes 1..total in blocks on one thread while another pops blocks and keeps the non-zero
// values (the padding is zeros, which no pushed sample is).
std::vector<float> pushAndPopConcurrently(MonoRingBuffer& buffer, int total) {
    std::atomic<bool> producerDone{false};
    std::thread producer([&] {
        const auto all = ramp(1, total);
        for (int offset = 0; offset < total; offset += 480) {
            buffer.push(all.data() + offset, std::min(480, total - offset));
            if (offset % 9600 == 0)
                std::this_thread::yield();
        }
        producerDone = true;
    });
    std::vector<float> received;
    received.reserve(static_cast<size_t>(total));
    std::vector<float> block(512);
    bool paddingSeenLast = false;
    while (true) {
        const bool finished = producerDone.load();
        buffer.pop(block.data(), 512);
        for (float value : block) {
            if (value != 0.0f) {
                EXPECT_FALSE(paddingSeenLast) << "a sample after padding in one block";
                received.push_back(value);
            }
            paddingSeenLast = value == 0.0f;
        }
        paddingSeenLast = false;
        if (finished && buffer.count() == 0)
            break;
    }
    producer.join();
    return received;
}

} // namespace

TEST(MonoRingBuffer, ConcurrentPushAndPopLoseAndDuplicateNothing) {
    const int total = 960000;
    MonoRingBuffer buffer(static_cast<double>(total), 1.0);
    EXPECT_EQ(pushAndPopConcurrently(buffer, total), ramp(1, total));
}

TEST(MonoRingBuffer, ConcurrentOverflowDropsOnlyTheOldest) {
    const int total = 960000;
    MonoRingBuffer buffer(0.1, 48000.0);
    const auto received = pushAndPopConcurrently(buffer, total);
    ASSERT_FALSE(received.empty());
    for (size_t i = 1; i < received.size(); ++i)
        ASSERT_LT(received[i - 1], received[i]) << "at " << i;
    EXPECT_EQ(received.back(), static_cast<float>(total));
}
