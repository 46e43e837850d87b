#pragma once

#include "audio/AudioTypes.h"
#include "audio/FloatAudioBuffer.h"

#include <QByteArray>
#include <QString>
#include <cmath>
#include <cstdint>
#include <memory>
#include <optional>
#include <variant>
#include <vector>

// Writes a growing 16-bit PCM WAVE file whose header is valid at every moment: the size fields
// are patched every `headerUpdateInterval` bytes, so the declared length lags the data by less
// than two seconds of archive audio. Not thread-safe: one serial queue makes every call.
class WavWriter {
public:
    static constexpr int64_t headerUpdateInterval = 384000;
    static constexpr int headerSize = 44;
    // The data size field is 32 bits and the RIFF size adds 36 to it.
    static constexpr int64_t maxDataBytes = 0xFFFFFFFFLL - 36;

    using Result = std::variant<std::unique_ptr<WavWriter>, AudioFailure>;

    // Creates or truncates the file and writes the header of an empty recording. Fails with
    // the file system's error.
    static Result create(const QString& path, int sampleRate, int channels);
    // The same with a smaller data limit than the format's, so the limit can be reached in tests.
    static Result create(const QString& path, int sampleRate, int channels, int64_t dataLimit);

    ~WavWriter();
    WavWriter(const WavWriter&) = delete;
    WavWriter& operator=(const WavWriter&) = delete;

    // Converts and appends one block. Never fails to the caller: when the file system refuses
    // a block, the file is cut to the last whole frame, its header made to match, and later
    // blocks are dropped; failure() then says why.
    void write(const FloatAudioBuffer& buffer);
    // Patches the header one last time and closes the file. Later writes are ignored.
    void close();

    QString path() const { return m_path; }
    int sampleRate() const { return m_sampleRate; }
    int channels() const { return m_channels; }
    int64_t dataBytes() const { return m_dataBytes; }
    int64_t bytesSinceHeaderUpdate() const { return m_bytesSinceHeaderUpdate; }
    // Why the file holds less than it was given (the file system's words); empty while it holds
    // everything.
    const std::optional<AudioFailure>& failure() const { return m_failure; }

    static QByteArray header(int sampleRate, int channels, int64_t dataBytes);
    // The most data bytes a file of this many channels holds: whole frames under the limit.
    static int64_t dataCapacity(int channels, int64_t dataLimit = maxDataBytes);
    // Clamp to [-1, 1], scale by 32767, truncate; NaN is silence, infinities are full scale.
    // Here, so that the write loop inlines it: a position-independent build calls an exported
    // function through the PLT once per sample otherwise.
    static int16_t toPCM16(float sample) {
        if (std::isnan(sample))
            return 0;
        const float clamped = sample >= 1.0f ? 1.0f : (sample < -1.0f ? -1.0f : sample);
        return static_cast<int16_t>(clamped * 32767.0f);
    }

private:
    WavWriter(QString path, int fd, int sampleRate, int channels, int64_t dataLimit);
    void updateHeader();

    QString m_path;
    int m_fd = -1;
    int m_sampleRate = 0;
    int m_channels = 0;
    int64_t m_dataBytes = 0;
    int64_t m_bytesSinceHeaderUpdate = 0;
    int64_t m_dataCapacity = 0;
    bool m_limitReported = false;
    std::optional<AudioFailure> m_failure;
    // Reused between blocks so a steady recording does not allocate per block.
    std::vector<int16_t> m_pcm;
};
