#include "audio/AudioDeviceManager.h"

#include "audio/SoundServerListing.h"
#include "audio/pulse/PulseConnection.h"

QList<AudioInputDevice> AudioDeviceManager::inputDevices() {
    auto sources = PulseConnection::shared().sources();
    if (const auto* error = std::get_if<PulseError>(&sources)) {
        SoundServerListing::reportFailure(*error);
        return {};
    }
    SoundServerListing::reportSuccess();
    return SoundServerListing::inputDevices(std::get<QList<PulseSource>>(sources));
}

std::optional<AudioInputDevice> AudioDeviceManager::device(const QString& uid) {
    for (const AudioInputDevice& device : inputDevices()) {
        if (device.uid == uid)
            return device;
    }
    return std::nullopt;
}

std::optional<AudioInputDevice> AudioDeviceManager::defaultInputDevice() {
    auto server = PulseConnection::shared().serverInfo();
    if (const auto* error = std::get_if<PulseError>(&server)) {
        SoundServerListing::reportFailure(*error);
        return std::nullopt;
    }
    return SoundServerListing::defaultInputDevice(inputDevices(),
                                                  std::get<PulseServerInfo>(server));
}
