#pragma once

#include <QJsonObject>
#include <QString>
#include <QStringList>
#include <QVector>

// The per-module values of a station: a CSV file whose header names profile
// paths (can.id, filter.list, any field path of a profile) and whose rows give each
// module its own. Fields are separated by commas, or by semicolons when the
// header has them and no comma; they may be quoted ("NDTF:7FF,EDTF:1ABC"),
// with "" for a quote inside; blank lines are skipped.
struct ValuesTable
{
    QStringList paths;
    QVector<QStringList> rows;
    QVector<int> lines;   // the line of each row in the file, for messages
    QStringList warnings; // "line 5: can.id 101 repeats line 2", one per row whose CAN ID an earlier row has

    // The overrides of row `index` (0-based): "path=value" each.
    QStringList overrides(int index) const;
    // The values of row `index` by their paths, as a report records them.
    QJsonObject values(int index) const;
    // The rows whose CAN ID, by value, one of `held` has (path "can.id" and
    // value each, with where it stands: "ledger row 4 (ids.csv line 5)"):
    // "line 3: can.id 1A1 repeats ledger row 4 (ids.csv line 5)", one per row.
    QStringList repeatsOf(const QVector<QPair<QString, QString>>& held) const;
};

// A CAN ID as repeats are found by: its value, not its spelling ("01a1" is "1A1").
QString canIdKey(const QString& id);

// Parses `text`; false with `error` naming the line and what is wrong. A
// header path that no field has is refused, and so is a row whose number of
// fields is not the header's, and a quoted field with more than blanks
// after its closing quote.
bool readValues(const QString& text, const QStringList& knownPaths, ValuesTable* table, QString* error);

// Reads the values file `path` exactly, as every file the tool reads, up to
// its size limit, with the profile's paths as the header's; false with
// `error` naming the file and, where there is one, the line.
bool loadValues(const QString& path, ValuesTable* table, QString* error);
