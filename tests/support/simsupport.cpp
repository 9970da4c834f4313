#include "tests/support/simsupport.h"

#include "core/traffic/canbus.h"
#include "sim/faultoptions.h"
#include "tests/support/coresupport.h"

#include <QCommandLineParser>
#include <QTcpServer>
#include <QtTest>
#include <memory>

namespace TestSupport {

Traffic::CanBus* hostCanBus(QObject* owner, QString* bus)
{
    quint16 port = 0;
    {
        QTcpServer probe;
        if (!probe.listen(QHostAddress::LocalHost)) {
            qWarning("no free TCP port for the CAN bus: %s", qPrintable(probe.errorString()));
            return nullptr;
        }
        port = probe.serverPort();
    }
    *bus = QStringLiteral("virtualcan:tcp://127.0.0.1:%1/can0").arg(port);
    auto* const host = new Traffic::CanBus(owner);
    Traffic::CanName name;
    Traffic::CanName::parse(*bus, &name);
    Traffic::CanOpenFailure failure;
    if (!host->open(name, 250, &failure)) {
        qWarning("the test's CAN bus did not open: %s", qPrintable(failure.text()));
        delete host;
        return nullptr;
    }
    return host;
}

bool parseFaultOptions(const QStringList& options, sim::SimModule::Faults* faults, QString* error)
{
    QCommandLineParser parser;
    const sim::FaultOptions known;
    known.addTo(parser);
    if (!parser.parse(QStringList{"velkocan-sim"} + options)) {
        if (error)
            *error = parser.errorText();
        return false;
    }
    return known.read(parser, faults, error);
}

void setFaults(sim::SimModule* module, const QStringList& options)
{
    QString error;
    sim::SimModule::Faults& f = module->faults();
    QVERIFY2(parseFaultOptions(options, &f, &error), qPrintable(error));
    // The timing faults keep their relation to the tool's paced polls.
    f.okAfterEchoMs = paced(f.okAfterEchoMs);
    f.pauseInLineMs = paced(f.pauseInLineMs);
    f.splitGapMs = paced(f.splitGapMs);
}

namespace {
// Every query gets a report of its own key with `fields` for its values.
void reportToEveryQuery(sim::SimModule* module, const QByteArray& fields)
{
    module->setReplyHook([fields](const QByteArray& frame, QByteArray& reply) {
        const int q = frame.indexOf('?');
        if (q < 0)
            return false;
        reply = "\r\n" + frame.left(q) + "=" + fields + "\r\n\r\n+OK\r\n\r\n";
        return true;
    });
}
} // namespace

void setHostileFault(sim::SimModule* module, const QString& fault)
{
    sim::SimModule::Faults& f = module->faults();
    if (fault == "garbage") {
        f.garbage = true;
    } else if (fault == "zero byte") {
        f.zeroByte = true;
    } else if (fault == "64 KiB replies") {
        f.longReply = true;
    } else if (fault == "endless stream") {
        f.endless = true;
    } else if (fault == "replies split across polls") {
        f.splitGapMs = paced(250);
    } else if (fault == "notice after +++") {
        f.noticeAfterPlus = true;
    } else if (fault == "unplugged midway") {
        f.unplugAfterFrames = 4;
    } else if (fault == "reports without key") {
        module->setReplyHook([](const QByteArray& frame, QByteArray& reply) {
            if (!frame.endsWith('?') && !frame.endsWith("?\r\n"))
                return false;
            reply = "\r\n115200,8,2,ODD,NFC\r\n\r\n+OK\r\n\r\n";
            return true;
        });
    } else if (fault == "reports with too few fields") {
        reportToEveryQuery(module, "");
    } else if (fault == "invalid UTF-8") {
        reportToEveryQuery(module, "\xff\xfe\xc3(,\xed\xa0\x80,\xf0\x28\x8c\x28");
    } else {
        QFAIL(qPrintable("no fault " + fault));
    }
}

sim::Parity parityOf(const QString& word)
{
    return word == "ODD" ? sim::Parity::Odd : word == "EVEN" ? sim::Parity::Even : sim::Parity::None;
}

void answerFrame(sim::SimModule* module, const QByteArray& frame, const QByteArray& reply)
{
    module->setReplyHook([frame, reply](const QByteArray& received, QByteArray& out) {
        if (received != frame)
            return false;
        out = reply;
        return true;
    });
}

void answerFirst(sim::SimModule* module, const QByteArray& frame, const QByteArray& reply)
{
    auto answered = std::make_shared<bool>(false);
    module->setReplyHook([answered, frame, reply](const QByteArray& received, QByteArray& out) {
        if (received != frame || *answered)
            return false;
        *answered = true;
        out = reply;
        return true;
    });
}

QStringList rowsOf(const QVector<sim::Filter>& filters)
{
    QStringList rows;
    for (const sim::Filter& f : filters)
        rows.append(f.type + ',' + f.id);
    return rows;
}

QVector<sim::Filter> filtersOf(const QStringList& rows)
{
    QVector<sim::Filter> filters;
    for (const QString& row : rows)
        filters.append({row.section(',', 0, 0), row.section(',', 1)});
    return filters;
}

QVector<At::FilterEntry> entriesOf(const QStringList& rows)
{
    QVector<At::FilterEntry> entries;
    for (const QString& row : rows)
        entries.append({row.section(',', 0, 0), row.section(',', 1)});
    return entries;
}

QString describe(const sim::ModuleState& s)
{
    return QStringLiteral("line %1/%2/%3 pending %4/%5/%6 | CAN %7,%8,%9 | mode %10 msg %11,%12 udmht %13,%14 "
                          "random %15,%16 | direction %17 | filter %18 [%19] | config %20 echo %21")
        .arg(s.baud)
        .arg(s.stopBits)
        .arg(QString::fromLatin1(sim::parityText(s.parity)))
        .arg(s.pendingBaud)
        .arg(s.pendingStopBits)
        .arg(QString::fromLatin1(sim::parityText(s.pendingParity)))
        .arg(s.canRate)
        .arg(s.canId, s.frameType, s.mode)
        .arg(int(s.msgId))
        .arg(int(s.msgInfo))
        .arg(s.userHead, s.userTail, s.idLength, s.idPosition, s.direction, s.filterMode, rowsOf(s.filters).join(' '))
        .arg(int(s.configMode))
        .arg(int(s.echo));
}

sim::ModuleState moduleHolding(const ModuleConfig& config)
{
    sim::ModuleState s;
    s.baud = s.pendingBaud = config.baud;
    s.stopBits = s.pendingStopBits = config.stopBits;
    s.parity = s.pendingParity = parityOf(config.parity);
    s.canRate = config.canRateKbit;
    s.canId = config.canId;
    s.frameType = config.frameType;
    s.mode = config.mode;
    s.msgId = config.frameId;
    s.msgInfo = config.frameInfo;
    s.userHead = config.head;
    s.userTail = config.tail;
    s.idLength = config.idLength;
    s.idPosition = config.idPosition;
    s.direction = config.direction;
    s.filterMode = config.filterMode;
    for (const At::FilterEntry& f : config.filters)
        s.filters.append({f.type, f.id});
    return s;
}

ModuleConfig readBackSample(const QString& mode, const QString& frameType, const QString& id, const QString& filterMode,
                            int filters)
{
    ModuleConfig c =
        configWith({"serial.stopBits=2", "can.rateKbit=1000", "can.frameType=" + frameType, "can.id=" + id,
                    "mode=" + mode, "transparent.frameInfo=true", "custom.head=D2", "custom.tail=2D",
                    "identifier.length=1", "identifier.position=3", "direction=CAN-UART", "filter.mode=" + filterMode});
    c.filters = entriesOf(distinctRows(filters));
    return c;
}

ModuleConfig replyFormsSample(bool filters)
{
    ModuleConfig c = configWith({"serial.stopBits=2", "serial.parity=EVEN", "can.rateKbit=500", "can.id=7FF",
                                 "transparent.frameId=true", "transparent.frameInfo=true", "direction=CAN-UART"});
    c.filterMode = filters ? "USER" : "OFF";
    c.filters = filters ? entriesOf({"NDTF,12", "EDTF,1ABCDEF0"}) : QVector<At::FilterEntry>();
    return c;
}

sim::ModuleState customizedModule()
{
    sim::ModuleState s;
    s.pendingBaud = 57600;
    s.pendingStopBits = 2;
    s.pendingParity = sim::Parity::Even;
    s.canRate = 20;
    s.canId = "1A5";
    s.frameType = "EDTF";
    s.mode = "MODBUS";
    s.msgId = true;
    s.msgInfo = true;
    s.userHead = "C3";
    s.userTail = "3C";
    s.idLength = "4";
    s.idPosition = "6";
    s.direction = "CAN-UART";
    s.filterMode = "USER";
    s.filters = {{"NDTF", "123"}, {"EDTF", "1ABCDEF0"}};
    s.configMode = true;
    s.echo = false;
    return s;
}

sim::ModuleState moduleBefore(const ModuleConfig& c)
{
    // The token after the one written, in the module's list of them.
    const auto other = [](const QStringList& tokens, const QString& token) {
        return tokens.at((tokens.indexOf(token) + 1) % tokens.size());
    };
    sim::ModuleState s = customizedModule();
    s.frameType = other(At::frameTypeTokens(), c.frameType);
    s.mode = other(At::modeTokens(), c.mode);
    s.msgId = !c.frameId;
    s.msgInfo = !c.frameInfo;
    s.direction = other(At::directionTokens(), c.direction);
    s.filterMode = other(At::filterModeTokens(), c.filterMode);
    return s;
}

sim::ModuleState moduleAfterWrite(sim::ModuleState s, const ModuleConfig& c)
{
    s.pendingBaud = c.baud;
    s.pendingStopBits = c.stopBits;
    s.pendingParity = parityOf(c.parity);
    s.canRate = c.canRateKbit;
    s.canId = c.canId.isEmpty() ? "0" : c.canId;
    s.frameType = c.frameType;
    s.mode = c.mode;
    if (c.mode == "TRANS") {
        s.msgId = c.frameId;
        s.msgInfo = c.frameInfo;
    } else if (c.mode == "TPRTL") {
        s.idLength = c.idLength;
        s.idPosition = c.idPosition;
    } else if (c.mode == "USER") {
        s.userHead = c.head;
        s.userTail = c.tail;
    }
    s.direction = c.direction;
    s.filterMode = c.filterMode;
    s.filters.clear();
    if (c.filterMode == "USER") {
        for (const At::FilterEntry& f : c.filters)
            s.filters.append({f.type, f.id});
    }
    return s;
}

QList<QByteArray> writeFrames(const ModuleConfig& c)
{
    const auto frame = [](const QString& text) { return (text + "\r\n").toLatin1(); };
    QList<QByteArray> frames;
    frames << frame(QStringLiteral("AT+UART=%1,8,%2,%3,NFC").arg(c.baud).arg(c.stopBits).arg(c.parity));
    frames << frame("AT+DIRECTION=" + c.direction);
    frames << frame("AT+MODE=" + c.mode);
    if (c.mode == "TRANS")
        frames << frame(QStringLiteral("AT+MSG=%1,%2").arg(int(c.frameId)).arg(int(c.frameInfo)));
    else if (c.mode == "TPRTL")
        frames << frame("AT+RANDOM=" + c.idLength + ',' + c.idPosition);
    else if (c.mode == "USER")
        frames << frame("AT+UDMHT=" + c.head + ',' + c.tail);
    frames << frame("AT+CANLT=" + c.filterMode);
    frames << "AT+DELFILTER=EDTF,0\r\n";
    if (c.filterMode == "USER") {
        for (const At::FilterEntry& f : c.filters)
            frames << frame("AT+FILTER=" + f.type + ',' + f.id);
    }
    frames << frame(QStringLiteral("AT+CAN=%1,%2,%3")
                        .arg(c.canRateKbit)
                        .arg(c.canId.isEmpty() ? QStringLiteral("0") : c.canId, c.frameType));
    return frames;
}

QString describeFrame(const QByteArray& data, int baud, bool odd)
{
    QString text = QString::fromLatin1(data);
    text.replace('\r', QLatin1String("\\r")).replace('\n', QLatin1String("\\n"));
    return QStringLiteral("%1 @%2%3").arg(text).arg(baud).arg(odd ? QStringLiteral(" odd") : QString());
}

QStringList describeFrames(const QVector<sim::Frame>& frames)
{
    QStringList out;
    for (const sim::Frame& f : frames)
        out.append(describeFrame(f.data, f.baud, f.oddParity));
    return out;
}

QVector<SearchAttempt> searchAttempts()
{
    const int rates[] = {115200, 9600,  460800, 256000, 230400, 128000, 57600,
                         38400,  19200, 14400,  4800,   2400,   1200,   600};
    QVector<SearchAttempt> attempts;
    for (const int rate : rates) {
        attempts.append({rate, false}); // no parity
        attempts.append({rate, false}); // even parity
        attempts.append({rate, true});  // odd parity
    }
    return attempts;
}

QStringList unansweredAttempts(int count)
{
    const QVector<SearchAttempt> attempts = searchAttempts();
    QStringList out;
    for (int i = 0; i < count; ++i) {
        out.append(describeFrame("+++", attempts.at(i).baud, attempts.at(i).odd));
        out.append(describeFrame("AT\r\n", attempts.at(i).baud, attempts.at(i).odd));
    }
    return out;
}

QStringList answeredAttempt(int baud, bool odd)
{
    return {describeFrame("+++", baud, odd), describeFrame("AT\r\n", baud, odd), describeFrame("AT+EXAT", baud, odd)};
}

QStringList escapes(const QVector<sim::Frame>& frames)
{
    QStringList out;
    for (const sim::Frame& f : frames) {
        if (f.data == "+++")
            out.append(describeFrame(f.data, f.baud, f.oddParity));
    }
    return out;
}

QStringList scheduledEscapes(int count)
{
    const QVector<SearchAttempt> attempts = searchAttempts();
    QStringList out;
    for (int i = 0; i < count; ++i)
        out.append(describeFrame("+++", attempts.at(i).baud, attempts.at(i).odd));
    return out;
}

} // namespace TestSupport
