#pragma once

#include "core/config/moduleconfig.h"
#include "core/config/profile.h"
#include "core/session/operation.h"

#include <QString>
#include <QStringList>
#include <QVector>

// Whether a row of values may go to a module: the one rule that the values
// file's rows, a ledger's import, a ledger's claims and a station's check
// apply alike, so that a row refused in one place is refused in every other.
namespace RowRule {

// What a station gives each row: its own overrides before the row's, the
// line it talks at, and whether it restarts the modules.
struct Station
{
    QStringList overrides;
    Operation::PortLine line;
    bool restart = false;
};

struct Verdict
{
    QVector<Operation::Problem> problems; // empty: the row may go to a module
    // The serial line the modules take when it is not the station's, in
    // words; with a restart they are checked at it after their restart.
    QString newLine;
    bool ok() const { return problems.isEmpty(); }
};

// Configures `config` from `profile` with the station's overrides and then
// the row's. Refused: a value the profile's checks refuse, and a serial line
// other than the station's without a restart (a module may report a new
// line only once it restarted, so the station can check it only after a
// restart). `where` names the row in the problems ("ids.csv line 3").
Verdict check(const ProfileFile& profile, const Station& station, const QStringList& rowOverrides, const QString& where,
              ModuleConfig* config, QStringList* warnings = nullptr);

} // namespace RowRule
