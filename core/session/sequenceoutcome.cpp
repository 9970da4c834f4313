#include "core/session/sequenceoutcome.h"

#include <algorithm>

QString SequenceOutcome::Command::text() const
{
    return QString::fromLatin1(bytes).trimmed();
}

QVector<SequenceOutcome::Command> SequenceOutcome::answered(Answer answer) const
{
    QVector<Command> out;
    std::copy_if(commands.begin(), commands.end(), std::back_inserter(out),
                 [answer](const Command& c) { return c.answer == answer; });
    return out;
}

const SequenceOutcome::Command* SequenceOutcome::last() const
{
    return commands.isEmpty() ? nullptr : &commands.constLast();
}

SequenceOutcome::GroupState SequenceOutcome::state(const Group& group) const
{
    const auto accepted = std::count_if(commands.begin(), commands.end(), [&](const Command& c) {
        return c.group == group.path && c.answer == Answer::Accepted;
    });
    if (accepted >= group.commands)
        return GroupState::Written;
    return accepted == 0 ? GroupState::NotWritten : GroupState::Partly;
}

QStringList SequenceOutcome::groups(GroupState wanted) const
{
    QStringList paths;
    for (const Group& g : plan) {
        if (state(g) == wanted)
            paths.append(g.path);
    }
    return paths;
}
