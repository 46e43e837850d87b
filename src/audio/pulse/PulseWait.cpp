#include "audio/pulse/PulseWait.h"

#include <pulse/pulseaudio.h>

bool waitOnMainloop(pa_threaded_mainloop* loop, const std::function<bool()>& done, int timeoutMs) {
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
