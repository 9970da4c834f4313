#include "core/transport/portdiscovery.h"
#include "core/transport/portnames.h"
#include "core/transport/serialsocket.h"

#include <QSerialPortInfo>
#include <algorithm>

#ifdef Q_OS_WIN
#include "core/transport/serialcomm_win.h"

#include <QSettings>

namespace {

// The registry read is SerialComm's; here only its texts are made.
QString serialCommEntry(int index, const QString& selector)
{
    const SerialComm::Entry entry = SerialComm::readEntry(static_cast<unsigned long>(index));
    if (entry.status == SerialComm::Status::NoKey)
        return QStringLiteral("Cannot open regedit!");
    if (entry.status == SerialComm::Status::NoValue)
        return QStringLiteral("nokey");
    if (selector == QLatin1String("key"))
        return PortNames::registryNameText(QVector<ushort>(entry.name.begin(), entry.name.end()));
    if (selector == QLatin1String("value"))
        return PortNames::registryDataText(
            QByteArray(reinterpret_cast<const char*>(entry.data.data()), int(entry.data.size())));
    return QString();
}

} // namespace

QStringList PortDiscovery::portList()
{
    QStringList list;
    const QSettings map(QStringLiteral("HKEY_LOCAL_MACHINE\\HARDWARE\\DEVICEMAP\\SERIALCOMM"), QSettings::NativeFormat);
    const int count = map.allKeys().size();
    for (int i = 0; i < count; ++i) {
        serialCommEntry(i, QStringLiteral("key"));
        list.append(serialCommEntry(i, QStringLiteral("value")));
    }
    return list;
}

QString SerialSocket::getSerialCommEntry(int index, QString selector)
{
    return serialCommEntry(index, selector);
}

#else

QStringList PortDiscovery::portList()
{
    QStringList list;
    const QList<QSerialPortInfo> ports = QSerialPortInfo::availablePorts();
    for (const QSerialPortInfo& info : ports)
        list.append(info.portName());
    std::sort(list.begin(), list.end());
    list.append(PortNames::virtualPorts(PortNames::virtualPortFolder()));
    return list;
}

// There is no registry here; the list comes from portList() alone.
QString SerialSocket::getSerialCommEntry(int index, QString selector)
{
    const QStringList list = PortDiscovery::portList();
    if (index < 0 || index >= list.size())
        return QStringLiteral("nokey");
    if (selector == QLatin1String("key") || selector == QLatin1String("value"))
        return list.at(index);
    return QString();
}

#endif

QStringList SerialSocket::getPortList()
{
    return PortDiscovery::portList();
}
