#include "portnames.h"
#include "serialsocket.h"

#include <QSerialPortInfo>
#include <algorithm>

#ifdef Q_OS_WIN
#include <QSettings>
#include <qt_windows.h>

namespace {
const wchar_t* const kSerialCommKey = L"HARDWARE\\DEVICEMAP\\SERIALCOMM";
}

QStringList SerialSocket::getPortList()
{
    QStringList list;
    const QSettings map(QStringLiteral("HKEY_LOCAL_MACHINE\\HARDWARE\\DEVICEMAP\\SERIALCOMM"), QSettings::NativeFormat);
    const int count = map.allKeys().size();
    for (int i = 0; i < count; ++i) {
        getSerialCommEntry(i, QStringLiteral("key"));
        list.append(getSerialCommEntry(i, QStringLiteral("value")));
    }
    return list;
}

QString SerialSocket::getSerialCommEntry(int index, QString selector)
{
    HKEY key = nullptr;
    if (RegOpenKeyExW(HKEY_LOCAL_MACHINE, kSerialCommKey, 0, KEY_READ, &key) != ERROR_SUCCESS)
        return QStringLiteral("Cannot open regedit!");

    wchar_t name[256];
    DWORD nameLength = 256;
    BYTE data[256];
    DWORD dataLength = 256;
    DWORD type = 0;
    QString result;
    if (RegEnumValueW(key, DWORD(index), name, &nameLength, nullptr, &type, data, &dataLength) != ERROR_SUCCESS) {
        result = QStringLiteral("nokey");
    } else if (selector == QLatin1String("key")) {
        QVector<ushort> units(int(nameLength));
        std::copy(name, name + nameLength, units.begin());
        result = PortNames::registryNameText(units);
    } else if (selector == QLatin1String("value")) {
        result = PortNames::registryDataText(QByteArray(reinterpret_cast<const char*>(data), int(dataLength)));
    }
    RegCloseKey(key);
    return result;
}

#else

// The serial ports the system reports, by name, followed by the virtual
// ports that running simulated modules publish.
QStringList SerialSocket::getPortList()
{
    QStringList list;
    const QList<QSerialPortInfo> ports = QSerialPortInfo::availablePorts();
    for (const QSerialPortInfo& info : ports)
        list.append(info.portName());
    std::sort(list.begin(), list.end());
    list.append(PortNames::virtualPorts(PortNames::virtualPortFolder()));
    return list;
}

// There is no registry here; the list comes from getPortList() alone.
QString SerialSocket::getSerialCommEntry(int index, QString selector)
{
    const QStringList list = getPortList();
    if (index < 0 || index >= list.size())
        return QStringLiteral("nokey");
    if (selector == QLatin1String("key") || selector == QLatin1String("value"))
        return list.at(index);
    return QString();
}

#endif
