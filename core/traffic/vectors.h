#pragma once

#include "core/traffic/conversion.h"

#include <QByteArray>
#include <QStringList>
#include <QVector>

// Test vectors of a profile: what a module that converts otherwise than the
// conventions of conversion.h (or in MODBUS mode) must make of given traffic.
// A profile carries them in its "traffic" section:
//
//     "traffic": {
//         "serialToCan": [{"serial": "01 A1 DE AD", "frames": ["1A1#DEAD"]}],
//         "canToSerial": [{"frame": "1A1#DEAD", "serial": "DE AD"}]
//     }
//
// Serial bytes in hex (blanks between them allowed), frames in candump's
// notation (3 hex digits of ID a standard frame, 8 an extended one).
namespace Traffic {

struct SerialVector
{
    QByteArray serial;        // the message the tool sends
    QVector<CanFrame> frames; // the frames the module puts on the bus for it, in order
};

struct FrameVector
{
    CanFrame frame;    // the frame the tool sends
    QByteArray serial; // the bytes the module puts on its serial line for it (none: it drops the frame)
};

struct Vectors
{
    QVector<SerialVector> serialToCan;
    QVector<FrameVector> canToSerial;
    bool isEmpty() const { return serialToCan.isEmpty() && canToSerial.isEmpty(); }
};

// The vectors of a profile's text (none when it has no "traffic" section).
// False with each problem added to `problems`, naming its place
// ("traffic.canToSerial[1].frame: 1A1#XY is not a frame").
bool readVectors(const QByteArray& profileText, Vectors* vectors, QStringList* problems);

// Hex bytes with optional blanks between them ("01 A1", "01a1"); false when
// it is not that.
bool parseHex(const QString& text, QByteArray* bytes);

} // namespace Traffic
