#include "audio/CaptureFaults.h"

#include <algorithm>

namespace CaptureFaults {

QString serverNotRunning() {
    return QStringLiteral("The sound server is not running, so nothing can be recorded. Start "
                          "PipeWire or PulseAudio (or log in again), then press Start.");
}

CaptureFault describe(Stream stream, const StreamFault& fault) {
    if (fault.kind == StreamFault::Kind::connectionLost)
        return {QStringLiteral("The connection to the sound server was lost (%1), so nothing "
                               "more is recorded. Once the sound server runs again, press Stop, "
                               "then Start.")
                    .arg(fault.reason),
                fault.at};
    const QString what =
        stream == Stream::microphone ? QStringLiteral("microphone") : QStringLiteral("meeting");
    const QString on = fault.device.isEmpty() ? QString() : QStringLiteral(" on ") + fault.device;
    return {QStringLiteral("The sound server ended the %1 recording%2: %3.")
                .arg(what, on, fault.reason),
            fault.at};
}

bool Earliest::offer(const CaptureFault& fault) {
    if (m_shown && fault.description == m_shown->description) {
        m_shown->at = std::min(m_shown->at, fault.at);
        return false;
    }
    if (m_shown && fault.at >= m_shown->at)
        return false;
    m_shown = fault;
    return true;
}

} // namespace CaptureFaults
