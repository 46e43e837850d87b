#include "speech/WavSpan.h"

#include <QFile>
#include <QtEndian>

namespace {

struct Chunk {
    QByteArray id;
    qint64 size = 0;
};

std::optional<Chunk> readChunkHeader(QFile& file) {
    const QByteArray head = file.read(8);
    if (head.size() != 8)
        return std::nullopt;
    return Chunk{head.left(4), qFromLittleEndian<quint32>(head.constData() + 4)};
}

// Four printable ASCII characters, as every chunk id is.
bool looksLikeChunkId(const QByteArray& id) {
    if (id.size() != 4)
        return false;
    for (const char c : id)
        if (c < 0x20 || c > 0x7e)
            return false;
    return true;
}

} // namespace

std::optional<WavSpan::Span> WavSpan::uncountedData(const QString& path) {
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return std::nullopt;
    const qint64 fileSize = file.size();
    const QByteArray riff = file.read(12);
    if (riff.size() != 12 || !riff.startsWith("RIFF") || riff.mid(8, 4) != "WAVE")
        return std::nullopt;
    while (const std::optional<Chunk> chunk = readChunkHeader(file)) {
        const qint64 start = file.pos();
        const qint64 end = start + chunk->size + (chunk->size & 1);
        if (chunk->id != "data") {
            if (!file.seek(end))
                return std::nullopt;
            continue;
        }
        if (end >= fileSize)
            return std::nullopt;
        // Another chunk after the samples (a LIST of tags): the header's count is meant.
        if (file.seek(end))
            if (const std::optional<Chunk> next = readChunkHeader(file))
                if (looksLikeChunkId(next->id) && end + 8 + next->size <= fileSize)
                    return std::nullopt;
        return Span{start, fileSize - start};
    }
    return std::nullopt;
}
