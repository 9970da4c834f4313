#include "core/transport/adapters.h"

#include <QMutex>
#include <QMutexLocker>
#include <QSerialPortInfo>
#include <QStringList>

namespace Adapters {

namespace {

const QString kUsb = QStringLiteral("usb:");

QMutex g_mutex;
std::function<QList<Adapter>()> g_source; // guarded by g_mutex

} // namespace

QList<Adapter> available()
{
    {
        const QMutexLocker lock(&g_mutex);
        if (g_source)
            return g_source();
    }
    QList<Adapter> list;
    const QList<QSerialPortInfo> ports = QSerialPortInfo::availablePorts();
    for (const QSerialPortInfo& info : ports)
        list.append(
            {info.portName(), info.systemLocation(), info.description(), info.manufacturer(), info.serialNumber()});
    return list;
}

void setSource(std::function<QList<Adapter>()> source)
{
    const QMutexLocker lock(&g_mutex);
    g_source = std::move(source);
}

QString usbName(const QString& serialNumber)
{
    return kUsb + serialNumber;
}

bool isUsbName(const QString& port)
{
    return port.startsWith(kUsb);
}

QString resolve(const QString& port, QString* why, bool* ambiguous)
{
    if (ambiguous)
        *ambiguous = false;
    if (!isUsbName(port))
        return port;
    const QString serial = port.mid(kUsb.size());
    QStringList matching;
    QStringList without;
    QString location;
    for (const Adapter& a : available()) {
        if (a.serialNumber.isEmpty())
            without.append(a.portName);
        else if (a.serialNumber == serial) {
            matching.append(a.portName);
            location = a.systemLocation;
        }
    }
    if (matching.size() == 1)
        return location;
    if (matching.size() > 1) {
        if (ambiguous)
            *ambiguous = true;
        *why =
            QStringLiteral("two adapters with serial number %1: %2").arg(serial, matching.join(QStringLiteral(", ")));
        return QString();
    }
    *why = QStringLiteral("no adapter with serial number %1").arg(serial);
    if (!without.isEmpty())
        *why += QStringLiteral(" (%1 %2 none)")
                    .arg(without.join(QStringLiteral(", ")),
                         without.size() == 1 ? QStringLiteral("reports") : QStringLiteral("report"));
    return QString();
}

} // namespace Adapters
