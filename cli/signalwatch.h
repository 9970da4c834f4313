#pragma once

#include <functional>

// Termination requests (SIGINT, SIGTERM and SIGHUP; Ctrl+C and Ctrl+Break on
// Windows) for a program that must end a module operation cleanly: the
// exchange in progress finishes, nothing more is sent, the port is closed.
// SIGPIPE (an output closed by its reader) is one too; the writes that raise
// it again meanwhile fail with EPIPE instead of ending the process.
namespace SignalWatch {

// SIGPIPE's number, as POSIX numbers it (Windows has none): an output closed
// by its reader ends a run as a signal does, with 128 plus this.
constexpr int kBrokenPipe = 13;

// Catches the signals from now on. While the watch is not armed (nothing is
// talking to a module), a signal ends the process at once with 128 plus its
// number. While armed, `handler` runs on the event loop with the signal's
// number, and a second signal ends the process at once.
void install(std::function<void(int)> handler);
void setArmed(bool armed);
// The name of a signal number: "SIGINT", ...
const char* name(int signal);

// A file size limit (ulimit -f) makes a write past it fail with "File too
// large" instead of ending the process unseen: the tool then says which file
// could not be written, and what was and was not done.
void ignoreFileSizeLimitSignal();

// Standard output is being written with `bytes` (null when the write is
// done): a signal other than SIGPIPE meanwhile, while the write blocks on a
// reader that does not read, ends the process at once with 128 plus its
// number, and what was to be written goes to standard error instead.
void writingOutput(const char* bytes, int size);

} // namespace SignalWatch
