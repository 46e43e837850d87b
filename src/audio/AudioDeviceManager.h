#pragma once

#include "audio/AudioTypes.h"

// The audio input devices of the sound server: every source that is not the monitor of an
// output. Read afresh on every call; an unreachable server gives empty answers.
class AudioDeviceManager {
public:
    AudioDeviceManager() = delete;

    static QList<AudioInputDevice> inputDevices();
    // The first listed device whose uid equals `uid` exactly.
    static std::optional<AudioInputDevice> device(const QString& uid);
    static std::optional<AudioInputDevice> defaultInputDevice();
};
