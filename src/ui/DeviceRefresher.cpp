#include "ui/DeviceRefresher.h"

#include "audio/AudioDeviceManager.h"

#include <QCoreApplication>
#include <QPointer>
#include <QThreadPool>

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
    QPointer<DeviceRefresher> self(this);
    QThreadPool::globalInstance()->start([self, lister = m_lister] {
        DeviceSnapshot snapshot = lister();
        // The application object outlives every refresher; the guard is read on its thread.
        QMetaObject::invokeMethod(
            QCoreApplication::instance(),
            [self, snapshot = std::move(snapshot)] {
                if (self)
                    emit self->listed(snapshot);
            },
            Qt::QueuedConnection);
    });
}
