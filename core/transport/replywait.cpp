#include "core/diagnostics.h"
#include "core/transport/common.h"
#include "core/transport/pacing.h"
#include "core/transport/serialsocket.h"

#include <QEventLoop>
#include <QTimer>

namespace {

// The line time of a command, and the interval of the polls: 50 bytes of
// 11 bits, at least 100 ms. A port without a rate (which only a failed
// configuration leaves) gets no transmit wait and the shortest polls. The
// polls are paced (Pacing), the line time is not: it is the port's own.
int transmitMs(int rate, int bytes)
{
    return rate > 0 ? int(qint64(bytes) * 11000 / rate) : 0;
}

int pollIntervalMs(int rate)
{
    return Pacing::scaled(rate > 0 ? qMax(100, 550000 / rate) : 100);
}

} // namespace

bool SerialSocket::sendAndWait(QByteArray command, int budget)
{
    m_lastPollCount = 0;
    if (!isOpen())
        return false;

    replyBuffer.clear();
    // From the first exchange on, bytes that arrive between exchanges stay in
    // the port and open the next reply.
    disconnect(this, SIGNAL(readyRead()), this, SLOT(slot_dataReady()));

    write(command);
    const auto rate = [this] { return baudRate(QSerialPort::AllDirections); };
    const auto closed = [this] { return !isOpen(); };
    Common::delay(transmitMs(rate(), command.size()), closed);
    qCDebug(lcTransport) << "[SerialSocket]"
                         << "S>>> " << command;

    for (int elapsed = 0; elapsed < budget; elapsed += 50) {
        Common::delay(pollIntervalMs(rate()), closed);
        ++m_lastPollCount;
        ++m_totalPollCount;
        // A port closed by an error while we waited brings nothing more:
        // return with what had arrived instead of polling it to the end.
        if (!isOpen())
            break;
        const QByteArray chunk = readAll();
        if (!chunk.isEmpty())
            replyBuffer.append(chunk);
        else if (replyComplete(replyBuffer, command))
            break;
    }
    qCDebug(lcPolls) << "[SerialSocket]"
                     << "polls" << m_lastPollCount;
    m_traffic.start();
    m_trafficBehindMs = 0;

    return replied();
}

bool SerialSocket::replied() const
{
    if (!replyBuffer.isEmpty()) {
        qCDebug(lcTransport) << "[SerialSocket]"
                             << "R<<< " << replyBuffer;
        return true;
    }
    qCDebug(lcTransport) << "[SerialSocket]"
                         << "R<<< No Respone";
    return false;
}

bool SerialSocket::replyComplete(const QByteArray& reply, const QByteArray& command)
{
    if (reply.isEmpty() || (!reply.endsWith('\r') && !reply.endsWith('\n')))
        return false;
    const auto withoutLineEnds = [](QByteArray text) {
        while (text.endsWith('\r') || text.endsWith('\n'))
            text.chop(1);
        return text;
    };
    const QByteArray text = withoutLineEnds(reply);
    return !text.isEmpty() && text != withoutLineEnds(command);
}

bool SerialSocket::sendAndWaitPaced(const QByteArray& command, int budget, int settleMs,
                                    const std::function<bool(const QByteArray&)>& finished)
{
    m_lastPollCount = 0;
    m_lastReplyEnd = ReplyEnd::Closed;
    if (!isOpen())
        return false;
    replyBuffer.clear();
    disconnect(this, SIGNAL(readyRead()), this, SLOT(slot_dataReady()));

    QElapsedTimer clock;
    clock.start();
    write(command);
    qCDebug(lcTransport) << "[SerialSocket]"
                         << "S>>> " << command;
    const int rate = baudRate(QSerialPort::AllDirections);
    const int interval = pollIntervalMs(rate);
    const int polls = budget > 0 ? (budget + 49) / 50 : 0;
    const qint64 deadline = transmitMs(rate, command.size()) + qint64(polls) * interval;
    qint64 lastByte = -1;
    bool done = false; // a final line came: what follows it within the settle time is taken too
    qint64 now = 0;
    while (isOpen()) {
        const QByteArray chunk = readAll();
        now = clock.elapsed();
        if (!chunk.isEmpty()) {
            replyBuffer.append(chunk);
            lastByte = now;
            done = done || finished(replyBuffer);
        }
        if (done && now - lastByte >= settleMs) {
            m_lastReplyEnd = ReplyEnd::Finished;
            break;
        }
        if (!done && chunk.isEmpty() && lastByte >= 0 && now - lastByte >= interval &&
            replyComplete(replyBuffer, command)) {
            m_lastReplyEnd = ReplyEnd::Quiet; // no final line, but nothing more for a poll interval
            break;
        }
        if (now >= deadline) {
            m_lastReplyEnd = done ? ReplyEnd::Finished : ReplyEnd::Budget;
            break;
        }
        // Until the settle time or the quiet gap is over; a reply that has
        // been quiet that long but is not complete (an echo alone) waits for
        // more bytes up to the deadline, woken by them.
        const qint64 quietAt = lastByte + interval;
        const qint64 until = done ? lastByte + settleMs : lastByte >= 0 && quietAt > now ? quietAt : deadline;
        waitForInput(int(qMax<qint64>(1, qMin(deadline, until) - now)));
        ++m_lastPollCount;
        ++m_totalPollCount;
    }
    // The quiet before the next command counts from the last byte.
    m_traffic.start();
    m_trafficBehindMs = lastByte >= 0 ? now - lastByte : 0;
    return replied();
}

void SerialSocket::waitForInput(int ms)
{
    if (bytesAvailable() > 0)
        return;
    QEventLoop loop;
    QTimer timer;
    timer.setSingleShot(true);
    timer.setTimerType(Qt::PreciseTimer);
    QObject::connect(&timer, &QTimer::timeout, &loop, &QEventLoop::quit);
    QObject::connect(this, &QIODevice::readyRead, &loop, &QEventLoop::quit);
    QObject::connect(this, &QIODevice::aboutToClose, &loop, &QEventLoop::quit);
    QObject::connect(this, &QSerialPort::errorOccurred, &loop, &QEventLoop::quit);
    timer.start(ms);
    loop.exec(QEventLoop::AllEvents);
    // A nested loop returns at once while the application quits: then the
    // wait sleeps between passes instead of spinning.
    if (timer.isActive() && bytesAvailable() == 0 && isOpen())
        Common::delay(qMin(timer.remainingTime(), 20), [this] { return bytesAvailable() > 0 || !isOpen(); });
}

QByteArray SerialSocket::getReply() const
{
    return replyBuffer;
}
