#pragma once

#include <functional>

struct pa_threaded_mainloop;

// Waits on the server's event thread, with its lock held, until `done` holds or `timeoutMs`
// passes; a frozen server must never hang the caller. Returns whether `done` holds.
bool waitOnMainloop(pa_threaded_mainloop* loop, const std::function<bool()>& done, int timeoutMs);
