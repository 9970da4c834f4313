// The simulated module's pacing: bytes from the tool gathered into frames
// by the idle gap a UART module goes by, and replies put on the line at the
// module's baud rate, with the pauses of the timing faults.
#include "sim/simmodule.h"

#include <QTimer>

#include <algorithm>
#include <cerrno>
#include <unistd.h>
#include <utility>

namespace sim {

namespace {

// Bits on the line per byte: start bit, 8 data bits, and room for parity and stop bits.
const qint64 bitsPerByte = 11;

// Whether the tool's line, as seen on the master, is the module's line. A
// pseudo-terminal keeps the tool's baud rate and its odd-parity bit, but the
// kernel clears the parity-enable bit, so "no parity" and "even parity" look
// the same from this side: a module at even parity also answers a tool
// without parity and the other way round. Odd parity is told apart. The
// stop bits are not compared: a receiver takes two stop bits for one.
bool lineMatches(qint32 toolBaud, bool toolOdd, qint32 moduleBaud, Parity moduleParity)
{
    return toolBaud == moduleBaud && toolOdd == (moduleParity == Parity::Odd);
}

} // namespace

// An idle gap of 3.5 characters (at least 20 ms) ends a frame, as a UART
// module that has no line end to go by must do.
int SimModule::gapMs() const
{
    const qint32 baud = qMax(1, m_state.baud);
    // A converting module ends a message after 4 character times, at least 2 ms.
    if (m_converting && !m_state.configMode)
        return qMax(2, (44000 + baud - 1) / baud);
    return qMax(20, (35000 + baud - 1) / baud);
}

void SimModule::onReadable()
{
    char buf[4096];
    for (;;) {
        const ssize_t n = ::read(m_master, buf, sizeof buf);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            break; // EAGAIN: all read. (EIO would mean no slave is open, which the held fd prevents.)
        // The line is read when the bytes are picked up; the tool may close
        // its port or change its settings right after writing.
        bool odd = false;
        const qint32 baud = masterBaud(&odd);
        // A gap already past ends the frame before these bytes, even when
        // its timer has not had its turn yet.
        if (!m_rx.isEmpty() && m_clock.elapsed() - m_rxLast >= gapMs()) {
            onGap();
            if (!isRunning())
                return;
        }
        m_rxLast = m_clock.elapsed();
        if (m_rx.isEmpty()) {
            m_rxStart = m_clock.elapsed();
            m_rxBaud = baud;
            m_rxOdd = odd;
            m_rxMixed = false;
        } else if (baud != m_rxBaud || odd != m_rxOdd) {
            m_rxMixed = true;
        }
        m_rx.append(buf, static_cast<int>(n));
    }
    if (!m_rx.isEmpty() && isRunning())
        m_gapTimer->start(gapMs());
}

void SimModule::onGap()
{
    if (m_rx.isEmpty())
        return;
    Frame f;
    f.data = m_rx;
    f.baud = m_rxBaud;
    f.oddParity = m_rxOdd;
    f.msecs = m_rxStart;
    f.matched = !m_rxMixed && lineMatches(m_rxBaud, m_rxOdd, m_state.baud, m_state.parity);
    m_rx.clear();
    m_frames.append(f);
    emit frameReceived(f.data);
    if (!isRunning())
        return; // stopped by a receiver of the signal
    if (m_faults.unplugAfterFrames >= 0 && m_frames.size() >= m_faults.unplugAfterFrames) {
        unplug();
        return;
    }
    // At a line that does not match, the module reads garbage: no answer,
    // no change. While it restarts it does not listen at all, nor once it
    // has fallen silent.
    const bool fallenSilent = m_faults.silentAfterFrames >= 0 && m_frames.size() >= m_faults.silentAfterFrames;
    if (!f.matched || m_restarting || fallenSilent)
        return;
    if (m_converting && !m_state.configMode && f.data != "+++") {
        emit workingMessage(f.data);
        return;
    }

    // The reply goes out at the line in effect when the frame came; a
    // restart takes the new line only after its reply has been sent.
    const qint32 baud = m_state.baud;
    const Parity parity = m_state.parity;
    m_restartRequested = false;
    const QByteArray reply = handleFrame(f.data);
    std::function<void()> done;
    if (m_restartRequested) {
        m_restarting = true;
        done = [this] {
            m_restarting = false;
            if (m_faults.replugAfterRestartMs >= 0)
                replug();
        };
    }
    queueReply(reply, m_cuts, baud, parity, std::move(done));
}

void SimModule::queueReply(const QByteArray& reply, const Cuts& cuts, qint32 baud, Parity parity,
                           std::function<void()> done)
{
    if (reply.isEmpty()) {
        if (done)
            done();
        return;
    }
    emit replyQueued(reply);

    // The pauses of the timing faults, as (offset, pause) in the order of the offset.
    QVector<QPair<int, int>> pauses;
    auto pauseAt = [&](int at, int ms) {
        if (ms > 0 && at > 0 && at < reply.size())
            pauses.append({at, ms});
    };
    pauseAt(cuts.afterEcho, m_faults.okAfterEchoMs);
    pauseAt(cuts.inLine, m_faults.pauseInLineMs);
    pauseAt(reply.size() / 2, m_faults.splitGapMs);
    std::sort(pauses.begin(), pauses.end());

    TxChunk chunk;
    chunk.baud = baud;
    chunk.parity = parity;
    int from = 0;
    for (const auto& pause : std::as_const(pauses)) {
        if (pause.first > from) {
            chunk.data = reply.mid(from, pause.first - from);
            m_txQueue.append(chunk);
            chunk.gapMs = 0;
            from = pause.first;
        }
        chunk.gapMs += pause.second; // two pauses at one place add up
    }
    chunk.data = reply.mid(from);
    chunk.done = std::move(done);
    m_txQueue.append(chunk);
    if (m_faults.endless)
        m_streaming = true;
    if (!m_paceTimer->isActive()) {
        m_paceTimer->start();
        onPace();
    }
}

// Puts on the line the bytes that are due at the chunk's baud rate.
void SimModule::onPace()
{
    for (;;) {
        if (!isRunning()) {
            m_paceTimer->stop();
            return;
        }
        if (!m_txActive) {
            if (m_txQueue.isEmpty()) {
                if (!m_streaming || !m_faults.endless) {
                    m_streaming = false;
                    m_paceTimer->stop();
                    return;
                }
                // Filler in pieces of about 20 ms of line time, so that
                // switching the fault off stops it soon.
                TxChunk f;
                f.baud = m_state.baud;
                f.parity = m_state.parity;
                f.filler = true;
                f.data = fillerText(qMax(16, m_state.baud / int(bitsPerByte) / 50));
                m_txQueue.append(f);
            }
            m_txCur = m_txQueue.takeFirst();
            m_tx = m_txCur.data;
            m_txSent = 0;
            m_txClock.start();
            m_txActive = true;
        }

        if (m_txCur.filler && !m_faults.endless) {
            m_tx.clear();
        } else {
            const qint64 us = m_txClock.nsecsElapsed() / 1000 - qint64(m_txCur.gapMs) * 1000;
            if (us < 0)
                return;
            const qint64 due = us * m_txCur.baud / (bitsPerByte * 1000000);
            const int n = static_cast<int>(qMin<qint64>(due - m_txSent, m_tx.size()));
            if (n <= 0)
                return;
            // Bytes sent while the tool's line does not match (or its port is
            // closed) are lost, as on a real line.
            bool odd = false;
            const qint32 toolBaud = masterBaud(&odd);
            if (lineMatches(toolBaud, odd, m_txCur.baud, m_txCur.parity)) {
                ssize_t w = ::write(m_master, m_tx.constData(), static_cast<size_t>(n));
                if (w < 0)
                    w = 0; // EAGAIN: the tool does not read and the pty buffer is full
                if (w < n) {
                    // Keep the rest and pace it anew from now on.
                    m_tx.remove(0, static_cast<int>(w));
                    m_txSent = 0;
                    m_txCur.gapMs = 0;
                    m_txClock.start();
                    return;
                }
            }
            m_tx.remove(0, n);
            m_txSent += n;
            if (!m_tx.isEmpty())
                return;
        }

        m_txActive = false;
        if (m_txCur.done) {
            const std::function<void()> done = std::move(m_txCur.done);
            m_txCur.done = nullptr;
            done();
        }
    }
}

void SimModule::sendRaw(const QByteArray& bytes)
{
    queueReply(bytes, Cuts(), m_state.baud, m_state.parity);
}

bool SimModule::isSending() const
{
    return m_paceTimer->isActive();
}

} // namespace sim
