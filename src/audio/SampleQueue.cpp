#include "audio/SampleQueue.h"

#include <algorithm>
#include <cstring>

SampleQueue::SampleQueue(int64_t capacity)
    : m_capacity(std::max<int64_t>(0, capacity)), m_storage(static_cast<size_t>(m_capacity)) {}

int64_t SampleQueue::count() const {
    return m_written.load(std::memory_order_acquire) - m_read.load(std::memory_order_acquire);
}

int64_t SampleQueue::push(const float* samples, int64_t count) {
    if (!samples || count <= 0)
        return 0;
    const int64_t written = m_written.load(std::memory_order_relaxed);
    const int64_t held = written - m_read.load(std::memory_order_acquire);
    const int64_t taken = std::min(count, m_capacity - held);
    if (taken <= 0)
        return count;
    const int64_t at = written % m_capacity;
    const int64_t first = std::min(taken, m_capacity - at);
    std::memcpy(m_storage.data() + at, samples, static_cast<size_t>(first) * sizeof(float));
    std::memcpy(m_storage.data(), samples + first,
                static_cast<size_t>(taken - first) * sizeof(float));
    m_written.store(written + taken, std::memory_order_release);
    return count - taken;
}

int64_t SampleQueue::pop(float* destination, int64_t n) {
    if (!destination || n <= 0)
        return 0;
    const int64_t read = m_read.load(std::memory_order_relaxed);
    const int64_t taken = std::min(n, m_written.load(std::memory_order_acquire) - read);
    if (taken <= 0)
        return 0;
    const int64_t at = read % m_capacity;
    const int64_t first = std::min(taken, m_capacity - at);
    std::memcpy(destination, m_storage.data() + at, static_cast<size_t>(first) * sizeof(float));
    std::memcpy(destination + first, m_storage.data(),
                static_cast<size_t>(taken - first) * sizeof(float));
    m_read.store(read + taken, std::memory_order_release);
    return taken;
}
