// The device files of serial ports, and the lock files that Qt's serial port
// takes in the system's lock folder (one per device, holding the process ID).
#include <QFile>
#include <QFileInfo>
#include <QStandardPaths>
#include <QString>
#include <QStringList>

#include <fcntl.h>
#include <sys/resource.h>
#include <unistd.h>

namespace PortAccess {

// The device file: a path as given, a bare name under /dev.
QString systemPath(const QString& port)
{
    if (port.isEmpty())
        return QString();
    return port.contains(QLatin1Char('/')) ? port : QStringLiteral("/dev/") + port;
}

bool accessible(const QString& path)
{
    return ::access(QFile::encodeName(path).constData(), R_OK | W_OK) == 0;
}

// Asked only after an open failed, so that a real port is not opened (and
// its control lines raised) once more than the tool means to.
bool isTerminal(const QString& path)
{
    const int fd = ::open(QFile::encodeName(path).constData(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0)
        return true; // cannot tell: not called a non-terminal
    const bool terminal = ::isatty(fd) == 1;
    ::close(fd);
    return terminal;
}

// The process named by the lock file of `path`, in the folders where Qt's
// serial port looks for one (LCK.. and the device name under /dev, with '/'
// as '_'); 0 when there is none.
qint64 lockHolder(const QString& path)
{
    QString name = path;
    if (name.startsWith(QLatin1String("/dev/")))
        name = name.mid(5);
    name.replace(QLatin1Char('/'), QLatin1Char('_'));
    const QStringList folders{QStringLiteral("/var/lock"),
                              QStringLiteral("/etc/locks"),
                              QStringLiteral("/var/spool/locks"),
                              QStringLiteral("/var/spool/uucp"),
                              QStringLiteral("/tmp"),
                              QStringLiteral("/var/tmp"),
                              QStringLiteral("/var/lock/lockdev"),
                              QStringLiteral("/run/lock"),
                              QStandardPaths::writableLocation(QStandardPaths::TempLocation)};
    for (const QString& folder : folders) {
        QFile lock(folder + QStringLiteral("/LCK..") + name);
        if (!lock.open(QIODevice::ReadOnly))
            continue;
        bool ok = false;
        const qint64 pid = lock.readLine(32).trimmed().toLongLong(&ok);
        if (ok && pid > 0)
            return pid;
    }
    return 0;
}

// Why no lock file could be written: a file size limit too small for one
// (its process ID, program, host and boot ID take less than 256 bytes)
// (Qt's serial port then takes the port for held, and leaves no lock file).
QString lockWriteProblem()
{
    struct rlimit limit = {};
    if (::getrlimit(RLIMIT_FSIZE, &limit) != 0 || limit.rlim_cur == RLIM_INFINITY || limit.rlim_cur >= 256)
        return QString();
    return QStringLiteral("its lock file cannot be written: File too large (the file size limit, ulimit -f, is %1 "
                          "bytes)")
        .arg(quint64(limit.rlim_cur));
}

} // namespace PortAccess
