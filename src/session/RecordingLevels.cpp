#include "session/RecordingLevels.h"

#include <QFile>
#include <cmath>
#include <sndfile.h>
#include <vector>

namespace RecordingLevels {

std::optional<Levels> read(const QString& wavPath, int slices) {
    SF_INFO info{};
    SNDFILE* file = sf_open(QFile::encodeName(wavPath).constData(), SFM_READ, &info);
    if (!file)
        return std::nullopt;
    const std::unique_ptr<SNDFILE, int (*)(SNDFILE*)> closer(file, sf_close);
    if (info.channels != 2 || info.frames <= 0 || info.samplerate <= 0 || slices <= 0)
        return std::nullopt;
    const sf_count_t total = info.frames;
    const int count = int(std::min<sf_count_t>(slices, total));
    Levels levels;
    levels.seconds = double(total) / info.samplerate;
    levels.you.reserve(count);
    levels.meeting.reserve(count);

    constexpr sf_count_t kBlockFrames = 48000;
    std::vector<float> block(size_t(kBlockFrames) * 2);
    double sums[2] = {0, 0};
    sf_count_t position = 0;
    sf_count_t sliceStart = 0;
    // Slice boundaries in whole frames, so every frame counts in exactly one slice.
    const auto sliceEnd = [&](qsizetype slice) { return (sf_count_t(slice) + 1) * total / count; };
    sf_count_t end = sliceEnd(0);
    while (levels.you.size() < count) {
        const sf_count_t got = sf_readf_float(file, block.data(), kBlockFrames);
        if (got <= 0)
            break; // a file shorter than its header says: what is there
        for (sf_count_t i = 0; i < got; ++i) {
            const double left = block[size_t(2 * i)], right = block[size_t(2 * i + 1)];
            sums[0] += left * left;
            sums[1] += right * right;
            if (++position == end) {
                const double frames = double(position - sliceStart);
                levels.you.append(float(std::sqrt(sums[0] / frames)));
                levels.meeting.append(float(std::sqrt(sums[1] / frames)));
                sums[0] = sums[1] = 0;
                sliceStart = position;
                end = sliceEnd(levels.you.size());
            }
        }
    }
    if (levels.you.isEmpty())
        return std::nullopt;
    return levels;
}

} // namespace RecordingLevels
