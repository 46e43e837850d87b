#pragma once

#include <QByteArray>

// Which Qt platform plugin the desktop app asks for. On a Wayland session the window goes
// through XWayland when it can, because only there do "always on top", "all workspaces" and
// the window's position work; --wayland keeps the native Wayland window.
namespace DisplayPlatform {

struct Environment {
    QByteArray qpaPlatform;    // QT_QPA_PLATFORM
    QByteArray sessionType;    // XDG_SESSION_TYPE
    QByteArray waylandDisplay; // WAYLAND_DISPLAY
    QByteArray display;        // DISPLAY
};

Environment fromProcess();

// True when QT_QPA_PLATFORM should be set to xcb before the application object exists.
bool preferXcb(const Environment& environment, bool nativeWaylandRequested);

// Applies the choice to this process's environment.
void choose(bool nativeWaylandRequested);

} // namespace DisplayPlatform
