#pragma once

#include "core/config/moduleconfig.h"

#include <QByteArray>
#include <QString>
#include <QVector>

// What a module in its working state is expected to make of the traffic, by
// its configuration: the one place that says it. The traffic check judges a
// module by these functions and the simulated module converts by them.
//
// A serial message is the bytes between two quiet gaps of the serial line.
// Only data frames are converted; IDs are big-endian on the serial side.
namespace Traffic {

// One CAN frame as the conversions see it.
struct CanFrame
{
    quint32 id = 0;
    bool extended = false;
    bool remote = false;
    QByteArray data; // at most 8 bytes

    bool operator==(const CanFrame& o) const
    {
        return id == o.id && extended == o.extended && remote == o.remote && data == o.data;
    }
    bool operator!=(const CanFrame& o) const { return !(*this == o); }
    // "0x1A1", "0x1ABCDEF0 (extended)": how a failure names the frame's ID.
    QString idText() const;
    // candump's notation: "1A1#DEADBEEF", "1ABCDEF0#01", "1A1#R".
    QString text() const;
};

// Reads candump's notation ("1A1#DEADBEEF": 3 hex digits a standard frame,
// 8 an extended one; "#R" a remote frame). False when it is not one.
bool parseFrame(const QString& text, CanFrame* frame);

// The frame-info byte: bit 7 extended, bit 6 remote, bits 0-3 the data length.
quint8 frameInfoByte(const CanFrame& frame);
// The ID's last `bytes` bytes, big-endian.
QByteArray idBytes(quint32 id, int bytes);

// Whether the conversions of this unit say what the module does in its mode
// (MODBUS is judged by a profile's test vectors only).
bool followsConventions(const ModuleConfig& config);
// Whether the module passes serial messages to the bus, and frames to its serial line.
bool passesSerialToCan(const ModuleConfig& config);
bool passesCanToSerial(const ModuleConfig& config);
// Whether the module's filter lets `frame` through to its serial line.
bool accepts(const ModuleConfig& config, const CanFrame& frame);
// The module's own frame: its can.id and can.frameType, with no data.
CanFrame ownFrame(const ModuleConfig& config);

// The frames the module puts on the bus for one serial message, in order;
// none for a message its mode cannot take (a USER message without its head
// and tail, a TPRTL message too short for its ID, a PROTOL message that is
// not whole records).
QVector<CanFrame> serialToCan(const ModuleConfig& config, const QByteArray& message);
// The bytes the module puts on its serial line for one frame it accepted.
QByteArray canToSerial(const ModuleConfig& config, const CanFrame& frame);

} // namespace Traffic
