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
    QByteArray input;            // the program's standard input
    bool inputStaysOpen = false; // `started` writes more of it; it ends with the program
    QString standardOutputFile;  // when set, the program's standard output goes into this file
    int timeoutMs = 60000;       // then the program is killed, with a warning
    // Called once the program has been started, before the wait (to signal it, say).
    std::function<void(QProcess& process)> started;
    // When set, the program runs under this command, which is given the
    // program's path and arguments after its own (fileSizeLimit(), smallFileSystem()).
    QStringList wrapper;
};

// Runs velkocan-cli with `arguments` until it ends. The event loop runs
// meanwhile, so that the simulated modules of this process answer it.
CliRun runCli(const QStringList& arguments, const CliOptions& options = {});

// A wrapper under which the program's writes to regular files fail with
// "File too large" past `bytes` (a multiple of 512) of a file: a failing
// writer that needs no privilege.
QStringList fileSizeLimit(qint64 bytes);

// A wrapper that gives the program a full file system: a tmpfs of `kib` KiB
// on `folder`, in a mount namespace of the program's own (so that nothing
// stays mounted), which holds copies of the folder's files and a filler that
// takes the room they leave. Once the program ends, the folder holds what it
// left there, the filler gone. Empty when the system allows no such namespace.
QStringList smallFileSystem(const QString& folder, int kib);

} // namespace TestSupport
