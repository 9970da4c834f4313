// Windows has no FIFOs or devices among the paths a user gives; a file's
// data reaches its disk through _commit() (FlushFileBuffers on its handle).
#include <QFile>
#include <QString>

#include <cerrno>
#include <io.h>

namespace Files {

QString specialKind(const QString&)
{
    return QStringLiteral("not a regular file");
}

bool syncToDisk(QFileDevice& file, QString* why)
{
    if (::_commit(file.handle()) == 0)
        return true;
    *why = qt_error_string(errno);
    return false;
}

} // namespace Files
