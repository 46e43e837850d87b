#include "audio/ProcessTapCapture.h"

#include "audio/SoundServerListing.h"
#include "audio/pulse/PulseConnection.h"

#include <QCoreApplication>

namespace {

struct ServerPrograms {
    QList<PulseSinkInput> sinkInputs;
    QList<PulseClient> clients;
};

std::optional<ServerPrograms> readPrograms() {
    PulseConnection& connection = PulseConnection::shared();
    auto inputs = connection.sinkInputs();
    if (const auto* error = std::get_if<PulseError>(&inputs)) {
        SoundServerListing::reportFailure(*error);
        return std::nullopt;
    }
    auto clients = connection.clients();
    if (const auto* error = std::get_if<PulseError>(&clients)) {
        SoundServerListing::reportFailure(*error);
        return std::nullopt;
    }
    SoundServerListing::reportSuccess();
    return ServerPrograms{std::get<QList<PulseSinkInput>>(std::move(inputs)),
                          std::get<QList<PulseClient>>(std::move(clients))};
}

SoundServerListing::Self self() {
    return {static_cast<int32_t>(QCoreApplication::applicationPid()),
            PulseConnection::ownApplicationID};
}

} // namespace

QList<AudioProcessInfo> ProcessTapCapture::runningAudioProcesses() {
    const auto programs = readPrograms();
    if (!programs)
        return {};
    return SoundServerListing::runningAudioProcesses(programs->sinkInputs, programs->clients,
                                                     self());
}

QList<AudioProcessInfo> ProcessTapCapture::selectableApps() {
    const auto programs = readPrograms();
    if (!programs)
        return {};
    const auto playing =
        SoundServerListing::runningAudioProcesses(programs->sinkInputs, programs->clients, self());
    return SoundServerListing::selectableApps(playing, programs->clients, self());
}

std::optional<uint32_t> ProcessTapCapture::audioObject(const QString& bundleID) {
    for (const AudioProcessInfo& process : runningAudioProcesses()) {
        if (process.bundleID == bundleID)
            return process.objectID;
    }
    return std::nullopt;
}
