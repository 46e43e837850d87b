#include "audio/MonoRingBuffer.h"

#include <algorithm>
#include <cmath>
#include <cstring>

namespace {

int64_t capacityFor(double maxSeconds, double sampleRate) {
    const double product = maxSeconds * sampleRate;
    // NaN, negative and absurd products would make the storage size meaningless.
    if (!(product > 0.0))
        return 0;
    return static_cast<int64_t>(std::min(product, static_cast<double>(INT32_MAX)));
}

} // namespace

MonoRingBuffer::MonoRingBuffer(double maxSeconds, double sampleRate)
    : m_capacity(capacityFor(maxSeconds, sampleRate)), m_storage(static_cast<size_t>(m_capacity)) {}

int64_t MonoRingBuffer::count() const {
    std::lock_guard guard(m_lock);
    return m_count;
}

void MonoRingBuffer::push(const float* samples, int64_t count) {
    if (!samples || count <= 0 || m_capacity == 0)
        return;
    std::lock_guard guard(m_lock);
    // Of a block larger than the whole buffer only its newest samples can survive the trim.
    if (count >= m_capacity) {
        std::memcpy(m_storage.data(), samples + (count - m_capacity),
                    static_cast<size_t>(m_capacity) * sizeof(float));
        m_head = 0;
        m_count = m_capacity;
        return;
    }
    const int64_t overflow = std::max<int64_t>(0, m_count + count - m_capacity);
    m_head = (m_head + overflow) % m_capacity;
    m_count -= overflow;

    int64_t tail = (m_head + m_count) % m_capacity;
    const int64_t first = std::min(count, m_capacity - tail);
    std::memcpy(m_storage.data() + tail, samples, static_cast<size_t>(first) * sizeof(float));
    std::memcpy(m_storage.data(), samples + first,
                static_cast<size_t>(count - first) * sizeof(float));
    m_count += count;
}

std::vector<float> MonoRingBuffer::pop(int64_t n) {
    if (n <= 0)
        return {};
    std::vector<float> result(static_cast<size_t>(n));
    pop(result.data(), n);
    return result;
}

void MonoRingBuffer::pop(float* destination, int64_t n) {
    if (!destination || n <= 0)
        return;
    std::lock_guard guard(m_lock);
    copyOut(destination, n);
}

void MonoRingBuffer::copyOut(float* destination, int64_t n) {
    const int64_t taken = std::min(n, m_count);
    if (taken > 0) {
        const int64_t first = std::min(taken, m_capacity - m_head);
        std::memcpy(destination, m_storage.data() + m_head,
                    static_cast<size_t>(first) * sizeof(float));
        std::memcpy(destination + first, m_storage.data(),
                    static_cast<size_t>(taken - first) * sizeof(float));
        m_head = (m_head + taken) % m_capacity;
        m_count -= taken;
    }
    std::fill(destination + taken, destination + n, 0.0f);
}

void MonoRingBuffer::clear() {
    std::lock_guard guard(m_lock);
    m_head = 0;
    m_count = 0;
}
