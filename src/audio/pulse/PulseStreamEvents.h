#pragma once

#include <functional>
#include <string>

struct pa_context;

// What the server says, while an output's monitor is recorded, about where sound plays: the
// default output moving, playback streams coming, going or moving. (An application's stream
// needs none of it: the server ends the recording of a playback stream that ends or moves, and
// the recorder hears that on its own stream.) Runs on the recorder's event thread with its lock
// held; the hooks must return quickly.
class PulseStreamEvents {
public:
    struct Hooks {
        std::function<void()> defaultOutputChanged;
        std::function<void()> streamsChanged;
    };

    // Subscribes to `context`'s events. Call it before looking anything up, so that a change
    // between the lookups and the stream is heard.
    void listen(pa_context* context, Hooks hooks);
    // The default output as the lookups found it.
    void setDefaultOutput(std::string name) { m_defaultOutput = std::move(name); }

private:
    static void event(pa_context* c, int type, void* userdata);
    void serverChanged(pa_context* c);

    Hooks m_hooks;
    std::string m_defaultOutput;
};
