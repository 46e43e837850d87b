#pragma once

#include <QString>
#include <optional>

// Where the samples of a WAVE file really end. A recorder that stopped without its last header
// update (a crash, a power cut) leaves a header counting less than the file holds; the rest is
// audio all the same, and readers that trust the header lose it.
namespace WavSpan {
struct Span {
    qint64 start = 0; // offset of the first sample
    qint64 bytes = 0; // every byte from there to the end of the file
};
// The data chunk, grown to the end of the file, when it is the last chunk and its header
// counts less than follows it; nothing for a file whose header is right (or not a WAVE file).
std::optional<Span> uncountedData(const QString& path);
} // namespace WavSpan
