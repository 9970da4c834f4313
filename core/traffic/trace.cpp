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
    append(&m_can, candumpLine(usecs, m_interface, frame));
}

void Trace::addSerial(qint64 usecs, const QByteArray& data, bool sent)
{
    append(&m_serial, serialLine(usecs, m_port, data, sent));
}

void Trace::append(QByteArray* side, const QString& line)
{
    *side += line.toUtf8() + '\n';
    if (side->size() <= m_limit)
        return;
    // Down to three quarters of the limit at a line's start, so that a side
    // at its limit is cut now and then, not at every line.
    const int keep = m_limit - m_limit / 4;
    int from = side->indexOf('\n', side->size() - keep - 1) + 1;
    if (from >= side->size()) // the newest line alone is longer: it stays
        from = side->lastIndexOf('\n', side->size() - 2) + 1;
    if (from > 0) {
        side->remove(0, from);
        m_trimmed = true;
    }
}

void Trace::clear()
{
    m_can.clear();
    m_serial.clear();
    m_trimmed = false;
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
