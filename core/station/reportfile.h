#pragma once

#include "core/station/modulerecord.h"

#include <QByteArray>
#include <QString>
#include <QStringList>
#include <QVector>
#include <memory>

// A record file of JSON Lines that a run appends to, one line per record, so
// that a record is on the disk whole or not at all. A regular file is held
// for the run with an exclusive lock (a second holder is refused at once) and
// read through that same handle; a device or a FIFO with a reader is only
// written. Each record is one write, synced to the disk before append()
// returns; a write that the disk cut short is taken back, so that no record
// is ever glued onto a cut one.
class ReportFile
{
public:
    ReportFile();
    ~ReportFile();
    ReportFile(const ReportFile&) = delete;
    ReportFile& operator=(const ReportFile&) = delete;

    // Opens `path` for appending, creating it. False with `error` naming the
    // file and why: a directory, a FIFO without a reader, not writable, held
    // by another program (with its process ID where the system tells it).
    bool open(const QString& path, QString* error);
    bool isOpen() const;
    void close();
    // Whether the file is a regular file (read, locked and synced).
    bool isRegular() const;
    // What a regular file held when it was opened; empty for anything else.
    const QByteArray& contents() const;

    // Appends `record`, one line that ends in "\n", with one write and syncs
    // it. First checks that the path still names the file that was opened,
    // as long as the run left it: a file deleted, replaced, cut short or
    // written to by another program during the run takes no more records. False
    // with `error` naming the reason; the file then holds what it held before.
    bool append(const QByteArray& record, QString* error);
    // Whether the last append() found the records written before gone with
    // the file: deleted, replaced or cut short.
    bool vanished() const { return m_vanished; }

private:
    struct Handle;
    std::unique_ptr<Handle> m_handle;
    QString m_path;
    QByteArray m_contents;
    bool m_vanished = false;
};

// What a report held: its records and what is wrong with its other lines.
struct ReportContents
{
    struct Record
    {
        int line = 0; // 1-based
        ModuleRecord record;
    };
    QVector<Record> records;
    // "line N: ..." for each line that is not a record.
    QStringList problems;
    // The line number of a last line without its line end, 0 when it has one.
    int cutLine = 0;

    static ReportContents parse(const QByteArray& bytes);
};
