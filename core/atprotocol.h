#pragma once

#include <QByteArray>
#include <QString>
#include <QStringList>
#include <QVector>
#include <cstdint>

// The AT command set of the converter module: building commands from editor
// values and reading the module's replies. Plain functions on plain values.
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

// Tokens by editor item; an empty string for an index outside the list.
QString modeToken(int index);       // TRANS, TPRTL, PROTOL, MODBUS, USER
QString directionToken(int index);  // UART-CAN, CAN-UART, BOTHWAY
QString filterModeToken(int index); // OFF, ETF, NTF, USER
QString frameTypeToken(int index);  // NDTF, EDTF

// Set commands. Editor texts go in as they stand, as UTF-8.
QByteArray uartCommand(const QString& baud, const QString& stop, const QString& parity);
QByteArray canCommand(uint16_t rate, const QString& id, int frameTypeIndex);
QByteArray directionCommand(int index);
QByteArray modeCommand(int index);
QByteArray msgCommand(bool idEnabled, bool infoEnabled);
QByteArray randomCommand(const QString& length, const QString& position);
QByteArray udmhtCommand(const QString& head, const QString& tail);
QByteArray canltCommand(int index);
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

// Token fields, matched as case-sensitive prefixes in a fixed order; -1 for no match.
int modeItemFromReport(const QString& rest);       // TRANS 0, TPRTL 1, MODBUS 3, PROTOL 2, USER 4
int directionItemFromReport(const QString& rest);  // BOTHWAY 2, UART-CAN 0, CAN-UART 1
int filterModeItemFromReport(const QString& rest); // OFF 0, ETF 1, NTF 2, USER 3
int frameTypeItemFromReport(const QString& rest);  // EDTF 1, NDTF 0
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
