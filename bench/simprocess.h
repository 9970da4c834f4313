#pragma once

#include <QByteArray>
#include <QElapsedTimer>
#include <QFile>
#include <QProcess>
#include <QString>
#include <QStringList>

#include <QThread>
#include <functional>
#include <memory>
#include <vector>

// Starts `velkocan-sim --quiet` in `sim` (with `options` after it), its
// output in the file `output`, and returns the port it names on its first
// line; empty, with `error` set, when it does not start or name its port
// within 5 s. `wait(ms)` passes the time between looks (the window's
// benchmark keeps its events going).
inline QString startSimProcess(QProcess& sim, const QString& output, const std::function<void(int)>& wait,
                               QString* error, const QStringList& options = {})
{
    static const QByteArray kPortLine = "velkocan-sim: port ";
    sim.setStandardOutputFile(output);
    sim.setStandardErrorFile(QProcess::nullDevice());
    sim.start(QStringLiteral(VELKO_SIM_PROGRAM), QStringList{QStringLiteral("--quiet")} + options);
    if (!sim.waitForStarted(5000)) {
        *error = QStringLiteral("the simulated module did not start");
        return {};
    }
    QElapsedTimer started;
    started.start();
    while (started.elapsed() < 5000) {
        QFile out(output);
        if (out.open(QIODevice::ReadOnly)) {
            const QByteArray first = out.readLine().trimmed();
            if (first.startsWith(kPortLine))
                return QString::fromLocal8Bit(first.mid(kPortLine.size()));
        }
        wait(20);
    }
    *error = QStringLiteral("the simulated module did not name its port");
    return {};
}

// Ends a simulated module started by startSimProcess(), killing it when it
// does not end by itself.
inline void stopSimProcess(QProcess& sim)
{
    sim.terminate();
    if (!sim.waitForFinished(3000)) {
        sim.kill();
        sim.waitForFinished(1000);
    }
}

// Starts `count` simulated modules that are replugged `replugMs` after each
// restart, the output of module i in `output(i)`, into `modules`; their
// ports, or none (every module stopped again, `error` set) when one does not start.
inline QStringList startReplugged(int count, int replugMs, const std::function<QString(int)>& output,
                                  std::vector<std::unique_ptr<QProcess>>* modules, QString* error)
{
    QStringList ports;
    const QStringList replug{QStringLiteral("--replug"), QString::number(replugMs)};
    for (int i = 0; i < count; ++i) {
        modules->push_back(std::make_unique<QProcess>());
        const QString port = startSimProcess(
            *modules->back(), output(i), [](int ms) { QThread::msleep(ulong(ms)); }, error, replug);
        if (port.isEmpty()) {
            for (auto& m : *modules)
                stopSimProcess(*m);
            return {};
        }
        ports.append(port);
    }
    return ports;
}
