#pragma once

// Inside the core only: the one table of a configuration's fields, and the
// rules and conversions of their values. The configuration (checks, written
// fields, differences) and the profile file (layout, reading, overrides) both
// work from it, so that a field is described in one place.

#include "core/config/moduleconfig.h"
#include "core/protocol/atprotocol.h"

#include <QJsonValue>
#include <QString>
#include <QVector>

namespace FieldTable {

// How a field is held in a profile and converted from an override.
enum class Kind { Number, Token, Flag, Hex, List };

struct FieldInfo
{
    ConfigField field;
    const char* group; // empty for a field at the top level
    const char* key;
    Kind kind;
    // The member that holds the field; the filter list has none of these.
    int ModuleConfig::*number = nullptr;
    bool ModuleConfig::*flag = nullptr;
    QString ModuleConfig::*text = nullptr; // the identifier digits are numbers in a profile
};

// The table's entry of a field.
const FieldInfo& info(ConfigField field);

// ---- Texts -----------------------------------------------------------------

// A number as JSON writes it: integers in decimal digits.
QString numberText(double value);
// A JSON string literal, escaped by Qt's writer.
QString quoted(const QString& text);
// A text within a message: as it is, or quoted when it is empty or holds
// blanks or control characters, so that a message stays one readable line.
QString shownText(const QString& text);
// A JSON value within a message about its type.
QString shown(const QJsonValue& value);
// Where in `text` a JSON mistake found at `offset` is, for a person with an
// editor: "line 3, column 7".
QString placeOf(const QByteArray& text, int offset);
// True when every character is a hexadecimal digit (true for an empty text).
bool allHex(const QString& text);

// ---- Rules -----------------------------------------------------------------
// Each returns an empty text when the value is sound, otherwise the message,
// which starts with `path` or the field's path.

QString numberRule(const QString& path, const QJsonValue& value, double* number);
// The rules of one field on its value as a profile holds it. `frameType` is
// the frame type the CAN ID is read with; `strict` admits upper case only.
QString checkValue(ConfigField field, const QJsonValue& value, const QString& frameType, bool strict);
// The rules of one field of a configuration as the editors hold it, upper
// case only; the identifier digits are one digit each.
QString checkField(const ModuleConfig& config, ConfigField field);

// ---- Conversions -----------------------------------------------------------

// The entries of a list in its profile form.
QVector<At::FilterEntry> filterEntries(const QJsonValue& list);
// The value of a field as a profile holds it.
QJsonValue valueOf(const ModuleConfig& c, ConfigField field);
// Stores a checked value; hexadecimal goes in upper case.
void store(ModuleConfig* c, ConfigField field, const QJsonValue& value);

} // namespace FieldTable
