#pragma once

#include <thread>

// Reads the font configuration on a thread of its own while the window is still being built:
// fontconfig's set-up and the fallbacks for the symbols take milliseconds that the first text
// layout would otherwise wait for on the GUI thread. Made once the application object exists;
// the font database is shared and thread-safe, so whichever thread comes first fills it.
// Goes before the application object does, waiting for the thread if it still runs.
class FontWarmup {
public:
    FontWarmup();
    ~FontWarmup();
    FontWarmup(const FontWarmup&) = delete;
    FontWarmup& operator=(const FontWarmup&) = delete;

private:
    std::thread m_thread;
};
