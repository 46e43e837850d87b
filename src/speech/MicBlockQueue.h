#pragma once

#include <atomic>
#include <cstddef>
#include <vector>

// A single-producer, single-consumer queue of microphone blocks: the capture thread copies a
// block in without locks or allocation, the recognition worker takes it out.
class MicBlockQueue {
public:
    static constexpr int slotFrames = 1024;
    struct Slot {
        int segment = 0;
        double sampleRate = 0;
        int frames = 0;
        float samples[slotFrames];
    };

    explicit MicBlockQueue(int slotCount = 512);

    // Producer side. Copies the block, split over slots; frames that find no room are dropped.
    void push(int segment, double sampleRate, const float* samples, int frames);
    // Consumer side: the oldest slot, or null when empty; pop() releases it.
    const Slot* front() const;
    void pop();

    long long droppedFrames() const { return m_dropped.load(std::memory_order_relaxed); }

private:
    std::vector<Slot> m_slots;
    std::atomic<size_t> m_head{0}; // next slot to read
    std::atomic<size_t> m_tail{0}; // next slot to write
    std::atomic<long long> m_dropped{0};
};
