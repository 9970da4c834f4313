// What the file system tells apart on Unix (FIFOs, devices, sockets), and
// the sync of a file's data to its disk.
#include <QFile>
#include <QString>

#include <cerrno>
#include <sys/stat.h>
#include <unistd.h>

namespace Files {

namespace {

QString kindOfMode(mode_t mode)
{
    if (S_ISREG(mode))
        return QStringLiteral("a regular file");
    if (S_ISDIR(mode))
        return QStringLiteral("a directory");
    if (S_ISFIFO(mode))
        return QStringLiteral("a FIFO");
    if (S_ISCHR(mode) || S_ISBLK(mode))
        return QStringLiteral("a device");
    if (S_ISSOCK(mode))
        return QStringLiteral("a socket");
    return QStringLiteral("not a regular file");
}

} // namespace

QString specialKind(const QString& path)
{
    struct stat st = {};
    if (::stat(QFile::encodeName(path).constData(), &st) != 0)
        return QStringLiteral("not a regular file");
    return kindOfMode(st.st_mode);
}

bool syncToDisk(QFileDevice& file, QString* why)
{
    int result = 0;
    do
        result = ::fsync(file.handle());
    while (result != 0 && errno == EINTR);
    if (result == 0)
        return true;
    *why = qt_error_string(errno);
    return false;
}

} // namespace Files
