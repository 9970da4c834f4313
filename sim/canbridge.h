#pragma once

#include "core/config/moduleconfig.h"
#include "core/traffic/canbus.h"
#include "sim/simmodule.h"

#include <QObject>
#include <QString>

namespace sim {

// The module's configuration in the tool's terms.
ModuleConfig configOf(const ModuleState& state);

// The CAN side of a simulated module: in its working state the module
// converts between its serial line and a CAN bus by the conversions the
// tool expects (core/traffic/conversion.h), with switches for the faults a
// production line meets.
class CanBridge : public QObject
{
    Q_OBJECT

public:
    struct Faults
    {
        int dropEvery = 0;    // > 0: every N-th message or frame is lost
        int corruptEvery = 0; // > 0: every N-th message or frame has a data byte changed
        bool wrongId = false; // frames go out with the ID plus one
        int latencyMs = 0;    // every conversion comes out this much later
    };

    // `module` is not owned; it converts from now on.
    explicit CanBridge(SimModule* module, QObject* parent = nullptr);

    // Opens the bus, "PLUGIN:INTERFACE"; false with `error` set.
    bool open(const QString& canName, QString* error);
    Faults& faults() { return m_faults; }
    Traffic::CanBus& bus() { return m_bus; }

    // How many messages and frames the module converted, dropped and corrupted.
    int converted() const { return m_converted; }

signals:
    // A frame the module put on the bus, and one it took from the bus.
    void frameSent(const Traffic::CanFrame& frame);
    void frameTaken(const Traffic::CanFrame& frame);

private:
    void fromSerial(const QByteArray& message);
    void fromBus(const Traffic::CanFrame& frame);
    // Whether the fault switches drop this conversion; `corrupt` set when they corrupt it.
    bool dropped(bool* corrupt);
    void later(const std::function<void()>& what);

    SimModule* m_module;
    Traffic::CanBus m_bus;
    Faults m_faults;
    int m_converted = 0;
};

} // namespace sim
