#pragma once

#include "audio/ChannelDownmix.h"

#include <QByteArray>
#include <QString>
#include <functional>

struct pa_context;
struct pa_server_info;
struct pa_operation;
struct pa_stream;
struct pa_threaded_mainloop;

// What every connection to the sound server here does the same way: a context named as this
// application, connecting and waiting for it, running one query and waiting for its answer,
// with a time limit each so that a frozen server never hangs the caller. Every function runs
// with the loop's lock held.
namespace PulseContext {

// Holds the loop's lock while it lives.
class Locked {
public:
    explicit Locked(pa_threaded_mainloop* loop);
    ~Locked();
    Locked(const Locked&) = delete;
    Locked& operator=(const Locked&) = delete;

private:
    pa_threaded_mainloop* m_loop;
};

// A running event thread of its own; null when the library could not make or start one.
pa_threaded_mainloop* startLoop();
// Runs `release` with the loop's lock held (it lets go of the streams and the context), then
// ends the event thread, frees the loop and clears the pointer. A null loop is left as it is.
void stopLoop(pa_threaded_mainloop*& loop, const std::function<void()>& release);

// The server's words for an error code.
QString errorText(int code);

// Waits on the server's event thread until `done` holds or `timeoutMs` passes. Returns whether
// `done` holds.
bool waitOn(pa_threaded_mainloop* loop, const std::function<bool()>& done, int timeoutMs);

// A new context that names this application (and so leaves it out of its own listings); its
// state changes wake the loop's waiters. Null when the library could not make one.
pa_context* make(pa_threaded_mainloop* loop);

// Connects `context` to `server` (empty: the address the library finds itself) and waits until
// it is ready. 0 when it is; else the error code (PA_ERR_TIMEOUT when it took too long).
int connect(pa_threaded_mainloop* loop, pa_context* context, const QByteArray& server,
            int timeoutMs);

// Silences, disconnects and lets go of a stream or a context, and clears the pointer; nothing
// of it calls back once this returns. A null pointer is left as it is.
void drop(pa_stream*& stream);
void drop(pa_context*& context);

// Waits for `operation` (which may be null: it failed to start) until `done` holds, it ended or
// the context failed, cancels it if it still runs and lets it go. Returns `done`.
bool await(pa_threaded_mainloop* loop, pa_context* context, pa_operation* operation,
           const bool& done, int timeoutMs);

// Where a channel of the server's channel map (a pa_channel_position_t) plays.
ChannelPosition positionOf(int position);

// Wakes the loop's waiters (a function, so this header needs none of the library's).
void wake(pa_threaded_mainloop* loop);

// A query whose answers come one `Info` at a time, ended by an end-of-list call: the list
// queries, and the queries for one object by index or by name.
template <typename Info> struct InfoQuery {
    pa_threaded_mainloop* loop = nullptr;
    std::function<void(const Info&)> take;
    bool done = false;

    static void callback(pa_context*, const Info* info, int eol, void* userdata) {
        auto* query = static_cast<InfoQuery*>(userdata);
        if (eol == 0 && info) {
            query->take(*info);
            return;
        }
        query->done = true;
        wake(query->loop);
    }
};

// The query for the server's own facts (its default output and input), answered once.
struct ServerQuery {
    pa_threaded_mainloop* loop = nullptr;
    std::function<void(const pa_server_info&)> take;
    bool done = false;

    static void callback(pa_context*, const pa_server_info* info, void* userdata) {
        auto* query = static_cast<ServerQuery*>(userdata);
        if (info)
            query->take(*info);
        query->done = true;
        wake(query->loop);
    }
};

} // namespace PulseContext
