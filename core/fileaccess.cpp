#include "core/fileaccess.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QSaveFile>
#include <cstdio>

namespace Files {

// Implemented per platform (fileaccess_unix.cpp, fileaccess_win.cpp).
// What a path that exists and is neither a regular file nor a directory is.
QString specialKind(const QString& path);
// Makes the data written to `file` reach its disk; false with `why`.
bool syncToDisk(QFileDevice& file, QString* why);

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
    // QFileInfo calls all the rest "not a file"; the platform tells them apart.
    return specialKind(path);
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

bool writeAll(QFileDevice* file, const QByteArray& bytes)
{
    // A short write is followed by another, which names the error.
    qint64 done = 0;
    while (done < bytes.size()) {
        const qint64 written = file->write(bytes.constData() + done, bytes.size() - done);
        if (written <= 0)
            return false;
        done += written;
    }
    return file->flush();
}

bool writeWhole(const QString& path, const QByteArray& bytes, QString* error)
{
    const QString problem = writeProblem(path);
    if (!problem.isEmpty()) {
        *error = problem;
        return false;
    }
    const auto fail = [&](const QString& why) {
        *error = QStringLiteral("%1: %2").arg(QDir::toNativeSeparators(path), why);
        return false;
    };
    const QFileInfo info(path);
    if (info.exists() && !info.isFile()) {
        // A device or a FIFO cannot be replaced: write to it, and check that
        // every byte went (a full disk, /dev/full).
        QFile file(path);
        if (!file.open(QIODevice::WriteOnly | QIODevice::Unbuffered) || !writeAll(&file, bytes))
            return fail(file.errorString());
        return true;
    }
    // Unbuffered: a buffered save file loses a failed write of its buffer
    // (a full disk) and then commits what it holds. The temporary file goes
    // away with `file` unless it was committed.
    QSaveFile file(path);
    if (!file.open(QIODevice::WriteOnly | QIODevice::Unbuffered) || !writeAll(&file, bytes))
        return fail(file.errorString());
    QString why;
    if (!syncToDisk(file, &why)) {
        file.cancelWriting();
        return fail(why);
    }
    if (!file.commit())
        return fail(file.errorString());
    return true;
}

} // namespace Files
