#pragma once

#include <QHash>
#include <QJsonObject>
#include <QString>
#include <QStringList>
#include <QVector>
#include <functional>

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

// The fields of many rows, kept as what a row needs and no more: the UTF-8
// bytes of its fields one after another in one block, and its line. A
// station holds every row of a big order this way, and makes a row's
// configuration and values again when a module takes it.
class ValueRows
{
public:
    void append(const QStringList& fields, int line);
    int size() const { return int(m_lines.size()); }
    int line(int row) const { return m_lines.at(row); }
    QStringList fields(int row) const;
    void squeeze();

private:
    QByteArray m_data;     // each field: its length (7 bits a byte, the last byte below 0x80), then its bytes
    QVector<int> m_starts; // where each row's first field begins in m_data
    QVector<int> m_lines;
};

// Finds CAN IDs that an earlier one has, by value, without keeping their
// texts: an ID of up to 8 hexadecimal digits is kept as its number.
class IdRepeats
{
public:
    // `tag` stands for where `id` is (a line, a row); the tag of the first
    // ID with the same value, or -1 when none had it. Empty IDs are no ID.
    int add(const QString& id, int tag);

private:
    QHash<quint32, int> m_numbers;
    QHash<QString, int> m_others;
};

// A CAN ID as repeats are found by: its value, not its spelling ("01a1" is "1A1").
QString canIdKey(const QString& id);

// Parses `text`; false with `error` naming the line and what is wrong. A
// header path that no field has is refused, and so is a row whose number of
// fields is not the header's, and a quoted field with more than blanks
// after its closing quote.
bool readValues(const QString& text, const QStringList& knownPaths, ValuesTable* table, QString* error);

// Reads `text` as readValues() does, handing each row's fields and line to
// `row` as it comes instead of keeping them; the header's paths go to
// `paths`, the warnings of repeated CAN IDs to `warnings`.
bool readValueRows(const QString& text, const QStringList& knownPaths, QStringList* paths,
                   const std::function<void(const QStringList& fields, int line)>& row, QStringList* warnings,
                   QString* error);

// Reads the values file `path` exactly, as every file the tool reads, up to
// its size limit, with the profile's paths as the header's; false with
// `error` naming the file and, where there is one, the line.
bool loadValues(const QString& path, ValuesTable* table, QString* error);
// The same into `rows`, which a big file takes a small part of the memory of a ValuesTable in.
bool loadValueRows(const QString& path, QStringList* paths, ValueRows* rows, QStringList* warnings, QString* error);
