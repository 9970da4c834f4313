#pragma once

#include <QByteArray>
#include <QElapsedTimer>
#include <QSerialPort>
#include <QString>
#include <QStringList>
#include <functional>

// The one serial port of the process. Created on first use by getInstance(),
// without parent; it lives until the process ends. The window's design rests
// on it. A program that talks to modules without the window (the command
// line, a slot of the station) makes a port of its own with createPort(),
// each used on one thread.
class SerialSocket : public QSerialPort
{
    Q_OBJECT

public:
    static SerialSocket* getInstance();
    // A port of its own, owned by `parent`, on the calling thread.
    static SerialSocket* createPort(QObject* parent);

    // Stores the line settings for the next open; applies them at once (and
    // drops pending input and output) when the port is open.
    void setPortConfig(const QString& portName, int baudRate, QSerialPort::DataBits dataBits,
                       QSerialPort::Parity parity, QSerialPort::StopBits stopBits);
    bool openPort();
    bool closePort();
    void sendData(QByteArray data);

    // Writes `command`, waits its line time, then polls every
    // max(100, 550000 / baud) ms, 50 budget units per poll, until a poll
    // brings nothing after a complete reply came or the budget is used. True
    // when any byte came. A closed port returns false at once and keeps the
    // old reply; a port closed during the wait ends it at once.
    bool sendAndWait(QByteArray command, int budget);
    // Whether `reply` can be the whole answer to `command`: it ends with a line
    // end and is more than the echo of the command. A module that pauses in
    // the middle of a line, or answers its echo first and the rest later, is
    // waited for within the same budget.
    static bool replyComplete(const QByteArray& reply, const QByteArray& command);
    // The same exchange paced by the replies: bytes are taken as they arrive,
    // and the reply is complete as soon as `finished` says so of what came.
    // A reply it never finishes ends as sendAndWait() ends one: once no new
    // byte came for a poll interval after a complete reply. The budget is
    // real time, as long as its polls would last (500: about 1 s).
    // Bytes that follow the final line within `settleMs` (line ends a module
    // sends apart) are taken into the reply as well.
    bool sendAndWaitPaced(const QByteArray& command, int budget, int settleMs,
                          const std::function<bool(const QByteArray&)>& finished);
    // What ended the last paced exchange.
    enum class ReplyEnd { Finished, Quiet, Budget, Closed };
    ReplyEnd lastReplyEnd() const { return m_lastReplyEnd; }
    // Milliseconds since the last exchange ended (its last byte or its end of
    // waiting) or the last bytes were written without one; what a quiet gap
    // before the next command counts from.
    qint64 msSinceTraffic() const { return m_traffic.isValid() ? m_traffic.elapsed() + m_trafficBehindMs : 1000000; }
    // The bytes of the last exchange that found the port open.
    QByteArray getReply() const;
    // Number of polls the last exchange made (0 when it found the port closed),
    // and of all exchanges so far: what the waits of a sequence must at least cost.
    int lastPollCount() const { return m_lastPollCount; }
    qint64 totalPollCount() const { return m_totalPollCount; }

    // The ports the window lists (PortDiscovery::portList()), and one entry
    // of the Windows registry's serial-device map by its position: its
    // "key" (the device) or its "value" (the port name).
    QStringList getPortList();
    QString getSerialCommEntry(int index, QString selector);

    // Bytes drained before the first exchange; nothing in the tool reads them.
    QByteArray drainedBytes() const { return readyReadBuffer; }

    // The module's working state: every byte that comes goes to `receiver`
    // as it comes, raw, and nowhere else; an empty receiver ends it.
    using RawReceiver = std::function<void(const QByteArray&)>;
    void setRawReceiver(RawReceiver receiver);

signals:
    void signal_error(QString errmsg);

private slots:
    void slot_dataReady();

private:
    explicit SerialSocket(QObject* parent = nullptr);
    void handlePortError(QSerialPort::SerialPortError code);

    QByteArray replyBuffer;
    QByteArray readyReadBuffer;
    // Waits up to `ms` for bytes, the port's closing or an error, processing
    // events; returns at once when any of them comes.
    void waitForInput(int ms);
    // The end of an exchange: whether anything came, with the diagnostic line of the reply.
    bool replied() const;

    QElapsedTimer m_traffic;
    qint64 m_trafficBehindMs = 0; // the last byte came this long before m_traffic started
    ReplyEnd m_lastReplyEnd = ReplyEnd::Budget;
    int m_lastPollCount = 0;
    qint64 m_totalPollCount = 0;
    bool m_handlingError = false;
    RawReceiver m_raw;
    QMetaObject::Connection m_rawConnection;
};
