#include "core/station/rowrule.h"

namespace RowRule {

Verdict check(const ProfileFile& profile, const Station& station, const QStringList& rowOverrides, const QString& where,
              ModuleConfig* config, QStringList* warnings)
{
    Verdict v;
    QStringList problems;
    if (!profile.configure(station.overrides, rowOverrides, config, &problems, warnings, where)) {
        for (const QString& p : std::as_const(problems))
            v.problems.append(Operation::problem(Operation::Problem::Kind::Text, p));
        return v;
    }
    if (!Operation::changesLine(*config, station.line))
        return v;
    v.newLine = Operation::lineOf(*config).text();
    if (!station.restart)
        v.problems.append(
            Operation::problem(Operation::Problem::Kind::LineNeedsRestart, where, {v.newLine, station.line.text()}));
    return v;
}

} // namespace RowRule
