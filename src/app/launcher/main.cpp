// The `corvinel` command. The program proper links Qt, libpulse, poppler and more: the dynamic
// loader spends 20 to 100 ms on them before any line of Corvinel runs, and a Ctrl-C meanwhile
// has the inherited effect (kills the program, or vanishes when the shell started it with
// SIGINT ignored, leaving a session nobody can stop). This front links the C library alone,
// holds the stop signals before anything else and hands over to the program, which lets them
// go once it can take them; a signal that comes in between waits for it.

#include <cerrno>
#include <climits>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <unistd.h>

namespace {
constexpr int stopSignals[] = {SIGINT, SIGTERM, SIGHUP};
} // namespace

int main(int, char* argv[]) {
    sigset_t stop;
    sigemptyset(&stop);
    for (const int number : stopSignals)
        sigaddset(&stop, number);
    sigset_t before;
    sigprocmask(SIG_BLOCK, &stop, &before);

    // Which ones are held here: the modes that take no signal give the caller its own back.
    char held[32] = "";
    for (const int number : stopSignals)
        if (!sigismember(&before, number))
            snprintf(held + strlen(held), sizeof held - strlen(held), "%s%d", *held ? "," : "",
                     number);
    setenv("CORVINEL_HELD_SIGNALS", held, 1);

    // Beside this file as installed, and in the build tree alike. A session in the terminal has
    // a program of its own, without the window's libraries, which would be a fifth of its
    // memory.
    bool headless = false;
    for (char** argument = argv + 1; *argument; ++argument)
        headless = headless || strcmp(*argument, "--headless") == 0;
    const char* const relative = headless ? "/" CORVINEL_HEADLESS_PATH : "/" CORVINEL_PROGRAM_PATH;
    const size_t size = strlen(relative) + 1;
    char path[PATH_MAX];
    const ssize_t length = readlink("/proc/self/exe", path, sizeof path - 1);
    if (length > 0) {
        path[length] = '\0';
        char* const slash = strrchr(path, '/');
        if (slash && size_t(slash - path) + size <= sizeof path) {
            memcpy(slash, relative, size);
            execv(path, argv);
        } else {
            errno = ENAMETOOLONG;
        }
    }
    const int error = errno;
    sigprocmask(SIG_SETMASK, &before, nullptr);
    fprintf(stderr, "corvinel: cannot run %s: %s\n", length > 0 ? path : "/proc/self/exe",
            strerror(error));
    return 127;
}
