#pragma once

#include "core/station/modulerecord.h"

#include <QByteArray>
#include <QString>
#include <QStringList>
#include <QVector>
#include <functional>
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
    // Hands what a regular file holds to `chunk`, a piece at a time, read
    // through the held handle; nothing for anything else. False with
    // `error` naming the file and why.
    bool read(const std::function<void(const char* data, int size)>& chunk, QString* error) const;

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

// Reads a report piece by piece, keeping no record: each goes to `record`
// as its line is complete, and each line that is not a record to
// `problem` ("line N: ..."). A report of any length takes the memory of
// its longest line.
class ReportReader
{
public:
    ReportReader(std::function<void(int line, const ModuleRecord& record)> record,
                 std::function<void(const QString& problem)> problem);
    void feed(const char* data, int size);
    // The end of the report: a last line without its line end is read as well.
    void finish();
    // The line number of a last line without its line end, 0 when it has one (after finish()).
    int cutLine() const { return m_cutLine; }

private:
    void take(const QByteArray& text);

    std::function<void(int, const ModuleRecord&)> m_record;
    std::function<void(const QString&)> m_problem;
    QByteArray m_pending; // a line not complete yet
    int m_line = 0;
    int m_cutLine = 0;
};
