#include "window/catalogue.h"

#include <QCoreApplication>
#include <QDir>
#include <QFileInfo>

QString cataloguePath(const QString& name)
{
    if (QFileInfo::exists(name))
        return name;
    const QString programDir = QCoreApplication::applicationDirPath();
    for (const QString& base : {programDir, programDir + QStringLiteral("/../share/velkocan-config")}) {
        const QString candidate = QDir::cleanPath(base + QLatin1Char('/') + name);
        if (QFileInfo::exists(candidate))
            return candidate;
    }
    return name;
}
