#pragma once

// What differs between building with Qt 5.15 and with Qt 6, kept here so
// that the rest of the code reads the same on both.

#include <QSerialPort>

// The number Qt 5 gives a serial port error. Qt 6 dropped ParityError,
// FramingError and BreakConditionError (4 to 6), which renumbered the errors
// after them; messages that show an error's number use this one, so that both
// builds show the same text for the same error.
inline int qt5ErrorNumber(QSerialPort::SerialPortError error)
{
    switch (error) {
    case QSerialPort::NoError:
        return 0;
    case QSerialPort::DeviceNotFoundError:
        return 1;
    case QSerialPort::PermissionError:
        return 2;
    case QSerialPort::OpenError:
        return 3;
    case QSerialPort::WriteError:
        return 7;
    case QSerialPort::ReadError:
        return 8;
    case QSerialPort::ResourceError:
        return 9;
    case QSerialPort::UnsupportedOperationError:
        return 10;
    case QSerialPort::UnknownError:
        return 11;
    case QSerialPort::TimeoutError:
        return 12;
    case QSerialPort::NotOpenError:
        return 13;
    default:
        // Qt 5's parity, framing and break errors, numbered as Qt 5 numbers them.
        return int(error);
    }
}
