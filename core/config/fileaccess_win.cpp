// Windows has no FIFOs or devices among the paths a user gives, and opening
// a file does not block; a file's data reaches its disk through _commit()
// (FlushFileBuffers on its handle).
#include <QFile>
#include <QString>

#include <cerrno>
#include <io.h>

namespace Files {

// An open file cannot be deleted or replaced here: only whether it is there.
QString identity(const QString& path)
{
    return QFile::exists(path) ? QStringLiteral("-") : QString();
}

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

bool openAppending(QFile& file, const QString& path, QString* why)
{
    file.setFileName(path);
    if (file.open(QIODevice::WriteOnly | QIODevice::Append | QIODevice::Unbuffered))
        return true;
    *why = file.errorString();
    return false;
}

} // namespace Files
