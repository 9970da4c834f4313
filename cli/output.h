#pragma once

#include <QByteArray>
#include <QJsonObject>
#include <QString>
#include <QStringList>
#include <cstdio>

class QSerialPortInfo;

namespace CommandLine {

// Exit statuses, one per class of failure. A script can rely on them: 0
// means that every command went out and the module accepted it.
enum Status {
    Done = 0,
    NoAnswer = 1,    // the module did not answer, or refused a command
    BadUsage = 2,    // bad usage, a refused profile, or an output that cannot be written
    Differences = 3, // the module holds other values than expected
    PortFailed = 4,  // the port could not be opened
    CutShort = 5,    // the port closed under the operation
    // A signal N ends an operation with 128 + N (130 for Ctrl+C).
};

// What a command, or one module of the station, ends with: its exit status
// and everything its result says.
struct Result
{
    int status = 0;
    QString error;              // the one line that says what went wrong; empty when done
    QStringList details;        // further lines on standard error: each refusal, the summary
    bool detailsSayAll = false; // the details say the error line by line: it is not repeated
    QJsonObject fields;         // the result object's own fields, for --json
    QString text;               // the result for people, on standard output
};

Result failure(int status, const QString& error);
// A refusal of what was given (bad usage, a refused profile or values)
// found before the traffic: `error` on one line, then each of `problems` on
// a line of its own and "nothing sent".
Result refusedInput(const QString& error, const QStringList& problems);

// The text, or null for none.
QJsonValue textOrNull(const QString& text);
// What the system knows of the adapter behind a port: serialNumber,
// vendorId and productId (4 hex digits), each null when unknown.
QJsonObject adapterOf(const QSerialPortInfo& info);

// Writes `bytes` to `stream` and flushes it; false when it did not take
// every byte (a full disk, a closed pipe).
bool writeTo(FILE* stream, const QByteArray& bytes);

// Results on standard output, progress and errors on standard error.
class Reporter
{
public:
    // `port` and `command` go into every result object.
    Reporter(const QString& port, const QString& command, bool json, bool quiet);

    bool json() const { return m_json; }
    bool quiet() const { return m_quiet; }
    // Whether standard error is a terminal (progress bars, status lines redrawn in place).
    bool onTerminal() const { return m_terminal; }

    // What the progress lines that follow are part of ("connect", "verify", ...).
    void setPhase(const QString& phase);
    void progress(int step, int steps, const QString& what);
    // One line on standard error.
    void note(const QString& message);

    // Tells the result: its lines on standard error, then the text or, with
    // --json, the object on standard output. Returns the exit status: a
    // result that could not be written makes a success a failure (2), and
    // one whose output was closed by its reader ends as SIGPIPE does (141).
    int finish(const Result& r);

    // A line on standard output; false when it could not be written.
    bool out(const QByteArray& line);
    // Whether standard output was closed by its reader (nothing more is written to it).
    bool outputClosed() const { return m_outputClosed; }
    // Status lines on a terminal, drawn again in place of the last ones.
    void showStatus(const QStringList& lines);
    void clearStatus();

private:
    void endBar();

    const QString m_port;
    const QString m_command;
    const bool m_json;
    const bool m_quiet;
    const bool m_terminal;
    QString m_phase;
    bool m_barShown = false;
    bool m_outputClosed = false;
    int m_statusLines = 0;
};

} // namespace CommandLine
