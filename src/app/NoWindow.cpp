// The window's modes in the program that runs only the terminal session: the `corvinel` front
// starts that program for --headless alone, where the command line refuses every window mode
// before it gets here.
#include "app/DesktopApp.h"

#include <cstdio>

namespace {
int refuse() {
    fprintf(stderr, "corvinel: this program has no window; run corvinel without --headless\n");
    return 2;
}
} // namespace

int runDesktop(int, char*[], bool) {
    return refuse();
}

int runDemo(int, char*[], bool) {
    return refuse();
}
