#pragma once

#include "core/session/operation.h"

#include <QByteArray>
#include <QJsonObject>
#include <QString>
#include <QStringList>
#include <cstdio>
#include <functional>

namespace CommandLine {

// The results and statuses of the core's operations, as this face names them.
using Operation::BadUsage;
using Operation::CutShort;
using Operation::Differences;
using Operation::Done;
using Operation::failure;
using Operation::NoAnswer;
using Operation::PortFailed;
using Operation::Problem;
using Operation::refusedInput;
using Operation::Result;
using Operation::textOrNull;

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
    // A list that is too long to hold, handed out an item at a time: the
    // item as an object for --json and as its text line otherwise; false
    // when it was not taken (the output failed), which ends the list.
    using Put = std::function<bool(const QJsonObject& item, const QString& line)>;
    using List = std::function<void(const Put& put)>;
    // finish() of `r` with the items of `list` under `key` (--json) or as
    // its text, written as they come, the memory of a few of them at a time.
    int finish(const Result& r, const QString& key, const List& list);
    // A core's problem in the command line's words (its flags and
    // commands); empty where the core's own words say it.
    static QString worded(const Operation::Problem& p);

    // A line on standard output; false when it could not be written.
    bool out(const QByteArray& line);
    // The status a result ends with: its own once it was written, else why it was not.
    int ended(int status, bool written);
    // The result reworded for the terminal, its error and details told on standard error.
    Result told(const Result& given);
    // The result object of --json: its fields, status, port, command and error.
    QJsonObject object(const Result& r) const;
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
