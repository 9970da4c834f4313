#pragma once

#include <QStringList>

// velkocan-cli: the module session without the window, for scripts and
// production lines. Results go to standard output, progress and errors to
// standard error.
namespace CommandLine {

// Exit statuses.
enum Status {
    Done = 0,
    NoAnswer = 1,    // the module did not answer, or refused the connection
    BadUsage = 2,    // bad usage or a refused profile: nothing was sent
    Differences = 3, // --verify found the module holding other values
    PortFailed = 4,  // the port could not be opened
};

// Runs one command; `arguments` are the process's arguments, program name
// first. Needs a QCoreApplication; processes its events while it waits.
int run(const QStringList& arguments);

} // namespace CommandLine
