#include "audio/pulse/PulseContext.h"

#include "audio/pulse/PulseConnection.h"

#include <pulse/pulseaudio.h>

namespace PulseContext {

Locked::Locked(pa_threaded_mainloop* loop) : m_loop(loop) {
    pa_threaded_mainloop_lock(m_loop);
}

Locked::~Locked() {
    pa_threaded_mainloop_unlock(m_loop);
}

pa_threaded_mainloop* startLoop() {
    pa_threaded_mainloop* loop = pa_threaded_mainloop_new();
    if (loop && pa_threaded_mainloop_start(loop) < 0) {
        pa_threaded_mainloop_free(loop);
        return nullptr;
    }
    return loop;
}

void stopLoop(pa_threaded_mainloop*& loop, const std::function<void()>& release) {
    if (!loop)
        return;
    pa_threaded_mainloop_lock(loop);
    release();
    pa_threaded_mainloop_unlock(loop);
    pa_threaded_mainloop_stop(loop);
    pa_threaded_mainloop_free(loop);
    loop = nullptr;
}

QString errorText(int code) {
    const char* text = pa_strerror(code);
    return text ? QString::fromUtf8(text) : QStringLiteral("error %1").arg(code);
}

void wake(pa_threaded_mainloop* loop) {
    pa_threaded_mainloop_signal(loop, 0);
}

bool waitOn(pa_threaded_mainloop* loop, const std::function<bool()>& done, int timeoutMs) {
    if (done())
        return true;
    struct Timer {
        pa_threaded_mainloop* loop;
        bool fired = false;
    } timer{loop};
    pa_mainloop_api* api = pa_threaded_mainloop_get_api(loop);
    timeval when{};
    pa_gettimeofday(&when);
    pa_timeval_add(&when, static_cast<pa_usec_t>(timeoutMs) * PA_USEC_PER_MSEC);
    pa_time_event* event = api->time_new(
        api, &when,
        [](pa_mainloop_api*, pa_time_event*, const timeval*, void* userdata) {
            auto* t = static_cast<Timer*>(userdata);
            t->fired = true;
            pa_threaded_mainloop_signal(t->loop, 0);
        },
        &timer);
    while (!done() && !timer.fired)
        pa_threaded_mainloop_wait(loop);
    api->time_free(event);
    return done();
}

pa_context* make(pa_threaded_mainloop* loop) {
    pa_proplist* list = pa_proplist_new();
    pa_proplist_sets(list, PA_PROP_APPLICATION_NAME, "Corvinel");
    pa_proplist_sets(list, PA_PROP_APPLICATION_ID,
                     PulseConnection::ownApplicationID.toUtf8().constData());
    pa_context* context =
        pa_context_new_with_proplist(pa_threaded_mainloop_get_api(loop), "Corvinel", list);
    pa_proplist_free(list);
    if (context)
        pa_context_set_state_callback(
            context,
            [](pa_context*, void* userdata) {
                pa_threaded_mainloop_signal(static_cast<pa_threaded_mainloop*>(userdata), 0);
            },
            loop);
    return context;
}

int connect(pa_threaded_mainloop* loop, pa_context* context, const QByteArray& server,
            int timeoutMs) {
    const char* address = server.isEmpty() ? nullptr : server.constData();
    if (pa_context_connect(context, address, PA_CONTEXT_NOAUTOSPAWN, nullptr) < 0)
        return pa_context_errno(context);
    const bool settled = waitOn(
        loop,
        [context] {
            const pa_context_state_t state = pa_context_get_state(context);
            return state == PA_CONTEXT_READY || !PA_CONTEXT_IS_GOOD(state);
        },
        timeoutMs);
    if (!settled)
        return PA_ERR_TIMEOUT;
    if (pa_context_get_state(context) != PA_CONTEXT_READY)
        return pa_context_errno(context);
    return PA_OK;
}

void drop(pa_stream*& stream) {
    if (!stream)
        return;
    pa_stream_set_state_callback(stream, nullptr, nullptr);
    pa_stream_set_read_callback(stream, nullptr, nullptr);
    pa_stream_set_write_callback(stream, nullptr, nullptr);
    pa_stream_disconnect(stream);
    pa_stream_unref(stream);
    stream = nullptr;
}

void drop(pa_context*& context) {
    if (!context)
        return;
    pa_context_set_subscribe_callback(context, nullptr, nullptr);
    pa_context_set_state_callback(context, nullptr, nullptr);
    pa_context_disconnect(context);
    pa_context_unref(context);
    context = nullptr;
}

bool await(pa_threaded_mainloop* loop, pa_context* context, pa_operation* operation,
           const bool& done, int timeoutMs) {
    if (!operation)
        return false;
    waitOn(
        loop,
        [&] {
            return done || pa_operation_get_state(operation) != PA_OPERATION_RUNNING ||
                   !PA_CONTEXT_IS_GOOD(pa_context_get_state(context));
        },
        timeoutMs);
    // Cancelling under the lock guarantees no callback touches the caller's query later.
    if (pa_operation_get_state(operation) == PA_OPERATION_RUNNING)
        pa_operation_cancel(operation);
    pa_operation_unref(operation);
    return done;
}

ChannelPosition positionOf(int position) {
    switch (position) {
    case PA_CHANNEL_POSITION_MONO:
        return ChannelPosition::mono;
    case PA_CHANNEL_POSITION_FRONT_LEFT:
        return ChannelPosition::frontLeft;
    case PA_CHANNEL_POSITION_FRONT_RIGHT:
        return ChannelPosition::frontRight;
    case PA_CHANNEL_POSITION_FRONT_CENTER:
        return ChannelPosition::frontCentre;
    case PA_CHANNEL_POSITION_LFE:
        return ChannelPosition::lfe;
    case PA_CHANNEL_POSITION_REAR_LEFT:
        return ChannelPosition::rearLeft;
    case PA_CHANNEL_POSITION_REAR_RIGHT:
        return ChannelPosition::rearRight;
    case PA_CHANNEL_POSITION_REAR_CENTER:
        return ChannelPosition::rearCentre;
    case PA_CHANNEL_POSITION_SIDE_LEFT:
        return ChannelPosition::sideLeft;
    case PA_CHANNEL_POSITION_SIDE_RIGHT:
        return ChannelPosition::sideRight;
    case PA_CHANNEL_POSITION_FRONT_LEFT_OF_CENTER:
        return ChannelPosition::frontLeftOfCentre;
    case PA_CHANNEL_POSITION_FRONT_RIGHT_OF_CENTER:
        return ChannelPosition::frontRightOfCentre;
    default:
        return ChannelPosition::other;
    }
}

} // namespace PulseContext
