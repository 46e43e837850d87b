#include "audio/AudioTypes.h"

QString AudioInputDevice::label() const {
    return QStringLiteral("%1 — %2 ch @ %3 Hz")
        .arg(name)
        .arg(channelCount)
        .arg(static_cast<long long>(sampleRate));
}
