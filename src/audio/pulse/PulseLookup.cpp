#include "audio/pulse/PulseLookup.h"
#include "audio/pulse/PulseContext.h"

#include <pulse/context.h>
#include <pulse/error.h>
#include <pulse/introspect.h>

namespace PulseLookup {

namespace {

// Why a query that did not end went unanswered: the context's error, else the time limit.
int unanswered(pa_context* context) {
    const int code = pa_context_errno(context);
    return code != PA_OK ? code : PA_ERR_TIMEOUT;
}

// Runs a query for one object and waits for it. An object that does not exist ends the query
// with an error rather than an empty answer, so "not found" is told by the query ending without
// one.
template <typename Info, typename Start>
int askForOne(pa_threaded_mainloop* loop, pa_context* context, int timeoutMs, Start start,
              const std::function<void(const Info&)>& take) {
    bool found = false;
    PulseContext::InfoQuery<Info> query{loop, [&](const Info& info) {
                                            found = true;
                                            take(info);
                                        }};
    PulseContext::await(loop, context, start(&decltype(query)::callback, &query), query.done,
                        timeoutMs);
    if (found)
        return PA_OK;
    return query.done ? PA_ERR_NOENTITY : unanswered(context);
}

void takeOutput(const pa_sink_info& info, Recordable& found) {
    found.source = info.monitor_source_name ? info.monitor_source_name : "";
    found.description = QString::fromUtf8(info.description ? info.description : "");
    found.spec = info.sample_spec;
    found.map = info.channel_map;
    found.outputName = info.name ? info.name : "";
}

int monitorOf(pa_threaded_mainloop* loop, pa_context* context, int timeoutMs,
              const std::function<pa_operation*(pa_sink_info_cb_t, void*)>& start,
              Recordable& found) {
    const int code =
        askForOne<pa_sink_info>(loop, context, timeoutMs, start,
                                [&found](const pa_sink_info& info) { takeOutput(info, found); });
    if (code == PA_OK && found.source.empty())
        return PA_ERR_NOENTITY;
    return code;
}

} // namespace

int defaultOutput(pa_threaded_mainloop* loop, pa_context* context, int timeoutMs,
                  std::string& name) {
    PulseContext::ServerQuery query{loop, [&name](const pa_server_info& info) {
                                        name = info.default_sink_name ? info.default_sink_name : "";
                                    }};
    if (PulseContext::await(
            loop, context,
            pa_context_get_server_info(context, &PulseContext::ServerQuery::callback, &query),
            query.done, timeoutMs))
        return PA_OK;
    return unanswered(context);
}

int device(pa_threaded_mainloop* loop, pa_context* context, int timeoutMs, const QByteArray& name,
           Recordable& found) {
    return askForOne<pa_source_info>(
        loop, context, timeoutMs,
        [&](pa_source_info_cb_t callback, void* userdata) {
            return pa_context_get_source_info_by_name(context, name.constData(), callback,
                                                      userdata);
        },
        [&](const pa_source_info& info) {
            found.source = name.toStdString();
            found.description = QString::fromUtf8(info.description ? info.description : "");
            found.spec = info.sample_spec;
            found.map = info.channel_map;
        });
}

int outputNamed(pa_threaded_mainloop* loop, pa_context* context, int timeoutMs,
                const std::string& name, Recordable& found) {
    return monitorOf(
        loop, context, timeoutMs,
        [&](pa_sink_info_cb_t callback, void* userdata) {
            return pa_context_get_sink_info_by_name(context, name.c_str(), callback, userdata);
        },
        found);
}

int outputOfStream(pa_threaded_mainloop* loop, pa_context* context, int timeoutMs,
                   uint32_t streamIndex, Recordable& found) {
    uint32_t sink = PA_INVALID_INDEX;
    const int code = askForOne<pa_sink_input_info>(
        loop, context, timeoutMs,
        [&](pa_sink_input_info_cb_t callback, void* userdata) {
            return pa_context_get_sink_input_info(context, streamIndex, callback, userdata);
        },
        [&sink](const pa_sink_input_info& info) { sink = info.sink; });
    if (code != PA_OK)
        return code;
    return monitorOf(
        loop, context, timeoutMs,
        [&](pa_sink_info_cb_t callback, void* userdata) {
            return pa_context_get_sink_info_by_index(context, sink, callback, userdata);
        },
        found);
}

} // namespace PulseLookup
