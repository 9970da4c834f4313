#pragma once

#include "core/protocol/atprotocol.h"

#include <QFlags>
#include <QString>
#include <QStringList>
#include <QVector>

// One configuration of a converter module: everything the read-back fills
// and the write sends. Values are the module's own words and digits, as the
// editors show them; a value may be outside the editors' rules (a half-typed
// editor, an odd report) until checkConfig() says otherwise.
struct ModuleConfig
{
    // The module's own serial line.
    int baud = 115200;          // one of the 14 rates of baud_485
    int stopBits = 1;           // 1 or 2
    QString parity = "NONE";    // NONE, ODD, EVEN
    int canRateKbit = 250;      // one of the 15 CAN rates, in kbit/s
    QString frameType = "NDTF"; // NDTF (standard frame) or EDTF (extended frame)
    QString canId = "0";        // hexadecimal
    QString mode = "TRANS";     // TRANS, TPRTL, PROTOL, MODBUS, USER
    bool frameId = false;       // transparent mode: AT+MSG first flag
    bool frameInfo = false;     // transparent mode: AT+MSG second flag
    QString head = "A5";        // custom protocol: two hexadecimal digits
    QString tail = "5A";
    QString idLength = "2";           // transparent with identifier: one digit 0 to 4
    QString idPosition = "0";         // one digit 0 to 7
    QString direction = "BOTHWAY";    // UART-CAN, CAN-UART, BOTHWAY
    QString filterMode = "OFF";       // OFF, ETF, NTF, USER
    QVector<At::FilterEntry> filters; // at most 14; written in USER mode only

    bool operator==(const ModuleConfig& o) const;
    bool operator!=(const ModuleConfig& o) const { return !(*this == o); }
};

// The fields of a configuration, each named by its dotted path in a profile.
enum class ConfigField : quint32 {
    SerialBaud = 1u << 0,     // serial.baud
    SerialStopBits = 1u << 1, // serial.stopBits
    SerialParity = 1u << 2,   // serial.parity
    CanRate = 1u << 3,        // can.rateKbit
    CanFrameType = 1u << 4,   // can.frameType
    CanId = 1u << 5,          // can.id
    Mode = 1u << 6,           // mode
    FrameId = 1u << 7,        // transparent.frameId
    FrameInfo = 1u << 8,      // transparent.frameInfo
    Head = 1u << 9,           // custom.head
    Tail = 1u << 10,          // custom.tail
    IdLength = 1u << 11,      // identifier.length
    IdPosition = 1u << 12,    // identifier.position
    Direction = 1u << 13,     // direction
    FilterMode = 1u << 14,    // filter.mode
    FilterList = 1u << 15,    // filter.list
};
Q_DECLARE_FLAGS(ConfigFields, ConfigField)
Q_DECLARE_OPERATORS_FOR_FLAGS(ConfigFields)

namespace Config {

// Every field, in profile order.
const QVector<ConfigField>& allFields();
ConfigFields everyField();
// "can.id" and so on.
QString fieldPath(ConfigField field);
// The paths of every field, in profile order.
QStringList fieldPaths();

// The values the editors offer.
const QVector<int>& baudRates();    // 600 ... 460800, the 14 items of baud_485
const QVector<int>& canRatesKbit(); // 6 ... 1000, the 15 items of Box_can_baud
constexpr int kMaxFilters = 14;

// Checks every field with the editors' rules. Empty when the configuration is
// sound; otherwise one line naming the first field that is not and what is
// allowed, e.g. "can.id: 800 is above 7FF for a standard frame".
QString check(const ModuleConfig& config);

// The fields a write of `config` sends: every field, but the sub-parameters
// only of its mode (TRANS: transparent.*, TPRTL: identifier.*, USER:
// custom.*) and the filter list only in filter mode USER.
ConfigFields writtenFields(const ModuleConfig& config);

// A field in which the module holds another value than expected; both values
// as a profile shows them (a list as "TYPE:ID ..." or "none").
struct Difference
{
    ConfigField field;
    QString expected;
    QString module;

    // "can.id: wrote 1A0, module has 7FF" for what a write sent, "can.id:
    // profile has 1A0, module has 7FF" otherwise; the serial line's fields
    // add that a new line takes effect when the module restarts.
    QString text(bool written = true) const;
};

// The fields a write of `expected` sends in which `module` differs from it.
// IDs compare by value (07FF is 7FF).
QVector<Difference> compare(const ModuleConfig& expected, const ModuleConfig& module);
// compare() as lines of text.
QStringList differences(const ModuleConfig& wrote, const ModuleConfig& module);

} // namespace Config
