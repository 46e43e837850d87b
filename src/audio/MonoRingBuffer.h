#pragma once

#include <cstdint>
#include <mutex>
#include <vector>

// A first-in-first-out store of mono float samples shared by two threads: the meeting side
// pushes, the microphone side pops exactly as many samples as it is processing. It never holds
// more than `capacity` samples; the oldest are dropped first. (SampleQueue, the archive's
// queue, cannot do this job: it refuses what does not fit rather than dropping the oldest, and
// pads nothing, where the meeting must stay current and the microphone must never wait.)
class MonoRingBuffer {
public:
    MonoRingBuffer(double maxSeconds, double sampleRate);
    MonoRingBuffer(const MonoRingBuffer&) = delete;
    MonoRingBuffer& operator=(const MonoRingBuffer&) = delete;

    int64_t capacity() const { return m_capacity; }
    int64_t count() const;

    // Appends `count` samples; when more than `capacity` are then held, the oldest go.
    void push(const float* samples, int64_t count);
    // Exactly `n` samples, oldest first; zeros make up for what is not held.
    std::vector<float> pop(int64_t n);
    // The same into the caller's storage of `n` floats, for threads that must not allocate.
    void pop(float* destination, int64_t n);
    // Forgets every held sample; the storage stays allocated.
    void clear();

private:
    void copyOut(float* destination, int64_t n);

    const int64_t m_capacity;
    mutable std::mutex m_lock;
    // Fixed storage allocated once, so push and pop never allocate on the audio threads.
    std::vector<float> m_storage;
    int64_t m_head = 0; // index of the oldest held sample
    int64_t m_count = 0;
};
