#include "sim/canbridge.h"

#include "core/traffic/conversion.h"

#include <QTimer>

namespace sim {

ModuleConfig configOf(const ModuleState& s)
{
    ModuleConfig c;
    c.baud = s.baud;
    c.stopBits = s.stopBits;
    c.parity = QString::fromLatin1(parityText(s.parity));
    c.canRateKbit = s.canRate;
    c.frameType = s.frameType;
    c.canId = s.canId;
    c.mode = s.mode;
    c.frameId = s.msgId;
    c.frameInfo = s.msgInfo;
    c.head = s.userHead;
    c.tail = s.userTail;
    c.idLength = s.idLength;
    c.idPosition = s.idPosition;
    c.direction = s.direction;
    c.filterMode = s.filterMode;
    for (const Filter& f : s.filters)
        c.filters.append({f.type, f.id});
    return c;
}

CanBridge::CanBridge(SimModule* module, QObject* parent) : QObject(parent), m_module(module)
{
    m_module->setConverting(true);
    connect(m_module, &SimModule::workingMessage, this, &CanBridge::fromSerial);
    connect(&m_bus, &Traffic::CanBus::frameReceived, this,
            [this](const Traffic::CanFrame& frame, qint64) { fromBus(frame); });
}

bool CanBridge::open(const QString& canName, QString* error)
{
    Traffic::CanName name;
    if (!Traffic::CanName::parse(canName, &name)) {
        *error = QStringLiteral("%1: not PLUGIN:INTERFACE").arg(canName);
        return false;
    }
    Traffic::CanOpenFailure failure;
    if (!m_bus.open(name, m_module->state().canRate, &failure)) {
        *error = failure.text();
        return false;
    }
    return true;
}

bool CanBridge::dropped(bool* corrupt)
{
    ++m_converted;
    *corrupt = m_faults.corruptEvery > 0 && m_converted % m_faults.corruptEvery == 0;
    return m_faults.dropEvery > 0 && m_converted % m_faults.dropEvery == 0;
}

void CanBridge::later(const std::function<void()>& what)
{
    if (m_faults.latencyMs > 0)
        QTimer::singleShot(m_faults.latencyMs, this, what);
    else
        what();
}

void CanBridge::fromSerial(const QByteArray& message)
{
    const ModuleConfig config = configOf(m_module->state());
    if (!Traffic::passesSerialToCan(config))
        return;
    for (Traffic::CanFrame frame : Traffic::serialToCan(config, message)) {
        bool corrupt = false;
        if (dropped(&corrupt))
            continue;
        if (corrupt && !frame.data.isEmpty())
            frame.data[frame.data.size() - 1] = static_cast<char>(frame.data.at(frame.data.size() - 1) ^ 0x5A);
        if (m_faults.wrongId)
            frame.id = (frame.id + 1) & (frame.extended ? 0x1FFFFFFFu : 0x7FFu);
        later([this, frame] {
            if (m_bus.send(frame))
                emit frameSent(frame);
        });
    }
}

void CanBridge::fromBus(const Traffic::CanFrame& frame)
{
    const ModuleState& s = m_module->state();
    const ModuleConfig config = configOf(s);
    if (s.configMode || !Traffic::passesCanToSerial(config) || !Traffic::accepts(config, frame))
        return;
    emit frameTaken(frame);
    QByteArray bytes = Traffic::canToSerial(config, frame);
    bool corrupt = false;
    if (dropped(&corrupt) || bytes.isEmpty())
        return;
    if (corrupt)
        bytes[bytes.size() - 1] = static_cast<char>(bytes.at(bytes.size() - 1) ^ 0x5A);
    later([this, bytes] { m_module->sendRaw(bytes); });
}

} // namespace sim
