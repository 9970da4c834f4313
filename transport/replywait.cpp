#include "common.h"
#include "serialsocket.h"

#include "diagnostics.h"

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
    // A port without a rate (which only a failed configuration leaves) gets
    // no transmit wait and the shortest polls.
    const auto rate = [this] { return baudRate(QSerialPort::AllDirections); };
    const auto closed = [this] { return !isOpen(); };
    Common::delay(rate() > 0 ? int(qint64(command.size()) * 11000 / rate()) : 0, closed);
    qCDebug(lcTransport) << "[SerialSocket]"
                         << "S>>> " << command;

    for (int elapsed = 0; elapsed < budget; elapsed += 50) {
        const int interval = rate() > 0 ? qMax(100, 550000 / rate()) : 100;
        Common::delay(interval, closed);
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

QByteArray SerialSocket::getReply() const
{
    return replyBuffer;
}
