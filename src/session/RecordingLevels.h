#pragma once

#include <QList>
#include <QString>
#include <optional>

// How loud each side of a session's recording was, in equal slices of its length: the
// archive's left channel is the user's microphone, its right one the meeting.
namespace RecordingLevels {

struct Levels {
    double seconds = 0; // the recording's length
    QList<float> you;   // RMS of each slice, full scale 1
    QList<float> meeting;
};

// Reads the recording in blocks, so an hour of audio costs a block of memory, not the hour.
// Nothing for a missing file, one that is not a stereo sound file, or one without audio.
std::optional<Levels> read(const QString& wavPath, int slices);

} // namespace RecordingLevels
