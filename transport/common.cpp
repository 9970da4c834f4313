#include "common.h"

#include <QElapsedTimer>
#include <QEventLoop>
#include <QTimer>
#include <algorithm>

void Common::delay(int ms)
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
    QObject::connect(&wake, &QTimer::timeout, &loop, &QEventLoop::quit);
    for (qint64 left = deadlineNs; left > 0; left = deadlineNs - clock.nsecsElapsed()) {
        const qint64 leftMs = (left + 999999) / 1000000;
        wake.start(int(std::min<qint64>(leftMs, 20)));
        loop.exec(QEventLoop::AllEvents);
    }
}

// Meta-object code in this unit: a program that links the session alone
// (velkocan-cli) then pulls in none of the window's code.
#include "moc_common.cpp"
