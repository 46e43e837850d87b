#pragma once

#include "audio/AudioTypes.h"

// The applications the user may pick as the meeting app, and the audio object of one of them.
class AppListing {
public:
    virtual ~AppListing() = default;
    // The playing processes first, then the other running applications.
    virtual QList<AudioProcessInfo> selectableApps() = 0;
    // The audio object of the first playing process with this bundle identifier.
    virtual std::optional<uint32_t> audioObject(const QString& bundleID) = 0;
};
