#pragma once

#include "core/config/moduleconfig.h"
#include "core/traffic/conversion.h"
#include "core/traffic/vectors.h"

#include <QElapsedTimer>
#include <QJsonObject>
#include <QObject>
#include <QSet>
#include <QString>
#include <QStringList>
#include <QVector>
#include <functional>

class SerialSocket;

namespace Traffic {

class CanBus;

enum class Direction { SerialToCan, CanToSerial };
// "serial→CAN", "CAN→serial".
QString directionText(Direction direction);
// "serialToCan", "canToSerial": the key of a result object.
QString directionKey(Direction direction);

// What the check sends and how it judges.
struct CheckSetup
{
    ModuleConfig config; // what the module holds
    Vectors vectors;     // replace the conventions where given
    int count = 8;       // messages each way
    int maxLatencyMs = kDefaultMaxLatencyMs;
    static constexpr int kMaxCount = 256; // a sequence number is one byte
    static constexpr int kDefaultMaxLatencyMs = 100;
    static constexpr int kMaxLatencyLimitMs = 60000; // the highest limit one may set
};

// Why a check cannot be made as set up (before anything is sent); empty when it can.
QString setupProblem(const CheckSetup& setup);

// The measurements of one direction. A message is one serial message
// (serial→CAN) or one frame (CAN→serial).
struct Measurement
{
    Direction direction = Direction::SerialToCan;
    bool checked = false; // the module's direction passes it
    int sent = 0;
    int received = 0;   // whole and right, in time or late
    int lost = 0;       // nothing of it came
    int corrupted = 0;  // came with other data
    int outOfOrder = 0; // came after a later one
    int unexpected = 0; // came with a wrong ID or type, or came where none was due
    int framesSent = 0;
    int framesReceived = 0;
    qint64 bytesSent = 0;
    qint64 bytesReceived = 0;
    int otherFrames = 0; // frames of other nodes on the bus, ignored
    QVector<double> latenciesMs;
    QVector<int> lostSeqs, corruptedSeqs, outOfOrderSeqs;
    QStringList unexpectedTexts; // "frame 0x1A1 expected, 0x1A2 received", in order

    double latencyMedianMs() const;
    double latencyMaxMs() const;
    QJsonObject json() const;
};

// One measurement beyond its limit.
struct Failure
{
    enum class Kind { Lost, Corrupted, Unexpected, Latency };
    Kind kind = Kind::Lost;
    Direction direction = Direction::SerialToCan;
    int count = 0;
    int of = 0;
    QVector<int> seqs;
    QString what;     // Unexpected: what came instead
    double value = 0; // Latency: the highest
    int limit = 0;    // Latency: the limit

    // "CAN→serial: 2 of 16 messages lost (seq 5, 11)".
    QString text() const;
};

struct CheckReport
{
    enum class Verdict { Passed, Failed, NothingThrough, Stopped };
    Verdict verdict = Verdict::Passed;
    QVector<Measurement> directions; // serial→CAN first
    QVector<Failure> failures;
    bool fromVectors = false;
    int maxLatencyMs = 100;
    qint64 durationMs = 0; // from the clearing of the serial side to the last message's end

    QStringList failureTexts() const;
    // The directions, the failures and the verdict, for a result object.
    QJsonObject json() const;
    // A table for people.
    QString table() const;
};

// The traffic through a module in its working state: it clears what the
// serial side holds, sends a known pattern each way the module's direction
// passes (a sequence number in every message, a frame ID that the module's
// filter accepts), one message at a time, and judges what comes out by the
// conversions of conversion.h or the setup's vectors. The serial port must be
// open at the module's serial line, the bus connected; while the check runs,
// the port's bytes come to it raw.
class TrafficCheck : public QObject
{
    Q_OBJECT

public:
    TrafficCheck(SerialSocket* serial, CanBus* bus, const CheckSetup& setup, QObject* parent = nullptr);

    CheckReport run();
    // Ends the running check after the message in progress.
    void stop() { m_stop = true; }

    // The messages the check sends and what it expects for them, by its setup.
    struct Message
    {
        int seq = 0;
        QByteArray serial;        // serial→CAN: sent; CAN→serial: expected
        QVector<CanFrame> frames; // serial→CAN: expected; CAN→serial: the one sent
    };
    static QVector<Message> serialToCanPlan(const CheckSetup& setup);
    static QVector<Message> canToSerialPlan(const CheckSetup& setup);

signals:
    void progress(int step, int steps, const QString& what);
    // Traffic for a trace: `sent` by the tool or received; `usecs` since the epoch.
    void serialTraffic(const QByteArray& data, bool sent, qint64 usecs);
    void canTraffic(const Traffic::CanFrame& frame, bool sent, qint64 usecs);

private:
    struct Arrived
    {
        CanFrame frame;
        qint64 ms; // on m_clock
    };
    void runSerialToCan(Measurement* m);
    void runCanToSerial(Measurement* m);
    // Waits the quiet gap the module needs between two messages.
    void pauseBetweenMessages();
    // Waits until `done` or `ms` passed; false when stopped.
    bool waitFor(int ms, const std::function<bool()>& done);
    void clearSerial();
    int lineTimeMs(int bytes) const;
    void judge(CheckReport* report) const;

    SerialSocket* m_serial;
    CanBus* m_bus;
    CheckSetup m_setup;
    bool m_stop = false;
    QElapsedTimer m_clock;
    qint64 m_lastTrafficMs = -1000;
    QByteArray m_serialIn;
    qint64 m_serialInMs = 0; // when the last serial bytes came
    QVector<Arrived> m_framesIn;
    QVector<CanFrame> m_framesOut;     // what the tool wrote, to tell its own echo
    QSet<QByteArray> m_othersOnSerial; // what the module makes of other nodes' frames it accepts
};

} // namespace Traffic
