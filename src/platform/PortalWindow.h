#pragma once

#include <QString>

// How a desktop portal is told which window its dialog belongs to: "x11:" and the window's id in
// hexadecimal on X11 (`platform` "xcb"). On Wayland a handle needs a protocol Qt does not offer
// here, so there (and without a window) none, and the dialog stands alone.
inline QString portalParentWindow(const QString& platform, quintptr windowId) {
    if (platform != u"xcb" || windowId == 0)
        return {};
    return QStringLiteral("x11:") + QString::number(windowId, 16);
}
