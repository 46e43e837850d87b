#pragma once

#include <atomic>
#include <cstdint>
#include <vector>

// A bounded first-in-first-out store of float samples between exactly one producer thread and
// one consumer thread, without locks: each side only ever moves its own index. When full, a
// push takes what fits and leaves the rest (the producer cannot take the oldest away from
// under a consumer that may be reading it). Storage is allocated once, in the constructor.
// The archive's queue, where nothing may be lost unnoticed; MonoRingBuffer is the meeting's.
class SampleQueue {
public:
    explicit SampleQueue(int64_t capacity);
    SampleQueue(const SampleQueue&) = delete;
    SampleQueue& operator=(const SampleQueue&) = delete;

    int64_t capacity() const { return m_capacity; }
    // What waits; exact on either side's own thread, a moment's view elsewhere.
    int64_t count() const;

    // Producer: appends up to `count` samples; returns how many did not fit.
    int64_t push(const float* samples, int64_t count);
    // Consumer: takes up to `n` of the oldest samples into `destination`; returns how many.
    int64_t pop(float* destination, int64_t n);

private:
    const int64_t m_capacity;
    std::vector<float> m_storage;
    // Samples ever written and ever read; apart so the two threads do not share a cache line.
    alignas(64) std::atomic<int64_t> m_written{0};
    alignas(64) std::atomic<int64_t> m_read{0};
};
