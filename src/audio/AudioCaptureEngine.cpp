#include "audio/AudioCaptureEngine.h"

#include "audio/ArchiveWriter.h"
#include "audio/SoundServerListing.h"
#include "audio/pulse/PulseConnection.h"
#include "audio/pulse/PulseRecorder.h"
#include "base/Background.h"
#include "base/Clock.h"

#include <QObject>
#include <QtDebug>
#include <utility>

namespace {
using Engine = AudioCaptureEngineInterface;

AudioFailure engineError(Engine::EngineError error) {
    return {Engine::description(error)};
}
// Records the input device `uid` in the microphone's blocks.
PulseRecorder::Result startMic(PulseRecorder& mic, const QString& uid) {
    PulseRecorder::Source source;
    source.kind = PulseRecorder::Source::Kind::device;
    source.name = uid;
    return mic.start(source, AudioCaptureEngine::micBlockFrames);
}
} // namespace

AudioCaptureEngine::AudioCaptureEngine(std::function<bool()> micAuthorized, const QString& server)
    : m_micAuthorized(std::move(micAuthorized)),
      m_connection(std::make_shared<PulseConnection>(server)), m_tap(server),
      m_mic(std::make_unique<PulseRecorder>(QStringLiteral("Corvinel microphone"), server)) {
    // The pipeline's outputs reach the owner's callbacks as they are when each block runs.
    m_pipeline.onPCM16 = [this](const QByteArray& pcm16) {
        if (onPCM16)
            onPCM16(pcm16);
    };
    m_pipeline.onMicBuffer = [this](const float* samples, int frames, double rate) {
        if (onMicBuffer)
            onMicBuffer(samples, frames, rate);
    };
    m_pipeline.onLevels = [this](float mic, float meeting) {
        m_inbox.post([this, mic, meeting] {
            if (onLevels)
                onLevels(mic, meeting);
        });
    };
    m_mic->onFailure = [this](const StreamFault& fault) {
        m_inbox.post([this, fault] {
            // A microphone unplugged from a running server: the meeting needs none.
            if (m_running.load() && m_usingTap && fault.kind == StreamFault::Kind::streamEnded) {
                loseMic(fault.device);
                return;
            }
            if (m_running.load() && fault.kind == StreamFault::Kind::connectionLost) {
                loseServer(fault);
                return;
            }
            reportFault(CaptureFaults::describe(CaptureFaults::Stream::microphone, fault));
        });
    };
    m_tap.onAudio = [this](const FloatAudioBuffer& block) {
        if (m_tapReady.load(std::memory_order_acquire))
            m_pipeline.tapBlock(block);
    };
    m_tap.onInterrupted = [this](const std::optional<StreamFault>& cause) { restartTap(cause); };
    m_tap.onTargetLost = [this] { followLostApp(); };
    m_tap.onOutputsChanged = [this](bool defaultChanged) { reconsiderOutput(defaultChanged); };
}

AudioCaptureEngine::~AudioCaptureEngine() {
    m_background->close();
    stop();
    // stop() does nothing when not running; no stream may outlive the engine either way.
    m_mic->stop();
    m_tap.stop();
}

std::optional<AudioFailure> AudioCaptureEngine::start(const Source& source,
                                                      StreamSource streamSource, bool record,
                                                      const QString& archivePath) {
    if (m_running.load())
        return std::nullopt;
    if (m_micAuthorized && !m_micAuthorized())
        return engineError(EngineError::micDenied);
    m_faults.reset();
    m_keepOutput.clear();
    m_heardOutput.clear();
    m_pipeline.meetingFIFO().clear();
    auto failure = startCapture(source, streamSource, record, archivePath);
    if (failure) {
        // Nothing of a failed start stays behind: no stream, no open or empty archive.
        release();
        if (m_archive) {
            m_archive->discard();
            m_archive.reset();
        }
        m_recordingPath.clear();
        return failure;
    }
    m_running = true;
    return std::nullopt;
}

std::optional<AudioFailure> AudioCaptureEngine::startCapture(const Source& source,
                                                             StreamSource streamSource, bool record,
                                                             const QString& archivePath) {
    const auto* tap = std::get_if<SystemTap>(&source);
    const auto* device = std::get_if<DeviceChannels>(&source);
    m_usingTap = tap != nullptr;
    const QString uid = tap ? tap->micDeviceUID : device->uid;
    const int requestedMic = tap ? tap->micChannel : device->micChannel;

    m_micUid = uid;
    m_micChannelAsked = requestedMic;
    m_micMissing = false;
    auto found = findInput(uid);
    // Only the meeting is sent: a computer without a microphone can still hear it.
    const auto* lookupFailure = std::get_if<AudioFailure>(&found);
    if (tap && streamSource == StreamSource::meetingOnly && lookupFailure &&
        *lookupFailure == engineError(EngineError::noDevice)) {
        AudioInputDevice none;
        none.sampleRate = CapturePipeline::meetingRate;
        none.channelCount = 1;
        found = none;
        m_micMissing = true;
    }
    if (const auto* failure = std::get_if<AudioFailure>(&found))
        return *failure;
    const AudioInputDevice* input = &std::get<AudioInputDevice>(found);
    // The default input in its place would be the user's own microphone, sent as the meeting.
    if (device && !uid.isEmpty() && input->uid != uid)
        return AudioFailure{missingMeetingDevice(uid)};
    if (!(input->sampleRate > 0) || input->channelCount <= 0)
        return engineError(EngineError::badFormat);
    const int channels = input->channelCount;

    CapturePipeline::Setup setup;
    setup.usingTap = m_usingTap;
    setup.micRate = input->sampleRate;
    setup.micChannel = std::clamp(requestedMic, 0, channels - 1);
    // Twice the largest block asked for: the servers hand over about what was asked, and
    // anything longer is taken in pieces.
    setup.maxBlockFrames = std::max(micBlockFrames, PulseRecorder::monitorFragmentFrames) * 2;
    setup.streamSource = streamSource;
    if (device) {
        const std::optional<int> asked = device->meetingChannel;
        if (asked && *asked >= 0 && *asked < channels && *asked != setup.micChannel)
            setup.meetingChannel = asked;
        if (streamSource == StreamSource::meetingOnly && !setup.meetingChannel)
            setup.streamSource = StreamSource::micOnly;
    }

    m_recordingPath.clear();
    m_recordingFailure.reset();
    m_recordingDroppedSeconds = 0;
    if (record) {
        const double archiveInput = m_usingTap ? ArchiveWriter::archiveRate : setup.micRate;
        auto opened = ArchiveWriter::open(archivePath, archiveInput);
        if (auto* failure = std::get_if<AudioFailure>(&opened))
            return *failure;
        m_archive = std::move(std::get<std::unique_ptr<ArchiveWriter>>(opened));
        m_recordingPath = archivePath;
    }
    if (!m_pipeline.prepare(setup, m_archive.get()))
        return engineError(EngineError::badFormat);

    if (tap) {
        m_startTarget = tap->target;
        if (auto failure = startTap(tap->target, false))
            return failure;
        m_followedApp = appOf(tap->target);
    }

    if (m_usingTap)
        m_mic->onBlock = [this](const FloatAudioBuffer& block) { m_pipeline.micBlock(block); };
    else
        m_mic->onBlock = [this](const FloatAudioBuffer& block) { m_pipeline.deviceBlock(block); };
    if (m_micMissing) {
        m_pipeline.setMicAbsent();
        m_inbox.post([this] {
            tell(QStringLiteral("No microphone was found. The meeting is heard and recorded; "
                                "your side is silent until a microphone is connected."));
            silenceMic({});
        });
        return std::nullopt;
    }
    const PulseRecorder::Result result = startMic(*m_mic, input->uid);
    if (const auto* failure = std::get_if<PulseRecorder::Failure>(&result)) {
        qInfo().noquote() << QStringLiteral("[Corvinel] microphone failed: ") + failure->message;
        using Step = PulseRecorder::Failure::Step;
        return engineError(failure->step == Step::format     ? EngineError::badFormat
                           : failure->step == Step::noServer ? EngineError::noServer
                                                             : EngineError::noDevice);
    }
    const auto& format = std::get<PulseRecorder::Format>(result);
    // The listing and the stream disagree only when the device changed in between.
    if (format.sampleRate != setup.micRate || format.channels != channels)
        return engineError(EngineError::badFormat);
    return std::nullopt;
}

// The device whose uid this is, else the default input; a failure when the server has neither
// or does not answer.
std::variant<AudioInputDevice, AudioFailure> AudioCaptureEngine::findInput(const QString& uid) {
    auto sources = m_connection->sources();
    if (const auto* error = std::get_if<PulseError>(&sources)) {
        qInfo().noquote() << QStringLiteral("[Corvinel] ") + error->description;
        // A server that went away since the last query is just as absent now.
        if (error->kind == PulseError::Kind::serverUnresponsive)
            return AudioFailure{error->description};
        return engineError(EngineError::noServer);
    }
    const QList<AudioInputDevice> devices =
        SoundServerListing::inputDevices(std::get<QList<PulseSource>>(sources));
    for (const AudioInputDevice& device : devices)
        if (!uid.isEmpty() && device.uid == uid)
            return device;
    auto server = m_connection->serverInfo();
    if (const auto* info = std::get_if<PulseServerInfo>(&server))
        if (auto device = SoundServerListing::defaultInputDevice(devices, *info))
            return *device;
    return engineError(EngineError::noDevice);
}

// Stops the loopback capture if it runs and starts it on `target`. With `keepConverter` the
// pipeline's converter and FIFO stay unless the stream's format changed.
std::optional<AudioFailure> AudioCaptureEngine::startTap(const TapTarget& target,
                                                         bool keepConverter) {
    m_tapReady.store(false, std::memory_order_release);
    m_tap.stop();
    const QString output = target.isSystemOutput() ? pickOutput(m_keepOutput) : QString();
    if (auto error = m_tap.start(target, output))
        return AudioFailure{error->description()};
    if (target.isSystemOutput())
        m_keepOutput = m_tap.outputName();
    if (const QString heard = m_tap.outputDescription(); heard != m_heardOutput) {
        m_heardOutput = heard;
        if (!heard.isEmpty())
            qInfo().noquote() << QStringLiteral("[Corvinel] hearing what plays on %1").arg(heard);
        m_inbox.post([this, heard] {
            if (onHeardOutput)
                onHeardOutput(heard);
        });
    }
    const auto format = m_tap.format();
    if (!format)
        return engineError(EngineError::badFormat);
    const bool ok =
        keepConverter
            ? m_pipeline.setTapFormatIfChanged(format->sampleRate, format->channels,
                                               format->positions)
            : m_pipeline.setTapFormat(format->sampleRate, format->channels, format->positions);
    if (!ok)
        return engineError(EngineError::badFormat);
    m_tapReady.store(true, std::memory_order_release);
    return std::nullopt;
}

std::optional<QString> AudioCaptureEngine::appOf(const TapTarget& target) {
    return target.processObject ? ProcessTapCapture::bundleID(*target.processObject) : std::nullopt;
}

void AudioCaptureEngine::release() {
    m_mic->stop();
    m_tapReady = false;
    m_tap.stop();
}

void AudioCaptureEngine::stop() {
    if (!m_running.load())
        return;
    m_micPoll.reset();
    m_serverPoll.reset();
    m_micMissing = false;
    m_serverLostAt.reset();
    release();
    m_running = false;
    m_followedApp.reset();
    m_widened = false;
    m_chooseAfresh = false;
    m_outputSettle.reset();
    // Every frame handed over before is written, and the header is final, once this returns.
    if (m_archive) {
        m_pipeline.flushMeeting();
        m_archive->close();
        m_recordingFailure = m_archive->failure();
        m_recordingDroppedSeconds = m_archive->droppedSeconds();
        m_archive.reset();
    }
    m_pipeline.reset();
}

std::optional<AudioFailure> AudioCaptureEngine::retarget(const TapTarget& meeting) {
    if (!m_running.load() || !m_usingTap)
        return std::nullopt;
    const TapTarget previous = m_tap.target();
    auto failure = startTap(meeting, false);
    // The session says it stayed on what it heard before: it must then still hear it.
    if (failure) {
        if (startTap(previous, true))
            qInfo().noquote() << QStringLiteral("[Corvinel] could not return to the previous tap");
        return failure;
    }
    m_followedApp = appOf(meeting);
    m_widened = false;
    return std::nullopt;
}

void AudioCaptureEngine::restartTap(const std::optional<StreamFault>& cause) {
    if (!m_running.load() || !m_usingTap)
        return;
    if (cause && cause->kind == StreamFault::Kind::connectionLost) {
        loseServer(*cause);
        return;
    }
    if (m_serverLostAt)
        return; // both streams come back together once the server does
    qInfo().noquote() << QStringLiteral("[Corvinel] meeting capture interrupted — restarting");
    // An application the session narrowed to stays the meeting, on whatever stream it plays
    // now; else the whole output again. The converter stays unless the format changed.
    if (m_followedApp) {
        followLostApp(cause);
        return;
    }
    m_followedApp = appOf(m_startTarget);
    if (auto failure = startTap(m_startTarget, true))
        reportTapError(failure->description, cause);
}

QString AudioCaptureEngine::pickOutput(const QString& keep) const {
    const auto listing = ProcessTapCapture::outputListing();
    if (!listing)
        return keep; // the recorder says so if the server is really gone
    const auto choice = OutputChoice::choose(*listing, ProcessTapCapture::self(),
                                             qEnvironmentVariable("OV_TAP_CLOCK_NAME"), keep);
    return choice ? choice->name : QString();
}

void AudioCaptureEngine::reconsiderOutput(bool defaultChanged) {
    if (!m_running.load() || !m_usingTap || m_serverLostAt || !m_tap.target().isSystemOutput())
        return;
    m_chooseAfresh = m_chooseAfresh || defaultChanged;
    // Streams come and change in bursts (a call starting opens several): one look after them.
    if (!m_outputSettle)
        m_outputSettle = systemClock().schedule(0.2, false, [this] {
            m_outputSettle.reset();
            settleOutput();
        });
}

void AudioCaptureEngine::settleOutput() {
    if (!m_running.load() || !m_usingTap || m_serverLostAt || !m_tap.target().isSystemOutput())
        return;
    const QString now = m_tap.outputName();
    const QString next = pickOutput(std::exchange(m_chooseAfresh, false) ? QString() : now);
    if (next.isEmpty() || next == now)
        return;
    m_keepOutput = next;
    if (auto failure = startTap(TapTarget::systemOutput(), true))
        reportTapError(failure->description, std::nullopt);
}

void AudioCaptureEngine::followLostApp(const std::optional<StreamFault>& cause) {
    if (!m_running.load() || !m_usingTap)
        return;
    if (!m_followedApp) {
        restartTap(cause);
        return;
    }
    if (resumeFollowedApp())
        return;
    qInfo().noquote() << QStringLiteral("[Corvinel] %1 plays nothing now — listening to all "
                                        "audio until it does")
                             .arg(*m_followedApp);
    if (auto failure = startTap(TapTarget::systemOutput(), false)) {
        reportTapError(failure->description, cause);
        return;
    }
    if (!m_widened) {
        m_widened = true;
        if (onFollowedApp)
            onFollowedApp(*m_followedApp, false);
    }
    m_followPoll = systemClock().schedule(followPollSeconds, true, [this] { pollFollowedApp(); });
}

void AudioCaptureEngine::pollFollowedApp() {
    // Stop, a retarget or a restart elsewhere may have settled the matter since.
    if (!m_running.load() || !m_followedApp || !m_tap.target().isSystemOutput() ||
        resumeFollowedApp())
        m_followPoll.reset();
}

// Taps the followed application's stream if it plays one; the capture is left on the whole
// output otherwise. Like a retarget, each switch starts the conversion afresh, so that nothing
// of the other target trails into the stream.
bool AudioCaptureEngine::resumeFollowedApp() {
    const std::optional<uint32_t> object = ProcessTapCapture::audioObject(*m_followedApp);
    if (!object)
        return false;
    if (auto failure = startTap(TapTarget::process(*object), false)) {
        qInfo().noquote() << QStringLiteral("[Corvinel] could not follow %1: %2")
                                 .arg(*m_followedApp, failure->description);
        if (auto back = startTap(TapTarget::systemOutput(), false))
            reportTapError(back->description, std::nullopt);
        return false;
    }
    if (m_startTarget.processObject)
        m_startTarget = TapTarget::process(*object);
    qInfo().noquote()
        << QStringLiteral("[Corvinel] following %1 to its new stream").arg(*m_followedApp);
    if (std::exchange(m_widened, false) && onFollowedApp)
        onFollowedApp(*m_followedApp, true);
    return true;
}

void AudioCaptureEngine::reportTapError(const QString& description,
                                        const std::optional<StreamFault>& cause) {
    // The restart failed because of what interrupted the stream (a server that went away
    // refuses the reconnection too): the interruption is the cause, and it came first.
    if (cause) {
        qInfo().noquote() << QStringLiteral("[Corvinel] could not restart the meeting capture: ") +
                                 description;
        reportFault(CaptureFaults::describe(CaptureFaults::Stream::meeting, *cause));
        return;
    }
    reportFault({description, systemClock().now()});
}

void AudioCaptureEngine::reportFault(const CaptureFault& fault) {
    if (!m_running.load() || !m_faults.offer(fault))
        return;
    qInfo().noquote() << QStringLiteral("[Corvinel] capture error: ") + fault.description;
    if (onError)
        onError(AudioFailure{fault.description});
}

void AudioCaptureEngine::tell(const QString& text) {
    qInfo().noquote() << QStringLiteral("[Corvinel] ") + text;
    if (onError)
        onError(AudioFailure{text});
}

void AudioCaptureEngine::loseMic(const QString& device) {
    silenceMic(QStringLiteral("The microphone %1 was lost. The meeting is still heard and "
                              "recorded; your side is silent until a microphone is back.")
                   .arg(device));
}

void AudioCaptureEngine::silenceMic(const QString& banner) {
    if (!m_micMissing) {
        m_micMissing = true;
        m_mic->stop();
        m_pipeline.setMicAbsent();
        tell(banner);
    }
    m_micPoll = systemClock().schedule(micPollSeconds, true, [this] { pollMic(); });
}

// The same microphone if it is back, else the default input.
void AudioCaptureEngine::pollMic() {
    if (!m_running.load() || !m_micMissing) {
        m_micPoll.reset();
        return;
    }
    const auto found = findInput(m_micUid);
    const auto* input = std::get_if<AudioInputDevice>(&found);
    if (!input || !(input->sampleRate > 0) || input->channelCount <= 0)
        return;
    if (openMic(*input))
        return;
    m_micMissing = false;
    m_micPoll.reset();
    tell(QStringLiteral("The microphone %1 is back.").arg(input->name));
}

std::optional<AudioFailure> AudioCaptureEngine::openMic(const AudioInputDevice& input) {
    if (!m_pipeline.setMicReturning(input.sampleRate,
                                    std::clamp(m_micChannelAsked, 0, input.channelCount - 1)))
        return engineError(EngineError::badFormat);
    if (std::holds_alternative<PulseRecorder::Format>(startMic(*m_mic, input.uid)))
        return std::nullopt;
    m_mic->stop();
    m_pipeline.setMicAbsent();
    return engineError(EngineError::noDevice);
}

void AudioCaptureEngine::loseServer(const StreamFault& fault) {
    if (m_serverLostAt)
        return;
    m_serverLostAt = fault.at;
    m_tapReady.store(false, std::memory_order_release);
    m_tap.stop();
    m_mic->stop();
    if (m_usingTap)
        m_pipeline.setMicAbsent();
    tell(QStringLiteral("The sound server stopped (%1). Capture resumes as soon as it is back; "
                        "the recording keeps the gap as silence.")
             .arg(fault.reason));
    pollServerAfter(0.25);
}

void AudioCaptureEngine::pollServerAfter(double seconds) {
    m_serverPollSeconds = seconds;
    m_serverPoll = systemClock().schedule(seconds, false, [this] { pollServer(); });
}

// Every 250 ms at first, then up to every 2 s. A server that hangs rather than ends can take
// seconds to refuse: it is asked on the pool, so the window never waits for it.
void AudioCaptureEngine::pollServer() {
    if (!m_running.load() || !m_serverLostAt)
        return;
    runInBackground(
        m_background,
        [connection = m_connection] {
            return !std::holds_alternative<PulseError>(connection->serverInfo());
        },
        [this, lostAt = *m_serverLostAt](bool back) {
            if (!m_running.load() || m_serverLostAt != lostAt)
                return; // stopped, or another loss is being waited out meanwhile
            if (back)
                resumeAfterServer();
            else
                pollServerAfter(std::min(m_serverPollSeconds * 2, 2.0));
        });
}

void AudioCaptureEngine::resumeAfterServer() {
    const double gap = systemClock().now() - *m_serverLostAt;
    m_serverLostAt.reset();
    // Neither stream runs: this thread is the archive's only writer until they start again.
    // What the queue cannot take is counted as lost, like a stalled disk.
    if (m_archive) {
        const auto frames = static_cast<int64_t>(gap * m_archive->inputRate());
        const std::vector<float> silence(static_cast<size_t>(m_archive->inputRate()) / 2, 0.0f);
        for (int64_t done = 0; done < frames;) {
            const int64_t n = std::min<int64_t>(frames - done, int64_t(silence.size()));
            m_archive->push(silence.data(), silence.data(), n);
            done += n;
        }
    }
    if (m_usingTap) {
        if (m_followedApp) {
            followLostApp();
        } else if (auto failure = startTap(m_startTarget, false)) {
            reportFault({failure->description, systemClock().now()});
            return;
        }
        const auto found = findInput(m_micUid);
        const auto* input = std::get_if<AudioInputDevice>(&found);
        if (!input || openMic(*input)) {
            silenceMic(QStringLiteral(
                "The sound server is back, but no microphone is there now. The meeting is "
                "heard and recorded again; your side is silent until a microphone is "
                "connected."));
            return;
        }
    } else {
        if (!std::holds_alternative<PulseRecorder::Format>(startMic(*m_mic, m_micUid))) {
            reportFault({missingMeetingDevice(m_micUid), systemClock().now()});
            return;
        }
    }
    tell(QStringLiteral("The sound server is back; capture has resumed."));
}
