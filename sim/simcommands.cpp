// The simulated module's command model: what it keeps, how it answers each
// frame, and the content faults that change its replies.
#include "sim/simmodule.h"

#include <QRandomGenerator>

namespace sim {

namespace {

const char okReply[] = "\r\n+OK\r\n\r\n";
const char errorReply[] = "\r\n+ERROR\r\n\r\n";
const char plainErrorReply[] = "\r\nERROR\r\n"; // the refusal of the refuse fault, as other modules word it
const char notice[] = "\r\nAT MODE\r\n\r\n";

const qint64 serialRates[] = {600,   1200,  2400,   4800,   9600,   14400,  19200,
                              38400, 57600, 115200, 128000, 230400, 256000, 460800};
const qint64 canRates[] = {6, 10, 20, 50, 100, 120, 125, 150, 200, 250, 400, 500, 600, 750, 1000};

bool isOneOf(const QByteArray& value, std::initializer_list<const char*> tokens)
{
    for (const char* t : tokens) {
        if (value == t)
            return true;
    }
    return false;
}

// Decimal digits without sign and without leading zeros.
bool parseDecimal(const QByteArray& text, qint64* value)
{
    if (text.isEmpty() || text.size() > 9 || (text.size() > 1 && text.at(0) == '0'))
        return false;
    for (char c : text) {
        if (c < '0' || c > '9')
            return false;
    }
    *value = text.toLongLong();
    return true;
}

template <size_t N> bool parseListed(const QByteArray& text, const qint64 (&allowed)[N], qint64* value)
{
    if (!parseDecimal(text, value))
        return false;
    for (qint64 a : allowed) {
        if (a == *value)
            return true;
    }
    return false;
}

bool isUpperHex(const QByteArray& text)
{
    if (text.isEmpty())
        return false;
    for (char c : text) {
        if (!((c >= '0' && c <= '9') || (c >= 'A' && c <= 'F')))
            return false;
    }
    return true;
}

// A CAN ID of the given frame type: upper-case hexadecimal, at most 8 digits,
// within the 11-bit (NDTF) or 29-bit (EDTF) range. `normalized` drops leading zeros.
bool parseCanId(const QByteArray& text, const QByteArray& type, QString* normalized)
{
    if (!isOneOf(type, {"NDTF", "EDTF"}) || text.size() > 8 || !isUpperHex(text))
        return false;
    const quint32 limit = type == "NDTF" ? 0x7FF : 0x1FFFFFFF;
    const quint32 value = text.toUInt(nullptr, 16);
    if (value > limit)
        return false;
    *normalized = QString::number(value, 16).toUpper();
    return true;
}

// Random printable bytes without blank and '+': never a notice, an OK or a report key.
QByteArray garbageOf(int size)
{
    QByteArray out(size, Qt::Uninitialized);
    for (int i = 0; i < size; ++i) {
        char c;
        do {
            c = static_cast<char>(QRandomGenerator::global()->bounded(0x21, 0x7F));
        } while (c == '+');
        out[i] = c;
    }
    return out;
}

} // namespace

// Text that cannot be mistaken for anything the module says: no "AT", no "+OK", no "R".
QByteArray fillerText(int size)
{
    static const QByteArray line = QByteArray(62, '.') + "\r\n";
    QByteArray out;
    out.reserve(size + line.size());
    while (out.size() < size)
        out += line;
    out.truncate(size);
    return out;
}

QByteArray parityText(Parity p)
{
    switch (p) {
    case Parity::Odd:
        return "ODD";
    case Parity::Even:
        return "EVEN";
    case Parity::None:
        break;
    }
    return "NONE";
}

void SimModule::setLine(qint32 baud, Parity parity, int stopBits)
{
    m_state.baud = m_state.pendingBaud = baud;
    m_state.parity = m_state.pendingParity = parity;
    m_state.stopBits = m_state.pendingStopBits = stopBits;
}

void SimModule::restoreFactory()
{
    const int capacity = m_state.filterCapacity;
    m_state = ModuleState();
    m_state.filterCapacity = capacity;
}

QByteArray SimModule::handleFrame(const QByteArray& frame)
{
    m_cuts = Cuts();
    if (m_hook) {
        QByteArray hooked;
        if (m_hook(frame, hooked))
            return hooked;
    }
    QByteArray reply = commandReply(frame);
    if (reply.isEmpty())
        return reply;
    for (const QString& prefix : std::as_const(m_faults.silentFor)) {
        if (frame.startsWith(prefix.toLatin1()))
            return {};
    }
    if (m_faults.silent)
        return {};
    if (m_faults.garbage)
        reply = garbageOf(reply.size());
    if (m_faults.zeroByte) {
        const int at = reply.size() / 2;
        reply.insert(at, '\0');
        for (int* cut : {&m_cuts.afterEcho, &m_cuts.inLine}) {
            if (*cut > at)
                ++*cut;
        }
    }
    if (m_faults.longReply)
        reply += fillerText(64 * 1024);
    return reply;
}

QByteArray SimModule::commandReply(const QByteArray& frame)
{
    ModuleState& s = m_state;
    if (frame == "+++") {
        s.configMode = true;
        if (m_faults.noticeAfterPlus) {
            s.noticeArmed = false;
            return notice;
        }
        s.noticeArmed = true;
        return {};
    }
    if (!s.configMode)
        return {};

    // While echo is on, every answer starts with the command line as received.
    const QByteArray echo = s.echo ? frame : QByteArray();
    if (!echo.isEmpty())
        m_cuts.afterEcho = echo.size();
    const bool terminated = frame.endsWith("\r\n");
    const QByteArray line = terminated ? frame.left(frame.size() - 2) : frame;
    if (line.contains('\r') || line.contains('\n'))
        return echo + errorReply;

    if (line == "AT+EXAT") { // also accepted without line end
        s.configMode = false;
        s.noticeArmed = false;
        return echo + okReply;
    }
    if (line.startsWith("AT+") && line.endsWith('?')) { // queries, with or without line end
        int cut = -1;
        const QByteArray report = queryReport(line.mid(3, line.size() - 4), &cut);
        if (report.isEmpty())
            return echo + errorReply;
        if (cut >= 0)
            m_cuts.inLine = echo.size() + cut;
        return echo + report;
    }
    if (!terminated)
        return echo + errorReply;
    if (line == "AT") {
        if (s.noticeArmed) {
            s.noticeArmed = false;
            return echo + notice;
        }
        return echo + okReply;
    }
    if (line == "AT+REBT") {
        restart();
        return echo + okReply;
    }
    if (line == "AT+RESTORE") {
        ModuleState fresh;
        fresh.baud = s.baud;
        fresh.stopBits = s.stopBits;
        fresh.parity = s.parity;
        fresh.echo = s.echo;
        fresh.configMode = s.configMode;
        fresh.noticeArmed = s.noticeArmed;
        fresh.filterCapacity = s.filterCapacity;
        s = fresh;
        return echo + okReply;
    }
    const int eq = line.indexOf('=');
    if (!line.startsWith("AT+") || eq < 0)
        return echo + errorReply;
    const QByteArray name = line.mid(3, eq - 3);
    const QList<QByteArray> args = line.mid(eq + 1).split(',');
    if (m_faults.refuse.contains(QString::fromLatin1(name)))
        return echo + plainErrorReply;
    if (m_faults.keepSettings.contains(QString::fromLatin1(name))) {
        // Checked and acknowledged as usual, but the old value stays.
        const ModuleState kept = s;
        const bool ok = applySetting(name, args);
        s = kept;
        return echo + (ok ? okReply : errorReply);
    }
    const bool ok = applySetting(name, args);
    return echo + (ok ? okReply : errorReply);
}

void SimModule::restart()
{
    ModuleState& s = m_state;
    s.baud = s.pendingBaud;
    s.stopBits = s.pendingStopBits;
    s.parity = s.pendingParity;
    s.configMode = false;
    s.echo = true;
    s.noticeArmed = false;
    m_restartRequested = true;
}

// Validates every argument before anything is changed.
bool SimModule::applySetting(const QByteArray& name, const QList<QByteArray>& args)
{
    ModuleState& s = m_state;
    auto count = [&](int n) { return args.size() == n; };
    auto token = [&](int i, std::initializer_list<const char*> tokens) { return isOneOf(args.at(i), tokens); };

    if (name == "E") {
        if (!count(1) || !token(0, {"ON", "OFF"}))
            return false;
        s.echo = args.at(0) == "ON";
        return true;
    }
    if (name == "UART") {
        qint64 baud = 0;
        if (!count(5) || !parseListed(args.at(0), serialRates, &baud) || args.at(1) != "8" || !token(2, {"1", "2"}) ||
            !token(3, {"NONE", "ODD", "EVEN"}) || args.at(4) != "NFC")
            return false;
        s.pendingBaud = static_cast<qint32>(baud);
        s.pendingStopBits = args.at(2).toInt();
        s.pendingParity = args.at(3) == "ODD" ? Parity::Odd : args.at(3) == "EVEN" ? Parity::Even : Parity::None;
        return true;
    }
    if (name == "CAN") {
        qint64 rate = 0;
        QString id;
        if (!count(3) || !parseListed(args.at(0), canRates, &rate) || !parseCanId(args.at(1), args.at(2), &id))
            return false;
        s.canRate = static_cast<int>(rate);
        s.canId = id;
        s.frameType = QString::fromLatin1(args.at(2));
        return true;
    }
    if (name == "DIRECTION") {
        if (!count(1) || !token(0, {"UART-CAN", "CAN-UART", "BOTHWAY"}))
            return false;
        s.direction = QString::fromLatin1(args.at(0));
        return true;
    }
    if (name == "MODE") {
        if (!count(1) || !token(0, {"TRANS", "TPRTL", "PROTOL", "MODBUS", "USER"}))
            return false;
        s.mode = QString::fromLatin1(args.at(0));
        return true;
    }
    if (name == "MSG") {
        if (!count(2) || !token(0, {"0", "1"}) || !token(1, {"0", "1"}))
            return false;
        s.msgId = args.at(0) == "1";
        s.msgInfo = args.at(1) == "1";
        return true;
    }
    if (name == "RANDOM") {
        if (!count(2) || !token(0, {"0", "1", "2", "3", "4"}) || !token(1, {"0", "1", "2", "3", "4", "5", "6", "7"}))
            return false;
        s.idLength = QString::fromLatin1(args.at(0));
        s.idPosition = QString::fromLatin1(args.at(1));
        return true;
    }
    if (name == "UDMHT") {
        if (!count(2) || args.at(0).size() != 2 || args.at(1).size() != 2 || !isUpperHex(args.at(0)) ||
            !isUpperHex(args.at(1)))
            return false;
        s.userHead = QString::fromLatin1(args.at(0));
        s.userTail = QString::fromLatin1(args.at(1));
        return true;
    }
    if (name == "CANLT") {
        if (!count(1) || !token(0, {"OFF", "ETF", "NTF", "USER"}))
            return false;
        s.filterMode = QString::fromLatin1(args.at(0));
        return true;
    }
    if (name == "DELFILTER" || name == "FILTER") {
        QString id;
        if (!count(2) || !parseCanId(args.at(1), args.at(0), &id))
            return false;
        const Filter entry{QString::fromLatin1(args.at(0)), id};
        if (name == "FILTER") {
            if (s.filters.size() >= s.filterCapacity)
                return false;
            s.filters.append(entry);
            return true;
        }
        if (entry == Filter{QStringLiteral("EDTF"), QStringLiteral("0")}) { // empties the whole list
            s.filters.clear();
            return true;
        }
        const int at = s.filters.indexOf(entry);
        if (at < 0)
            return false;
        s.filters.remove(at);
        return true;
    }
    return false;
}

// The report of a query, from the line end before the key to the OK reply;
// empty for an unknown query.
QByteArray SimModule::queryReport(const QByteArray& name, int* cut) const
{
    const ModuleState& s = m_state;
    *cut = -1;
    const QByteArray extra = m_faults.extraAfterValues.toLatin1();
    const QString comma = m_faults.blankAfterComma ? QStringLiteral(", ") : QStringLiteral(",");
    auto id = [&](const QString& hex) { return m_faults.padIds ? hex.rightJustified(8, QLatin1Char('0')) : hex; };
    auto report = [&](const QStringList& fields) {
        const QByteArray head = "\r\nAT+" + name + "=";
        const QByteArray values = fields.join(comma).toLatin1();
        *cut = head.size() + values.size() / 2;
        return head + values + extra + "\r\n" + okReply;
    };
    auto flag = [](bool on) { return on ? QStringLiteral("1") : QStringLiteral("0"); };

    if (name == "UART") {
        const bool pending = m_faults.reportsNewLineAtOnce;
        return report({QString::number(pending ? s.pendingBaud : s.baud), QStringLiteral("8"),
                       QString::number(pending ? s.pendingStopBits : s.stopBits),
                       QString::fromLatin1(parityText(pending ? s.pendingParity : s.parity)), QStringLiteral("NFC")});
    }
    if (name == "CAN")
        return report({QString::number(s.canRate), id(s.canId), s.frameType});
    if (name == "MODE")
        return report({s.mode});
    if (name == "MSG")
        return report({flag(s.msgId), flag(s.msgInfo)});
    if (name == "UDMHT")
        return report({s.userHead, s.userTail});
    if (name == "RANDOM")
        return report({s.idLength, s.idPosition});
    if (name == "DIRECTION")
        return report({s.direction});
    if (name == "CANLT")
        return report({s.filterMode});
    if (name == "FILTER") {
        // The cut falls in the middle of the first entry's ID, or after the bare key.
        QByteArray out = "\r\n";
        for (const Filter& f : s.filters) {
            const QByteArray head = "AT+FILTER=" + (f.type + comma).toLatin1();
            const QByteArray hex = id(f.id).toLatin1();
            if (*cut < 0)
                *cut = out.size() + head.size() + hex.size() / 2;
            out += head + hex + extra + "\r\n";
        }
        if (s.filters.isEmpty() && m_faults.bareEmptyList) {
            *cut = out.size() + int(qstrlen("AT+FILTER="));
            out += "AT+FILTER=" + extra + "\r\n";
        }
        return out + okReply;
    }
    return {};
}

} // namespace sim
