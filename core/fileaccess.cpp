#include "core/fileaccess.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QSaveFile>
#include <cstdio>

#ifdef Q_OS_UNIX
#include <sys/stat.h>
#endif

namespace Files {

QString shown(const QString& path)
{
    return path == QLatin1String("-") ? QStringLiteral("standard input") : QDir::toNativeSeparators(path);
}

QString kind(const QString& path)
{
    const QFileInfo info(path);
    if (!info.exists())
        return QString();
    if (info.isDir())
        return QStringLiteral("a directory");
    if (info.isFile())
        return QStringLiteral("a regular file");
#ifdef Q_OS_UNIX
    // QFileInfo calls all the rest "not a file"; the mode tells them apart.
    struct stat st = {};
    if (::stat(QFile::encodeName(path).constData(), &st) == 0) {
        if (S_ISFIFO(st.st_mode))
            return QStringLiteral("a FIFO");
        if (S_ISCHR(st.st_mode) || S_ISBLK(st.st_mode))
            return QStringLiteral("a device");
        if (S_ISSOCK(st.st_mode))
            return QStringLiteral("a socket");
    }
#endif
    return QStringLiteral("not a regular file");
}

bool readLimited(const QString& path, qint64 limit, QByteArray* bytes, QString* error)
{
    const auto fail = [&](const QString& why) {
        *error = QStringLiteral("%1: %2").arg(shown(path), why);
        return false;
    };
    QFile file;
    if (path == QLatin1String("-")) {
        if (!file.open(stdin, QIODevice::ReadOnly))
            return fail(QStringLiteral("cannot be read"));
    } else {
        const QString what = kind(path);
        if (what.isEmpty())
            return fail(QStringLiteral("no such file"));
        if (what != QLatin1String("a regular file"))
            return fail(QStringLiteral("%1, not a regular file").arg(what));
        if (QFileInfo(path).size() > limit)
            return fail(QStringLiteral("more than %1 bytes").arg(limit));
        file.setFileName(path);
        if (!file.open(QIODevice::ReadOnly))
            return fail(file.errorString());
    }
    // One byte more than the limit tells a larger input from one that fits.
    *bytes = file.read(limit + 1);
    if (file.error() != QFileDevice::NoError)
        return fail(file.errorString());
    if (bytes->size() > limit)
        return fail(QStringLiteral("more than %1 bytes").arg(limit));
    return true;
}

QString writeProblem(const QString& path)
{
    const QString name = QDir::toNativeSeparators(path);
    const QFileInfo info(path);
    if (info.isDir())
        return QStringLiteral("%1: a directory").arg(name);
    if (info.exists())
        return info.isWritable() ? QString() : QStringLiteral("%1: not writable").arg(name);
    const QFileInfo folder(info.absolutePath());
    if (!folder.isDir())
        return QStringLiteral("%1: no such folder %2").arg(name, QDir::toNativeSeparators(folder.filePath()));
    if (!folder.isWritable())
        return QStringLiteral("%1: the folder is not writable").arg(name);
    return QString();
}

bool writeWhole(const QString& path, const QByteArray& bytes, QString* error)
{
    const QString problem = writeProblem(path);
    if (!problem.isEmpty()) {
        *error = problem;
        return false;
    }
    const QFileInfo info(path);
    if (info.exists() && !info.isFile()) {
        // A device or a FIFO cannot be replaced: write to it, and check that
        // every byte went (a full disk, /dev/full).
        QFile file(path);
        const bool written = file.open(QIODevice::WriteOnly | QIODevice::Unbuffered) &&
                             file.write(bytes) == bytes.size() && file.flush();
        if (!written)
            *error = QStringLiteral("%1: %2").arg(QDir::toNativeSeparators(path), file.errorString());
        return written;
    }
    QSaveFile file(path);
    if (file.open(QIODevice::WriteOnly) && file.write(bytes) == bytes.size() && file.commit())
        return true;
    *error = QStringLiteral("%1: %2").arg(QDir::toNativeSeparators(path), file.errorString());
    return false;
}

} // namespace Files
