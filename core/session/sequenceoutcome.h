#pragma once

#include <QByteArray>
#include <QString>
#include <QStringList>
#include <QVector>

// How a sequence of the module session went: how it ended, and for every
// command that went out whether the module accepted it, refused it or left
// it unanswered. Both faces report from it: the window's boxes and status
// bar, the command line's exit status and summary.
struct SequenceOutcome
{
    enum class End {
        Completed,  // ran to its end (the module may still have refused or ignored commands)
        Stopped,    // stopped by the user or a signal: nothing more was sent
        PortClosed, // the port closed under it (the module vanished, the port was closed)
    };

    // What became of one command that went out.
    enum class Answer {
        NotJudged, // the escape or a query: its reply is read, not judged
        Accepted,  // answered, and not refused
        Refused,   // answered with an error line
        None,      // no answer within its budget
        Cut,       // the port closed before the answer came
    };

    struct Command
    {
        QByteArray bytes; // as sent
        QString group;    // the profile path of the group it writes; empty for other commands
        int step = 0;     // its step within the sequence, from 1
        Answer answer = Answer::NotJudged;
        QString refusal; // the module's refusing line

        // The command without its line end, as messages name it.
        QString text() const;
    };

    // A group of the configuration that the sequence writes, and how many
    // commands write it.
    struct Group
    {
        QString path; // "serial", "filter.list", ...
        int commands = 0;
    };

    enum class GroupState { Written, Partly, NotWritten };

    End end = End::Completed;
    int steps = 0;             // the steps the sequence planned
    QVector<Group> plan;       // the groups it writes, in order
    QVector<Command> commands; // every command that went out, in order

    // The commands the module refused, and those it did not answer.
    QVector<Command> refused() const { return answered(Answer::Refused); }
    QVector<Command> unanswered() const { return answered(Answer::None); }
    QVector<Command> answered(Answer answer) const;
    // The last command that went out; null when none did.
    const Command* last() const;

    // Written: every command of the group went out and was accepted; not
    // written: none was accepted; partly: some were.
    GroupState state(const Group& group) const;
    // The planned groups in that state, by their paths.
    QStringList groups(GroupState state) const;
};
