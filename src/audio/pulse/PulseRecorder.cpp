#include "audio/pulse/PulseRecorder.h"
#include "audio/pulse/PulseContext.h"

#include "audio/FrameGatherer.h"
#include "audio/pulse/PulseLookup.h"
#include "audio/pulse/PulseStreamEvents.h"
#include "base/Clock.h"

#include <pulse/context.h>
#include <pulse/error.h>
#include <pulse/stream.h>
#include <pulse/thread-mainloop.h>
#include <pulse/timeval.h>

#include <atomic>
#include <string>
#include <vector>

using PulseContext::errorText;

struct PulseRecorder::Impl {
    QByteArray streamName;
    QByteArray server;
    pa_threaded_mainloop* loop = nullptr;
    pa_context* context = nullptr;
    pa_stream* stream = nullptr;
    PulseRecorder* owner = nullptr;

    Source source;
    PulseStreamEvents events;
    QString recordedDevice; // the description of the device or output recorded
    QString recordedOutputName;
    // Set once start() has succeeded: only then do events reach the owner.
    bool running = false;
    bool failureReported = false;
    bool lossReported = false;
    std::atomic<bool> recording{false};

    // Allocated in start(); the event thread only fills it.
    std::unique_ptr<FrameGatherer> gatherer;

    // ---- waiting on the event thread (lock held) ----

    bool waitFor(const std::function<bool()>& done) {
        return PulseContext::waitOn(loop, done, timeoutMs);
    }

    int contextError() const { return context ? pa_context_errno(context) : PA_ERR_INTERNAL; }

    // ---- start steps (lock held) ----

    std::optional<Failure> connect() {
        context = PulseContext::make(loop);
        if (!context)
            return Failure{Failure::Step::connect, PA_ERR_INTERNAL, errorText(PA_ERR_INTERNAL)};
        // Failures after the start are told through this context's own state callback.
        pa_context_set_state_callback(context, &Impl::contextState, this);
        if (const int code = PulseContext::connect(loop, context, server, timeoutMs)) {
            if (code == PA_ERR_TIMEOUT)
                return Failure{Failure::Step::connect, code, errorText(code)};
            return connectFailure(code);
        }
        return std::nullopt;
    }

    static Failure connectFailure(int code) {
        const bool absent = code == PA_ERR_CONNECTIONREFUSED || code == PA_ERR_INVALIDSERVER;
        return {absent ? Failure::Step::noServer : Failure::Step::connect, code, errorText(code)};
    }

    Failure lookupFailure(int code) { return {Failure::Step::lookup, code, errorText(code)}; }

    std::optional<Failure> openStream(const char* sourceName, const pa_sample_spec& deviceSpec,
                                      const pa_channel_map& deviceMap, int fragmentFrames) {
        pa_sample_spec spec{PA_SAMPLE_FLOAT32LE, deviceSpec.rate, deviceSpec.channels};
        if (!pa_sample_spec_valid(&spec))
            return Failure{Failure::Step::format, 0, QStringLiteral("no usable format")};
        // The device's own order: aux layouts asked for in another map arrive as zeros.
        const pa_channel_map* map =
            pa_channel_map_compatible(&deviceMap, &spec) ? &deviceMap : nullptr;
        stream = pa_stream_new(context, streamName.constData(), &spec, map);
        if (!stream) {
            const int code = contextError();
            return Failure{Failure::Step::stream, code, errorText(code)};
        }
        gatherer.reset(); // the previous stream's, in its channel count
        pa_stream_set_state_callback(stream, &Impl::streamState, this);
        pa_stream_set_read_callback(stream, &Impl::readable, this);
        if (source.kind == Source::Kind::application &&
            pa_stream_set_monitor_stream(stream, source.streamIndex) < 0) {
            const int code = contextError();
            return Failure{Failure::Step::stream, code, errorText(code)};
        }
        pa_buffer_attr attr{};
        attr.maxlength = static_cast<uint32_t>(-1);
        attr.tlength = static_cast<uint32_t>(-1);
        attr.prebuf = static_cast<uint32_t>(-1);
        attr.minreq = static_cast<uint32_t>(-1);
        attr.fragsize = static_cast<uint32_t>(fragmentFrames) * pa_frame_size(&spec);
        // The flag enums do not OR in C++. ADJUST_LATENCY sets a monitor's output to the
        // fragment (the caller's choice); without it the output keeps its own latency (seen:
        // 1.96 s) and its monitor's blocks come that far apart.
        const unsigned flags = PA_STREAM_ADJUST_LATENCY | PA_STREAM_DONT_MOVE |
                               PA_STREAM_NO_REMAP_CHANNELS | PA_STREAM_NO_REMIX_CHANNELS;
        if (pa_stream_connect_record(stream, sourceName, &attr,
                                     static_cast<pa_stream_flags_t>(flags)) < 0) {
            const int code = contextError();
            return Failure{Failure::Step::stream, code, errorText(code)};
        }
        const bool settled = waitFor([this] {
            const pa_stream_state_t state = pa_stream_get_state(stream);
            return state == PA_STREAM_READY || !PA_STREAM_IS_GOOD(state);
        });
        if (!settled)
            return Failure{Failure::Step::stream, PA_ERR_TIMEOUT, errorText(PA_ERR_TIMEOUT)};
        if (pa_stream_get_state(stream) != PA_STREAM_READY) {
            const int code = contextError();
            return Failure{Failure::Step::stream, code, errorText(code)};
        }
        const pa_sample_spec* actual = pa_stream_get_sample_spec(stream);
        if (!actual || actual->format != PA_SAMPLE_FLOAT32LE || actual->rate == 0 ||
            actual->channels == 0)
            return Failure{Failure::Step::format, 0, QStringLiteral("no usable format")};
        prepareGathering(actual->channels, fragmentFrames);
        return std::nullopt;
    }

    void prepareGathering(int channelCount, int fragmentFrames) {
        gatherer = std::make_unique<FrameGatherer>(channelCount, int64_t(fragmentFrames) * 4,
                                                   fragmentFrames / 2);
        gatherer->sink = [this](const FloatAudioBuffer& block) {
            if (owner->onBlock)
                owner->onBlock(block);
        };
    }

    // The output named, else the default one, listening first for changes of either (an
    // application's recording needs none: the server ends it when the stream moves or ends).
    int findWholeOutput(PulseLookup::Recordable& found) {
        events.listen(context, {[this] {
                                    if (running && owner->onDefaultOutputChanged)
                                        owner->onDefaultOutputChanged();
                                },
                                [this] {
                                    if (running && owner->onStreamsChanged)
                                        owner->onStreamsChanged();
                                }});
        std::string defaultOutput;
        if (const int code = PulseLookup::defaultOutput(loop, context, timeoutMs, defaultOutput))
            return code;
        events.setDefaultOutput(defaultOutput);
        const std::string wanted =
            source.name.isEmpty() ? defaultOutput : source.name.toStdString();
        if (wanted.empty())
            return PA_ERR_NOENTITY;
        return PulseLookup::outputNamed(loop, context, timeoutMs, wanted, found);
    }

    // The monitor of an output: the one named, the default one, or the one the recorded
    // application plays on.
    std::optional<Failure> recordOutput(PulseLookup::Recordable& found, int fragmentFrames) {
        const int code =
            source.kind == Source::Kind::application
                ? PulseLookup::outputOfStream(loop, context, timeoutMs, source.streamIndex, found)
                : findWholeOutput(found);
        if (code != PA_OK)
            return lookupFailure(code);
        recordedOutputName = QString::fromStdString(found.outputName);
        recordedDevice = found.description;
        // Outputs run at their own rates: the fragment is a duration, given at 48 kHz. In
        // frames, a 44.1 kHz output's 40 ms would round to PipeWire's 2048-frame period.
        const auto frames = static_cast<int>(int64_t(fragmentFrames) * found.spec.rate /
                                             int64_t(outputFragmentRate));
        return openStream(found.source.c_str(), found.spec, found.map, std::max(frames, 1));
    }

    Result begin(const Source& what, int fragmentFrames) {
        source = what;
        if (auto failure = connect())
            return *failure;
        PulseLookup::Recordable found;
        if (source.kind == Source::Kind::device) {
            if (const int code =
                    PulseLookup::device(loop, context, timeoutMs, source.name.toUtf8(), found))
                return lookupFailure(code);
            recordedDevice = found.description;
            if (auto failure =
                    openStream(found.source.c_str(), found.spec, found.map, fragmentFrames))
                return *failure;
        } else {
            if (auto failure = recordOutput(found, fragmentFrames))
                return *failure;
        }
        const pa_sample_spec* spec = pa_stream_get_sample_spec(stream);
        Format format{static_cast<double>(spec->rate),
                      spec->channels,
                      {},
                      source.kind == Source::Kind::output ? recordedOutputName : QString(),
                      recordedDevice};
        if (const pa_channel_map* map = pa_stream_get_channel_map(stream);
            map && map->channels == spec->channels)
            for (unsigned c = 0; c < map->channels; ++c)
                format.positions.push_back(PulseContext::positionOf(map->map[c]));
        return format;
    }

    void release() {
        running = false;
        recording = false;
        PulseContext::drop(stream);
        PulseContext::drop(context);
    }

    // ---- the event thread ----

    static void readable(pa_stream* s, size_t, void* userdata) {
        auto* d = static_cast<Impl*>(userdata);
        // A server that starts delivering at once (PipeWire does) may run this between the
        // stream becoming ready and start() reading its format: that audio is dropped, like
        // everything before start() returns.
        FrameGatherer* gatherer = d->gatherer.get();
        while (pa_stream_readable_size(s) > 0) {
            const void* data = nullptr;
            size_t size = 0;
            if (pa_stream_peek(s, &data, &size) < 0 || size == 0)
                break;
            if (gatherer && data)
                gatherer->take(data, size);
            else if (gatherer)
                gatherer->hole();
            pa_stream_drop(s);
        }
        if (gatherer)
            gatherer->flush();
    }

    void fail(StreamFault::Kind kind, int code) {
        if (!running || failureReported)
            return;
        failureReported = true;
        recording = false;
        if (owner->onFailure)
            owner->onFailure({kind, errorText(code), recordedDevice, systemClock().now()});
    }

    void lose() {
        if (!running || lossReported)
            return;
        lossReported = true;
        if (owner->onSourceLost)
            owner->onSourceLost();
    }

    static void contextState(pa_context* c, void* userdata) {
        auto* d = static_cast<Impl*>(userdata);
        pa_threaded_mainloop_signal(d->loop, 0);
        if (!PA_CONTEXT_IS_GOOD(pa_context_get_state(c)))
            d->fail(StreamFault::Kind::connectionLost, pa_context_errno(c));
    }

    static void streamState(pa_stream* s, void* userdata) {
        auto* d = static_cast<Impl*>(userdata);
        pa_threaded_mainloop_signal(d->loop, 0);
        if (PA_STREAM_IS_GOOD(pa_stream_get_state(s)))
            return;
        // A context that failed too says more than the stream does.
        if (d->context && !PA_CONTEXT_IS_GOOD(pa_context_get_state(d->context)))
            return contextState(d->context, d);
        if (d->source.kind == Source::Kind::application)
            d->lose();
        d->fail(StreamFault::Kind::streamEnded, d->contextError());
    }
};

PulseRecorder::PulseRecorder(QString streamName, QString server) : d(std::make_unique<Impl>()) {
    d->streamName = streamName.toUtf8();
    d->server = server.toUtf8();
    d->owner = this;
}

PulseRecorder::~PulseRecorder() {
    stop();
}

PulseRecorder::Result PulseRecorder::start(const Source& source, int fragmentFrames) {
    stop();
    d->loop = PulseContext::startLoop();
    if (!d->loop)
        return Failure{Failure::Step::connect, PA_ERR_INTERNAL, errorText(PA_ERR_INTERNAL)};
    pa_threaded_mainloop_lock(d->loop);
    d->failureReported = false;
    d->lossReported = false;
    Result result = d->begin(source, std::max(1, fragmentFrames));
    const bool ok = std::holds_alternative<Format>(result);
    if (ok) {
        d->running = true;
        d->recording = true;
    }
    pa_threaded_mainloop_unlock(d->loop);
    if (!ok)
        stop();
    return result;
}

void PulseRecorder::stop() {
    PulseContext::stopLoop(d->loop, [this] { d->release(); });
}

bool PulseRecorder::isRecording() const {
    return d->recording.load();
}
