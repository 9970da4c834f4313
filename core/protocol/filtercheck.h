#pragma once

#include <QString>

// Checks of the filter table's cells. A filter is a frame type, "NDTF"
// (standard, ID up to 7FF) or "EDTF" (extended, ID up to 1FFFFFFF), and a
// hexadecimal CAN ID.
namespace FilterCheck {

constexpr int kMaxRows = 14;

// Exactly "NDTF" or "EDTF", case-sensitive.
bool typeValid(const QString& type);

enum class IdVerdict { Accepted, Unchecked, Wrong };

// The ID of a row of type `type`: too long, a character that is not a hex
// digit (either case) or a value above the type's limit make it wrong; an
// empty ID is 0. A row of neither type is not checked.
IdVerdict checkId(const QString& type, const QString& id);

// Why checkId() found an ID wrong: more digits than its type takes, a
// character that is no hex digit, a value above the type's limit.
enum class IdFault { None, TooLong, NotHex, AboveLimit };
IdFault idFault(const QString& type, const QString& id);
// The highest ID of a type, "7FF" or "1FFFFFFF".
QString maxId(const QString& type);

// What a wrong ID is replaced by: "0" for a standard row, "800" for an extended one.
QString defaultId(const QString& type);

} // namespace FilterCheck
