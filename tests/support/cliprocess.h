#pragma once

// velkocan-cli as a child process of a test, against simulated modules of the
// test's own process. Built where the simulated module is (Linux).
#include <QByteArray>
#include <QJsonObject>
#include <QString>
#include <QStringList>
#include <functional>

class QProcess;

namespace TestSupport {

// What one run of velkocan-cli left.
struct CliRun
{
    int status = -1; // the exit status; -1 when the program crashed
    QByteArray out;
    QByteArray err;

    // The result object that --json prints on standard output.
    QJsonObject json() const;
};

struct CliOptions
{
    QByteArray input;           // the program's standard input
    QString standardOutputFile; // when set, the program's standard output goes into this file
    // When set, the program's standard output goes into this shell command
    // (`head -1`, say), whose end closes it; the status is still the program's.
    QString pipeInto;
    int timeoutMs = 60000; // then the program is killed, with a warning
    // Called once the program has been started, before the wait (to signal it, say).
    std::function<void(QProcess& process)> started;
};

// Runs velkocan-cli with `arguments` until it ends. The event loop runs
// meanwhile, so that the simulated modules of this process answer it.
CliRun runCli(const QStringList& arguments, const CliOptions& options = {});

} // namespace TestSupport
