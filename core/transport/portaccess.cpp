#include "core/transport/portaccess.h"
#include "core/transport/qtcompat.h"

#include <QFileInfo>
#include <QSerialPortInfo>

#include <algorithm>

namespace PortAccess {

// Implemented per platform (portaccess_unix.cpp, portaccess_win.cpp).
QString systemPath(const QString& port);
bool accessible(const QString& path);
bool isTerminal(const QString& path);

QString deviceName(const QString& port)
{
    if (!port.contains(QLatin1Char('/')))
        return port;
    const QString canonical = QFileInfo(port).canonicalFilePath();
    return canonical.isEmpty() ? port : canonical;
}

QString notAPort(const QString& port)
{
    const QString path = systemPath(port);
    if (path.isEmpty())
        return QString();
    const QFileInfo info(path);
    if (!info.exists())
        return QStringLiteral("no such port");
    if (info.isDir())
        return QStringLiteral("not a serial device (a directory)");
    if (info.isFile())
        return QStringLiteral("not a serial device (a regular file)");
    return QString();
}

bool isMissing(const QString& port)
{
    if (!systemPath(port).isEmpty())
        return notAPort(port) == QLatin1String("no such port");
    const QString name = deviceName(port);
    const QList<QSerialPortInfo> listed = QSerialPortInfo::availablePorts();
    return std::none_of(listed.begin(), listed.end(), [&name](const QSerialPortInfo& info) {
        return info.portName().compare(name, Qt::CaseInsensitive) == 0 ||
               info.systemLocation().compare(name, Qt::CaseInsensitive) == 0;
    });
}

QString notASerialDevice(const QString& port)
{
    const QString refused = notAPort(port);
    if (refused == QLatin1String("no such port"))
        return QString();
    if (!refused.isEmpty())
        return refused;
    const QString path = systemPath(deviceName(port));
    if (!path.isEmpty() && !isTerminal(path))
        return QStringLiteral("not a serial device (%1 is no terminal)").arg(path);
    return QString();
}

QString openFailure(const QString& port, QSerialPort::SerialPortError error)
{
    const QString refused = notAPort(port);
    if (!refused.isEmpty())
        return refused;
    const QString path = systemPath(deviceName(port));
    switch (error) {
    case QSerialPort::DeviceNotFoundError:
        return QStringLiteral("no such port");
    case QSerialPort::PermissionError: {
        const qint64 pid = lockHolder(path);
        if (pid > 0)
            return QStringLiteral("held by another program (PID %1)").arg(pid);
        const QString unwritable = lockWriteProblem();
        if (!unwritable.isEmpty())
            return unwritable;
        if (!accessible(path))
            return QStringLiteral("permission denied (serial ports belong to the group dialout: "
                                  "sudo usermod -aG dialout $USER, then log in again)");
        return QStringLiteral("held by another program");
    }
    default:
        break;
    }
    if (!path.isEmpty() && !isTerminal(path))
        return QStringLiteral("not a serial device (%1 is no terminal)").arg(path);
    return QStringLiteral("cannot be opened (error %1)").arg(qt5ErrorNumber(error));
}

} // namespace PortAccess
