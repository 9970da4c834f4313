#include "sim/simmodule.h"

#include <QDir>
#include <QFile>
#include <QRandomGenerator>
#include <QSocketNotifier>
#include <QStandardPaths>
#include <QTimer>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <pty.h>
#include <termios.h>
#include <unistd.h>
#include <utility>

namespace sim {

namespace {

const char okReply[] = "\r\n+OK\r\n\r\n";
const char errorReply[] = "\r\n+ERROR\r\n\r\n";
const char plainErrorReply[] = "\r\nERROR\r\n"; // the refusal of the refuse fault, as other modules word it
const char notice[] = "\r\nAT MODE\r\n\r\n";

const qint64 serialRates[] = {600,   1200,  2400,   4800,   9600,   14400,  19200,
                              38400, 57600, 115200, 128000, 230400, 256000, 460800};
const qint64 canRates[] = {6, 10, 20, 50, 100, 120, 125, 150, 200, 250, 400, 500, 600, 750, 1000};

// Bits on the line per byte: start bit, 8 data bits, and room for parity and stop bits.
const qint64 bitsPerByte = 11;

std::atomic<int> linkCounter{0};

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

// Text that cannot be mistaken for anything the module says: no "AT", no "+OK", no "R".
QByteArray filler(int size)
{
    static const QByteArray line = QByteArray(62, '.') + "\r\n";
    QByteArray out;
    out.reserve(size + line.size());
    while (out.size() < size)
        out += line;
    out.truncate(size);
    return out;
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

// Whether the tool's line, as seen on the master, is the module's line. A
// pseudo-terminal keeps the tool's baud rate and its odd-parity bit, but the
// kernel clears the parity-enable bit, so "no parity" and "even parity" look
// the same from this side: a module at even parity also answers a tool
// without parity and the other way round. Odd parity is told apart. The
// stop bits are not compared: a receiver takes two stop bits for one.
bool lineMatches(qint32 toolBaud, bool toolOdd, qint32 moduleBaud, Parity moduleParity)
{
    return toolBaud == moduleBaud && toolOdd == (moduleParity == Parity::Odd);
}

} // namespace

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

SimModule::SimModule(QObject* parent) : QObject(parent)
{
    m_gapTimer = new QTimer(this);
    m_gapTimer->setSingleShot(true);
    m_gapTimer->setTimerType(Qt::PreciseTimer);
    connect(m_gapTimer, &QTimer::timeout, this, &SimModule::onGap);

    m_paceTimer = new QTimer(this);
    m_paceTimer->setInterval(1);
    m_paceTimer->setTimerType(Qt::PreciseTimer);
    connect(m_paceTimer, &QTimer::timeout, this, &SimModule::onPace);
}

SimModule::~SimModule()
{
    stop();
}

bool SimModule::start(QString* error)
{
    auto fail = [&](const QString& what) {
        if (error)
            *error = what;
        stop();
        return false;
    };
    if (isRunning())
        return true;
    if (!openLine(error)) {
        stop();
        return false;
    }

    const QString runtime = QStandardPaths::writableLocation(QStandardPaths::RuntimeLocation);
    if (runtime.isEmpty())
        return fail(QStringLiteral("no runtime directory for the port link"));
    const QString folder = runtime + QStringLiteral("/velkocan");
    if (!QDir().mkpath(folder))
        return fail(QStringLiteral("cannot create %1").arg(folder));
    const QString link =
        QStringLiteral("%1/velkocan-sim-%2-%3").arg(folder).arg(::getpid()).arg(linkCounter.fetch_add(1) + 1);
    if (!linkTo(link)) // a link left over by an earlier process with the same id is replaced
        return fail(QStringLiteral("cannot create the link %1").arg(link));
    m_link = link;
    m_plugged = {m_state.baud, m_state.parity, m_state.stopBits};
    m_clock.start();
    return true;
}

bool SimModule::openLine(QString* error)
{
    // A line that could not be set up is not left half open.
    auto fail = [&](const QString& what) {
        closeLine();
        if (error)
            *error = what;
        return false;
    };
    int master = -1;
    int slave = -1;
    char name[256] = {};
    if (::openpty(&master, &slave, name, nullptr, nullptr) != 0)
        return fail(QStringLiteral("openpty: %1").arg(QString::fromLocal8Bit(strerror(errno))));
    m_master = master;
    // The slave fd of openpty (O_RDWR|O_NOCTTY) stays open for the module's
    // whole life: without it the master reads EIO and hangs up each time the
    // tool closes its port, which the tool does many times while searching.
    m_slaveHold = slave;
    m_slavePath = QString::fromLocal8Bit(name);
    ::fcntl(m_master, F_SETFD, FD_CLOEXEC);
    ::fcntl(m_slaveHold, F_SETFD, FD_CLOEXEC);

    // Raw at once, or the line discipline echoes what the module writes. The
    // speed 0 marks "nobody has configured the port": the tool's serial port
    // restores it when it closes, so nothing matches while its port is closed.
    struct termios tio;
    if (::tcgetattr(m_master, &tio) != 0)
        return fail(QStringLiteral("tcgetattr: %1").arg(QString::fromLocal8Bit(strerror(errno))));
    ::cfmakeraw(&tio);
    ::cfsetispeed(&tio, B0);
    ::cfsetospeed(&tio, B0);
    if (::tcsetattr(m_master, TCSANOW, &tio) != 0)
        return fail(QStringLiteral("tcsetattr: %1").arg(QString::fromLocal8Bit(strerror(errno))));
    const int flags = ::fcntl(m_master, F_GETFL);
    if (flags < 0 || ::fcntl(m_master, F_SETFL, flags | O_NONBLOCK) != 0)
        return fail(QStringLiteral("O_NONBLOCK: %1").arg(QString::fromLocal8Bit(strerror(errno))));

    m_notifier = new QSocketNotifier(m_master, QSocketNotifier::Read, this);
    connect(m_notifier, &QSocketNotifier::activated, this, &SimModule::onReadable);
    return true;
}

bool SimModule::linkTo(const QString& link)
{
    QFile::remove(link);
    return QFile::link(m_slavePath, link);
}

void SimModule::closeLine()
{
    m_gapTimer->stop();
    m_paceTimer->stop();
    if (m_notifier) {
        m_notifier->setEnabled(false);
        delete m_notifier;
        m_notifier = nullptr;
    }
    if (m_master >= 0)
        ::close(m_master);
    if (m_slaveHold >= 0)
        ::close(m_slaveHold);
    m_master = -1;
    m_slaveHold = -1;
    m_rx.clear();
    m_tx.clear();
    m_txCur = TxChunk();
    m_txActive = false;
    m_txQueue.clear();
    m_streaming = false;
    m_restarting = false;
}

void SimModule::replug()
{
    // Taken out a moment after the restart's reply (the tool has read it),
    // the tool's port sees its device vanish; the next module gets a device
    // of its own, reached through the same link.
    constexpr int kUnplugAfterReplyMs = 100;
    QTimer::singleShot(kUnplugAfterReplyMs, this, [this] {
        if (isRunning())
            closeLine();
    });
    QTimer::singleShot(kUnplugAfterReplyMs + qMax(0, m_faults.replugAfterRestartMs), this, [this] {
        if (m_link.isEmpty() || isRunning() || !openLine(nullptr))
            return;
        restoreFactory();
        setLine(m_plugged.baud, m_plugged.parity, m_plugged.stopBits);
        if (!linkTo(m_link)) {
            closeLine(); // nothing could reach it
            return;
        }
        emit replugged();
    });
}

void SimModule::stop()
{
    closeLine();
    if (!m_link.isEmpty())
        QFile::remove(m_link);
    m_link.clear();
}

bool SimModule::isRunning() const
{
    return m_master >= 0;
}

QString SimModule::portName() const
{
    return m_link;
}

QString SimModule::slavePath() const
{
    return m_slavePath;
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

bool SimModule::isSending() const
{
    return m_paceTimer->isActive();
}

QList<QByteArray> SimModule::frameData() const
{
    QList<QByteArray> out;
    for (const Frame& f : m_frames)
        out << f.data;
    return out;
}

void SimModule::clearFrames()
{
    m_frames.clear();
}

// ---------------------------------------------------------------------------
// Module behaviour

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
        reply += filler(64 * 1024);
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

// ---------------------------------------------------------------------------
// The line

qint32 SimModule::masterBaud(bool* oddParity) const
{
    qint32 baud = 0;
    bool odd = false;
    if (!readMasterLine(m_master, &baud, &odd))
        baud = 0;
    if (oddParity)
        *oddParity = odd;
    return baud;
}

// An idle gap of 3.5 characters (at least 20 ms) ends a frame, as a UART
// module that has no line end to go by must do.
int SimModule::gapMs() const
{
    const qint32 baud = qMax(1, m_state.baud);
    return qMax(20, (35000 + baud - 1) / baud);
}

void SimModule::onReadable()
{
    char buf[4096];
    for (;;) {
        const ssize_t n = ::read(m_master, buf, sizeof buf);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            break; // EAGAIN: all read. (EIO would mean no slave is open, which the held fd prevents.)
        // The line is read when the bytes are picked up; the tool may close
        // its port or change its settings right after writing.
        bool odd = false;
        const qint32 baud = masterBaud(&odd);
        if (m_rx.isEmpty()) {
            m_rxStart = m_clock.elapsed();
            m_rxBaud = baud;
            m_rxOdd = odd;
            m_rxMixed = false;
        } else if (baud != m_rxBaud || odd != m_rxOdd) {
            m_rxMixed = true;
        }
        m_rx.append(buf, static_cast<int>(n));
    }
    if (!m_rx.isEmpty())
        m_gapTimer->start(gapMs());
}

void SimModule::onGap()
{
    if (m_rx.isEmpty())
        return;
    Frame f;
    f.data = m_rx;
    f.baud = m_rxBaud;
    f.oddParity = m_rxOdd;
    f.msecs = m_rxStart;
    f.matched = !m_rxMixed && lineMatches(m_rxBaud, m_rxOdd, m_state.baud, m_state.parity);
    m_rx.clear();
    m_frames.append(f);
    emit frameReceived(f.data);
    if (!isRunning())
        return; // stopped by a receiver of the signal
    if (m_faults.unplugAfterFrames >= 0 && m_frames.size() >= m_faults.unplugAfterFrames) {
        unplug();
        return;
    }
    // At a line that does not match, the module reads garbage: no answer,
    // no change. While it restarts it does not listen at all, nor once it
    // has fallen silent.
    const bool fallenSilent = m_faults.silentAfterFrames >= 0 && m_frames.size() >= m_faults.silentAfterFrames;
    if (!f.matched || m_restarting || fallenSilent)
        return;

    // The reply goes out at the line in effect when the frame came; a
    // restart takes the new line only after its reply has been sent.
    const qint32 baud = m_state.baud;
    const Parity parity = m_state.parity;
    m_restartRequested = false;
    const QByteArray reply = handleFrame(f.data);
    std::function<void()> done;
    if (m_restartRequested) {
        m_restarting = true;
        done = [this] {
            m_restarting = false;
            if (m_faults.replugAfterRestartMs >= 0)
                replug();
        };
    }
    queueReply(reply, m_cuts, baud, parity, std::move(done));
}

void SimModule::queueReply(const QByteArray& reply, const Cuts& cuts, qint32 baud, Parity parity,
                           std::function<void()> done)
{
    if (reply.isEmpty()) {
        if (done)
            done();
        return;
    }
    emit replyQueued(reply);

    // The pauses of the timing faults, as (offset, pause) in the order of the offset.
    QVector<QPair<int, int>> pauses;
    auto pauseAt = [&](int at, int ms) {
        if (ms > 0 && at > 0 && at < reply.size())
            pauses.append({at, ms});
    };
    pauseAt(cuts.afterEcho, m_faults.okAfterEchoMs);
    pauseAt(cuts.inLine, m_faults.pauseInLineMs);
    pauseAt(reply.size() / 2, m_faults.splitGapMs);
    std::sort(pauses.begin(), pauses.end());

    TxChunk chunk;
    chunk.baud = baud;
    chunk.parity = parity;
    int from = 0;
    for (const auto& pause : std::as_const(pauses)) {
        if (pause.first > from) {
            chunk.data = reply.mid(from, pause.first - from);
            m_txQueue.append(chunk);
            chunk.gapMs = 0;
            from = pause.first;
        }
        chunk.gapMs += pause.second; // two pauses at one place add up
    }
    chunk.data = reply.mid(from);
    chunk.done = std::move(done);
    m_txQueue.append(chunk);
    if (m_faults.endless)
        m_streaming = true;
    if (!m_paceTimer->isActive()) {
        m_paceTimer->start();
        onPace();
    }
}

// Puts on the line the bytes that are due at the chunk's baud rate.
void SimModule::onPace()
{
    for (;;) {
        if (!isRunning()) {
            m_paceTimer->stop();
            return;
        }
        if (!m_txActive) {
            if (m_txQueue.isEmpty()) {
                if (!m_streaming || !m_faults.endless) {
                    m_streaming = false;
                    m_paceTimer->stop();
                    return;
                }
                // Filler in pieces of about 20 ms of line time, so that
                // switching the fault off stops it soon.
                TxChunk f;
                f.baud = m_state.baud;
                f.parity = m_state.parity;
                f.filler = true;
                f.data = filler(qMax(16, m_state.baud / int(bitsPerByte) / 50));
                m_txQueue.append(f);
            }
            m_txCur = m_txQueue.takeFirst();
            m_tx = m_txCur.data;
            m_txSent = 0;
            m_txClock.start();
            m_txActive = true;
        }

        if (m_txCur.filler && !m_faults.endless) {
            m_tx.clear();
        } else {
            const qint64 us = m_txClock.nsecsElapsed() / 1000 - qint64(m_txCur.gapMs) * 1000;
            if (us < 0)
                return;
            const qint64 due = us * m_txCur.baud / (bitsPerByte * 1000000);
            const int n = static_cast<int>(qMin<qint64>(due - m_txSent, m_tx.size()));
            if (n <= 0)
                return;
            // Bytes sent while the tool's line does not match (or its port is
            // closed) are lost, as on a real line.
            bool odd = false;
            const qint32 toolBaud = masterBaud(&odd);
            if (lineMatches(toolBaud, odd, m_txCur.baud, m_txCur.parity)) {
                ssize_t w = ::write(m_master, m_tx.constData(), static_cast<size_t>(n));
                if (w < 0)
                    w = 0; // EAGAIN: the tool does not read and the pty buffer is full
                if (w < n) {
                    // Keep the rest and pace it anew from now on.
                    m_tx.remove(0, static_cast<int>(w));
                    m_txSent = 0;
                    m_txCur.gapMs = 0;
                    m_txClock.start();
                    return;
                }
            }
            m_tx.remove(0, n);
            m_txSent += n;
            if (!m_tx.isEmpty())
                return;
        }

        m_txActive = false;
        if (m_txCur.done) {
            const std::function<void()> done = std::move(m_txCur.done);
            m_txCur.done = nullptr;
            done();
        }
    }
}

void SimModule::unplug()
{
    stop();
    emit unplugged();
}

} // namespace sim
