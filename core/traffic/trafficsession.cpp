#include "core/traffic/trafficsession.h"
#include "core/protocol/configreading.h"
#include "core/session/modulerun.h"
#include "core/session/modulesession.h"
#include "core/transport/serialsocket.h"

namespace Traffic {

TrafficSession::TrafficSession(ModuleSession* session, SerialSocket* port, const QString& portName, QObject* parent)
    : QObject(parent), m_session(session), m_port(port), m_portName(portName)
{
    connect(&m_bus, &CanBus::frameReceived, this, [this](const CanFrame& frame, qint64 usecs) {
        // A running check reports the frames it takes.
        if (!m_check)
            frameSeen(frame, false, usecs);
    });
    connect(&m_bus, &CanBus::problem, this, &TrafficSession::busProblem);
}

TrafficSession::~TrafficSession()
{
    if (m_working)
        m_port->setRawReceiver({});
}

Operation::Result TrafficSession::begin()
{
    m_configurationLine.baud = int(m_port->baudRate());
    m_configurationLine.parity = m_port->parity();
    m_configurationLine.stopBits = m_port->stopBits();
    Operation::ModuleRun run(
        *m_session, m_port, m_portName, m_configurationLine, [] { return 0; }, [](int) { return QString(); },
        [](const QString&) {});
    ConfigReading reading;
    Operation::Result r = run.read(&reading);
    if (r.status != Operation::Done)
        return r;
    m_config = reading.values;
    r = run.command(QStringLiteral("leave"));
    if (r.status != Operation::Done)
        return r;
    // The working state talks at the module's own serial line.
    if (Operation::changesLine(m_config, m_configurationLine)) {
        const Operation::PortLine line = workingLine();
        m_port->setPortConfig(m_portName, line.baud, QSerialPort::Data8, line.parity, line.stopBits);
    }
    m_working = true;
    m_trace.setNames(m_bus.isOpen() ? m_bus.name().shortName() : QStringLiteral("can0"), m_portName);
    listen();
    return r;
}

bool TrafficSession::end()
{
    if (!m_working)
        return true;
    stopCheck();
    m_working = false;
    m_port->setRawReceiver({});
    if (Operation::changesLine(m_config, m_configurationLine))
        m_port->setPortConfig(m_portName, m_configurationLine.baud, QSerialPort::Data8, m_configurationLine.parity,
                              m_configurationLine.stopBits);
    return m_session->enterConfiguration();
}

void TrafficSession::listen()
{
    m_port->setRawReceiver([this](const QByteArray& bytes) {
        if (!bytes.isEmpty())
            serialSeen(bytes, false, nowUsecs());
    });
}

bool TrafficSession::sendSerial(const QByteArray& bytes)
{
    if (!m_working || !m_port->isOpen() || bytes.isEmpty())
        return false;
    if (m_port->write(bytes) != bytes.size())
        return false;
    serialSeen(bytes, true, nowUsecs());
    return true;
}

bool TrafficSession::openBus(const CanName& name, CanOpenFailure* failure)
{
    if (!m_bus.open(name, m_config.canRateKbit, failure))
        return false;
    m_trace.setNames(name.shortName(), m_portName);
    return true;
}

void TrafficSession::closeBus()
{
    stopCheck();
    m_bus.close();
}

bool TrafficSession::sendFrame(const CanFrame& frame)
{
    if (!m_bus.isOpen() || !m_bus.send(frame))
        return false;
    frameSeen(frame, true, nowUsecs());
    return true;
}

CheckReport TrafficSession::runCheck(int count, int maxLatencyMs, QString* problem)
{
    CheckSetup setup;
    setup.config = m_config;
    setup.count = count;
    setup.maxLatencyMs = maxLatencyMs;
    *problem = setupProblem(setup);
    if (problem->isEmpty() && !m_working)
        *problem = QStringLiteral("the module is not in its working state");
    if (problem->isEmpty() && !m_bus.isOpen())
        *problem = QStringLiteral("no CAN interface is open");
    if (!problem->isEmpty() || m_check)
        return CheckReport();

    TrafficCheck check(m_port, &m_bus, setup);
    connect(&check, &TrafficCheck::progress, this, &TrafficSession::checkProgress);
    connect(&check, &TrafficCheck::serialTraffic, this, &TrafficSession::serialSeen);
    connect(&check, &TrafficCheck::canTraffic, this, &TrafficSession::frameSeen);
    m_check = &check;
    const CheckReport report = check.run();
    m_check = nullptr;
    // The check gave the port back to the exchange: its bytes come here again.
    if (m_working)
        listen();
    return report;
}

void TrafficSession::stopCheck()
{
    if (m_check)
        m_check->stop();
}

void TrafficSession::serialSeen(const QByteArray& data, bool sent, qint64 usecs)
{
    m_trace.addSerial(usecs, data, sent);
    emit serialTraffic(data, sent, usecs);
}

void TrafficSession::frameSeen(const CanFrame& frame, bool sent, qint64 usecs)
{
    m_trace.addFrame(usecs, frame);
    emit canTraffic(frame, sent, usecs);
}

} // namespace Traffic
