#pragma once

#include <QByteArray>
#include <QString>
#include <functional>

class QFile;
class QFileDevice;

// Reading and writing the files the tool is given (profiles, results, logs),
// so that a wrong path fails at once, by name, and a file is never left half
// written.
namespace Files {

// A path as messages name it: "standard input" for "-".
QString shown(const QString& path);

// The largest profile read: far above any profile, far below what would hurt.
constexpr qint64 kMaxProfileBytes = 1024 * 1024;

// What `path` is, as a message names it: "a directory", "a FIFO", "a device",
// "a socket", "a regular file"; empty when nothing is there.
QString kind(const QString& path);

// Reads a regular file of at most `limit` bytes, or standard input ("-") up
// to the same limit. Anything else (a FIFO, a device, a directory, a larger
// file) is refused at once, without reading. False with `error` naming the
// file and what is wrong.
bool readLimited(const QString& path, qint64 limit, QByteArray* bytes, QString* error);

// Reads a text file as readLimited() does and takes it only when it is
// plain UTF-8 text, so that nothing in it is silently cut or changed: a NUL
// byte, another control character than tab, CR and LF (or DEL) and bytes
// that are not UTF-8 are refused with their line ("values.csv line 3: a NUL
// byte"), text with a UTF-16 or UTF-32 byte-order mark with "save it as
// UTF-8". A UTF-8 byte-order mark, as spreadsheets write one, is dropped.
bool readText(const QString& path, qint64 limit, QString* text, QString* error);

// Why `path` cannot take a file, or empty when it can: its folder must exist
// and take files, and the path must not be a directory. Looked at before any
// work is done, so that a result is not lost at the end.
QString writeProblem(const QString& path);
// writeProblem(), and a FIFO, a device or a socket, which an output file
// must not be: a write to it may block, or be lost, after the work is done.
QString outputProblem(const QString& path);

// Writes `bytes` whole or not at all: a regular file through a temporary
// file in its folder that replaces it only once every byte is written and
// synced to the disk, so that a full disk or a failing write leaves the old
// file as it was; anything else that exists (a device, a FIFO) directly,
// every byte checked. False with `error` naming the file and the reason
// ("No space left on device").
bool writeWhole(const QString& path, const QByteArray& bytes, QString* error);
// The same for a file too big to hold: `produce` hands its bytes to the
// Chunk it is given, piece after piece, and returns false to give the
// file up (with `why` set to its own reason, or empty when a write failed,
// which the Chunk said by returning false).
using Chunk = std::function<bool(const QByteArray& bytes)>;
using Producer = std::function<bool(const Chunk& write, QString* why)>;
bool writeWhole(const QString& path, const Producer& produce, QString* error);

// Opens `path` to append to, unbuffered: a regular file, made when missing.
// A directory, a FIFO, a device or a path that cannot take a file is refused
// without being opened, and the open itself cannot block (a FIFO put there
// meanwhile is refused as well). False with `error` naming the file and what
// is wrong ("traffic.log: a FIFO, not a regular file").
bool openToAppend(QFile* file, const QString& path, QString* error);

// What tells the file at `path` apart from another put in its place (its
// device and inode); empty when there is no file there, and "-" where the
// system does not tell.
QString identity(const QString& path);

// Writes every byte of `bytes` to `file`, which should be unbuffered so that
// a failure shows here and not at a later flush. False when a byte did not
// go; the file's errorString() says why.
bool writeAll(QFileDevice* file, const QByteArray& bytes);

} // namespace Files
