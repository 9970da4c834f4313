#pragma once

#include <QByteArray>
#include <QString>
#include <QStringList>
#include <QVector>
#include <cstdint>

// The AT command set of the converter module, in the module's own words:
// building commands from its tokens and values, and reading its replies.
// Plain functions on plain values.
namespace At {

// Fixed commands and replies.
extern const QByteArray kEscape;       // "+++", no terminator
extern const QByteArray kAt;           // "AT\r\n"
extern const QByteArray kEchoOff;      // "AT+E=OFF\r\n"
extern const QByteArray kExit;         // "AT+EXAT\r\n"
extern const QByteArray kExitBare;     // "AT+EXAT", no terminator
extern const QByteArray kRestart;      // "AT+REBT\r\n"
extern const QByteArray kRestore;      // "AT+RESTORE\r\n"
extern const QByteArray kDelFilter;    // "AT+DELFILTER=EDTF,0\r\n"
extern const QByteArray kOkReply;      // "\r\n+OK\r\n\r\n"
extern const QByteArray kEchoedOk;     // "AT+E=OFF\r\n\r\n+OK\r\n\r\n"
extern const QByteArray kConfigNotice; // "\r\nAT MODE\r\n\r\n"

// The module's tokens of each kind, in the order the command set lists them.
const QStringList& modeTokens();       // TRANS, TPRTL, PROTOL, MODBUS, USER
const QStringList& directionTokens();  // UART-CAN, CAN-UART, BOTHWAY
const QStringList& filterModeTokens(); // OFF, ETF, NTF, USER
const QStringList& frameTypeTokens();  // NDTF, EDTF

// Set commands. Texts go in as they stand, as UTF-8; a token argument that
// is not one of its kind's tokens (none chosen) goes in as nothing, and the
// command is still built ("AT+MODE=" and the line end).
QByteArray uartCommand(const QString& baud, const QString& stop, const QString& parity);
QByteArray canCommand(uint16_t rate, const QString& id, const QString& frameType);
QByteArray directionCommand(const QString& direction);
QByteArray modeCommand(const QString& mode);
QByteArray msgCommand(bool idEnabled, bool infoEnabled);
QByteArray randomCommand(const QString& length, const QString& position);
QByteArray udmhtCommand(const QString& head, const QString& tail);
QByteArray canltCommand(const QString& filterMode);
QByteArray filterCommand(const QString& type, const QString& id);

// The CAN bit rate in kbit/s of an item text such as "500K": its leading
// decimal digits, 0 without any.
uint16_t canRateFromText(const QString& itemText);

// One query of the read-back: the bytes sent and the key of its report.
struct Query
{
    QByteArray command;
    QString key;
};
extern const Query kUartQuery;
extern const Query kCanQuery;
extern const Query kModeQuery;
extern const Query kMsgQuery;
extern const Query kUdmhtQuery;
extern const Query kRandomQuery;
extern const Query kDirectionQuery; // no terminator
extern const Query kCanltQuery;     // no terminator
extern const Query kFilterQuery;    // no terminator
constexpr int16_t kFilterQueryBudget = 7000;

// A reply as text: UTF-8 up to its first zero byte.
QString replyText(const QByteArray& reply);
// Whether the reply holds the report's key.
bool hasKey(const QByteArray& reply, const QString& key);
// Everything after the first occurrence of the key; empty when the key is missing.
QString reportRest(const QByteArray& reply, const QString& key);
// The rest split at every ",", empty fields kept; no fields when the key is missing.
QStringList reportFields(const QByteArray& reply, const QString& key);
// A field up to the end of its line (the first CR or LF), without the blanks
// around it: what follows the last value of a report (line ends, an OK
// reply) and a module's padding never become part of a value.
QString lineField(const QString& field);
// A hexadecimal ID as the editors write it: upper case, without leading
// zeros (a module printing fixed-width hex pads them). Text that is not
// hexadecimal comes back as it is.
QString canonicalHex(const QString& text);

// Token fields, matched as case-sensitive prefixes in a fixed order, so that
// text behind the token does no harm: the token, or empty for no match.
QString modeFromReport(const QString& rest);       // TRANS, TPRTL, MODBUS, PROTOL, USER
QString directionFromReport(const QString& rest);  // BOTHWAY, UART-CAN, CAN-UART
QString filterModeFromReport(const QString& rest); // OFF, ETF, NTF, USER
QString frameTypeFromReport(const QString& rest);  // EDTF, NDTF
// A flag field is on when its first character is "1".
bool flagOn(const QString& field);

// One entry of the module's filter listing.
struct FilterEntry
{
    QString type;
    QString id;
    bool operator==(const FilterEntry& o) const { return type == o.type && id == o.id; }
};
constexpr int kMaxListedFilters = 20;
// The number of capital letters R in a zero-terminated string, at most 20.
int countListedEntries(const char* str);
// The entries of a filter listing in listing order, at most 20: for each
// "AT+FILTER=" the rest of its line, split at its first comma, each part
// without blanks. Entries are as listed, not checked; a bare key (an empty
// list) gives an entry with an empty type and ID.
QVector<FilterEntry> parseFilterListing(const QByteArray& reply);

// 1 for a hexadecimal digit (either case), 0 otherwise.
char hexDigitFlag(char ch);

// The echo-off reply is accepted when it begins with the plain or the echoed OK reply.
bool echoOffAccepted(const QByteArray& reply);
// The configuration-mode notice anywhere in the reply up to its first zero byte.
bool hasConfigNotice(const QByteArray& reply);

// Whether a reply has ended, by what the module says last: its last line
// that holds anything, blanks trimmed, is a final line (OK, +OK, ERROR or
// +ERROR, or an error with its reason, "ERROR: ..."), and a line end follows
// it. With `noticeEnds` (the "AT" after "+++"), the configuration-mode notice
// ends it too. The echo of a command alone never does.
bool replyFinished(const QByteArray& reply, bool noticeEnds = false);

// The line with which the module refused a set command, without its blanks:
// a line that is "ERROR" or "+ERROR", or begins with "ERROR:" or "+ERROR:".
// Empty when the reply holds no such line.
QString refusal(const QByteArray& reply);

} // namespace At
