#pragma once

namespace CommandLine {

struct Options;
class Reporter;

// velkocan-cli station: the unattended production line. Each --port is a
// slot that runs on a thread of its own: it waits for a module, writes the
// profile with the module's own values, verifies it, restarts it when asked,
// records the result and waits until the module is gone. Returns the exit
// status: 0 every module was ok, 3 one was not, 2 bad usage, 4 no port ever
// opened, 128 + N when a signal cut a module short.
int runStation(const Options& options, Reporter& out);

} // namespace CommandLine
