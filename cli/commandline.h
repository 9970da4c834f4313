#pragma once

#include <QStringList>

// velkocan-cli: the module session without the window, for scripts and
// production lines. Results go to standard output, progress and errors to
// standard error; the exit statuses are those of core/session/operation.h.
namespace CommandLine {

// Runs one command; `arguments` are the process's arguments, program name
// first. Needs a QCoreApplication; processes its events while it waits.
int run(const QStringList& arguments);

} // namespace CommandLine
