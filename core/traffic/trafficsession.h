#pragma once

#include "core/config/moduleconfig.h"
#include "core/session/operation.h"
#include "core/traffic/canbus.h"
#include "core/traffic/trace.h"
#include "core/traffic/trafficcheck.h"

#include <QObject>
#include <QString>

class ModuleSession;
class SerialSocket;

namespace Traffic {

// A module in its working state under a face that shows its traffic. begin()
// reads what the module holds, lets it leave its configuration state and
// moves the port to the module's own serial line; from then on the bytes of
// the serial side and the frames of the bus go both ways, each reported as
// it goes and kept for a trace, and the traffic check runs on the same port
// and bus. end() puts the port back at the line it had and the module back
// into its configuration state.
class TrafficSession : public QObject
{
    Q_OBJECT

public:
    // `session` talks over `port`, which is open (not owned); `portName`
    // is the port as the user named it, for messages and the trace.
    TrafficSession(ModuleSession* session, SerialSocket* port, const QString& portName, QObject* parent = nullptr);
    ~TrafficSession() override;

    // Done, or why the module is not in its working state (it stays in its
    // configuration state then, the port at its line).
    Operation::Result begin();
    // Back to configuring; false when the module did not answer there.
    bool end();
    bool isWorking() const { return m_working; }
    // What the module holds, as begin() read it, and the line it talks at in its working state.
    const ModuleConfig& config() const { return m_config; }
    Operation::PortLine workingLine() const { return Operation::lineOf(m_config); }

    // Writes `bytes` to the module's serial line; false when the port is
    // closed or the module is not in its working state.
    bool sendSerial(const QByteArray& bytes);

    // The CAN interface, at the module's bit rate where the plugin takes one.
    bool openBus(const CanName& name, CanOpenFailure* failure);
    void closeBus();
    bool busOpen() const { return m_bus.isOpen(); }
    bool sendFrame(const CanFrame& frame);

    // The traffic check of what begin() read, `count` messages each way;
    // `problem` says why it cannot run (then nothing is sent).
    CheckReport runCheck(int count, int maxLatencyMs, QString* problem);
    // Ends a running check after its message in progress.
    void stopCheck();
    bool checkRunning() const { return m_check != nullptr; }

    // Everything sent and received since begin() or the last clear.
    const Trace& trace() const { return m_trace; }
    void clearTrace() { m_trace.clear(); }

signals:
    // Bytes or a frame, sent by the tool or received; `usecs` since the epoch.
    void serialTraffic(const QByteArray& data, bool sent, qint64 usecs);
    void canTraffic(const Traffic::CanFrame& frame, bool sent, qint64 usecs);
    void checkProgress(int step, int steps, const QString& what);
    // An error or a bus state of the CAN interface, in the core's words.
    void busProblem(const QString& text);

private:
    // The port's bytes come to this session, raw.
    void listen();
    void serialSeen(const QByteArray& data, bool sent, qint64 usecs);
    void frameSeen(const CanFrame& frame, bool sent, qint64 usecs);

    ModuleSession* m_session;
    SerialSocket* m_port;
    QString m_portName;
    CanBus m_bus;
    Trace m_trace;
    ModuleConfig m_config;
    Operation::PortLine m_configurationLine; // the port's line before begin()
    bool m_working = false;
    TrafficCheck* m_check = nullptr; // the running check, on the stack of runCheck()
};

} // namespace Traffic
