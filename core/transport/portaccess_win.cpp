// Windows names its serial ports (COM3) without device files or lock files:
// a port that another program holds refuses access.
#include <QString>

namespace PortAccess {

QString systemPath(const QString&)
{
    return QString();
}

bool accessible(const QString&)
{
    return true;
}

bool isTerminal(const QString&)
{
    return true;
}

qint64 lockHolder(const QString&)
{
    return 0;
}

QString lockWriteProblem()
{
    return QString();
}

} // namespace PortAccess
