#pragma once

#include <QByteArray>
#include <QElapsedTimer>
#include <QFile>
#include <QProcess>
#include <QString>
#include <QStringList>

#include <functional>

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
