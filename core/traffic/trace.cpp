#include "core/traffic/trace.h"
#include "core/config/fileaccess.h"

namespace Traffic {

QString traceStamp(qint64 usecs)
{
    return QStringLiteral("(%1.%2)").arg(usecs / 1000000).arg(usecs % 1000000, 6, 10, QLatin1Char('0'));
}

QString candumpLine(qint64 usecs, const QString& interface, const CanFrame& frame)
{
    return traceStamp(usecs) + QLatin1Char(' ') + interface + QLatin1Char(' ') + frame.text();
}

QString serialLine(qint64 usecs, const QString& port, const QByteArray& data, bool sent)
{
    return traceStamp(usecs) + QLatin1Char(' ') + port + (sent ? QStringLiteral(" TX ") : QStringLiteral(" RX ")) +
           QString::fromLatin1(data.toHex()).toUpper();
}

void Trace::setNames(const QString& interface, const QString& port)
{
    m_interface = interface;
    m_port = port;
}

void Trace::addFrame(qint64 usecs, const CanFrame& frame)
{
    m_can += candumpLine(usecs, m_interface, frame).toUtf8() + '\n';
}

void Trace::addSerial(qint64 usecs, const QByteArray& data, bool sent)
{
    m_serial += serialLine(usecs, m_port, data, sent).toUtf8() + '\n';
}

void Trace::clear()
{
    m_can.clear();
    m_serial.clear();
}

QString Trace::serialPath(const QString& path)
{
    return path + QStringLiteral(".serial");
}

bool Trace::write(const QString& path, QString* error) const
{
    return Files::writeWhole(path, m_can, error) && Files::writeWhole(serialPath(path), m_serial, error);
}

} // namespace Traffic
