#pragma once

class QWindow;

// "All workspaces" for a window under an EWMH window manager (_NET_WM_DESKTOP). Does nothing
// when the application does not run on xcb.
namespace X11Workspaces {
void showOnAll(QWindow* window, bool all);
}
