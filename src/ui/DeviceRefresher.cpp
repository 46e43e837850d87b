#include "ui/DeviceRefresher.h"

#include "audio/AudioDeviceManager.h"
#include "base/Background.h"

DeviceSnapshot DeviceRefresher::systemSnapshot() {
    return {AudioDeviceManager::inputDevices(), AudioDeviceManager::defaultInputDevice()};
}

std::optional<QString> DeviceRefresher::chooseDeviceUID(const QString& stored,
                                                        const DeviceSnapshot& snapshot) {
    if (!stored.isEmpty())
        for (const AudioInputDevice& device : snapshot.devices)
            if (device.uid == stored)
                return std::nullopt;
    if (snapshot.defaultDevice)
        return snapshot.defaultDevice->uid;
    if (!snapshot.devices.isEmpty())
        return snapshot.devices.first().uid;
    return QString();
}

DeviceRefresher::Lister& DeviceRefresher::defaultLister() {
    static Lister lister = &DeviceRefresher::systemSnapshot;
    return lister;
}

void DeviceRefresher::setDefaultLister(Lister lister) {
    defaultLister() = std::move(lister);
}

DeviceRefresher::DeviceRefresher(QObject* parent) : QObject(parent), m_lister(defaultLister()) {}

void DeviceRefresher::refresh() {
    runInBackground(
        this, [lister = m_lister] { return lister(); },
        [this](const DeviceSnapshot& snapshot) { emit listed(snapshot); });
}
