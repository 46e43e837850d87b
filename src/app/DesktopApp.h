#pragma once

// The desktop window over the real session, and the same window over the scripted demo.
// `nativeWayland` keeps a Wayland session's own platform instead of XWayland. Each creates the
// application object and returns the exit status.
int runDesktop(int argc, char* argv[], bool nativeWayland);
int runDemo(int argc, char* argv[], bool nativeWayland);
