#include "audio/ProcessTapCapture.h"

#include "audio/CaptureFaults.h"
#include "audio/SoundServerListing.h"
#include "audio/pulse/PulseConnection.h"
#include "audio/pulse/PulseRecorder.h"

#include <QCoreApplication>
#include <QtDebug>

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

} // namespace

SoundServerListing::Self ProcessTapCapture::self() {
    return {static_cast<int32_t>(QCoreApplication::applicationPid()),
            PulseConnection::ownApplicationID};
}

std::optional<OutputChoice::Listing> ProcessTapCapture::outputListing() {
    PulseConnection& connection = PulseConnection::shared();
    OutputChoice::Listing listing;
    auto server = connection.serverInfo();
    auto outputs = connection.sinks();
    auto streams = connection.sinkInputs();
    auto clients = connection.clients();
    auto recordings = connection.sourceOutputs();
    if (!std::holds_alternative<PulseServerInfo>(server) ||
        !std::holds_alternative<QList<PulseSink>>(outputs) ||
        !std::holds_alternative<QList<PulseSinkInput>>(streams) ||
        !std::holds_alternative<QList<PulseClient>>(clients) ||
        !std::holds_alternative<QList<PulseSourceOutput>>(recordings))
        return std::nullopt;
    listing.defaultOutput = std::get<PulseServerInfo>(server).defaultSinkName;
    listing.outputs = std::get<QList<PulseSink>>(std::move(outputs));
    listing.streams = std::get<QList<PulseSinkInput>>(std::move(streams));
    listing.clients = std::get<QList<PulseClient>>(std::move(clients));
    listing.recordings = std::get<QList<PulseSourceOutput>>(std::move(recordings));
    return listing;
}

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

std::optional<QString> ProcessTapCapture::bundleID(uint32_t object) {
    for (const AudioProcessInfo& process : runningAudioProcesses()) {
        if (process.objectID == object)
            return process.bundleID;
    }
    return std::nullopt;
}

QString ProcessTapCapture::TapError::description() const {
    const QString n = QString::number(status);
    switch (kind) {
    case TapErrorKind::serverNotRunning:
        return CaptureFaults::serverNotRunning();
    case TapErrorKind::tapFailed:
        return QStringLiteral("Could not connect to the sound server (error ") + n +
               QStringLiteral("): it may be slow or restarting. Press Start again; if it keeps "
                              "failing, restart PipeWire or PulseAudio.");
    case TapErrorKind::aggregateFailed:
        return QStringLiteral("Could not find the audio to record (error ") + n +
               QStringLiteral("): its output or app stream has gone.");
    case TapErrorKind::ioProcFailed:
        return QStringLiteral("Could not start reading the tapped audio (error ") + n +
               QStringLiteral(").");
    case TapErrorKind::unsupported:
        return QStringLiteral("Capturing this computer's audio needs PipeWire or PulseAudio.");
    case TapErrorKind::formatUnavailable:
        return QStringLiteral("The tapped audio stream reported no usable format.");
    }
    return {};
}

ProcessTapCapture::ProcessTapCapture(const QString& server)
    : m_recorder(std::make_unique<PulseRecorder>(QStringLiteral("Corvinel meeting"), server)) {
    m_recorder->onBlock = [this](const FloatAudioBuffer& block) {
        if (onAudio)
            onAudio(block);
    };
    m_recorder->onDefaultOutputChanged = [this] { postOutputsChanged(true); };
    m_recorder->onStreamsChanged = [this] { postOutputsChanged(false); };
    m_recorder->onSourceLost = [this] { postInterruption(true); };
    m_recorder->onFailure = [this](const StreamFault& fault) { postInterruption(false, fault); };
}

ProcessTapCapture::~ProcessTapCapture() {
    stop();
}

void ProcessTapCapture::postInterruption(bool targetLost, const std::optional<StreamFault>& cause) {
    // Runs on the recorder's thread: one queued call per run, nothing else.
    if (!m_running.load() || m_interruptionPosted.exchange(true))
        return;
    m_inbox.post([this, targetLost, cause] {
        if (!m_running.load())
            return;
        if (targetLost && onTargetLost)
            onTargetLost();
        else if (onInterrupted)
            onInterrupted(cause);
    });
}

void ProcessTapCapture::postOutputsChanged(bool defaultChanged) {
    // Runs on the recorder's thread: flags and at most one queued call outstanding.
    if (!m_running.load())
        return;
    if (defaultChanged)
        m_defaultChanged = true;
    if (m_outputsPosted.exchange(true))
        return;
    m_inbox.post([this] {
        m_outputsPosted = false;
        const bool changed = m_defaultChanged.exchange(false);
        if (m_running.load() && onOutputsChanged)
            onOutputsChanged(changed);
    });
}

std::optional<ProcessTapCapture::TapError> ProcessTapCapture::start(const TapTarget& target,
                                                                    const QString& output) {
    if (m_running.load())
        return std::nullopt;
    PulseRecorder::Source source;
    if (target.isSystemOutput()) {
        source.kind = PulseRecorder::Source::Kind::output;
        source.name = output;
    } else {
        source.kind = PulseRecorder::Source::Kind::application;
        source.streamIndex = *target.processObject;
    }
    m_interruptionPosted = false;
    const PulseRecorder::Result result =
        m_recorder->start(source, PulseRecorder::monitorFragmentFrames);
    if (const auto* failure = std::get_if<PulseRecorder::Failure>(&result)) {
        cleanUp();
        qInfo().noquote() << QStringLiteral("[Corvinel] tap failed: ") + failure->message;
        using Step = PulseRecorder::Failure::Step;
        switch (failure->step) {
        case Step::noServer:
            return TapError{TapErrorKind::serverNotRunning, failure->code};
        case Step::connect:
            return TapError{TapErrorKind::tapFailed, failure->code};
        case Step::lookup:
            return TapError{TapErrorKind::aggregateFailed, failure->code};
        case Step::stream:
            return TapError{TapErrorKind::ioProcFailed, failure->code};
        case Step::format:
            return TapError{TapErrorKind::formatUnavailable, 0};
        }
    }
    const auto& format = std::get<PulseRecorder::Format>(result);
    m_format = Format{format.sampleRate, format.channels, format.positions};
    m_outputName = format.outputName;
    m_outputDescription = target.isSystemOutput() ? format.description : QString();
    m_target = target;
    m_running = true;
    return std::nullopt;
}

void ProcessTapCapture::stop() {
    m_running = false;
    cleanUp();
}

void ProcessTapCapture::cleanUp() {
    m_recorder->stop();
    m_format.reset();
    m_outputName.clear();
    m_outputDescription.clear();
}
