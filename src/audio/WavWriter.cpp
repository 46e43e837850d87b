#include "audio/WavWriter.h"

#include "audio/WholeFile.h"
#include "base/SystemReason.h"

#include <QDebug>
#include <QFile>
#include <QtEndian>

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <unistd.h>

namespace {

AudioFailure fileError(const QString& path, int error) {
    return {QStringLiteral("%1: %2").arg(path, systemReason(error))};
}

using WholeFile::writeAll;

bool writeUInt32At(int fd, off_t offset, uint32_t value) {
    const uint32_t little = qToLittleEndian(value);
    return ::pwrite(fd, &little, sizeof little, offset) == static_cast<ssize_t>(sizeof little);
}

void appendUInt32(QByteArray& bytes, uint32_t value) {
    const uint32_t little = qToLittleEndian(value);
    bytes.append(reinterpret_cast<const char*>(&little), sizeof little);
}

void appendUInt16(QByteArray& bytes, uint16_t value) {
    const uint16_t little = qToLittleEndian(value);
    bytes.append(reinterpret_cast<const char*>(&little), sizeof little);
}

} // namespace

WavWriter::Result WavWriter::create(const QString& path, int sampleRate, int channels) {
    return create(path, sampleRate, channels, maxDataBytes);
}

WavWriter::Result WavWriter::create(const QString& path, int sampleRate, int channels,
                                    int64_t dataLimit) {
    // The header stores these in 16 and 32 bits; anything outside would describe another file.
    if (sampleRate <= 0 || channels <= 0 || channels > 0x7FFF ||
        static_cast<int64_t>(sampleRate) * channels * 2 > 0xFFFFFFFFLL)
        return fileError(path, EINVAL);
    const QByteArray native = QFile::encodeName(path);
    const int fd = ::open(native.constData(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0666);
    if (fd < 0)
        return fileError(path, errno);
    const QByteArray bytes = header(sampleRate, channels, 0);
    int error = 0;
    if (writeAll(fd, bytes.constData(), static_cast<size_t>(bytes.size()), error) !=
        static_cast<size_t>(bytes.size())) {
        ::close(fd);
        return fileError(path, error);
    }
    return std::unique_ptr<WavWriter>(new WavWriter(path, fd, sampleRate, channels, dataLimit));
}

WavWriter::WavWriter(QString path, int fd, int sampleRate, int channels, int64_t dataLimit)
    : m_path(std::move(path)), m_fd(fd), m_sampleRate(sampleRate), m_channels(channels),
      m_dataCapacity(dataCapacity(channels, dataLimit)) {}

WavWriter::~WavWriter() {
    close();
}

QByteArray WavWriter::header(int sampleRate, int channels, int64_t dataBytes) {
    QByteArray bytes;
    bytes.reserve(headerSize);
    bytes.append("RIFF", 4);
    appendUInt32(bytes, static_cast<uint32_t>(dataBytes + 36));
    bytes.append("WAVE", 4);
    bytes.append("fmt ", 4);
    appendUInt32(bytes, 16);
    appendUInt16(bytes, 1);
    appendUInt16(bytes, static_cast<uint16_t>(channels));
    appendUInt32(bytes, static_cast<uint32_t>(sampleRate));
    appendUInt32(bytes, static_cast<uint32_t>(sampleRate * channels * 2));
    appendUInt16(bytes, static_cast<uint16_t>(channels * 2));
    appendUInt16(bytes, 16);
    bytes.append("data", 4);
    appendUInt32(bytes, static_cast<uint32_t>(dataBytes));
    return bytes;
}

int64_t WavWriter::dataCapacity(int channels, int64_t dataLimit) {
    if (channels <= 0 || dataLimit <= 0)
        return 0;
    const int64_t frameBytes = int64_t{channels} * 2;
    return std::min(dataLimit, maxDataBytes) / frameBytes * frameBytes;
}

void WavWriter::write(const FloatAudioBuffer& buffer) {
    if (m_fd < 0 || m_failure || !buffer.channelData || buffer.frameLength <= 0 ||
        buffer.channelCount <= 0)
        return;
    for (int c = 0; c < std::min(buffer.channelCount, m_channels); ++c) {
        if (!buffer.channelData[c])
            return;
    }

    const int64_t frameBytes = int64_t{m_channels} * 2;
    int64_t frames = buffer.frameLength;
    const int64_t room = (m_dataCapacity - m_dataBytes) / frameBytes;
    const bool reachesLimit = frames >= room;
    if (frames > room) {
        frames = room;
        if (!m_limitReported) {
            m_limitReported = true;
            qWarning().noquote() << "[Corvinel] recording reached the WAV size limit of"
                                 << m_dataCapacity
                                 << "bytes; later audio is not archived:" << m_path;
        }
    }
    if (frames <= 0)
        return;

    m_pcm.resize(static_cast<size_t>(frames * m_channels));
    for (int c = 0; c < m_channels; ++c) {
        const float* source = buffer.channelData[std::min(buffer.channelCount - 1, c)];
        int16_t* out = m_pcm.data() + c;
        for (int64_t i = 0; i < frames; ++i, out += m_channels)
            *out = qToLittleEndian(toPCM16(source[i]));
    }

    const int64_t bytes = frames * frameBytes;
    int error = 0;
    const auto written = static_cast<int64_t>(writeAll(
        m_fd, reinterpret_cast<const char*>(m_pcm.data()), static_cast<size_t>(bytes), error));
    if (written < bytes) {
        // The recording ends here, whole: a torn frame would swap the channels of every later
        // sample, and a header counting the lost block would promise audio that is not there.
        // The capture that feeds the archive goes on regardless.
        const int64_t kept = written / frameBytes * frameBytes;
        if (kept != written) {
            // Should cutting the torn frame off fail too, the header still counts whole
            // frames only, and readers stop at the header's count.
            [[maybe_unused]] const int cut = ::ftruncate(m_fd, headerSize + m_dataBytes + kept);
        }
        m_dataBytes += kept;
        m_failure = AudioFailure{systemReason(error)};
        m_bytesSinceHeaderUpdate = 0;
        updateHeader();
        return;
    }
    m_dataBytes += bytes;
    m_bytesSinceHeaderUpdate += bytes;
    if (m_bytesSinceHeaderUpdate >= headerUpdateInterval || reachesLimit) {
        m_bytesSinceHeaderUpdate = 0;
        updateHeader();
    }
}

void WavWriter::updateHeader() {
    if (m_fd < 0)
        return;
    // Positional writes leave the append offset where it is, which the two seeks and the seek
    // back would otherwise have to restore.
    if ((!writeUInt32At(m_fd, 4, static_cast<uint32_t>(m_dataBytes + 36)) ||
         !writeUInt32At(m_fd, 40, static_cast<uint32_t>(m_dataBytes))) &&
        !m_failure)
        m_failure = AudioFailure{systemReason(errno)};
}

void WavWriter::close() {
    if (m_fd < 0)
        return;
    updateHeader();
    ::close(m_fd);
    m_fd = -1;
}
