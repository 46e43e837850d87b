#include "audio/CaptureChecks.h"

#include "audio/AudioDeviceManager.h"
#include "audio/SoundServerListing.h"
#include "audio/pulse/PulseConnection.h"
#include "audio/pulse/PulseRecorder.h"

#include <QDeadlineTimer>
#include <QThread>

#include <atomic>

namespace {

// The inputs of the server at `server`: the shared connection's for the default address,
// else a connection of this call's own.
std::optional<QList<AudioInputDevice>> inputsOn(const QString& server,
                                                std::optional<PulseServerInfo>* info = nullptr) {
    std::optional<PulseConnection> own;
    if (!server.isEmpty())
        own.emplace(server);
    PulseConnection& connection = own ? *own : PulseConnection::shared();
    if (info) {
        auto answer = connection.serverInfo();
        if (!std::holds_alternative<PulseServerInfo>(answer))
            return std::nullopt;
        *info = std::get<PulseServerInfo>(answer);
    }
    auto sources = connection.sources();
    if (!std::holds_alternative<QList<PulseSource>>(sources))
        return std::nullopt;
    return SoundServerListing::inputDevices(std::get<QList<PulseSource>>(sources));
}

} // namespace

bool hasMicrophone(const QString& server) {
    if (server.isEmpty())
        return !AudioDeviceManager::inputDevices().isEmpty();
    const auto inputs = inputsOn(server);
    return inputs && !inputs->isEmpty();
}

std::optional<AudioInputDevice> defaultMicrophone(const QString& server) {
    if (server.isEmpty())
        return AudioDeviceManager::defaultInputDevice();
    std::optional<PulseServerInfo> info;
    const auto inputs = inputsOn(server, &info);
    if (!inputs || !info)
        return std::nullopt;
    return SoundServerListing::defaultInputDevice(*inputs, *info);
}

bool canRecordSystemOutput(const QString& server) {
    // How long the stream must keep running when no audio arrives sooner: a server or a
    // sandbox's policy that refuses the recording ends it within milliseconds.
    constexpr int momentMs = 200;
    std::atomic<bool> delivered{false};
    PulseRecorder recorder(QStringLiteral("Corvinel output check"), server);
    recorder.onBlock = [&delivered](const FloatAudioBuffer&) {
        delivered.store(true, std::memory_order_relaxed);
    };
    PulseRecorder::Source source;
    source.kind = PulseRecorder::Source::Kind::output;
    if (!std::holds_alternative<PulseRecorder::Format>(
            recorder.start(source, PulseRecorder::monitorFragmentFrames)))
        return false;
    // The first block proves it ran; an idle output may take longer than the moment to send one.
    const QDeadlineTimer moment(momentMs);
    while (!delivered.load(std::memory_order_relaxed) && recorder.isRecording() &&
           !moment.hasExpired())
        QThread::msleep(10);
    const bool ran = recorder.isRecording();
    recorder.stop();
    return ran;
}
