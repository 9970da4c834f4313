#include "portnames.h"

#include <QDir>
#include <QFileInfo>
#include <QStandardPaths>

namespace PortNames {

QString registryNameText(const QVector<ushort>& units)
{
    QString text;
    text.reserve(units.size());
    for (const ushort unit : units)
        text.append(QChar(ushort(unit & 0xFF)));
    return text;
}

QString registryDataText(const QByteArray& data)
{
    QString text;
    for (const char byte : data) {
        if (byte != 0)
            text.append(QChar(uchar(byte)));
    }
    return text;
}

QString virtualPortFolder()
{
    return QStandardPaths::writableLocation(QStandardPaths::RuntimeLocation) + QStringLiteral("/velkocan");
}

QStringList virtualPorts(const QString& folder)
{
    QStringList ports;
    const QDir dir(folder);
    const QFileInfoList entries = dir.entryInfoList(QDir::System | QDir::Files | QDir::NoDotAndDotDot, QDir::Name);
    for (const QFileInfo& entry : entries) {
        // exists() follows the link: a link left by a module that is gone is not listed.
        if (entry.isSymLink() && entry.exists())
            ports.append(entry.absoluteFilePath());
    }
    return ports;
}

} // namespace PortNames
