#include "core/transport/common.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QThread>
#include <QTimer>
#include <algorithm>

void Common::delay(int ms)
{
    delay(ms, {});
}

void Common::delay(int ms, const std::function<bool()>& stop)
{
    if (ms <= 0)
        return;

    // A nested event loop that sleeps until an event or the next wake-up
    // arrives: the wait costs no CPU while nothing is pending. The wake-ups
    // come at most 20 ms apart from a precise timer, and the loop ends at the
    // deadline by the monotonic clock, never early.
    const qint64 deadlineNs = qint64(ms) * 1000000;
    QElapsedTimer clock;
    clock.start();
    QEventLoop loop;
    QTimer wake;
    wake.setSingleShot(true);
    wake.setTimerType(Qt::PreciseTimer);
    bool woke = false;
    QObject::connect(&wake, &QTimer::timeout, &loop, [&] {
        woke = true;
        loop.quit();
    });
    bool loopRuns = true;
    for (qint64 left = deadlineNs; left > 0; left = deadlineNs - clock.nsecsElapsed()) {
        if (stop && stop())
            return;
        const int slice = int(std::min<qint64>((left + 999999) / 1000000, 20));
        if (loopRuns) {
            woke = false;
            wake.start(slice);
            loop.exec(QEventLoop::AllEvents);
            wake.stop();
            // A nested loop returns at once while the application quits:
            // from then on, process what is pending and sleep between passes.
            loopRuns = woke || clock.nsecsElapsed() >= deadlineNs;
            continue;
        }
        QCoreApplication::processEvents(QEventLoop::AllEvents, slice);
        QThread::msleep(ulong(std::min<qint64>(slice, (deadlineNs - clock.nsecsElapsed()) / 1000000 + 1)));
    }
}
