#pragma once

#include "core/protocol/configreading.h"
#include "core/session/sequenceoutcome.h"

#include <QByteArray>
#include <QList>
#include <QObject>
#include <QSerialPort>
#include <QString>
#include <cstdint>
#include <functional>

class SerialSocket;

// The conversation with one converter module over the process's serial port:
// the command exchange (pause, log, send and wait) and every sequence built on
// it: the read-back, the writes, leaving the configuration state, restart,
// restore and the baud-rate search. Widget-free: the window and the command
// line drive the same sequences and only present what the signals report.
// All signals are emitted synchronously from inside the running sequence.
class ModuleSession : public QObject
{
    Q_OBJECT

public:
    // What a face must tell its user.
    enum class Failure {
        NoAnswer,        // the module did not accept echo-off: it is not listening
        EmptyFilterList, // USER filter mode without any entry to write
        InvalidPort,     // the search was given no port name
        OpenFailed,      // the search could not open the port
    };
    Q_ENUM(Failure)

    // The configuration to write, asked for right before each command goes
    // out, so that a sequence always sends what the editors hold at that moment.
    using ConfigSource = std::function<ModuleConfig()>;
    static ConfigSource fixed(const ModuleConfig& config);

    // The line settings the search found.
    struct Line
    {
        int baud = 0;
        QSerialPort::Parity parity = QSerialPort::NoParity;
    };

    // `port` is the process's one serial port (not owned).
    explicit ModuleSession(SerialSocket* port, QObject* parent = nullptr);

    // The exchange. send() writes without waiting; query() pauses 100 ms,
    // logs, sends and waits within `budget`, logs the reply and says whether
    // one came; queryWithoutPause() neither pauses nor logs the command.
    void send(const QByteArray& command);
    bool query(const QByteArray& command, int16_t budget);
    bool queryWithoutPause(const QByteArray& command, int16_t budget);
    // The reply of the last exchange.
    QByteArray reply() const;

    // "+++", the notice check and echo-off: true when the module is listening
    // in its configuration state, else Failure::NoAnswer was reported.
    bool enterConfiguration();
    // "+++" and "AT": true when the module answers anything within about a
    // second (a station asks so whether a module is still there).
    bool probe();
    // enterConfiguration(), then every parameter group in order; groupRead()
    // reports each answered group as it arrives. `result` gets all that was read.
    bool readBack(ConfigReading* result = nullptr);
    // The parameter groups alone, of a module already in its configuration
    // state with its echo off (after a write, to verify it).
    bool readGroups(ConfigReading* result = nullptr);

    // The writes, each exactly one module command and its sub-parameter
    // command, as the editors' write buttons send them.
    void writeSerialLine(const ConfigSource& source);
    void writeCan(const ConfigSource& source);
    void writeDirection(const ConfigSource& source);
    void writeMode(const ConfigSource& source); // the mode, then its sub-parameters
    void writeFlags(const ConfigSource& source);
    void writeIdentifier(const ConfigSource& source);
    void writeCustom(const ConfigSource& source);
    void writeFilterMode(const ConfigSource& source);
    // The filter mode, the emptying of the module's list, then in USER mode
    // every entry. Entries removed while the list is written end it.
    void writeFilterList(const ConfigSource& source);
    // Empties the module's filter list.
    void clearFilterList();
    // Everything, in the module's order: serial line, direction, mode,
    // filter mode and list, CAN, with 300 ms between the steps.
    void writeAll(const ConfigSource& source);
    // The groups writeAll() writes for `config`, in order, with their commands.
    static QVector<SequenceOutcome::Group> writePlan(const ModuleConfig& config);

    void leaveConfiguration();
    void restart();
    void restore(); // restore, a 500 ms pause that processes no events, restart

    // Tries every baud rate and parity on `portName` until the module
    // announces its configuration state. 1 found (`found` set), 0 nothing
    // found, -1 stopped on an error (reported as a failure). Leaves the port closed.
    int searchBaudRate(const QString& portName, Line* found = nullptr);
    // The search's attempts, in order.
    static QList<Line> searchSchedule();

    // Paces the sequences by the module's replies instead of the fixed pauses
    // and polls: a reply ends as soon as it ends with a final line, and the
    // next command follows after a quiet gap of 10 character times (at least
    // 5 ms). Same commands, same order, same judgements; the guard times
    // after "+++" and before the restart of a restore stay. Off by default.
    void setFastExchange(bool fast);
    bool fastExchange() const { return m_fast; }

    // How the running or last sequence went: how it ended, and what became
    // of each command that went out. A reply to a set command that holds an
    // error line is a refusal; the sequence goes on after it all the same.
    const SequenceOutcome& outcome() const { return m_outcome; }

    // Ends the running sequence: the exchange in progress finishes within its
    // budget, nothing more is sent, and the log says it was stopped. The
    // search ends after the attempt it is making. A sequence also ends when
    // its port closes under it (a module that vanished, the user's close),
    // and one that begins on a closed port sends nothing.
    void stop();
    // Whether the running or last sequence was stopped or cut short so.
    bool wasStopped() const { return m_outcome.end != SequenceOutcome::End::Completed; }

signals:
    // A log entry: 1 bytes sent, 2 bytes received, 3 a message.
    void logEntry(const QByteArray& data, int flag);
    // A group of the read-back was answered; `reading` holds what it said.
    void groupRead(const ConfigReading& reading);
    void failed(ModuleSession::Failure failure);
    // Step `step` of `steps` of the running sequence has begun.
    void progress(int step, int steps, const QString& what);
    // The search tries a new baud rate.
    void searchRateTried(int baud);
    // The search found the module: emitted before the port is closed.
    void searchFound(const ModuleSession::Line& line);

private:
    // Counts the steps of a sequence and keeps its outcome.
    class Sequence;
    using Plan = QVector<SequenceOutcome::Group>;
    static int stepsOf(const Plan& plan);
    // A command of a sequence: the pause, then, unless the sequence has
    // ended, the command goes out as the next step. `group` is the profile
    // path of what a set command writes; `judged` set commands have their
    // reply judged (accepted, refused, none).
    // `noticeEnds`: the configuration-mode notice ends the reply (the "AT" after "+++").
    bool exchange(const QByteArray& command, int16_t budget, const QString& group = QString(), bool judged = false,
                  bool noticeEnds = false);
    bool write(const QByteArray& command, int16_t budget, const QString& group = QString());
    // The one set command of a group, as a sequence of its own.
    void writeGroup(ConfigGroup group, const ConfigSource& source);
    // Writes without waiting, as a step of the sequence.
    void sendStep(const QByteArray& command);
    // "+++", the guard time the module needs after it, then "AT": whether it answered.
    bool escapeAndAt();
    // Records a command that is about to go out and reports it as progress;
    // false when it cannot go out (the sequence has ended, or the port is closed).
    bool goesOut(const QByteArray& command, const QString& group, bool judged);
    // True once the running sequence is to end; pause() then returns at once.
    bool aborted() const;
    // !aborted(); on the first abort, notes how the sequence ended.
    bool goOn();
    // The pause before a command or between steps: `ms`, or the quiet gap of the fast pace.
    void pause(int ms);
    // A guard time the module needs, whatever the pace.
    void guard(int ms);
    // The fast pace's quiet between a reply and the next command.
    int quietGap() const;

    SerialSocket* m_port;
    SequenceOutcome m_outcome;
    int m_depth = 0; // sequences running inside one another
    bool m_stopRequested = false;
    bool m_needsPort = false; // the sequence ends when the port is not open
    bool m_ended = false;     // the running sequence has ended early
    bool m_fast = false;
};
