#include "audio/PulseAppListing.h"

#include "audio/ProcessTapCapture.h"

QList<AudioProcessInfo> PulseAppListing::selectableApps() {
    return ProcessTapCapture::selectableApps();
}

std::optional<uint32_t> PulseAppListing::audioObject(const QString& bundleID) {
    return ProcessTapCapture::audioObject(bundleID);
}
