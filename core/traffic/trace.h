#pragma once

#include "core/traffic/conversion.h"

#include <QByteArray>
#include <QString>

// The traffic through a module as people's tools read it: the CAN side in
// candump's -L lines ("(1733650000.123456) can0 1A1#DEADBEEF", read by
// can-utils' log2asc and python-can's LogReader), the serial side in lines
// of the same time stamp, the port, TX or RX and the bytes in hex
// ("(1733650000.120001) /dev/ttyUSB0 TX C500C9").
namespace Traffic {

// "(1733650000.123456)": seconds and microseconds since the epoch.
QString traceStamp(qint64 usecs);
// One line of each side, without its line end.
QString candumpLine(qint64 usecs, const QString& interface, const CanFrame& frame);
QString serialLine(qint64 usecs, const QString& port, const QByteArray& data, bool sent);

// Both sides of a run, line by line as the traffic comes. Each side keeps at
// most its limit: past it, its oldest lines go (a window left sending for days
// must not take the PC's memory), and trimmed() tells so.
class Trace
{
public:
    static constexpr int kDefaultLimit = 32 * 1024 * 1024; // bytes of each side

    // `interface`: the CAN interface's short name ("can0"); `port`: the serial port as the user named it.
    void setNames(const QString& interface, const QString& port);
    void addFrame(qint64 usecs, const CanFrame& frame);
    void addSerial(qint64 usecs, const QByteArray& data, bool sent);
    void clear();
    bool isEmpty() const { return m_can.isEmpty() && m_serial.isEmpty(); }
    // Bytes kept of each side; below a line's length, that line alone.
    void setLimit(int bytes) { m_limit = bytes; }
    // Whether older lines of either side went since the last clear().
    bool trimmed() const { return m_trimmed; }

    const QByteArray& can() const { return m_can; }
    const QByteArray& serial() const { return m_serial; }
    // The CAN side to `path`, the serial side to `path`.serial, each
    // written whole; false with `error` set.
    bool write(const QString& path, QString* error) const;
    static QString serialPath(const QString& path);

private:
    QString m_interface = QStringLiteral("can0");
    QString m_port;
    QByteArray m_can;
    QByteArray m_serial;
    int m_limit = kDefaultLimit;
    bool m_trimmed = false;

    void append(QByteArray* side, const QString& line);
};

} // namespace Traffic
