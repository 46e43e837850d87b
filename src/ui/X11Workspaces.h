#pragma once

class QColor;
class QWindow;

// Requests to an EWMH window manager about a window, and to the X server. Each does nothing
// when the application does not run on xcb.
namespace X11Workspaces {
// "All workspaces" (_NET_WM_DESKTOP).
void showOnAll(QWindow* window, bool all);
// Above other windows (_NET_WM_STATE_ABOVE), asked of the manager directly: Qt's own request
// can be lost while the manager is still taking a newly shown window in.
void keepAbove(QWindow* window, bool above);
// The colour the server fills the window with until the application draws: without one, a
// newly mapped window shows black until its first frame.
void fillBackground(QWindow* window, const QColor& color);
} // namespace X11Workspaces
