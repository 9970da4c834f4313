#include "core/config/fileaccess.h"

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
// Opens a path known to be a regular file or nothing to append to, without
// blocking, unbuffered; false with `why` when it cannot or is no regular file.
bool openAppending(QFile& file, const QString& path, QString* why);

namespace {

// The length of the UTF-8 sequence at `at`, or 0 when it is none: a
// continuation byte out of place, a sequence cut short, an overlong form, a
// surrogate or a code point above U+10FFFF.
int utf8Length(const QByteArray& bytes, int at)
{
    const auto byte = [&](int i) { return i < bytes.size() ? uchar(bytes.at(i)) : 0; };
    const uchar lead = byte(at);
    int length = 0;
    uchar low = 0x80;  // the range of the byte after the lead
    uchar high = 0xBF; // (narrower where it tells overlong forms and surrogates)
    if (lead >= 0xC2 && lead <= 0xDF) {
        length = 2;
    } else if (lead >= 0xE0 && lead <= 0xEF) {
        length = 3;
        low = lead == 0xE0 ? 0xA0 : 0x80;
        high = lead == 0xED ? 0x9F : 0xBF;
    } else if (lead >= 0xF0 && lead <= 0xF4) {
        length = 4;
        low = lead == 0xF0 ? 0x90 : 0x80;
        high = lead == 0xF4 ? 0x8F : 0xBF;
    } else {
        return 0;
    }
    if (byte(at + 1) < low || byte(at + 1) > high)
        return 0;
    for (int i = 2; i < length; ++i) {
        if ((byte(at + i) & 0xC0) != 0x80)
            return 0;
    }
    return length;
}

} // namespace

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

bool readText(const QString& path, qint64 limit, QString* text, QString* error)
{
    QByteArray bytes;
    if (!readLimited(path, limit, &bytes, error))
        return false;
    const auto starts = [&](const char* mark, int size) { return bytes.startsWith(QByteArray(mark, size)); };
    // UTF-32 first: its little-endian mark begins as UTF-16's does.
    QString encoding;
    if (starts("\xFF\xFE\0\0", 4) || starts("\0\0\xFE\xFF", 4))
        encoding = QStringLiteral("UTF-32");
    else if (starts("\xFF\xFE", 2) || starts("\xFE\xFF", 2))
        encoding = QStringLiteral("UTF-16");
    if (!encoding.isEmpty()) {
        *error = QStringLiteral("%1: %2 text; save it as UTF-8").arg(shown(path), encoding);
        return false;
    }
    const int start = starts("\xEF\xBB\xBF", 3) ? 3 : 0;
    int line = 1;
    for (int i = start; i < bytes.size();) {
        const uchar c = uchar(bytes.at(i));
        const int length = c < 0x80 ? 1 : utf8Length(bytes, i);
        QString why;
        if (c == 0)
            why = QStringLiteral("a NUL byte");
        else if ((c < 0x20 && c != '\t' && c != '\r' && c != '\n') || c == 0x7F)
            why = QStringLiteral("a control character (0x%1)")
                      .arg(QString::number(c, 16).toUpper().rightJustified(2, '0'));
        else if (length == 0)
            why = QStringLiteral("not UTF-8 text; save it as UTF-8");
        if (!why.isEmpty()) {
            *error = QStringLiteral("%1 line %2: %3").arg(shown(path), QString::number(line), why);
            return false;
        }
        if (c == '\n')
            ++line;
        i += length;
    }
    // Sized, so that nothing stops the conversion early.
    *text = QString::fromUtf8(bytes.constData() + start, bytes.size() - start);
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

QString outputProblem(const QString& path)
{
    const QString problem = writeProblem(path);
    if (!problem.isEmpty())
        return problem;
    const QString what = kind(path);
    if (!what.isEmpty() && what != QLatin1String("a regular file"))
        return QStringLiteral("%1: %2, not a regular file").arg(QDir::toNativeSeparators(path), what);
    return QString();
}

bool openToAppend(QFile* file, const QString& path, QString* error)
{
    const QString problem = writeProblem(path);
    if (!problem.isEmpty()) {
        *error = problem;
        return false;
    }
    const QString what = kind(path);
    QString why;
    if (!what.isEmpty() && what != QLatin1String("a regular file"))
        why = QStringLiteral("%1, not a regular file").arg(what);
    else if (openAppending(*file, path, &why))
        return true;
    *error = QStringLiteral("%1: %2").arg(QDir::toNativeSeparators(path), why);
    return false;
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
    return writeWhole(
        path, [&bytes](const Chunk& write, QString*) { return write(bytes); }, error);
}

bool writeWhole(const QString& path, const Producer& produce, QString* error)
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
    QString why; // the producer's own reason to stop; the file's otherwise
    const QFileInfo info(path);
    if (info.exists() && !info.isFile()) {
        // A device or a FIFO cannot be replaced: write to it, and check that
        // every byte went (a full disk, /dev/full).
        QFile file(path);
        if (!file.open(QIODevice::WriteOnly | QIODevice::Unbuffered))
            return fail(file.errorString());
        if (!produce([&file](const QByteArray& bytes) { return writeAll(&file, bytes); }, &why)) {
            if (!why.isEmpty()) {
                *error = why;
                return false;
            }
            return fail(file.errorString());
        }
        return true;
    }
    // Unbuffered: a buffered save file loses a failed write of its buffer
    // (a full disk) and then commits what it holds. The temporary file goes
    // away with `file` unless it was committed.
    QSaveFile file(path);
    if (!file.open(QIODevice::WriteOnly | QIODevice::Unbuffered))
        return fail(file.errorString());
    if (!produce([&file](const QByteArray& bytes) { return writeAll(&file, bytes); }, &why)) {
        if (!why.isEmpty()) {
            *error = why;
            return false;
        }
        return fail(file.errorString());
    }
    if (!syncToDisk(file, &why)) {
        file.cancelWriting();
        return fail(why);
    }
    if (!file.commit())
        return fail(file.errorString());
    return true;
}

} // namespace Files
