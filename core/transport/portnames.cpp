#include "core/transport/portnames.h"

#include <QDir>
#include <QFileInfo>

#ifdef Q_OS_UNIX
#include <pwd.h>
#include <unistd.h>
#endif

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
    // Asking QStandardPaths for the runtime folder would create one and warn
    // when XDG_RUNTIME_DIR is unset; listing ports creates nothing. Without
    // the variable, the folder is where QStandardPaths puts a simulated
    // module's link then.
    QString runtime = qEnvironmentVariable("XDG_RUNTIME_DIR");
    if (runtime.isEmpty()) {
        QString user = qEnvironmentVariable("USER");
#ifdef Q_OS_UNIX
        if (const passwd* const entry = ::getpwuid(::getuid()))
            user = QString::fromLocal8Bit(entry->pw_name);
#endif
        runtime = QDir::tempPath() + QStringLiteral("/runtime-") + user;
    }
    return runtime + QStringLiteral("/velkocan");
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
