#pragma once

#include "core/config/moduleconfig.h"

#include <QJsonObject>
#include <QSerialPort>
#include <QString>
#include <QStringList>
#include <QVector>
#include <functional>

class QDateTime;
class QSerialPortInfo;

// What an operation on a module ends with, in the words every face uses: the
// command line's exit statuses and result objects, the station's records.
namespace Operation {

// One status per class of failure. A script can rely on them: 0 means that
// every command went out and the module accepted it.
enum Status {
    Done = 0,
    NoAnswer = 1,    // the module did not answer, or refused a command
    BadUsage = 2,    // bad usage, a refused profile, or an output that cannot be written
    Differences = 3, // the module holds other values than expected
    PortFailed = 4,  // the port could not be opened
    CutShort = 5,    // the port closed under the operation
    // A signal N ends an operation with 128 + N (130 for Ctrl+C).
};

// A problem found before or during an operation, as data: what it is, what
// it concerns and the values that say it. `text` words it without naming any
// face's controls (no flag, no button); a face that has words of its own for
// the kind (a flag to give, a field to fill) puts them in its place with
// reworded().
struct Problem
{
    enum class Kind {
        Text,             // `text` says all
        LineNeedsRestart, // `subject`: where the row is; values: the modules' new line, the station's line
        SameDevice,       // values: the first port, the second port as given, the device both name
        ModuleSilent,     // `subject`: the port; values: the line it was tried at
        NoLedger,         // `subject`: the ledger's URL as given; its schema is not created yet
        NotALedger,       // `subject`: the ledger's URL; a database that holds other tables
        NoPorts,          // a station without a fixture
        SameName,         // `subject`: a port named twice
        OutOfLimits,      // `subject`: the setting's key; values: what was given, the lowest and the highest allowed
        NoProfile,        // a station without a profile
        StationRunning,   // `subject`: a station; values: how many seconds ago it renewed its claims
        NoSuchStation,    // `subject`: a station's name; values: the names the ledger knows, listed
        BadStationName,   // `subject`: a station's name that is not one word of letters, digits, ".", "_", "-"
    };
    Kind kind = Kind::Text;
    QString subject;
    QStringList values;
    QString text;
};

// What a command, or one module of the station, ends with: its status and
// everything its result says.
struct Result
{
    int status = 0;
    QString error;              // the one line that says what went wrong; empty when done
    QStringList details;        // further lines: each refusal, the summary
    bool detailsSayAll = false; // the details say the error line by line: it is not repeated
    QJsonObject fields;         // the result object's own fields
    QString text;               // the result for people
    QVector<Problem> problems;  // what `error` and `details` word, as data
};

Result failure(int status, const QString& error);
// A refusal of what was given (bad usage, a refused profile or values)
// found before the traffic: `error` on one line, then each of `problems` on
// a line of its own and "nothing sent".
Result refusedInput(const QString& error, const QStringList& problems);
// A refusal of what was given, found before the traffic: the problems'
// texts on one line, then each on a line of its own and "nothing sent".
Result refused(const QVector<Problem>& problems);
// The problem of `kind` in the core's words.
Problem problem(Problem::Kind kind, const QString& subject, const QStringList& values = {});
// `r` with each problem's text in `error` and `details` replaced by what
// `word` gives it (an empty word keeps the core's).
Result reworded(Result r, const std::function<QString(const Problem&)>& word);

// The PC side of the serial line.
struct PortLine
{
    int baud = 115200;
    QSerialPort::Parity parity = QSerialPort::NoParity;
    QSerialPort::StopBits stopBits = QSerialPort::OneStop;

    // "115200 baud, parity none", for messages.
    QString text() const;
};
// "none", "odd", "even".
QString parityWord(QSerialPort::Parity parity);
// Every parity's word, in that order.
QStringList parityWords();
// The parity that parityWord() gives `word` for; false for any other word.
bool parityNamed(const QString& word, QSerialPort::Parity* parity);
// The line a module talks at once it holds `config`'s serial line.
PortLine lineOf(const ModuleConfig& config);
// Whether a module that takes `config` talks at another line than `line`
// after its restart.
bool changesLine(const ModuleConfig& config, const PortLine& line);

// The text, or null for none.
QJsonValue textOrNull(const QString& text);
// What the system knows of the adapter behind a port: serialNumber,
// vendorId and productId (4 hex digits), each null when unknown.
QJsonObject adapterOf(const QSerialPortInfo& info);
// "2026-12-07T10:15:02.123+01:00": local time with its offset.
QString timeWithOffset(const QDateTime& when);

} // namespace Operation
