#pragma once

#include "audio/AudioTypes.h"

#include <QList>
#include <QObject>
#include <functional>
#include <optional>

// The microphones the sound server offers and its default one, as one reading.
struct DeviceSnapshot {
    QList<AudioInputDevice> devices;
    std::optional<AudioInputDevice> defaultDevice;
};

// Reads the device list away from the GUI thread: asking the sound server can take seconds.
class DeviceRefresher : public QObject {
    Q_OBJECT

public:
    using Lister = std::function<DeviceSnapshot()>;

    // The sound server's devices (AudioDeviceManager).
    static DeviceSnapshot systemSnapshot();
    // What new refreshers read: the sound server unless replaced (test programs replace it
    // so that no window they build reaches a sound server).
    static void setDefaultLister(Lister lister);
    // The uid to store after a reading, or nothing when the stored one is still there: the
    // default device, else the first one, else empty.
    static std::optional<QString> chooseDeviceUID(const QString& stored,
                                                  const DeviceSnapshot& snapshot);

    explicit DeviceRefresher(QObject* parent = nullptr);

    void setLister(Lister lister) { m_lister = std::move(lister); }
    // Reads on the thread pool; listed() follows on this object's thread, unless it is gone.
    void refresh();

signals:
    void listed(const DeviceSnapshot& snapshot);

private:
    static Lister& defaultLister();

    Lister m_lister;
};
