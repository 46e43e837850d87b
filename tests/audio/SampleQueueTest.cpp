#include "audio/SampleQueue.h"

#include <gtest/gtest.h>

#include <numeric>
#include <thread>
#include <vector>

// Full: a push takes what fits and says how much it left; wrapping round keeps the order.
TEST(SampleQueue, AFullQueueTakesWhatFitsAndKeepsTheOrderAcrossTheWrap) {
    SampleQueue queue(8);
    std::vector<float> samples(12);
    std::iota(samples.begin(), samples.end(), 1.0f);
    EXPECT_EQ(queue.push(samples.data(), 6), 0);
    std::vector<float> out(8, 0.0f);
    EXPECT_EQ(queue.pop(out.data(), 4), 4);
    EXPECT_EQ(queue.push(samples.data() + 6, 6), 0);
    EXPECT_EQ(queue.push(samples.data(), 3), 3);
    EXPECT_EQ(queue.count(), 8);
    EXPECT_EQ(queue.pop(out.data(), 10), 8);
    EXPECT_EQ(out, (std::vector<float>{5, 6, 7, 8, 9, 10, 11, 12}));
    EXPECT_EQ(queue.pop(out.data(), 1), 0);
}

// One thread pushes a ramp through a small queue (again what did not fit), another pops it:
// every sample arrives once, in order.
TEST(SampleQueue, TwoThreadsPassEverySampleOnceAndInOrder) {
    constexpr int total = 400000;
    SampleQueue queue(1000);
    std::thread producer([&] {
        std::vector<float> block(64);
        for (int next = 1; next <= total;) {
            const int n = std::min<int>(64, total - next + 1);
            std::iota(block.begin(), block.begin() + n, static_cast<float>(next));
            const auto left = queue.push(block.data(), n);
            next += n - static_cast<int>(left);
            if (left > 0)
                std::this_thread::yield();
        }
    });
    std::vector<float> received;
    std::vector<float> out(333);
    while (static_cast<int>(received.size()) < total) {
        const auto n = queue.pop(out.data(), static_cast<int64_t>(out.size()));
        received.insert(received.end(), out.begin(), out.begin() + n);
        if (n == 0)
            std::this_thread::yield();
    }
    producer.join();
    std::vector<float> expected(total);
    std::iota(expected.begin(), expected.end(), 1.0f);
    EXPECT_EQ(received, expected);
}
