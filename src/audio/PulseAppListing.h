#pragma once

#include "audio/AppListing.h"

// The application listing of the sound server, as the session controller sees it.
class PulseAppListing : public AppListing {
public:
    QList<AudioProcessInfo> selectableApps() override;
    std::optional<uint32_t> audioObject(const QString& bundleID) override;
};
