#include "core/protocol/atprotocol.h"

namespace At {

const QByteArray kEscape = QByteArrayLiteral("+++");
const QByteArray kAt = QByteArrayLiteral("AT\r\n");
const QByteArray kEchoOff = QByteArrayLiteral("AT+E=OFF\r\n");
const QByteArray kExit = QByteArrayLiteral("AT+EXAT\r\n");
const QByteArray kExitBare = QByteArrayLiteral("AT+EXAT");
const QByteArray kRestart = QByteArrayLiteral("AT+REBT\r\n");
const QByteArray kRestore = QByteArrayLiteral("AT+RESTORE\r\n");
const QByteArray kDelFilter = QByteArrayLiteral("AT+DELFILTER=EDTF,0\r\n");
const QByteArray kOkReply = QByteArrayLiteral("\r\n+OK\r\n\r\n");
const QByteArray kEchoedOk = QByteArrayLiteral("AT+E=OFF\r\n\r\n+OK\r\n\r\n");
const QByteArray kConfigNotice = QByteArrayLiteral("\r\nAT MODE\r\n\r\n");

const Query kUartQuery{QByteArrayLiteral("AT+UART?\r\n"), QStringLiteral("AT+UART=")};
const Query kCanQuery{QByteArrayLiteral("AT+CAN?\r\n"), QStringLiteral("AT+CAN=")};
const Query kModeQuery{QByteArrayLiteral("AT+MODE?\r\n"), QStringLiteral("AT+MODE=")};
const Query kMsgQuery{QByteArrayLiteral("AT+MSG?\r\n"), QStringLiteral("AT+MSG=")};
const Query kUdmhtQuery{QByteArrayLiteral("AT+UDMHT?\r\n"), QStringLiteral("AT+UDMHT=")};
const Query kRandomQuery{QByteArrayLiteral("AT+RANDOM?\r\n"), QStringLiteral("AT+RANDOM=")};
const Query kDirectionQuery{QByteArrayLiteral("AT+DIRECTION?"), QStringLiteral("AT+DIRECTION=")};
const Query kCanltQuery{QByteArrayLiteral("AT+CANLT?"), QStringLiteral("AT+CANLT=")};
const Query kFilterQuery{QByteArrayLiteral("AT+FILTER?"), QStringLiteral("AT+FILTER=")};

namespace {

// The first token (in test order) that prefixes `rest`; empty for none.
QString tokenByPrefix(const QString& rest, const QStringList& testOrder)
{
    for (const QString& token : testOrder) {
        if (rest.startsWith(token))
            return token;
    }
    return QString();
}

// The token as a command's argument: nothing when it is none of its kind's.
QString argument(const QString& token, const QStringList& tokens)
{
    return tokens.contains(token) ? token : QString();
}

QByteArray setCommand(const char* name, const QStringList& args)
{
    QByteArray cmd = QByteArrayLiteral("AT+");
    cmd += name;
    cmd += '=';
    cmd += args.join(QLatin1Char(',')).toUtf8();
    cmd += "\r\n";
    return cmd;
}

} // namespace

const QStringList& modeTokens()
{
    static const QStringList tokens{"TRANS", "TPRTL", "PROTOL", "MODBUS", "USER"};
    return tokens;
}

const QStringList& directionTokens()
{
    static const QStringList tokens{"UART-CAN", "CAN-UART", "BOTHWAY"};
    return tokens;
}

const QStringList& filterModeTokens()
{
    static const QStringList tokens{"OFF", "ETF", "NTF", "USER"};
    return tokens;
}

const QStringList& frameTypeTokens()
{
    static const QStringList tokens{"NDTF", "EDTF"};
    return tokens;
}

QByteArray uartCommand(const QString& baud, const QString& stop, const QString& parity)
{
    return setCommand("UART", {baud, QStringLiteral("8"), stop, parity, QStringLiteral("NFC")});
}

QByteArray canCommand(uint16_t rate, const QString& id, const QString& frameType)
{
    return setCommand("CAN", {QString::number(rate), id.isEmpty() ? QStringLiteral("0") : id,
                              argument(frameType, frameTypeTokens())});
}

QByteArray directionCommand(const QString& direction)
{
    return setCommand("DIRECTION", {argument(direction, directionTokens())});
}

QByteArray modeCommand(const QString& mode)
{
    return setCommand("MODE", {argument(mode, modeTokens())});
}

QByteArray msgCommand(bool idEnabled, bool infoEnabled)
{
    return setCommand("MSG", {idEnabled ? QStringLiteral("1") : QStringLiteral("0"),
                              infoEnabled ? QStringLiteral("1") : QStringLiteral("0")});
}

QByteArray randomCommand(const QString& length, const QString& position)
{
    return setCommand("RANDOM", {length, position});
}

QByteArray udmhtCommand(const QString& head, const QString& tail)
{
    return setCommand("UDMHT", {head, tail});
}

QByteArray canltCommand(const QString& filterMode)
{
    return setCommand("CANLT", {argument(filterMode, filterModeTokens())});
}

QByteArray filterCommand(const QString& type, const QString& id)
{
    return setCommand("FILTER", {type, id});
}

uint16_t canRateFromText(const QString& itemText)
{
    uint16_t value = 0;
    for (const char c : itemText.toLatin1()) {
        if (c < '0' || c > '9')
            break;
        value = uint16_t(value * 10 + (c - '0'));
    }
    return value;
}

QString replyText(const QByteArray& reply)
{
    const int zero = reply.indexOf('\0');
    return QString::fromUtf8(reply.constData(), zero < 0 ? reply.size() : zero);
}

bool hasKey(const QByteArray& reply, const QString& key)
{
    return replyText(reply).contains(key);
}

QString reportRest(const QByteArray& reply, const QString& key)
{
    const QString text = replyText(reply);
    const int at = text.indexOf(key);
    return at < 0 ? QString() : text.mid(at + key.size());
}

QStringList reportFields(const QByteArray& reply, const QString& key)
{
    if (!hasKey(reply, key))
        return {};
    return reportRest(reply, key).split(QLatin1Char(','));
}

QString lineField(const QString& field)
{
    int end = 0;
    while (end < field.size() && field.at(end) != QLatin1Char('\r') && field.at(end) != QLatin1Char('\n'))
        ++end;
    // Blanks around the value are not part of it: modules pad their fields.
    const auto blank = [](QChar c) { return c == QLatin1Char(' ') || c == QLatin1Char('\t'); };
    while (end > 0 && blank(field.at(end - 1)))
        --end;
    int begin = 0;
    while (begin < end && blank(field.at(begin)))
        ++begin;
    return field.mid(begin, end - begin);
}

QString canonicalHex(const QString& text)
{
    if (text.isEmpty())
        return text;
    for (const QChar c : text) {
        if (c.unicode() > 127 || !hexDigitFlag(char(c.unicode())))
            return text;
    }
    int zeros = 0;
    while (zeros < text.size() - 1 && text.at(zeros) == QLatin1Char('0'))
        ++zeros;
    return text.mid(zeros).toUpper();
}

QString modeFromReport(const QString& rest)
{
    return tokenByPrefix(rest, {"TRANS", "TPRTL", "MODBUS", "PROTOL", "USER"});
}

QString directionFromReport(const QString& rest)
{
    return tokenByPrefix(rest, {"BOTHWAY", "UART-CAN", "CAN-UART"});
}

QString filterModeFromReport(const QString& rest)
{
    return tokenByPrefix(rest, {"OFF", "ETF", "NTF", "USER"});
}

QString frameTypeFromReport(const QString& rest)
{
    return tokenByPrefix(rest, {"EDTF", "NDTF"});
}

bool flagOn(const QString& field)
{
    return field.startsWith(QLatin1Char('1'));
}

int countListedEntries(const char* str)
{
    int count = 0;
    for (const char* p = str; p && *p; ++p) {
        if (*p == 'R')
            ++count;
    }
    return qMin(count, kMaxListedFilters);
}

QVector<FilterEntry> parseFilterListing(const QByteArray& reply)
{
    static const QString key = QStringLiteral("AT+FILTER=");
    const QString text = replyText(reply);
    QVector<FilterEntry> entries;
    for (int at = text.indexOf(key); at >= 0 && entries.size() < kMaxListedFilters; at = text.indexOf(key, at + 1)) {
        // An entry is the rest of its line: the type, a comma, the ID.
        const QString entry = lineField(text.mid(at + key.size()));
        const int comma = entry.indexOf(QLatin1Char(','));
        entries.append({lineField(entry.left(comma < 0 ? entry.size() : comma)),
                        comma < 0 ? QString() : lineField(entry.mid(comma + 1))});
    }
    return entries;
}

char hexDigitFlag(char ch)
{
    return ((ch >= '0' && ch <= '9') || (ch >= 'A' && ch <= 'F') || (ch >= 'a' && ch <= 'f')) ? 1 : 0;
}

bool echoOffAccepted(const QByteArray& reply)
{
    return reply.startsWith(kOkReply) || reply.startsWith(kEchoedOk);
}

bool hasConfigNotice(const QByteArray& reply)
{
    const int zero = reply.indexOf('\0');
    return (zero < 0 ? reply : reply.left(zero)).contains(kConfigNotice);
}

namespace {

bool isErrorLine(const QString& line)
{
    return line == QLatin1String("ERROR") || line == QLatin1String("+ERROR") ||
           line.startsWith(QLatin1String("ERROR:")) || line.startsWith(QLatin1String("+ERROR:"));
}

} // namespace

bool replyFinished(const QByteArray& reply, bool noticeEnds)
{
    if (noticeEnds && hasConfigNotice(reply))
        return true;
    if (!reply.endsWith('\n') && !reply.endsWith('\r'))
        return false;
    QString text = replyText(reply);
    text.replace(QLatin1Char('\r'), QLatin1Char('\n'));
    const QStringList lines = text.split(QLatin1Char('\n'), Qt::SkipEmptyParts);
    for (auto line = lines.crbegin(); line != lines.crend(); ++line) {
        const QString trimmed = line->trimmed();
        if (trimmed.isEmpty())
            continue;
        return trimmed == QLatin1String("OK") || trimmed == QLatin1String("+OK") || isErrorLine(trimmed);
    }
    return false;
}

QString refusal(const QByteArray& reply)
{
    QString text = replyText(reply);
    text.replace(QLatin1Char('\r'), QLatin1Char('\n'));
    for (const QString& raw : text.split(QLatin1Char('\n'))) {
        const QString line = raw.trimmed();
        if (isErrorLine(line))
            return line;
    }
    return QString();
}

} // namespace At
