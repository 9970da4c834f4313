// The handler only writes the signal's number into a pipe; a notifier on the
// event loop reads it and runs the program's handler there.
#include "cli/signalwatch.h"

#include <QCoreApplication>
#include <QSocketNotifier>

#include <atomic>
#include <cerrno>
#include <csignal>
#include <fcntl.h>
#include <unistd.h>

namespace SignalWatch {

namespace {

int g_pipe[2] = {-1, -1};
std::atomic<bool> g_armed{false};
std::atomic<int> g_caught{0};
std::function<void(int)> g_handler;
std::atomic<const char*> g_output{nullptr};
std::atomic<int> g_outputSize{0};

void writeAllTo(int fd, const char* bytes, size_t size)
{
    while (size > 0) {
        const ssize_t n = ::write(fd, bytes, size);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            return;
        bytes += n;
        size -= size_t(n);
    }
}

void onSignal(int signal)
{
    // Blocked on standard output, the event loop would never hear of the signal.
    const char* const output = g_output.load();
    if (output && signal != SIGPIPE) {
        static const char kNote[] = "velkocan-cli: stopped by a signal while standard output did not take the "
                                    "result; it follows here:\n";
        writeAllTo(STDERR_FILENO, kNote, sizeof kNote - 1);
        writeAllTo(STDERR_FILENO, output, size_t(g_outputSize.load()));
        ::_exit(128 + signal);
    }
    if (!g_armed.load()) {
        static const char kNote[] = "velkocan-cli: stopped by a signal before the port was opened; nothing was sent\n";
        const ssize_t written = ::write(STDERR_FILENO, kNote, sizeof kNote - 1);
        (void)written;
        ::_exit(128 + signal);
    }
    // Every write to the closed output raises SIGPIPE once more: only a
    // second signal of another kind ends the process at once.
    if (signal == SIGPIPE && g_caught.load() != 0)
        return;
    if (g_caught.exchange(signal) != 0)
        ::_exit(128 + signal);
    const unsigned char number = static_cast<unsigned char>(signal);
    const ssize_t written = ::write(g_pipe[1], &number, 1);
    (void)written;
}

} // namespace

void install(std::function<void(int)> handler)
{
    g_handler = std::move(handler);
    if (g_pipe[0] < 0) {
        if (::pipe2(g_pipe, O_CLOEXEC | O_NONBLOCK) != 0)
            return;
        // The notifier lives as long as the application (its parent).
        auto* const notifier = new QSocketNotifier(g_pipe[0], QSocketNotifier::Read, QCoreApplication::instance());
        QObject::connect(notifier, &QSocketNotifier::activated, notifier, [] {
            unsigned char number = 0;
            while (::read(g_pipe[0], &number, 1) == 1) {
                if (g_handler)
                    g_handler(number);
            }
        });
    }
    struct sigaction action = {};
    action.sa_handler = onSignal;
    sigemptyset(&action.sa_mask);
    action.sa_flags = SA_RESTART;
    static_assert(SIGPIPE == kBrokenPipe, "SIGPIPE is 13 on POSIX systems");
    for (const int signal : {SIGINT, SIGTERM, SIGHUP, SIGPIPE})
        ::sigaction(signal, &action, nullptr);
}

void ignoreFileSizeLimitSignal()
{
    ::signal(SIGXFSZ, SIG_IGN);
}

void writingOutput(const char* bytes, int size)
{
    g_outputSize = size;
    g_output = bytes;
}

void setArmed(bool armed)
{
    g_armed = armed;
}

const char* name(int signal)
{
    switch (signal) {
    case SIGINT:
        return "SIGINT";
    case SIGTERM:
        return "SIGTERM";
    case SIGHUP:
        return "SIGHUP";
    case SIGPIPE:
        return "SIGPIPE";
    default:
        return "a signal";
    }
}

} // namespace SignalWatch
