// velkocan-startup-probe: starts a GUI program and measures how long it takes
// until its first top-level window is mapped on the X display, and the
// program's peak resident memory.
//
//   velkocan-startup-probe x11 LINGER_MS -- PROGRAM [ARGS...]
//       Watches the root window of $DISPLAY for the first MapNotify of a
//       top-level window of the child (by _NET_WM_PID), lets the child run
//       LINGER_MS longer, ends it and prints
//       "map_ms=... maxrss_kb=... cpu_ms=...".
//   velkocan-startup-probe offscreen RUN_MS -- PROGRAM [ARGS...]
//       Runs the child with QT_QPA_PLATFORM=offscreen for RUN_MS, ends it and
//       prints "maxrss_kb=... cpu_ms=...".
//
// The child's output goes to /dev/null; its peak memory is ru_maxrss from
// wait4. Exit status 0 on a measurement, 1 when the window did not appear
// within 20 s or the child ended early, 2 on wrong use.
#include <X11/Xatom.h>
#include <X11/Xlib.h>

#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <fcntl.h>
#include <poll.h>
#include <string>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

namespace {

constexpr int kMapTimeoutMs = 20000;

double nowMs()
{
    timespec ts{};
    clock_gettime(CLOCK_MONOTONIC, &ts);
    return ts.tv_sec * 1e3 + ts.tv_nsec / 1e6;
}

pid_t startChild(char** argv, bool offscreen)
{
    const pid_t pid = fork();
    if (pid != 0)
        return pid;
    if (offscreen)
        setenv("QT_QPA_PLATFORM", "offscreen", 1);
    else
        unsetenv("QT_QPA_PLATFORM");
    const int null = open("/dev/null", O_RDWR);
    if (null >= 0) {
        dup2(null, STDIN_FILENO);
        dup2(null, STDOUT_FILENO);
        dup2(null, STDERR_FILENO);
    }
    execvp(argv[0], argv);
    _exit(127);
}

// True when the child has ended (and reaps it into `usage`).
bool reaped(pid_t pid, rusage* usage, int* status)
{
    return wait4(pid, status, WNOHANG, usage) == pid;
}

// Ends the child (SIGTERM, then SIGKILL after 2 s) and returns its resources.
rusage finish(pid_t pid, bool* endedEarly)
{
    rusage usage{};
    int status = 0;
    *endedEarly = reaped(pid, &usage, &status);
    if (*endedEarly)
        return usage;
    kill(pid, SIGTERM);
    const double deadline = nowMs() + 2000;
    while (nowMs() < deadline) {
        if (reaped(pid, &usage, &status))
            return usage;
        usleep(10000);
    }
    kill(pid, SIGKILL);
    while (wait4(pid, &status, 0, &usage) < 0 && errno == EINTR) {
    }
    return usage;
}

double cpuMs(const rusage& u)
{
    return (u.ru_utime.tv_sec + u.ru_stime.tv_sec) * 1e3 + (u.ru_utime.tv_usec + u.ru_stime.tv_usec) / 1e3;
}

// The _NET_WM_PID of `window`, 0 when it has none.
long windowPid(Display* display, Window window, Atom pidAtom)
{
    Atom type = None;
    int format = 0;
    unsigned long count = 0, after = 0;
    unsigned char* data = nullptr;
    long pid = 0;
    if (XGetWindowProperty(display, window, pidAtom, 0, 1, False, XA_CARDINAL, &type, &format, &count, &after, &data) ==
            Success &&
        data) {
        if (type == XA_CARDINAL && format == 32 && count == 1)
            pid = *reinterpret_cast<long*>(data);
        XFree(data);
    }
    return pid;
}

int ignoreXErrors(Display*, XErrorEvent*)
{
    return 0; // a window may be gone by the time its property is read
}

int usage()
{
    std::fprintf(stderr, "usage: velkocan-startup-probe x11|offscreen MS -- PROGRAM [ARGS...]\n");
    return 2;
}

} // namespace

int main(int argc, char** argv)
{
    if (argc < 5 || std::strcmp(argv[3], "--") != 0)
        return usage();
    const bool x11 = std::strcmp(argv[1], "x11") == 0;
    if (!x11 && std::strcmp(argv[1], "offscreen") != 0)
        return usage();
    const int ms = std::atoi(argv[2]);
    char** const program = argv + 4;
    bool endedEarly = false;

    if (!x11) {
        const pid_t pid = startChild(program, true);
        if (pid < 0)
            return 1;
        usleep(useconds_t(ms) * 1000);
        const rusage used = finish(pid, &endedEarly);
        if (endedEarly) {
            std::fprintf(stderr, "velkocan-startup-probe: %s ended early\n", program[0]);
            return 1;
        }
        std::printf("maxrss_kb=%ld cpu_ms=%.1f\n", used.ru_maxrss, cpuMs(used));
        return 0;
    }

    Display* const display = XOpenDisplay(nullptr);
    if (!display) {
        std::fprintf(stderr, "velkocan-startup-probe: cannot open the display\n");
        return 1;
    }
    XSetErrorHandler(ignoreXErrors);
    const Window root = DefaultRootWindow(display);
    const Atom pidAtom = XInternAtom(display, "_NET_WM_PID", False);
    XSelectInput(display, root, SubstructureNotifyMask);
    XSync(display, False);

    const double start = nowMs();
    const pid_t pid = startChild(program, false);
    if (pid < 0)
        return 1;

    double mappedAt = -1;
    pollfd watch{ConnectionNumber(display), POLLIN, 0};
    while (mappedAt < 0) {
        while (XPending(display) > 0) {
            XEvent event;
            XNextEvent(display, &event);
            if (event.type != MapNotify || event.xmap.event != root || event.xmap.override_redirect)
                continue;
            const long owner = windowPid(display, event.xmap.window, pidAtom);
            if (owner == 0 || owner == pid) {
                mappedAt = nowMs();
                break;
            }
        }
        if (mappedAt >= 0)
            break;
        const double left = start + kMapTimeoutMs - nowMs();
        rusage ignored{};
        int status = 0;
        const bool gone = reaped(pid, &ignored, &status);
        if (left <= 0 || gone) {
            std::fprintf(stderr, "velkocan-startup-probe: no window of %s appeared\n", program[0]);
            if (!gone)
                finish(pid, &endedEarly);
            XCloseDisplay(display);
            return 1;
        }
        poll(&watch, 1, int(left < 50 ? left : 50));
    }

    usleep(useconds_t(ms) * 1000);
    const rusage used = finish(pid, &endedEarly);
    XCloseDisplay(display);
    if (endedEarly) {
        std::fprintf(stderr, "velkocan-startup-probe: %s ended early\n", program[0]);
        return 1;
    }
    std::printf("map_ms=%.1f maxrss_kb=%ld cpu_ms=%.1f\n", mappedAt - start, used.ru_maxrss, cpuMs(used));
    return 0;
}
