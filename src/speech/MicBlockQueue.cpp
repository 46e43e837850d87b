#include "speech/MicBlockQueue.h"

#include <algorithm>
#include <cstring>

MicBlockQueue::MicBlockQueue(int slotCount) : m_slots(size_t(std::max(2, slotCount))) {}

void MicBlockQueue::push(int segment, double sampleRate, const float* samples, int frames) {
    const size_t capacity = m_slots.size();
    int offset = 0;
    while (offset < frames) {
        const size_t tail = m_tail.load(std::memory_order_relaxed);
        const size_t head = m_head.load(std::memory_order_acquire);
        if (tail - head >= capacity) {
            m_dropped.fetch_add(frames - offset, std::memory_order_relaxed);
            return;
        }
        Slot& slot = m_slots[tail % capacity];
        const int count = std::min(slotFrames, frames - offset);
        slot.segment = segment;
        slot.sampleRate = sampleRate;
        slot.frames = count;
        std::memcpy(slot.samples, samples + offset, size_t(count) * sizeof(float));
        m_tail.store(tail + 1, std::memory_order_release);
        offset += count;
    }
}

const MicBlockQueue::Slot* MicBlockQueue::front() const {
    const size_t head = m_head.load(std::memory_order_relaxed);
    if (head == m_tail.load(std::memory_order_acquire))
        return nullptr;
    return &m_slots[head % m_slots.size()];
}

void MicBlockQueue::pop() {
    const size_t head = m_head.load(std::memory_order_relaxed);
    if (head != m_tail.load(std::memory_order_acquire))
        m_head.store(head + 1, std::memory_order_release);
}
