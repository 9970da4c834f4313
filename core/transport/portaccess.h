#pragma once

#include <QSerialPort>
#include <QString>

// Which device a port name means, and why it cannot be opened, in words.
namespace PortAccess {

// The name to open: a port given as a path is resolved to its canonical
// device path (links followed), so that one device under two names (a link
// and /dev/pts/N, /dev/serial/by-id/... and /dev/ttyUSB0) takes one lock
// and cannot be opened twice. Other names, and paths that do not resolve,
// stay as they are.
QString deviceName(const QString& port);

// Why `port` is no serial port at all, found without opening it: "no such
// port", "not a serial device (a regular file)", ...; empty when it may be one.
QString notAPort(const QString& port);

// Whether `port` is not there, to tell a person before anything opens it:
// notAPort() says "no such port", or, where ports are names without a path
// (COM3), the system's list of serial ports does not have it. Never a reason
// to refuse a port: a driver may list its ports late.
bool isMissing(const QString& port);

// Why `port`, which exists, can be no module's port: notAPort() and, for a
// device file that is no terminal (/dev/null, say), "not a serial device
// (... is no terminal)". A device is opened for a moment to ask, so this is
// for a check at start; empty when it may be a serial port, or when nothing
// is there yet.
QString notASerialDevice(const QString& port);

// Why opening `port` failed with `error`, in words: no such port; not a
// serial device; permission denied (with the hint on the dialout group);
// held by another program (with its process ID when its lock file names it).
QString openFailure(const QString& port, QSerialPort::SerialPortError error);

// Why no serial port can be opened by this process: a file size limit too
// small for a port's lock file. Empty when there is none.
QString lockWriteProblem();

// The process named by a serial port lock file of `path` (Qt's serial port
// keeps one for each port it holds open); 0 when there is none.
qint64 lockHolder(const QString& path);

} // namespace PortAccess
