#pragma once

#include <QStringList>

// velkocan-cli: the module session without the window, for scripts and
// production lines. Results go to standard output, progress and errors to
// standard error.
namespace CommandLine {

// Exit statuses, one per class of failure. A script can rely on them: 0
// means that every command went out and the module accepted it.
enum Status {
    Done = 0,
    NoAnswer = 1,    // the module did not answer, or refused a command
    BadUsage = 2,    // bad usage, a refused profile, or an output that cannot be written
    Differences = 3, // --verify found the module holding other values
    PortFailed = 4,  // the port could not be opened
    CutShort = 5,    // the port closed under the operation
    // A signal N ends the operation with 128 + N (130 for Ctrl+C).
};

// Runs one command; `arguments` are the process's arguments, program name
// first. Needs a QCoreApplication; processes its events while it waits.
int run(const QStringList& arguments);

} // namespace CommandLine
