#include "audio/SoundServerListing.h"

#include "audio/NameSort.h"

#include <QDebug>
#include <QSet>
#include <atomic>

namespace SoundServerListing {

namespace {

const QString applicationID = QStringLiteral("application.id");
const QString applicationName = QStringLiteral("application.name");
const QString processBinary = QStringLiteral("application.process.binary");
const QString processIDKey = QStringLiteral("application.process.id");
const QString mediaRole = QStringLiteral("media.role");

// The programs that make up the sound server on PulseAudio and PipeWire desktops.
bool isServerProgram(const QString& name) {
    static const QSet<QString> programs = {
        QStringLiteral("pipewire"),    QStringLiteral("pipewire-pulse"),
        QStringLiteral("wireplumber"), QStringLiteral("pipewire-media-session"),
        QStringLiteral("pulseaudio"),
    };
    return programs.contains(name.toLower());
}

// "Display name of the running application with that process id": the name a program's
// client gave itself.
QString runningApplicationName(const QList<PulseClient>& clients, int32_t pid) {
    if (pid < 0)
        return {};
    for (const PulseClient& client : clients) {
        if (client.properties.value(processBinary).isEmpty() || processID(client.properties) != pid)
            continue;
        const QString name = client.properties.value(applicationName, client.name);
        if (!name.isEmpty())
            return name;
    }
    return {};
}

const PulseClient* clientWithIndex(const QList<PulseClient>& clients, uint32_t index) {
    for (const PulseClient& client : clients) {
        if (client.index == index)
            return &client;
    }
    return nullptr;
}

bool isServerClient(const PulseClient* client) {
    return client && isSoundServerPart(client->properties, client->driver);
}

bool isSelf(const Self& self, int32_t pid, const QString& bundle) {
    return (pid >= 0 && pid == self.pid) || (!bundle.isEmpty() && bundle == self.bundleID);
}

std::atomic<bool> failureReported{false};

} // namespace

QList<AudioInputDevice> inputDevices(const QList<PulseSource>& sources) {
    QList<AudioInputDevice> devices;
    for (const PulseSource& source : sources) {
        if (source.monitorOfSink || source.channels <= 0)
            continue;
        AudioInputDevice device;
        device.id = source.index;
        device.uid = source.name;
        device.name = source.description.isEmpty() ? QStringLiteral("Device %1").arg(source.index)
                                                   : source.description;
        device.channelCount = source.channels;
        device.sampleRate = source.rate;
        devices.append(device);
    }
    sortByName(devices);
    return devices;
}

std::optional<AudioInputDevice> defaultInputDevice(const QList<AudioInputDevice>& devices,
                                                   const PulseServerInfo& server) {
    if (server.defaultSourceName.isEmpty())
        return std::nullopt;
    for (const AudioInputDevice& device : devices) {
        if (device.uid == server.defaultSourceName)
            return device;
    }
    return std::nullopt;
}

QString bundleID(const PulseProperties& properties) {
    const QString id = properties.value(applicationID);
    return id.isEmpty() ? properties.value(processBinary) : id;
}

int32_t processID(const PulseProperties& properties) {
    bool ok = false;
    const int value = properties.value(processIDKey).toInt(&ok);
    return ok && value >= 0 ? value : -1;
}

bool isSoundServerPart(const PulseProperties& properties, const QString& driver) {
    if (driver.startsWith(QStringLiteral("module-")))
        return true;
    // "WirePlumber [export]" is WirePlumber too.
    const QString name = properties.value(applicationName).section(QStringLiteral(" ["), 0, 0);
    if (isServerProgram(properties.value(processBinary)) || isServerProgram(name))
        return true;
    // The roles modules give the streams that carry audio between devices.
    const QString role = properties.value(mediaRole);
    return role == QStringLiteral("abstract") || role == QStringLiteral("filter");
}

QList<AudioProcessInfo> runningAudioProcesses(const QList<PulseSinkInput>& sinkInputs,
                                              const QList<PulseClient>& clients, const Self& self) {
    QList<AudioProcessInfo> processes;
    for (const PulseSinkInput& input : sinkInputs) {
        // A stream without a client is the server's own (a loopback), not a program's.
        if (input.corked || !input.client)
            continue;
        const PulseClient* client = clientWithIndex(clients, *input.client);
        if (isServerClient(client) || isSoundServerPart(input.properties))
            continue;
        const PulseProperties none;
        const PulseProperties& clientProperties = client ? client->properties : none;

        AudioProcessInfo info;
        info.objectID = input.index;
        info.pid = processID(input.properties);
        if (info.pid < 0)
            info.pid = processID(clientProperties);
        info.bundleID = bundleID(input.properties);
        if (info.bundleID.isEmpty())
            info.bundleID = bundleID(clientProperties);
        if (isSelf(self, info.pid, info.bundleID))
            continue;

        info.name = runningApplicationName(clients, info.pid);
        if (info.name.isEmpty()) {
            const QStringList parts = info.bundleID.split(u'.', Qt::SkipEmptyParts);
            info.name = parts.isEmpty() ? QStringLiteral("PID %1").arg(info.pid) : parts.last();
        }
        processes.append(info);
    }
    sortByName(processes);
    return processes;
}

QList<AudioProcessInfo> selectableApps(const QList<AudioProcessInfo>& playing,
                                       const QList<PulseClient>& clients, const Self& self) {
    // One entry per application: a program with two streams is still one choice, and the first
    // of its streams is the one audioObject(forBundleID:) would give.
    QList<AudioProcessInfo> first;
    QSet<QString> seen;
    for (const AudioProcessInfo& process : playing) {
        if (!process.bundleID.isEmpty() && seen.contains(process.bundleID))
            continue;
        seen.insert(process.bundleID);
        first.append(process);
    }
    seen.remove(QString());

    QList<AudioProcessInfo> others;
    for (const PulseClient& client : clients) {
        if (client.properties.value(processBinary).isEmpty() || isServerClient(&client))
            continue;
        AudioProcessInfo info;
        info.pid = processID(client.properties);
        info.bundleID = bundleID(client.properties);
        if (info.bundleID.isEmpty() || isSelf(self, info.pid, info.bundleID) ||
            seen.contains(info.bundleID))
            continue;
        seen.insert(info.bundleID);
        info.name = client.properties.value(applicationName, client.name);
        if (info.name.isEmpty())
            info.name = info.bundleID;
        others.append(info);
    }
    sortByName(first);
    sortByName(others);
    return first + others;
}

void reportFailure(const PulseError& error) {
    if (!failureReported.exchange(true))
        qWarning().noquote() << "[Corvinel] audio listing unavailable:" << error.description;
}

void reportSuccess() {
    failureReported.store(false);
}

} // namespace SoundServerListing
