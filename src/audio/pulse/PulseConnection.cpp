#include "audio/pulse/PulseConnection.h"
#include "audio/pulse/PulseContext.h"

#include <pulse/context.h>
#include <pulse/error.h>
#include <pulse/introspect.h>
#include <pulse/operation.h>
#include <pulse/proplist.h>
#include <pulse/thread-mainloop.h>
#include <pulse/timeval.h>

#include <functional>

const QString PulseConnection::ownApplicationID = QStringLiteral("com.brisendo.corvinel");

namespace {

using PulseContext::Locked;

QString text(const char* value) {
    return value ? QString::fromUtf8(value) : QString();
}

std::optional<uint32_t> validIndex(uint32_t index) {
    if (index == PA_INVALID_INDEX)
        return std::nullopt;
    return index;
}

PulseProperties properties(const pa_proplist* list) {
    PulseProperties result;
    if (!list)
        return result;
    void* state = nullptr;
    while (const char* key = pa_proplist_iterate(const_cast<pa_proplist*>(list), &state)) {
        // Binary properties (icons) have no text form and nothing here needs them.
        if (const char* value = pa_proplist_gets(list, key))
            result.insert(QString::fromUtf8(key), QString::fromUtf8(value));
    }
    return result;
}

PulseError absent(int error) {
    return {
        PulseError::Kind::serverAbsent,
        QStringLiteral("Could not connect to the sound server: %1.").arg(text(pa_strerror(error)))};
}

PulseError gone(int error) {
    return {PulseError::Kind::serverGone,
            QStringLiteral("The connection to the sound server was lost: %1.")
                .arg(text(pa_strerror(error)))};
}

PulseError unresponsive() {
    return {PulseError::Kind::serverUnresponsive,
            QStringLiteral("The sound server did not answer in time.")};
}

PulseSource toSource(const pa_source_info& info) {
    return {info.index,
            text(info.name),
            text(info.description),
            info.sample_spec.channels,
            info.sample_spec.rate,
            validIndex(info.monitor_of_sink)};
}

PulseSink toSink(const pa_sink_info& info) {
    return {info.index, text(info.name), text(info.description), text(info.monitor_source_name),
            info.monitor_source};
}

PulseSourceOutput toSourceOutput(const pa_source_output_info& info) {
    return {info.index, validIndex(info.client), info.source, properties(info.proplist)};
}

PulseSinkInput toSinkInput(const pa_sink_input_info& info) {
    return {info.index, validIndex(info.client), info.sink, info.corked != 0,
            properties(info.proplist)};
}

PulseClient toClient(const pa_client_info& info) {
    return {info.index, text(info.name), properties(info.proplist), text(info.driver)};
}

} // namespace

struct PulseConnection::Impl {
    QByteArray server;
    pa_threaded_mainloop* loop = nullptr;
    pa_context* context = nullptr;
    // The current context reached READY once: its failure means the server went away.
    bool contextWasReady = false;
    // A replaced context had been READY: a failing reconnect reports the loss, not absence.
    bool lostServer = false;

    // Waits on the server's thread until `done` holds or `timeoutMs` passes. Lock held.
    bool waitFor(const std::function<bool()>& done, int timeoutMs) {
        return PulseContext::waitOn(loop, done, timeoutMs);
    }

    void dropContext() {
        if (!context)
            return;
        lostServer = lostServer || contextWasReady;
        PulseContext::drop(context);
        contextWasReady = false;
        // A caller still waiting on the dropped context hears no state callback any more.
        pa_threaded_mainloop_signal(loop, 0);
    }

    PulseError connectFailure(int error) { return lostServer ? gone(error) : absent(error); }

    std::optional<PulseError> connect() {
        if (!loop)
            return absent(PA_ERR_INTERNAL);
        if (context && !PA_CONTEXT_IS_GOOD(pa_context_get_state(context)))
            dropContext();
        if (!context) {
            context = PulseContext::make(loop);
            if (!context)
                return connectFailure(PA_ERR_INTERNAL);
            const char* address = server.isEmpty() ? nullptr : server.constData();
            if (pa_context_connect(context, address, PA_CONTEXT_NOAUTOSPAWN, nullptr) < 0) {
                const int error = pa_context_errno(context);
                dropContext();
                return connectFailure(error);
            }
        }
        // Held while waiting: another caller may drop and replace the context meanwhile.
        pa_context* current = pa_context_ref(context);
        const bool settled = waitFor(
            [current] {
                const pa_context_state_t state = pa_context_get_state(current);
                return state == PA_CONTEXT_READY || !PA_CONTEXT_IS_GOOD(state);
            },
            connectTimeoutMs);
        pa_context_unref(current);
        if (context != current)
            return connect();
        if (!settled) {
            dropContext();
            return unresponsive();
        }
        if (pa_context_get_state(context) != PA_CONTEXT_READY) {
            const int error = pa_context_errno(context);
            dropContext();
            return connectFailure(error);
        }
        contextWasReady = true;
        lostServer = false;
        return std::nullopt;
    }

    // Runs one introspection call and waits for its last callback. Lock held.
    std::optional<PulseError> run(const std::function<pa_operation*(pa_context*)>& start,
                                  const bool& done) {
        if (auto error = connect())
            return error;
        // Held until the end: another caller may drop and replace the context meanwhile.
        pa_context* current = pa_context_ref(context);
        const auto result = wait(start(current), current, done);
        pa_context_unref(current);
        return result;
    }

    std::optional<PulseError> wait(pa_operation* operation, pa_context* current, const bool& done) {
        if (!operation)
            return gone(pa_context_errno(current));
        if (PulseContext::await(loop, current, operation, done, queryTimeoutMs))
            return std::nullopt;
        if (!PA_CONTEXT_IS_GOOD(pa_context_get_state(current)))
            return gone(pa_context_errno(current));
        return unresponsive();
    }

    template <typename Record, typename Info>
    std::variant<QList<Record>, PulseError>
    list(pa_operation* (*call)(pa_context*, void (*)(pa_context*, const Info*, int, void*), void*),
         Record (*convert)(const Info&)) {
        if (!loop)
            return absent(PA_ERR_INTERNAL);
        Locked locked(loop);
        QList<Record> items;
        PulseContext::InfoQuery<Info> query{
            loop, [&items, convert](const Info& info) { items.append(convert(info)); }};
        if (auto error =
                run([&](pa_context* c) { return call(c, &decltype(query)::callback, &query); },
                    query.done))
            return *error;
        return items;
    }
};

PulseConnection::PulseConnection(const QString& server) : d(std::make_unique<Impl>()) {
    d->server = server.toUtf8();
    d->loop = PulseContext::startLoop();
}

PulseConnection::~PulseConnection() {
    PulseContext::stopLoop(d->loop, [this] { d->dropContext(); });
}

PulseConnection& PulseConnection::shared() {
    static PulseConnection connection;
    return connection;
}

std::optional<PulseError> PulseConnection::connect() {
    if (!d->loop)
        return absent(PA_ERR_INTERNAL);
    Locked locked(d->loop);
    return d->connect();
}

bool PulseConnection::isConnected() const {
    if (!d->loop)
        return false;
    Locked locked(d->loop);
    return d->context && pa_context_get_state(d->context) == PA_CONTEXT_READY;
}

std::optional<uint32_t> PulseConnection::clientIndex() const {
    if (!d->loop)
        return std::nullopt;
    Locked locked(d->loop);
    if (d->context && pa_context_get_state(d->context) == PA_CONTEXT_READY)
        return validIndex(pa_context_get_index(d->context));
    return std::nullopt;
}

std::variant<PulseServerInfo, PulseError> PulseConnection::serverInfo() {
    if (!d->loop)
        return absent(PA_ERR_INTERNAL);
    PulseServerInfo found;
    PulseContext::ServerQuery query{d->loop, [&found](const pa_server_info& info) {
                                        found = {text(info.default_sink_name),
                                                 text(info.default_source_name),
                                                 text(info.server_name)};
                                    }};
    Locked locked(d->loop);
    if (auto error = d->run(
            [&](pa_context* c) {
                return pa_context_get_server_info(c, &PulseContext::ServerQuery::callback, &query);
            },
            query.done))
        return *error;
    return found;
}

std::variant<QList<PulseSource>, PulseError> PulseConnection::sources() {
    return d->list<PulseSource, pa_source_info>(pa_context_get_source_info_list, toSource);
}

std::variant<QList<PulseSink>, PulseError> PulseConnection::sinks() {
    return d->list<PulseSink, pa_sink_info>(pa_context_get_sink_info_list, toSink);
}

std::variant<QList<PulseSourceOutput>, PulseError> PulseConnection::sourceOutputs() {
    return d->list<PulseSourceOutput, pa_source_output_info>(pa_context_get_source_output_info_list,
                                                             toSourceOutput);
}

std::variant<QList<PulseSinkInput>, PulseError> PulseConnection::sinkInputs() {
    return d->list<PulseSinkInput, pa_sink_input_info>(pa_context_get_sink_input_info_list,
                                                       toSinkInput);
}

std::variant<QList<PulseClient>, PulseError> PulseConnection::clients() {
    return d->list<PulseClient, pa_client_info>(pa_context_get_client_info_list, toClient);
}
