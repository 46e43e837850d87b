#pragma once

#include "audio/AudioTypes.h"

#include <optional>

// The words for capture failures, and which of a run's failures the user is told about.
namespace CaptureFaults {

enum class Stream { microphone, meeting };

// What the user reads when nothing answers at the sound server's address.
QString serverNotRunning();
// A stream's failure, naming the stream and its device.
CaptureFault describe(Stream stream, const StreamFault& fault);

// Of the failures one run reports, the one that happened first. When the sound server goes,
// both streams fail within milliseconds and their reports reach the main thread in either
// order, sometimes after a consequence (a restart that could not connect): the earliest one
// is the cause.
class Earliest {
public:
    // True when `fault` is now the one to show: the first of the run, or one that happened
    // before the shown one and says something else.
    bool offer(const CaptureFault& fault);
    const std::optional<CaptureFault>& shown() const { return m_shown; }
    void reset() { m_shown.reset(); }

private:
    std::optional<CaptureFault> m_shown;
};

} // namespace CaptureFaults
