#pragma once

class QWindow;

// Requests to an EWMH window manager about a window. Each does nothing when the application
// does not run on xcb.
namespace X11Workspaces {
// "All workspaces" (_NET_WM_DESKTOP).
void showOnAll(QWindow* window, bool all);
// Above other windows (_NET_WM_STATE_ABOVE), asked of the manager directly: Qt's own request
// can be lost while the manager is still taking a newly shown window in.
void keepAbove(QWindow* window, bool above);
} // namespace X11Workspaces
