#include "audio/pulse/PulsePlayer.h"
#include "audio/pulse/PulseContext.h"
#include "base/Clock.h"

#include <pulse/context.h>
#include <pulse/error.h>
#include <pulse/proplist.h>
#include <pulse/stream.h>
#include <pulse/thread-mainloop.h>

#include <algorithm>
#include <cstdint>

namespace {

using PulseContext::errorText;

// One playback on the event thread; every member runs with the loop's lock held.
struct Playback {
    pa_threaded_mainloop* loop = nullptr;
    pa_context* context = nullptr;
    pa_stream* stream = nullptr;
    double deadline = 0; // Clock::now() seconds

    int remainingMs() const {
        return int(std::max(0.0, (deadline - systemClock().now()) * 1000.0));
    }
    bool waitFor(const std::function<bool()>& done) {
        return PulseContext::waitOn(loop, done, remainingMs());
    }
    QString contextError() const {
        return errorText(context ? pa_context_errno(context) : PA_ERR_INTERNAL);
    }
    bool streamGood() const { return PA_STREAM_IS_GOOD(pa_stream_get_state(stream)); }

    static void signal(void* userdata) {
        pa_threaded_mainloop_signal(static_cast<Playback*>(userdata)->loop, 0);
    }

    std::optional<QString> connect(const QByteArray& server) {
        context = PulseContext::make(loop);
        if (!context)
            return errorText(PA_ERR_INTERNAL);
        if (const int code = PulseContext::connect(loop, context, server, remainingMs()))
            return errorText(code);
        return std::nullopt;
    }

    std::optional<QString> open(const QByteArray& name, int sampleRate, int channels) {
        const pa_sample_spec spec{PA_SAMPLE_FLOAT32LE, uint32_t(sampleRate), uint8_t(channels)};
        if (!pa_sample_spec_valid(&spec))
            return errorText(PA_ERR_INVALID);
        stream = pa_stream_new(context, name.constData(), &spec, nullptr);
        if (!stream)
            return contextError();
        pa_stream_set_state_callback(
            stream, [](pa_stream*, void* userdata) { signal(userdata); }, this);
        pa_stream_set_write_callback(
            stream, [](pa_stream*, size_t, void* userdata) { signal(userdata); }, this);
        // The default output, with the server's own buffering: a short sound needs no tuning.
        if (pa_stream_connect_playback(stream, nullptr, nullptr, PA_STREAM_NOFLAGS, nullptr,
                                       nullptr) < 0)
            return contextError();
        const bool settled = waitFor([this] {
            const pa_stream_state_t state = pa_stream_get_state(stream);
            return state == PA_STREAM_READY || !PA_STREAM_IS_GOOD(state);
        });
        if (!settled)
            return errorText(PA_ERR_TIMEOUT);
        if (pa_stream_get_state(stream) != PA_STREAM_READY)
            return contextError();
        return std::nullopt;
    }

    std::optional<QString> write(const std::vector<float>& samples) {
        const auto* bytes = reinterpret_cast<const uint8_t*>(samples.data());
        const size_t total = samples.size() * sizeof(float);
        size_t offset = 0;
        while (offset < total) {
            if (!waitFor([this] { return !streamGood() || pa_stream_writable_size(stream) > 0; }))
                return errorText(PA_ERR_TIMEOUT);
            if (!streamGood())
                return contextError();
            const size_t writable = pa_stream_writable_size(stream);
            if (writable == size_t(-1))
                return contextError();
            const size_t n = std::min(writable, total - offset);
            if (pa_stream_write(stream, bytes + offset, n, nullptr, 0, PA_SEEK_RELATIVE) < 0)
                return contextError();
            offset += n;
        }
        return std::nullopt;
    }

    std::optional<QString> drain() {
        struct Drain {
            Playback* playback;
            bool done = false;
            bool ok = false;
        } drain{this};
        pa_operation* operation = pa_stream_drain(
            stream,
            [](pa_stream*, int success, void* userdata) {
                auto* d = static_cast<Drain*>(userdata);
                d->done = true;
                d->ok = success != 0;
                signal(d->playback);
            },
            &drain);
        if (!operation)
            return contextError();
        waitFor([&] { return drain.done || !streamGood(); });
        if (pa_operation_get_state(operation) == PA_OPERATION_RUNNING)
            pa_operation_cancel(operation);
        pa_operation_unref(operation);
        if (!drain.done)
            return streamGood() ? errorText(PA_ERR_TIMEOUT) : contextError();
        if (!drain.ok)
            return contextError();
        return std::nullopt;
    }

    void release() {
        PulseContext::drop(stream);
        PulseContext::drop(context);
    }
};

} // namespace

PulsePlayer::PulsePlayer(QString streamName, QString server)
    : m_streamName(streamName.toUtf8()), m_server(server.toUtf8()) {}

std::optional<QString> PulsePlayer::play(const std::vector<float>& samples, int sampleRate,
                                         int channels, int timeoutMs) {
    if (sampleRate <= 0 || channels <= 0)
        return errorText(PA_ERR_INVALID);
    Playback playback;
    playback.loop = PulseContext::startLoop();
    if (!playback.loop)
        return errorText(PA_ERR_INTERNAL);
    const double length = double(samples.size()) / (double(sampleRate) * channels);
    playback.deadline = systemClock().now() + length + timeoutMs / 1000.0;

    std::optional<QString> failure;
    PulseContext::stopLoop(playback.loop, [&] {
        failure = playback.connect(m_server);
        if (!failure)
            failure = playback.open(m_streamName, sampleRate, channels);
        if (!failure)
            failure = playback.write(samples);
        if (!failure)
            failure = playback.drain();
        playback.release();
    });
    return failure;
}
