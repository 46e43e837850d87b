#include "ui/DisplayPlatform.h"

#include <QtGlobal>

namespace DisplayPlatform {

Environment fromProcess() {
    return {qgetenv("QT_QPA_PLATFORM"), qgetenv("XDG_SESSION_TYPE"), qgetenv("WAYLAND_DISPLAY"),
            qgetenv("DISPLAY")};
}

bool preferXcb(const Environment& environment, bool nativeWaylandRequested) {
    if (nativeWaylandRequested || !environment.qpaPlatform.isEmpty())
        return false;
    const bool wayland =
        environment.sessionType == "wayland" || !environment.waylandDisplay.isEmpty();
    return wayland && !environment.display.isEmpty();
}

void choose(bool nativeWaylandRequested) {
    if (preferXcb(fromProcess(), nativeWaylandRequested))
        qputenv("QT_QPA_PLATFORM", "xcb");
}

} // namespace DisplayPlatform
