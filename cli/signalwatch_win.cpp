// Windows has no signal pipe: the console handler runs on a thread of its own
// and hands the request to the event loop.
#include "cli/signalwatch.h"

#include <QCoreApplication>
#include <QMetaObject>

#include <atomic>
#include <csignal>
#include <cstdlib>
#include <windows.h>

namespace SignalWatch {

namespace {

std::atomic<bool> g_armed{false};
std::atomic<int> g_caught{0};
std::function<void(int)> g_handler;

BOOL WINAPI onConsoleEvent(DWORD event)
{
    const int signal = event == CTRL_C_EVENT ? SIGINT : SIGTERM;
    if (!g_armed.load() || g_caught.exchange(signal) != 0)
        std::_Exit(128 + signal);
    QMetaObject::invokeMethod(
        QCoreApplication::instance(), [signal] { g_handler(signal); }, Qt::QueuedConnection);
    return TRUE;
}

} // namespace

void install(std::function<void(int)> handler)
{
    g_handler = std::move(handler);
    SetConsoleCtrlHandler(onConsoleEvent, TRUE);
}

void ignoreFileSizeLimitSignal()
{
    // Windows has no file size limit signal.
}

void writingOutput(const char*, int)
{
    // A console's output does not block on a reader.
}

void setArmed(bool armed)
{
    g_armed = armed;
}

const char* name(int signal)
{
    return signal == SIGINT ? "SIGINT" : signal == kBrokenPipe ? "SIGPIPE" : "SIGTERM";
}

} // namespace SignalWatch
