#include "core/sequenceoutcome.h"

#include <algorithm>

QString SequenceOutcome::Command::text() const
{
    return QString::fromLatin1(bytes).trimmed();
}

bool SequenceOutcome::clean() const
{
    return end == End::Completed && refused().isEmpty() && unanswered().isEmpty();
}

QVector<SequenceOutcome::Command> SequenceOutcome::refused() const
{
    QVector<Command> out;
    std::copy_if(commands.begin(), commands.end(), std::back_inserter(out),
                 [](const Command& c) { return c.answer == Answer::Refused; });
    return out;
}

QVector<SequenceOutcome::Command> SequenceOutcome::unanswered() const
{
    QVector<Command> out;
    std::copy_if(commands.begin(), commands.end(), std::back_inserter(out),
                 [](const Command& c) { return c.answer == Answer::None; });
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
