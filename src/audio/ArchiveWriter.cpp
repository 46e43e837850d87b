#include "audio/ArchiveWriter.h"

#include "audio/Resampler.h"
#include "audio/SampleQueue.h"
#include "audio/WavWriter.h"
#include "base/Folders.h"

#include <QFile>
#include <QFileInfo>

#include <chrono>

namespace {
constexpr double kRingSeconds = 5.0;
// The write thread looks for new frames this often; the capture side never wakes it (it takes
// no locks). Each look is a thread wakeup, which costs more than the writing: half a second
// keeps them few and leaves 4.5 s of the queue's five for a busy disk.
constexpr auto kPollInterval = std::chrono::milliseconds(500);
} // namespace

ArchiveWriter::Result ArchiveWriter::open(const QString& path, double inputRate,
                                          BeforeWrite beforeWrite) {
    if (!(inputRate > 0))
        return AudioFailure{QStringLiteral("Could not read a valid input format from the device.")};
    const QString folder = QFileInfo(path).absolutePath();
    if (const QString why = makeFolder(folder); !why.isEmpty())
        return AudioFailure{
            QStringLiteral("%1: could not create the folder (%2)").arg(folder, why)};
    auto created = WavWriter::create(path, archiveRate, 2);
    if (auto* failure = std::get_if<AudioFailure>(&created))
        return *failure;
    std::unique_ptr<Resampler> resampler;
    if (inputRate != archiveRate) {
        resampler = Resampler::create(inputRate, archiveRate, 2, Resampler::Output::float32);
        if (!resampler) {
            std::get<std::unique_ptr<WavWriter>>(created)->close();
            QFile::remove(path);
            return AudioFailure{
                QStringLiteral("Could not read a valid input format from the device.")};
        }
    }
    return std::unique_ptr<ArchiveWriter>(
        new ArchiveWriter(path, inputRate, std::move(std::get<std::unique_ptr<WavWriter>>(created)),
                          std::move(resampler), std::move(beforeWrite)));
}

ArchiveWriter::ArchiveWriter(QString path, double inputRate, std::unique_ptr<WavWriter> writer,
                             std::unique_ptr<Resampler> resampler, BeforeWrite beforeWrite)
    : m_path(std::move(path)), m_inputRate(inputRate), m_writer(std::move(writer)),
      m_resampler(std::move(resampler)),
      m_ring(std::make_unique<SampleQueue>(2 * static_cast<int64_t>(kRingSeconds * inputRate))),
      m_beforeWrite(std::move(beforeWrite)), m_interleave(static_cast<size_t>(chunkFrames * 2)),
      m_popped(static_cast<size_t>(chunkFrames * 2)) {
    const int64_t converted = m_resampler ? m_resampler->capacityFor(chunkFrames) : chunkFrames;
    m_converted.resize(static_cast<size_t>(converted * 2));
    m_left.resize(static_cast<size_t>(converted));
    m_right.resize(static_cast<size_t>(converted));
    m_thread = std::thread([this] { run(); });
}

ArchiveWriter::~ArchiveWriter() {
    close();
}

void ArchiveWriter::push(const float* left, const float* right, int64_t frames) {
    if (!left || !right || m_closing.load())
        return;
    for (int64_t offset = 0; offset < frames; offset += chunkFrames) {
        const int64_t n = std::min(chunkFrames, frames - offset);
        float* out = m_interleave.data();
        for (int64_t i = 0; i < n; ++i) {
            out[2 * i] = left[offset + i];
            out[2 * i + 1] = right[offset + i];
        }
        if (const int64_t lost = m_ring->push(out, n * 2))
            m_droppedFrames.fetch_add(lost / 2, std::memory_order_relaxed);
    }
}

void ArchiveWriter::run() {
    for (;;) {
        while (drainOnce()) {
        }
        if (m_closing.load()) {
            // Frames pushed just before the flag was seen are still taken.
            while (drainOnce()) {
            }
            return;
        }
        std::unique_lock lock(m_wakeLock);
        m_wake.wait_for(lock, kPollInterval, [this] { return m_closing.load(); });
    }
}

// Writes one chunk of what waits; false when nothing did.
bool ArchiveWriter::drainOnce() {
    const int64_t available = m_ring->count() / 2;
    if (available <= 0)
        return false;
    if (m_beforeWrite)
        m_beforeWrite();
    const int64_t frames = std::min(available, chunkFrames);
    m_ring->pop(m_popped.data(), frames * 2);
    const float* interleaved = m_popped.data();
    int64_t outFrames = frames;
    if (m_resampler) {
        outFrames = m_resampler->process(m_popped.data(), frames, m_converted.data(),
                                         static_cast<int64_t>(m_converted.size() / 2));
        interleaved = m_converted.data();
    }
    if (outFrames > 0) {
        for (int64_t i = 0; i < outFrames; ++i) {
            m_left[static_cast<size_t>(i)] = interleaved[2 * i];
            m_right[static_cast<size_t>(i)] = interleaved[2 * i + 1];
        }
        const float* channels[2] = {m_left.data(), m_right.data()};
        m_writer->write(FloatAudioBuffer{channels, 2, outFrames});
    }
    return true;
}

void ArchiveWriter::flushResampler() {
    if (!m_resampler)
        return;
    // The filter's last few milliseconds come out once it is told the input has ended.
    const int64_t outFrames =
        m_resampler->flush(m_converted.data(), static_cast<int64_t>(m_converted.size() / 2));
    if (outFrames <= 0)
        return;
    for (int64_t i = 0; i < outFrames; ++i) {
        m_left[static_cast<size_t>(i)] = m_converted[static_cast<size_t>(2 * i)];
        m_right[static_cast<size_t>(i)] = m_converted[static_cast<size_t>(2 * i + 1)];
    }
    const float* channels[2] = {m_left.data(), m_right.data()};
    m_writer->write(FloatAudioBuffer{channels, 2, outFrames});
}

void ArchiveWriter::close() {
    if (m_closed)
        return;
    m_closed = true;
    {
        std::lock_guard lock(m_wakeLock);
        m_closing = true;
    }
    m_wake.notify_all();
    if (m_thread.joinable())
        m_thread.join();
    flushResampler();
    m_writer->close();
}

std::optional<AudioFailure> ArchiveWriter::failure() const {
    return m_closed ? m_writer->failure() : std::nullopt;
}

double ArchiveWriter::droppedSeconds() const {
    return static_cast<double>(m_droppedFrames.load(std::memory_order_relaxed)) / m_inputRate;
}

void ArchiveWriter::discard() {
    close();
    QFile::remove(m_path);
}
