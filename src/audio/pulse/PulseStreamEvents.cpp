#include "audio/pulse/PulseStreamEvents.h"

#include <pulse/context.h>
#include <pulse/introspect.h>
#include <pulse/operation.h>
#include <pulse/subscribe.h>

void PulseStreamEvents::listen(pa_context* context, Hooks hooks) {
    m_hooks = std::move(hooks);
    pa_context_set_subscribe_callback(
        context,
        [](pa_context* c, pa_subscription_event_type_t type, uint32_t, void* userdata) {
            event(c, int(type), userdata);
        },
        this);
    const unsigned mask = PA_SUBSCRIPTION_MASK_SERVER | PA_SUBSCRIPTION_MASK_SINK_INPUT;
    if (pa_operation* subscribed = pa_context_subscribe(
            context, static_cast<pa_subscription_mask_t>(mask), nullptr, nullptr))
        pa_operation_unref(subscribed);
}

void PulseStreamEvents::event(pa_context* c, int type, void* userdata) {
    auto* self = static_cast<PulseStreamEvents*>(userdata);
    switch (unsigned(type) & PA_SUBSCRIPTION_EVENT_FACILITY_MASK) {
    case PA_SUBSCRIPTION_EVENT_SERVER:
        self->serverChanged(c);
        break;
    case PA_SUBSCRIPTION_EVENT_SINK_INPUT:
        self->m_hooks.streamsChanged();
        break;
    default:
        break;
    }
}

void PulseStreamEvents::serverChanged(pa_context* c) {
    // Answered later on this thread; nothing here may wait for it.
    auto answered = [](pa_context*, const pa_server_info* info, void* userdata) {
        auto* self = static_cast<PulseStreamEvents*>(userdata);
        if (!info || !info->default_sink_name || self->m_defaultOutput == info->default_sink_name)
            return;
        self->m_defaultOutput = info->default_sink_name;
        self->m_hooks.defaultOutputChanged();
    };
    if (pa_operation* op = pa_context_get_server_info(c, answered, this))
        pa_operation_unref(op);
}
