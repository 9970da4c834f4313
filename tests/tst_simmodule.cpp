// Tests of the simulated converter module: its command handling as pure
// logic, and its behaviour on the line through a real pseudo-terminal and a
// real QSerialPort.
#include "sim/simmodule.h"
#include "tests/support/simsupport.h"

#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFileInfo>
#include <QSerialPort>
#include <QSignalSpy>
#include <QStandardPaths>
#include <QtTest>

#include <cstdlib>
#include <fcntl.h>
#include <sys/stat.h>
#include <termios.h>
#include <unistd.h>

using sim::Parity;
using sim::SimModule;
using TestSupport::parseFaultOptions;

Q_DECLARE_METATYPE(sim::Parity)

namespace {

const QByteArray OK = "\r\n+OK\r\n\r\n";
const QByteArray ERR = "\r\n+ERROR\r\n\r\n";
const QByteArray NOTICE = "\r\nAT MODE\r\n\r\n";

// Feeds the frames in order; the reply to the last one.
QByteArray feed(SimModule& m, const QByteArrayList& frames)
{
    QByteArray last;
    for (const QByteArray& f : frames)
        last = m.handleFrame(f);
    return last;
}

// Tables of frames fed to a fresh module and the reply to the last one: their
// columns, and the check of one row.
void addFeedColumns()
{
    QTest::addColumn<QByteArrayList>("frames");
    QTest::addColumn<QByteArray>("reply"); // to the last frame
}

void checkFeed()
{
    QFETCH(QByteArrayList, frames);
    QFETCH(QByteArray, reply);
    SimModule m;
    QCOMPARE(feed(m, frames), reply);
}

// Into the configuration state with echo off.
void enterQuiet(SimModule& m)
{
    feed(m, {"+++", "AT\r\n", "AT+E=OFF\r\n"});
}

QByteArray report(const QByteArray& line)
{
    return "\r\n" + line + "\r\n" + OK;
}

QByteArray listing(const QByteArrayList& entries)
{
    QByteArray out = "\r\n";
    for (const QByteArray& e : entries)
        out += "AT+FILTER=" + e + "\r\n";
    return out + OK;
}

// The tool's side of the line.
struct Tool
{
    QSerialPort port;
    QByteArray rx;
    QElapsedTimer clock;
    QVector<QPair<qint64, int>> arrivals; // time, bytes received so far

    Tool()
    {
        clock.start();
        QObject::connect(&port, &QSerialPort::readyRead, &port, [this] {
            rx += port.readAll();
            arrivals.append({clock.elapsed(), rx.size()});
        });
    }
    bool open(const QString& name, qint32 baud, QSerialPort::Parity parity)
    {
        port.setPortName(name);
        port.setBaudRate(baud);
        port.setDataBits(QSerialPort::Data8);
        port.setParity(parity);
        port.setStopBits(QSerialPort::OneStop);
        port.setFlowControl(QSerialPort::NoFlowControl);
        return port.open(QIODevice::ReadWrite);
    }
    void send(const QByteArray& data)
    {
        port.write(data);
        port.flush();
    }
    // When the received bytes first reached `size`; -1 if not yet.
    qint64 timeOfSize(int size) const
    {
        for (const auto& a : arrivals) {
            if (a.second >= size)
                return a.first;
        }
        return -1;
    }
};

// How many file descriptors of this process refer to the device `path`
// (also after the device is gone, when the kernel marks it "(deleted)").
int openFdsOn(const QString& path)
{
    int n = 0;
    const QDir fds(QStringLiteral("/proc/self/fd"));
    for (const QString& fd : fds.entryList(QDir::System | QDir::NoDotAndDotDot)) {
        const QString target = QFile::symLinkTarget(fds.filePath(fd));
        if (target == path || target == path + QStringLiteral(" (deleted)"))
            ++n;
    }
    return n;
}

// Sends a frame and waits until the module has taken it (after its idle gap).
bool sendFrame(Tool& tool, SimModule& m, const QByteArray& frame)
{
    const int before = m.frames().size();
    tool.send(frame);
    QElapsedTimer t;
    t.start();
    while (m.frames().size() == before && t.elapsed() < 3000)
        QTest::qWait(5);
    return m.frames().size() == before + 1 && m.frames().constLast().data == frame;
}

} // namespace

class TestSimModule : public QObject
{
    Q_OBJECT

private slots:
    // Command handling, without the line.
    void notice_data();
    void notice();
    void echo_data();
    void echo();
    void query_data();
    void query();
    void setCommand_data();
    void setCommand();
    void filterList_data();
    void filterList();
    void restartAppliesPendingLine_data();
    void restartAppliesPendingLine();
    void restoreFactorySettings();
    void silencingFaults_data();
    void silencingFaults();
    void garbageReply();
    void reshapedReplies_data();
    void reshapedReplies();
    void noticeAfterPlus();
    void extraAfterValues_data();
    void extraAfterValues();
    void reportForms_data();
    void reportForms();
    void malformedFaultOptions_data();
    void malformedFaultOptions();
    void replyHook();

    // Through the pseudo-terminal.
    void linkPublishedAndRemoved();
    void terminalWithALockFileLeftIsPassedOver();
    void lineMatching_data();
    void lineMatching();
    void frameDelimitedByIdleGap_data();
    void frameDelimitedByIdleGap();
    void replyPacedAtLineRate_data();
    void replyPacedAtLineRate();
    void restartTakesNewLineAfterReply();
    void toolReopensPort();
    void replyLostWhilePortClosed();
    void splitReply();
    void pausedReplies_data();
    void pausedReplies();
    void endlessFiller();
    void unplugAfterFrames();
    void replugTakesTheLinkAway();
    void silentAfterFrames();
};

// ---------------------------------------------------------------------------
// Command handling

void TestSimModule::notice_data()
{
    addFeedColumns();

    QTest::newRow("AT before +++") << QByteArrayList{"AT\r\n"} << QByteArray();
    QTest::newRow("+++ itself is not answered") << QByteArrayList{"+++"} << QByteArray();
    QTest::newRow("AT right after +++") << QByteArrayList{"+++", "AT\r\n"} << QByteArray("AT\r\n" + NOTICE);
    QTest::newRow("second AT") << QByteArrayList{"+++", "AT\r\n", "AT\r\n"} << QByteArray("AT\r\n" + OK);
    QTest::newRow("notice waits for the AT") << QByteArrayList{"+++", "AT+E=OFF\r\n", "AT\r\n"} << NOTICE;
    QTest::newRow("+++ arms it again") << QByteArrayList{"+++", "AT\r\n", "+++", "AT\r\n"}
                                       << QByteArray("AT\r\n" + NOTICE);
    QTest::newRow("AT without line end") << QByteArrayList{"+++", "AT"} << QByteArray("AT" + ERR);
    QTest::newRow("two plus signs") << QByteArrayList{"++", "AT\r\n"} << QByteArray();
    QTest::newRow("+++ with line end") << QByteArrayList{"+++\r\n", "AT\r\n"} << QByteArray();
    QTest::newRow("query outside configuration") << QByteArrayList{"AT+UART?\r\n"} << QByteArray();
    QTest::newRow("set outside configuration") << QByteArrayList{"AT+E=OFF\r\n"} << QByteArray();
    QTest::newRow("after AT+EXAT") << QByteArrayList{"+++", "AT\r\n", "AT+EXAT\r\n", "AT\r\n"} << QByteArray();
    QTest::newRow("after unterminated AT+EXAT")
        << QByteArrayList{"+++", "AT\r\n", "AT+EXAT", "AT+MODE?\r\n"} << QByteArray();
    QTest::newRow("AT+EXAT answers before leaving") << QByteArrayList{"+++", "AT+EXAT"} << QByteArray("AT+EXAT" + OK);
    QTest::newRow("after AT+REBT") << QByteArrayList{"+++", "AT\r\n", "AT+REBT\r\n", "AT\r\n"} << QByteArray();
    QTest::newRow("no notice after restart")
        << QByteArrayList{"+++", "AT+REBT\r\n", "+++", "AT+E=OFF\r\n", "AT\r\n"} << NOTICE;
}

void TestSimModule::notice()
{
    checkFeed();
}

void TestSimModule::echo_data()
{
    addFeedColumns();

    QTest::newRow("echo-off is echoed") << QByteArrayList{"+++", "AT+E=OFF\r\n"}
                                        << QByteArray("AT+E=OFF\r\n\r\n+OK\r\n\r\n");
    QTest::newRow("no echo afterwards") << QByteArrayList{"+++", "AT+E=OFF\r\n", "AT+MODE?\r\n"}
                                        << report("AT+MODE=TRANS");
    QTest::newRow("query echoed") << QByteArrayList{"+++", "AT+MODE?\r\n"}
                                  << QByteArray("AT+MODE?\r\n" + report("AT+MODE=TRANS"));
    QTest::newRow("unterminated query echoed")
        << QByteArrayList{"+++", "AT+CANLT?"} << QByteArray("AT+CANLT?" + report("AT+CANLT=OFF"));
    QTest::newRow("error echoed") << QByteArrayList{"+++", "AT+BOGUS\r\n"} << QByteArray("AT+BOGUS\r\n" + ERR);
    QTest::newRow("set echoed") << QByteArrayList{"+++", "AT+MODE=USER\r\n"} << QByteArray("AT+MODE=USER\r\n" + OK);
    QTest::newRow("echo-on answers without echo") << QByteArrayList{"+++", "AT+E=OFF\r\n", "AT+E=ON\r\n"} << OK;
    QTest::newRow("echo on again") << QByteArrayList{"+++", "AT+E=OFF\r\n", "AT+E=ON\r\n", "AT+MSG?\r\n"}
                                   << QByteArray("AT+MSG?\r\n" + report("AT+MSG=0,0"));
    QTest::newRow("echo-off twice") << QByteArrayList{"+++", "AT+E=OFF\r\n", "AT+E=OFF\r\n"} << OK;
    QTest::newRow("malformed echo command")
        << QByteArrayList{"+++", "AT+E=NO\r\n", "AT\r\n"} << QByteArray("AT\r\n" + NOTICE);
    QTest::newRow("lower-case echo command")
        << QByteArrayList{"+++", "AT+E=off\r\n"} << QByteArray("AT+E=off\r\n" + ERR);
    QTest::newRow("restart turns echo on")
        << QByteArrayList{"+++", "AT+E=OFF\r\n", "AT+REBT\r\n", "+++", "AT\r\n"} << QByteArray("AT\r\n" + NOTICE);
    QTest::newRow("leaving keeps echo off")
        << QByteArrayList{"+++", "AT+E=OFF\r\n", "AT+EXAT\r\n", "+++", "AT\r\n"} << NOTICE;
}

void TestSimModule::echo()
{
    checkFeed();
}

void TestSimModule::query_data()
{
    QTest::addColumn<QByteArray>("query");
    QTest::addColumn<QByteArray>("reply"); // with echo off, factory settings

    const QList<QPair<QByteArray, QByteArray>> reports = {
        {"UART", "AT+UART=115200,8,1,NONE,NFC"},
        {"CAN", "AT+CAN=250,0,NDTF"},
        {"MODE", "AT+MODE=TRANS"},
        {"MSG", "AT+MSG=0,0"},
        {"UDMHT", "AT+UDMHT=A5,5A"},
        {"RANDOM", "AT+RANDOM=2,0"},
        {"DIRECTION", "AT+DIRECTION=BOTHWAY"},
        {"CANLT", "AT+CANLT=OFF"},
    };
    for (const auto& r : reports) {
        const QByteArray q = "AT+" + r.first + "?";
        QTest::newRow(q + " CRLF") << QByteArray(q + "\r\n") << report(r.second);
        QTest::newRow(q.constData()) << q << report(r.second);
    }
    QTest::newRow("AT+FILTER? CRLF") << QByteArray("AT+FILTER?\r\n") << QByteArray("\r\n" + OK);
    QTest::newRow("AT+FILTER?") << QByteArray("AT+FILTER?") << QByteArray("\r\n" + OK);
    QTest::newRow("unknown query") << QByteArray("AT+FOO?\r\n") << ERR;
    QTest::newRow("echo has no query") << QByteArray("AT+E?\r\n") << ERR;
    QTest::newRow("lower-case query") << QByteArray("AT+uart?\r\n") << ERR;
    QTest::newRow("query with blank") << QByteArray("AT+UART ?\r\n") << ERR;
    QTest::newRow("query with LF only") << QByteArray("AT+UART?\n") << ERR;
    QTest::newRow("two queries in one frame") << QByteArray("AT+UART?\r\nAT+CAN?\r\n") << ERR;
}

void TestSimModule::query()
{
    QFETCH(QByteArray, query);
    QFETCH(QByteArray, reply);
    SimModule m;
    enterQuiet(m);
    QCOMPARE(m.handleFrame(query), reply);
    QVERIFY(m.state().configMode);
}

void TestSimModule::setCommand_data()
{
    QTest::addColumn<QByteArray>("command");
    QTest::addColumn<bool>("accepted");
    QTest::addColumn<QByteArray>("query");
    QTest::addColumn<QByteArray>("before"); // report right after the command
    QTest::addColumn<QByteArray>("after");  // report after a restart

    auto row = [](const QByteArray& name, const QByteArray& cmd, bool ok, const QByteArray& query,
                  const QByteArray& before, const QByteArray& after = QByteArray()) {
        QTest::newRow(name.constData()) << cmd << ok << query << before << (after.isNull() ? before : after);
    };

    // Serial line: only the pending line changes; the report shows the line in effect.
    const QByteArray uart0 = "AT+UART=115200,8,1,NONE,NFC";
    for (const char* b : {"600", "1200", "2400", "4800", "9600", "14400", "19200", "38400", "57600", "115200", "128000",
                          "230400", "256000", "460800"}) {
        const QByteArray line = "AT+UART=" + QByteArray(b) + ",8,1,NONE,NFC";
        row("uart " + QByteArray(b), line + "\r\n", true, "AT+UART?", uart0, line);
    }
    row("uart 2 stop bits even", "AT+UART=9600,8,2,EVEN,NFC\r\n", true, "AT+UART?", uart0, "AT+UART=9600,8,2,EVEN,NFC");
    row("uart odd", "AT+UART=57600,8,1,ODD,NFC\r\n", true, "AT+UART?", uart0, "AT+UART=57600,8,1,ODD,NFC");
    for (const char* bad : {"9601,8,1,NONE,NFC", "09600,8,1,NONE,NFC", "115200,7,1,NONE,NFC", "115200,8,3,NONE,NFC",
                            "115200,8,0,NONE,NFC", "115200,8,1,none,NFC", "115200,8,1,MARK,NFC", "115200,8,1,NONE,FC",
                            "115200,8,1,NONE", "115200,8,1,NONE,NFC,", "", ",8,1,NONE,NFC", "9600,8,1,NONE,NFC "})
        row("uart bad " + QByteArray(bad), "AT+UART=" + QByteArray(bad) + "\r\n", false, "AT+UART?", uart0);
    row("uart unterminated", "AT+UART=9600,8,1,NONE,NFC", false, "AT+UART?", uart0);

    // CAN
    const QByteArray can0 = "AT+CAN=250,0,NDTF";
    for (const char* r :
         {"6", "10", "20", "50", "100", "120", "125", "150", "200", "250", "400", "500", "600", "750", "1000"}) {
        const QByteArray line = "AT+CAN=" + QByteArray(r) + ",0,NDTF";
        row("can " + QByteArray(r), line + "\r\n", true, "AT+CAN?", line);
    }
    row("can max standard id", "AT+CAN=500,7FF,NDTF\r\n", true, "AT+CAN?", "AT+CAN=500,7FF,NDTF");
    row("can max extended id", "AT+CAN=1000,1FFFFFFF,EDTF\r\n", true, "AT+CAN?", "AT+CAN=1000,1FFFFFFF,EDTF");
    row("can extended id above 7FF", "AT+CAN=125,1ABCDEF0,EDTF\r\n", true, "AT+CAN?", "AT+CAN=125,1ABCDEF0,EDTF");
    row("can id leading zeros", "AT+CAN=250,07F,NDTF\r\n", true, "AT+CAN?", "AT+CAN=250,7F,NDTF");
    for (const char* bad : {"500,800,NDTF", "500,20000000,EDTF", "500,7ff,NDTF", "500,G,NDTF", "500,,NDTF",
                            "500,-1,NDTF", "500,0,XDTF", "500,0,ndtf", "251,0,NDTF", "0,0,NDTF", "500K,0,NDTF", "500,0",
                            "500,0,NDTF,0", "500,100000000,EDTF", "500,0x7F,NDTF"})
        row("can bad " + QByteArray(bad), "AT+CAN=" + QByteArray(bad) + "\r\n", false, "AT+CAN?", can0);

    // Direction, mode, filter mode: tokens only, case-sensitive.
    for (const char* d : {"UART-CAN", "CAN-UART", "BOTHWAY"})
        row("direction " + QByteArray(d), "AT+DIRECTION=" + QByteArray(d) + "\r\n", true, "AT+DIRECTION?",
            "AT+DIRECTION=" + QByteArray(d));
    for (const char* bad : {"BOTH", "bothway", "", "UART-CAN,CAN-UART"})
        row("direction bad " + QByteArray(bad), "AT+DIRECTION=" + QByteArray(bad) + "\r\n", false, "AT+DIRECTION?",
            "AT+DIRECTION=BOTHWAY");
    for (const char* md : {"TRANS", "TPRTL", "PROTOL", "MODBUS", "USER"})
        row("mode " + QByteArray(md), "AT+MODE=" + QByteArray(md) + "\r\n", true, "AT+MODE?",
            "AT+MODE=" + QByteArray(md));
    for (const char* bad : {"trans", "TRANSX", "", "USER "})
        row("mode bad " + QByteArray(bad), "AT+MODE=" + QByteArray(bad) + "\r\n", false, "AT+MODE?", "AT+MODE=TRANS");
    for (const char* f : {"OFF", "ETF", "NTF", "USER"})
        row("canlt " + QByteArray(f), "AT+CANLT=" + QByteArray(f) + "\r\n", true, "AT+CANLT?",
            "AT+CANLT=" + QByteArray(f));
    for (const char* bad : {"ALL", "off", ""})
        row("canlt bad " + QByteArray(bad), "AT+CANLT=" + QByteArray(bad) + "\r\n", false, "AT+CANLT?", "AT+CANLT=OFF");

    // Flags and sub-parameters
    for (const char* f : {"0,0", "0,1", "1,0", "1,1"})
        row("msg " + QByteArray(f), "AT+MSG=" + QByteArray(f) + "\r\n", true, "AT+MSG?", "AT+MSG=" + QByteArray(f));
    for (const char* bad : {"2,0", "1", "1,1,1", ",1", "1,", "01,1"})
        row("msg bad " + QByteArray(bad), "AT+MSG=" + QByteArray(bad) + "\r\n", false, "AT+MSG?", "AT+MSG=0,0");
    for (const char* r : {"0,0", "4,7", "3,5"})
        row("random " + QByteArray(r), "AT+RANDOM=" + QByteArray(r) + "\r\n", true, "AT+RANDOM?",
            "AT+RANDOM=" + QByteArray(r));
    for (const char* bad : {"5,0", "0,8", ",5", "2,", "10,0", "2,0,1", "A,0"})
        row("random bad " + QByteArray(bad), "AT+RANDOM=" + QByteArray(bad) + "\r\n", false, "AT+RANDOM?",
            "AT+RANDOM=2,0");
    for (const char* u : {"00,FF", "7E,7F"})
        row("udmht " + QByteArray(u), "AT+UDMHT=" + QByteArray(u) + "\r\n", true, "AT+UDMHT?",
            "AT+UDMHT=" + QByteArray(u));
    for (const char* bad : {"A,5A", "a5,5A", "A5,5A5", "GG,00", "A5", "A5,", "A5,5A,00"})
        row("udmht bad " + QByteArray(bad), "AT+UDMHT=" + QByteArray(bad) + "\r\n", false, "AT+UDMHT?",
            "AT+UDMHT=A5,5A");

    // Not a command at all
    row("unknown set command", "AT+FOO=1\r\n", false, "AT+MODE?", "AT+MODE=TRANS");
    row("missing AT+", "MODE=USER\r\n", false, "AT+MODE?", "AT+MODE=TRANS");
    row("lower-case name", "AT+mode=USER\r\n", false, "AT+MODE?", "AT+MODE=TRANS");
    row("set without line end", "AT+MODE=USER", false, "AT+MODE?", "AT+MODE=TRANS");
}

void TestSimModule::setCommand()
{
    QFETCH(QByteArray, command);
    QFETCH(bool, accepted);
    QFETCH(QByteArray, query);
    QFETCH(QByteArray, before);
    QFETCH(QByteArray, after);

    SimModule m;
    enterQuiet(m);
    QCOMPARE(m.handleFrame(command), accepted ? OK : ERR);
    QCOMPARE(m.handleFrame(query), report(before));
    // A restart keeps the parameters and puts the pending serial line into effect.
    feed(m, {"AT+REBT\r\n"});
    enterQuiet(m);
    QCOMPARE(m.handleFrame(query), report(after));
}

void TestSimModule::filterList_data()
{
    QTest::addColumn<int>("capacity");
    QTest::addColumn<QByteArrayList>("commands");
    QTest::addColumn<bool>("lastAccepted");
    QTest::addColumn<QByteArrayList>("entries"); // the listing afterwards

    QTest::newRow("append in order") << 20 << QByteArrayList{"AT+FILTER=NDTF,7FF\r\n", "AT+FILTER=EDTF,1ABCDEF0\r\n"}
                                     << true << QByteArrayList{"NDTF,7FF", "EDTF,1ABCDEF0"};
    QTest::newRow("leading zeros dropped")
        << 20 << QByteArrayList{"AT+FILTER=NDTF,007\r\n"} << true << QByteArrayList{"NDTF,7"};
    QTest::newRow("standard id too large")
        << 20 << QByteArrayList{"AT+FILTER=NDTF,800\r\n"} << false << QByteArrayList{};
    QTest::newRow("extended id too large")
        << 20 << QByteArrayList{"AT+FILTER=EDTF,20000000\r\n"} << false << QByteArrayList{};
    QTest::newRow("lower-case id") << 20 << QByteArrayList{"AT+FILTER=NDTF,7ff\r\n"} << false << QByteArrayList{};
    QTest::newRow("unknown type") << 20 << QByteArrayList{"AT+FILTER=XDTF,1\r\n"} << false << QByteArrayList{};
    QTest::newRow("missing id") << 20 << QByteArrayList{"AT+FILTER=NDTF\r\n"} << false << QByteArrayList{};
    QTest::newRow("empty id") << 20 << QByteArrayList{"AT+FILTER=NDTF,\r\n"} << false << QByteArrayList{};
    QTest::newRow("full at capacity 3") << 3
                                        << QByteArrayList{"AT+FILTER=NDTF,1\r\n", "AT+FILTER=NDTF,2\r\n",
                                                          "AT+FILTER=NDTF,3\r\n", "AT+FILTER=NDTF,4\r\n"}
                                        << false << QByteArrayList{"NDTF,1", "NDTF,2", "NDTF,3"};
    QTest::newRow("capacity 0") << 0 << QByteArrayList{"AT+FILTER=NDTF,1\r\n"} << false << QByteArrayList{};
    {
        QByteArrayList cmds, entries;
        for (int i = 1; i <= 20; ++i) {
            const QByteArray id = QByteArray::number(i, 16).toUpper();
            cmds << "AT+FILTER=EDTF," + id + "\r\n";
            entries << "EDTF," + id;
        }
        QTest::newRow("20 fit by default") << 20 << cmds << true << entries;
        cmds << "AT+FILTER=EDTF,100\r\n";
        QTest::newRow("21st refused by default") << 20 << cmds << false << entries;
    }
    const QByteArrayList three = {"AT+FILTER=NDTF,1\r\n", "AT+FILTER=NDTF,7F\r\n", "AT+FILTER=EDTF,1FFFFFFF\r\n"};
    QTest::newRow("delete one") << 20 << (three + QByteArrayList{"AT+DELFILTER=NDTF,7F\r\n"}) << true
                                << QByteArrayList{"NDTF,1", "EDTF,1FFFFFFF"};
    QTest::newRow("delete with leading zeros") << 20 << (three + QByteArrayList{"AT+DELFILTER=NDTF,07F\r\n"}) << true
                                               << QByteArrayList{"NDTF,1", "EDTF,1FFFFFFF"};
    QTest::newRow("delete missing") << 20 << (three + QByteArrayList{"AT+DELFILTER=NDTF,123\r\n"}) << false
                                    << QByteArrayList{"NDTF,1", "NDTF,7F", "EDTF,1FFFFFFF"};
    QTest::newRow("delete needs the type") << 20 << (three + QByteArrayList{"AT+DELFILTER=EDTF,7F\r\n"}) << false
                                           << QByteArrayList{"NDTF,1", "NDTF,7F", "EDTF,1FFFFFFF"};
    QTest::newRow("delete malformed") << 20 << (three + QByteArrayList{"AT+DELFILTER=NDTF\r\n"}) << false
                                      << QByteArrayList{"NDTF,1", "NDTF,7F", "EDTF,1FFFFFFF"};
    QTest::newRow("delete all") << 20 << (three + QByteArrayList{"AT+DELFILTER=EDTF,0\r\n"}) << true
                                << QByteArrayList{};
    QTest::newRow("delete all on empty list")
        << 20 << QByteArrayList{"AT+DELFILTER=EDTF,0\r\n"} << true << QByteArrayList{};
    QTest::newRow("delete all frees room") << 2
                                           << QByteArrayList{"AT+FILTER=NDTF,1\r\n", "AT+FILTER=NDTF,2\r\n",
                                                             "AT+DELFILTER=EDTF,0\r\n", "AT+FILTER=EDTF,3\r\n"}
                                           << true << QByteArrayList{"EDTF,3"};
    QTest::newRow("delete one frees room") << 2
                                           << QByteArrayList{"AT+FILTER=NDTF,1\r\n", "AT+FILTER=NDTF,2\r\n",
                                                             "AT+DELFILTER=NDTF,1\r\n", "AT+FILTER=EDTF,3\r\n"}
                                           << true << QByteArrayList{"NDTF,2", "EDTF,3"};
}

void TestSimModule::filterList()
{
    QFETCH(int, capacity);
    QFETCH(QByteArrayList, commands);
    QFETCH(bool, lastAccepted);
    QFETCH(QByteArrayList, entries);

    SimModule m;
    m.state().filterCapacity = capacity;
    enterQuiet(m);
    QCOMPARE(feed(m, commands), lastAccepted ? OK : ERR);
    QCOMPARE(m.handleFrame("AT+FILTER?"), listing(entries));
    QCOMPARE(m.handleFrame("AT+FILTER?\r\n"), listing(entries));
}

void TestSimModule::restartAppliesPendingLine_data()
{
    QTest::addColumn<QByteArrayList>("commands");
    QTest::addColumn<qint32>("baud");
    QTest::addColumn<Parity>("parity");
    QTest::addColumn<int>("stopBits");

    QTest::newRow("nothing pending") << QByteArrayList{} << 38400 << Parity::Even << 2;
    QTest::newRow("one change") << QByteArrayList{"AT+UART=9600,8,2,EVEN,NFC\r\n"} << 9600 << Parity::Even << 2;
    QTest::newRow("last change wins") << QByteArrayList{"AT+UART=9600,8,2,EVEN,NFC\r\n", "AT+UART=600,8,1,ODD,NFC\r\n"}
                                      << 600 << Parity::Odd << 1;
    QTest::newRow("malformed change ignored")
        << QByteArrayList{"AT+UART=19200,8,1,ODD,NFC\r\n", "AT+UART=19200,8,1,SPACE,NFC\r\n"} << 19200 << Parity::Odd
        << 1;
    QTest::newRow("restore resets the pending line")
        << QByteArrayList{"AT+UART=19200,8,1,ODD,NFC\r\n", "AT+RESTORE\r\n"} << 115200 << Parity::None << 1;
}

void TestSimModule::restartAppliesPendingLine()
{
    QFETCH(QByteArrayList, commands);
    QFETCH(qint32, baud);
    QFETCH(Parity, parity);
    QFETCH(int, stopBits);

    SimModule m;
    m.setLine(38400, Parity::Even, 2);
    enterQuiet(m);
    feed(m, commands);
    // Nothing changes on the line until the restart.
    QCOMPARE(m.state().baud, 38400);
    QCOMPARE(m.state().parity, Parity::Even);
    QCOMPARE(m.state().stopBits, 2);

    QCOMPARE(m.handleFrame("AT+REBT\r\n"), OK);
    QCOMPARE(m.state().baud, baud);
    QCOMPARE(m.state().parity, parity);
    QCOMPARE(m.state().stopBits, stopBits);
    QVERIFY(!m.state().configMode);
    QVERIFY(m.state().echo);
    QVERIFY(!m.state().noticeArmed);
    QCOMPARE(m.handleFrame("AT+UART?\r\n"), QByteArray()); // out of the configuration state
}

void TestSimModule::restoreFactorySettings()
{
    SimModule m;
    m.setLine(9600, Parity::Odd, 2);
    m.state().filterCapacity = 5;
    enterQuiet(m);
    for (const QByteArray& cmd :
         QByteArrayList{"AT+UART=4800,8,1,EVEN,NFC\r\n", "AT+CAN=1000,1ABCDEF0,EDTF\r\n", "AT+MODE=USER\r\n",
                        "AT+MSG=1,1\r\n", "AT+UDMHT=11,22\r\n", "AT+RANDOM=4,7\r\n", "AT+DIRECTION=UART-CAN\r\n",
                        "AT+CANLT=USER\r\n", "AT+FILTER=NDTF,7FF\r\n", "AT+FILTER=EDTF,1\r\n"})
        QCOMPARE(m.handleFrame(cmd), OK);

    QCOMPARE(m.handleFrame("AT+RESTORE\r\n"), OK);
    // Still in the configuration state, echo still off, line in effect unchanged.
    QCOMPARE(m.handleFrame("AT+UART?\r\n"), report("AT+UART=9600,8,2,ODD,NFC"));
    QCOMPARE(m.handleFrame("AT+CAN?\r\n"), report("AT+CAN=250,0,NDTF"));
    QCOMPARE(m.handleFrame("AT+MODE?\r\n"), report("AT+MODE=TRANS"));
    QCOMPARE(m.handleFrame("AT+MSG?\r\n"), report("AT+MSG=0,0"));
    QCOMPARE(m.handleFrame("AT+UDMHT?\r\n"), report("AT+UDMHT=A5,5A"));
    QCOMPARE(m.handleFrame("AT+RANDOM?\r\n"), report("AT+RANDOM=2,0"));
    QCOMPARE(m.handleFrame("AT+DIRECTION?"), report("AT+DIRECTION=BOTHWAY"));
    QCOMPARE(m.handleFrame("AT+CANLT?"), report("AT+CANLT=OFF"));
    QCOMPARE(m.handleFrame("AT+FILTER?"), listing({}));
    QCOMPARE(m.state().filterCapacity, 5);

    // The factory line takes effect at the restart.
    feed(m, {"AT+REBT\r\n"});
    enterQuiet(m);
    QCOMPARE(m.handleFrame("AT+UART?\r\n"), report("AT+UART=115200,8,1,NONE,NFC"));
    // The capacity was kept.
    for (int i = 0; i < 5; ++i)
        QCOMPARE(m.handleFrame("AT+FILTER=NDTF," + QByteArray::number(i) + "\r\n"), OK);
    QCOMPARE(m.handleFrame("AT+FILTER=NDTF,5\r\n"), ERR);
}

void TestSimModule::silencingFaults_data()
{
    QTest::addColumn<bool>("silent");
    QTest::addColumn<QStringList>("silentFor");
    QTest::addColumn<QByteArray>("command");
    QTest::addColumn<bool>("answered");
    QTest::addColumn<QByteArray>("query");
    QTest::addColumn<QByteArray>("report"); // afterwards, faults off

    QTest::newRow("silent, set still applies") << true << QStringList() << QByteArray("AT+MODE=USER\r\n") << false
                                               << QByteArray("AT+MODE?") << QByteArray("AT+MODE=USER");
    QTest::newRow("silent for the command") << false << QStringList{"AT+MODE="} << QByteArray("AT+MODE=USER\r\n")
                                            << false << QByteArray("AT+MODE?") << QByteArray("AT+MODE=USER");
    QTest::newRow("silent for another command")
        << false << QStringList{"AT+CAN", "AT+MSG"} << QByteArray("AT+MODE=USER\r\n") << true << QByteArray("AT+MODE?")
        << QByteArray("AT+MODE=USER");
    QTest::newRow("silent for a query") << false << QStringList{"AT+FILTER?"} << QByteArray("AT+FILTER?") << false
                                        << QByteArray("AT+CANLT?") << QByteArray("AT+CANLT=OFF");
    QTest::newRow("silent for the restore")
        << false << QStringList{"AT+RESTORE"} << QByteArray("AT+RESTORE\r\n") << false << QByteArray("AT+DIRECTION?")
        << QByteArray("AT+DIRECTION=BOTHWAY");
}

void TestSimModule::silencingFaults()
{
    QFETCH(bool, silent);
    QFETCH(QStringList, silentFor);
    QFETCH(QByteArray, command);
    QFETCH(bool, answered);
    QFETCH(QByteArray, query);
    QFETCH(QByteArray, report);

    SimModule m;
    enterQuiet(m);
    QCOMPARE(m.handleFrame("AT+DIRECTION=CAN-UART\r\n"), OK);
    m.faults().silent = silent;
    m.faults().silentFor = silentFor;
    QCOMPARE(m.handleFrame(command).isEmpty(), !answered);
    m.faults() = SimModule::Faults();
    QCOMPARE(m.handleFrame(query), ::report(report));
}

void TestSimModule::garbageReply()
{
    for (int round = 0; round < 200; ++round) {
        SimModule m;
        m.faults().garbage = true;
        QCOMPARE(m.handleFrame("+++"), QByteArray());
        const QByteArray reply = m.handleFrame("AT\r\n");
        QCOMPARE(reply.size(), QByteArray("AT\r\n" + NOTICE).size());
        QVERIFY2(!reply.contains("AT MODE"), reply.constData());
        QVERIFY2(!reply.contains("+OK"), reply.constData());
        for (char c : reply)
            QVERIFY(c > 0x20 && c < 0x7F);
        // The notice was used up all the same.
        m.faults().garbage = false;
        QCOMPARE(m.handleFrame("AT\r\n"), QByteArray("AT\r\n" + OK));
    }
}

void TestSimModule::reshapedReplies_data()
{
    QTest::addColumn<bool>("zeroByte");
    QTest::addColumn<bool>("longReply");

    QTest::newRow("zero byte") << true << false;
    QTest::newRow("long reply") << false << true;
    QTest::newRow("both") << true << true;
}

void TestSimModule::reshapedReplies()
{
    QFETCH(bool, zeroByte);
    QFETCH(bool, longReply);

    SimModule m;
    enterQuiet(m);
    m.faults().zeroByte = zeroByte;
    m.faults().longReply = longReply;
    const QByteArray normal = report("AT+UART=115200,8,1,NONE,NFC");
    QByteArray expected = normal;
    if (zeroByte)
        expected.insert(normal.size() / 2, '\0');
    const QByteArray reply = m.handleFrame("AT+UART?\r\n");
    QCOMPARE(reply.left(expected.size()), expected);
    QCOMPARE(reply.size(), expected.size() + (longReply ? 64 * 1024 : 0));
    const QByteArray tail = reply.mid(expected.size());
    QVERIFY(!tail.contains("AT") && !tail.contains("+OK") && !tail.contains('R') && !tail.contains('\0'));
    // Every reply is reshaped...
    QByteArray exitReply = OK;
    if (zeroByte)
        exitReply.insert(OK.size() / 2, '\0');
    const QByteArray got = m.handleFrame("AT+EXAT");
    QCOMPARE(got.left(exitReply.size()), exitReply);
    QCOMPARE(got.size(), exitReply.size() + (longReply ? 64 * 1024 : 0));
    // ...but no reply stays no reply.
    QCOMPARE(m.handleFrame("AT\r\n"), QByteArray());
}

void TestSimModule::noticeAfterPlus()
{
    SimModule m;
    m.faults().noticeAfterPlus = true;
    QCOMPARE(m.handleFrame("+++"), NOTICE);
    QCOMPARE(m.handleFrame("AT\r\n"), QByteArray("AT\r\n" + OK));
    QCOMPARE(m.handleFrame("AT+E=OFF\r\n"), QByteArray("AT+E=OFF\r\n" + OK));
}

void TestSimModule::extraAfterValues_data()
{
    QTest::addColumn<QByteArray>("query");
    QTest::addColumn<QByteArray>("reply");

    QTest::newRow("uart") << QByteArray("AT+UART?\r\n") << report("AT+UART=115200,8,1,NONE,NFC extra");
    QTest::newRow("can") << QByteArray("AT+CAN?\r\n") << report("AT+CAN=250,0,NDTF extra");
    QTest::newRow("direction") << QByteArray("AT+DIRECTION?") << report("AT+DIRECTION=BOTHWAY extra");
    QTest::newRow("filters") << QByteArray("AT+FILTER?")
                             << QByteArray("\r\nAT+FILTER=NDTF,7FF extra\r\nAT+FILTER=EDTF,1ABCDEF0 extra\r\n" + OK);
    QTest::newRow("set command unaffected") << QByteArray("AT+MODE=USER\r\n") << OK;
}

void TestSimModule::extraAfterValues()
{
    QFETCH(QByteArray, query);
    QFETCH(QByteArray, reply);

    SimModule m;
    enterQuiet(m);
    feed(m, {"AT+FILTER=NDTF,7FF\r\n", "AT+FILTER=EDTF,1ABCDEF0\r\n"});
    m.faults().extraAfterValues = QStringLiteral(" extra");
    QCOMPARE(m.handleFrame(query), reply);
}

void TestSimModule::reportForms_data()
{
    QTest::addColumn<QStringList>("options");  // of velkocan-sim
    QTest::addColumn<QByteArrayList>("setup"); // each answered with OK, after entering with echo off at 57600 8O2
    QTest::addColumn<QByteArray>("query");
    QTest::addColumn<QByteArray>("reply");

    const QStringList blanks = {"--blanks"};
    const QStringList padded = {"--padded-ids"};
    const QByteArrayList can = {"AT+CAN=250,7FF,NDTF\r\n"};
    const QByteArrayList two = {"AT+FILTER=EDTF,1ABCDEF0\r\n", "AT+FILTER=NDTF,7FF\r\n"};
    QTest::newRow("blanks follow every comma of the serial line")
        << blanks << QByteArrayList() << QByteArray("AT+UART?\r\n") << report("AT+UART=57600, 8, 2, ODD, NFC");
    QTest::newRow("a single field gets no blank")
        << blanks << QByteArrayList() << QByteArray("AT+MODE?") << report("AT+MODE=TRANS");
    QTest::newRow("blanks in every filter entry")
        << blanks << two << QByteArray("AT+FILTER?") << listing({"EDTF, 1ABCDEF0", "NDTF, 7FF"});
    QTest::newRow("padded ids fill the CAN id to 8 digits")
        << padded << can << QByteArray("AT+CAN?\r\n") << report("AT+CAN=250,000007FF,NDTF");
    QTest::newRow("padded ids leave a full-width id as it is and pad the short one")
        << padded << two << QByteArray("AT+FILTER?") << listing({"EDTF,1ABCDEF0", "NDTF,000007FF"});
    QTest::newRow("the echo stays before a report with blanks and padded ids")
        << (blanks + padded) << (can + QByteArrayList{"AT+E=ON\r\n"}) << QByteArray("AT+CAN?\r\n")
        << QByteArray("AT+CAN?\r\n" + report("AT+CAN=250, 000007FF, NDTF"));
    QTest::newRow("an empty list is the bare key")
        << QStringList{"--bare-empty-list"} << QByteArrayList() << QByteArray("AT+FILTER?") << report("AT+FILTER=");
    QTest::newRow("a list with entries is unchanged by the bare key")
        << QStringList{"--bare-empty-list"} << two << QByteArray("AT+FILTER?")
        << listing({"EDTF,1ABCDEF0", "NDTF,7FF"});
    QTest::newRow("a kept setting is acknowledged and the old value stays")
        << QStringList{"--keep-settings", "mode,CAN"} << can << QByteArray("AT+CAN?") << report("AT+CAN=250,0,NDTF");
    QTest::newRow("a kept setting is still checked")
        << QStringList{"--keep-settings", "CAN"} << QByteArrayList() << QByteArray("AT+CAN=500,800,NDTF\r\n") << ERR;
    QTest::newRow("a setting not named changes as usual")
        << QStringList{"--keep-settings", "CAN,MODE"} << QByteArrayList{"AT+MSG=1,1\r\n"} << QByteArray("AT+MSG?")
        << report("AT+MSG=1,1");
}

void TestSimModule::reportForms()
{
    QFETCH(QStringList, options);
    QFETCH(QByteArrayList, setup);
    QFETCH(QByteArray, query);
    QFETCH(QByteArray, reply);

    SimModule m;
    m.setLine(57600, Parity::Odd, 2);
    enterQuiet(m);
    QVERIFY(parseFaultOptions(options, &m.faults()));
    for (const QByteArray& frame : setup)
        QCOMPARE(m.handleFrame(frame), OK);
    QCOMPARE(m.handleFrame(query), reply);
}

void TestSimModule::malformedFaultOptions_data()
{
    QTest::addColumn<QStringList>("args");

    QTest::newRow("a pause with a unit is refused") << QStringList{"--pause-in-line", "150ms"};
    QTest::newRow("a negative frame count is refused") << QStringList{"--vanish-after", "-1"};
    QTest::newRow("a kept name that is no set command is refused") << QStringList{"--keep-settings", "CAN,REBT"};
}

void TestSimModule::malformedFaultOptions()
{
    QFETCH(QStringList, args);
    SimModule::Faults f;
    QString error;
    QVERIFY(!parseFaultOptions(args, &f, &error));
    QVERIFY2(error.contains(args.first()), qPrintable(error));
}

void TestSimModule::replyHook()
{
    SimModule m;
    enterQuiet(m);
    QByteArrayList seen;
    m.setReplyHook([&](const QByteArray& frame, QByteArray& reply) {
        seen << frame;
        if (frame.startsWith("AT+MODE=")) {
            reply = "hooked";
            return true;
        }
        if (frame.startsWith("AT+MSG=")) {
            reply.clear();
            return true;
        }
        return false;
    });
    QCOMPARE(m.handleFrame("AT+MODE=USER\r\n"), QByteArray("hooked"));
    QCOMPARE(m.handleFrame("AT+MSG=1,1\r\n"), QByteArray());
    QCOMPARE(m.handleFrame("AT+CANLT=NTF\r\n"), OK);
    QCOMPARE(seen, (QByteArrayList{"AT+MODE=USER\r\n", "AT+MSG=1,1\r\n", "AT+CANLT=NTF\r\n"}));
    m.setReplyHook(nullptr);
    // Hooked frames changed nothing; the others did.
    QCOMPARE(m.handleFrame("AT+MODE?\r\n"), report("AT+MODE=TRANS"));
    QCOMPARE(m.handleFrame("AT+MSG?\r\n"), report("AT+MSG=0,0"));
    QCOMPARE(m.handleFrame("AT+CANLT?"), report("AT+CANLT=NTF"));
}

// ---------------------------------------------------------------------------
// Through the pseudo-terminal

void TestSimModule::linkPublishedAndRemoved()
{
    const QString folder = qEnvironmentVariable("XDG_RUNTIME_DIR") + "/velkocan";
    QString first;
    {
        SimModule a;
        SimModule b;
        QString error;
        QVERIFY2(a.start(&error), qPrintable(error));
        QVERIFY2(b.start(&error), qPrintable(error));
        QVERIFY(a.isRunning());
        first = a.portName();

        for (SimModule* m : {&a, &b}) {
            const QFileInfo link(m->portName());
            QCOMPARE(link.absolutePath(), folder);
            QVERIFY(link.isSymLink());
            QCOMPARE(link.symLinkTarget(), m->slavePath());
            QVERIFY(m->slavePath().startsWith("/dev/pts/"));
            QVERIFY(QRegularExpression(QStringLiteral("^velkocan-sim-%1-\\d+$").arg(::getpid()))
                        .match(link.fileName())
                        .hasMatch());
        }
        QVERIFY(a.portName() != b.portName());

        // Before any tool configures it, the port is raw: nothing echoes back.
        const int fd = ::open(QFile::encodeName(a.portName()).constData(), O_RDWR | O_NOCTTY);
        QVERIFY(fd >= 0);
        struct termios tio;
        QCOMPARE(::tcgetattr(fd, &tio), 0);
        ::close(fd);
        QCOMPARE(tio.c_lflag & (ECHO | ICANON | ISIG), tcflag_t(0));
        QCOMPARE(tio.c_oflag & OPOST, tcflag_t(0));

        const QString slaveA = a.slavePath();
        QCOMPARE(openFdsOn(slaveA), 1);
        a.stop();
        QCOMPARE(openFdsOn(slaveA), 0);
        QVERIFY(!a.isRunning());
        QVERIFY(!QFileInfo::exists(first));
        QVERIFY(!QFileInfo(first).isSymLink());
        QVERIFY(QFileInfo(b.portName()).isSymLink());
        first = b.portName();
    }
    // The destructor removes the link too.
    QVERIFY(!QFileInfo(first).isSymLink());
    QVERIFY(QDir(folder).entryList(QDir::System | QDir::Files).isEmpty());
}

void TestSimModule::terminalWithALockFileLeftIsPassedOver()
{
    // A program that closed its port but has not yet removed its lock file
    // (this process stands for it): the terminal's number comes free first.
    QString freed;
    {
        SimModule a;
        QVERIFY(a.start());
        freed = a.slavePath();
    }
    // Where Qt's serial port keeps it: the first of its folders that one may write to.
    const QString folder =
        QFileInfo(QStringLiteral("/var/lock")).isWritable() ? QStringLiteral("/var/lock") : QStringLiteral("/tmp");
    const QString lockPath = folder + QStringLiteral("/LCK..") + freed.mid(5).replace('/', '_');
    QFile lock(lockPath);
    if (!lock.open(QIODevice::WriteOnly | QIODevice::Truncate))
        QSKIP(qPrintable(lockPath + QLatin1String(": ") + lock.errorString()));
    lock.write(QByteArray::number(qint64(::getpid())) + "\nvelkocan-cli\n");
    lock.close();
    SimModule b;
    const bool started = b.start();
    const QString taken = b.slavePath();
    QFile::remove(lockPath);
    QVERIFY(started);
    QVERIFY2(taken != freed, qPrintable(taken));
    QSerialPort tool(b.portName());
    QVERIFY2(tool.open(QIODevice::ReadWrite), qPrintable(tool.errorString()));
}

void TestSimModule::lineMatching_data()
{
    QTest::addColumn<qint32>("moduleBaud");
    QTest::addColumn<Parity>("moduleParity");
    QTest::addColumn<qint32>("toolBaud");
    QTest::addColumn<QSerialPort::Parity>("toolParity");
    QTest::addColumn<bool>("answers");

    QTest::newRow("115200 none") << 115200 << Parity::None << 115200 << QSerialPort::NoParity << true;
    QTest::newRow("9600 odd") << 9600 << Parity::Odd << 9600 << QSerialPort::OddParity << true;
    QTest::newRow("600 none") << 600 << Parity::None << 600 << QSerialPort::NoParity << true;
    QTest::newRow("14400 (non-standard rate)") << 14400 << Parity::None << 14400 << QSerialPort::NoParity << true;
    QTest::newRow("256000 (non-standard rate)") << 256000 << Parity::Odd << 256000 << QSerialPort::OddParity << true;
    QTest::newRow("wrong baud") << 115200 << Parity::None << 9600 << QSerialPort::NoParity << false;
    QTest::newRow("neighbouring baud") << 57600 << Parity::None << 38400 << QSerialPort::NoParity << false;
    QTest::newRow("module odd, tool none") << 115200 << Parity::Odd << 115200 << QSerialPort::NoParity << false;
    QTest::newRow("module none, tool odd") << 115200 << Parity::None << 115200 << QSerialPort::OddParity << false;
    QTest::newRow("module odd, tool even") << 115200 << Parity::Odd << 115200 << QSerialPort::EvenParity << false;
    // A pseudo-terminal cannot show even parity: it looks like none.
    QTest::newRow("module even, tool none") << 115200 << Parity::Even << 115200 << QSerialPort::NoParity << true;
    QTest::newRow("module even, tool even") << 19200 << Parity::Even << 19200 << QSerialPort::EvenParity << true;
}

void TestSimModule::lineMatching()
{
    QFETCH(qint32, moduleBaud);
    QFETCH(Parity, moduleParity);
    QFETCH(qint32, toolBaud);
    QFETCH(QSerialPort::Parity, toolParity);
    QFETCH(bool, answers);

    SimModule m;
    m.setLine(moduleBaud, moduleParity);
    QString error;
    QVERIFY2(m.start(&error), qPrintable(error));
    QSignalSpy replies(&m, &SimModule::replyQueued);
    Tool tool;
    QVERIFY2(tool.open(m.portName(), toolBaud, toolParity), qPrintable(tool.port.errorString()));

    QVERIFY(sendFrame(tool, m, "+++"));
    QVERIFY(sendFrame(tool, m, "AT\r\n"));
    QCOMPARE(m.frameData(), (QList<QByteArray>{"+++", "AT\r\n"}));
    for (const sim::Frame& f : m.frames()) {
        QCOMPARE(f.baud, toolBaud);
        QCOMPARE(f.oddParity, toolParity == QSerialPort::OddParity);
        QCOMPARE(f.matched, answers);
    }
    QVERIFY(m.frames().at(1).msecs >= m.frames().at(0).msecs);
    if (answers) {
        const QByteArray expected = "AT\r\n" + NOTICE;
        QTRY_COMPARE_WITH_TIMEOUT(tool.rx, expected, 3000);
        QCOMPARE(replies.count(), 1);
    } else {
        // The frame was taken without any answer and changed nothing.
        QCOMPARE(replies.count(), 0);
        QVERIFY(!m.isSending());
        QVERIFY(!m.state().configMode);
        QVERIFY(tool.rx.isEmpty());
    }
}

void TestSimModule::frameDelimitedByIdleGap_data()
{
    QTest::addColumn<qint32>("baud");
    QTest::addColumn<int>("gapMs");

    QTest::newRow("115200: 20 ms") << 115200 << 20;
    QTest::newRow("1200: 3.5 characters") << 1200 << 30;
}

void TestSimModule::frameDelimitedByIdleGap()
{
    QFETCH(qint32, baud);
    QFETCH(int, gapMs);

    SimModule m;
    m.setLine(baud, Parity::None);
    QVERIFY(m.start());
    Tool tool;
    QVERIFY(tool.open(m.portName(), baud, QSerialPort::NoParity));
    QElapsedTimer clock;
    qint64 endedAt = -1;
    connect(&m, &SimModule::frameReceived, this, [&] { endedAt = clock.elapsed(); });

    // No terminator: the idle gap alone ends the frame, not sooner.
    clock.start();
    tool.send("+++");
    QTRY_VERIFY(endedAt >= 0);
    QVERIFY2(endedAt >= gapMs, qPrintable(QString::number(endedAt)));

    // Bytes written in several pieces without a pause make one frame.
    tool.send("A");
    tool.send("T");
    tool.send("\r\n");
    QTRY_COMPARE(m.frames().size(), 2);
    QCOMPARE(m.frames().at(1).data, QByteArray("AT\r\n"));
    QTRY_COMPARE(tool.rx, QByteArray("AT\r\n" + NOTICE));

    // The unterminated queries are frames of their own.
    tool.rx.clear();
    QVERIFY(sendFrame(tool, m, "AT+DIRECTION?"));
    QTRY_COMPARE(tool.rx, QByteArray("AT+DIRECTION?" + report("AT+DIRECTION=BOTHWAY")));
    tool.rx.clear();
    QVERIFY(sendFrame(tool, m, "AT+E=OFF\r\n"));
    QTRY_COMPARE(tool.rx, QByteArray("AT+E=OFF\r\n" + OK));
    tool.rx.clear();
    QVERIFY(sendFrame(tool, m, "AT+CANLT?"));
    QTRY_COMPARE(tool.rx, report("AT+CANLT=OFF"));
    QCOMPARE(m.frameData(), (QList<QByteArray>{"+++", "AT\r\n", "AT+DIRECTION?", "AT+E=OFF\r\n", "AT+CANLT?"}));

    m.clearFrames();
    QVERIFY(m.frames().isEmpty());
}

void TestSimModule::replyPacedAtLineRate_data()
{
    QTest::addColumn<qint32>("baud");

    QTest::newRow("1200") << 1200;
    QTest::newRow("9600") << 9600;
    QTest::newRow("115200") << 115200;
}

void TestSimModule::replyPacedAtLineRate()
{
    QFETCH(qint32, baud);

    SimModule m;
    m.setLine(baud, Parity::None);
    QVERIFY(m.start());
    Tool tool;
    QVERIFY(tool.open(m.portName(), baud, QSerialPort::NoParity));
    QVERIFY(sendFrame(tool, m, "+++"));

    QElapsedTimer clock;
    qint64 frameAt = -1;
    connect(&m, &SimModule::frameReceived, this, [&] { frameAt = tool.clock.elapsed(); });
    const QByteArray expected = "AT\r\n" + NOTICE;
    tool.send("AT\r\n");
    QTRY_COMPARE_WITH_TIMEOUT(tool.rx, expected, 5000);
    QTRY_VERIFY(!m.isSending());
    // The last byte cannot be there before 11 bit times per byte have passed.
    const qint64 lineMs = expected.size() * 11 * 1000 / baud;
    const qint64 took = tool.timeOfSize(expected.size()) - frameAt;
    QVERIFY2(took >= lineMs, qPrintable(QStringLiteral("%1 ms for %2 ms of line time").arg(took).arg(lineMs)));
}

void TestSimModule::restartTakesNewLineAfterReply()
{
    SimModule m;
    QVERIFY(m.start());
    Tool tool;
    QVERIFY(tool.open(m.portName(), 115200, QSerialPort::NoParity));
    QVERIFY(sendFrame(tool, m, "+++"));
    QVERIFY(sendFrame(tool, m, "AT\r\n"));
    QVERIFY(sendFrame(tool, m, "AT+E=OFF\r\n"));
    QVERIFY(sendFrame(tool, m, "AT+UART=9600,8,1,ODD,NFC\r\n"));
    QTRY_VERIFY(tool.rx.endsWith("AT+E=OFF\r\n" + OK + OK));
    QCOMPARE(m.state().baud, 115200);

    // The restart's answer still comes at the old line.
    tool.rx.clear();
    QVERIFY(sendFrame(tool, m, "AT+REBT\r\n"));
    QTRY_COMPARE(tool.rx, OK);
    QTRY_VERIFY(!m.isSending());
    QCOMPARE(m.state().baud, 9600);
    QCOMPARE(m.state().parity, Parity::Odd);

    // The old line gets nothing any more...
    tool.rx.clear();
    QSignalSpy replies(&m, &SimModule::replyQueued);
    QVERIFY(sendFrame(tool, m, "+++"));
    QVERIFY(sendFrame(tool, m, "AT\r\n"));
    QVERIFY(!m.frames().constLast().matched);
    QCOMPARE(replies.count(), 0);

    // ...the new one does.
    tool.port.close();
    QVERIFY(tool.open(m.portName(), 9600, QSerialPort::OddParity));
    QVERIFY(sendFrame(tool, m, "+++"));
    QVERIFY(sendFrame(tool, m, "AT\r\n"));
    QTRY_COMPARE(tool.rx, QByteArray("AT\r\n" + NOTICE));
    QCOMPARE(m.frames().constLast().baud, 9600);
    QVERIFY(m.frames().constLast().oddParity);
}

void TestSimModule::toolReopensPort()
{
    SimModule m;
    QVERIFY(m.start());
    Tool tool;
    // The baud search opens and closes the port over and over.
    for (qint32 baud : {9600, 460800, 600, 115200}) {
        QVERIFY(tool.open(m.portName(), baud, QSerialPort::NoParity));
        QVERIFY(sendFrame(tool, m, "+++"));
        tool.port.close();
        QVERIFY(m.isRunning());
        // The module keeps the slave open itself, so the tool's close is no hang-up.
        QCOMPARE(openFdsOn(m.slavePath()), 1);
    }
    QVERIFY(tool.open(m.portName(), 115200, QSerialPort::NoParity));
    QVERIFY(sendFrame(tool, m, "AT\r\n"));
    QTRY_COMPARE(tool.rx, QByteArray("AT\r\n" + NOTICE));
    QCOMPARE(m.frames().size(), 5);
}

void TestSimModule::replyLostWhilePortClosed()
{
    SimModule m;
    QVERIFY(m.start());
    m.faults().splitGapMs = 200;
    Tool tool;
    QVERIFY(tool.open(m.portName(), 115200, QSerialPort::NoParity));
    QVERIFY(sendFrame(tool, m, "+++"));
    const QByteArray notice = "AT\r\n" + NOTICE;
    tool.send("AT\r\n");
    QTRY_COMPARE(tool.rx.size(), notice.size() / 2);
    // The second half goes out while nobody listens, as on a real line.
    tool.port.close();
    QTRY_VERIFY(!m.isSending());
    m.faults().splitGapMs = 0;

    tool.rx.clear();
    QVERIFY(tool.open(m.portName(), 115200, QSerialPort::NoParity));
    QVERIFY(sendFrame(tool, m, "AT\r\n"));
    const QByteArray expected = "AT\r\n" + OK;
    QTRY_VERIFY(tool.rx.size() >= expected.size());
    QTRY_VERIFY(!m.isSending());
    QCOMPARE(tool.rx, expected);
}

void TestSimModule::splitReply()
{
    SimModule m;
    QVERIFY(m.start());
    m.faults().splitGapMs = 150;
    Tool tool;
    QVERIFY(tool.open(m.portName(), 115200, QSerialPort::NoParity));
    QVERIFY(sendFrame(tool, m, "+++"));
    qint64 frameAt = -1;
    connect(&m, &SimModule::frameReceived, this, [&] { frameAt = tool.clock.elapsed(); });
    const QByteArray expected = "AT\r\n" + NOTICE;
    tool.send("AT\r\n");
    QTRY_COMPARE(tool.rx, expected);
    // The first half came alone, the second no sooner than the gap after it.
    QCOMPARE(tool.arrivals.first().second, expected.size() / 2);
    const qint64 whole = tool.timeOfSize(expected.size()) - frameAt;
    QVERIFY2(whole >= 150, qPrintable(QString::number(whole)));
}

void TestSimModule::pausedReplies_data()
{
    QTest::addColumn<bool>("echo");
    QTest::addColumn<QStringList>("options"); // of velkocan-sim, each pause 200 ms
    QTest::addColumn<QByteArray>("frame");
    QTest::addColumn<QByteArrayList>("pieces"); // with a pause between each two

    const QStringList inLine = {"--pause-in-line", "200"};
    const QStringList slowOk = {"--slow-ok", "200"};
    QTest::newRow("a report pauses in the middle of its value text")
        << false << inLine << QByteArray("AT+CAN?\r\n") << QByteArrayList{"\r\nAT+CAN=250,7F", "F,NDTF\r\n" + OK};
    QTest::newRow("the filter listing pauses inside the first entry's ID")
        << false << inLine << QByteArray("AT+FILTER?")
        << QByteArrayList{"\r\nAT+FILTER=NDTF,7", "FF\r\nAT+FILTER=EDTF,1ABCDEF0\r\n" + OK};
    QTest::newRow("an OK reply is not cut")
        << true << inLine << QByteArray("AT+MODE=USER\r\n") << QByteArrayList{"AT+MODE=USER\r\n" + OK};
    QTest::newRow("the OK reply follows the echo late")
        << true << slowOk << QByteArray("AT+E=OFF\r\n") << QByteArrayList{"AT+E=OFF\r\n", OK};
    QTest::newRow("without echo the OK reply is not held back")
        << false << slowOk << QByteArray("AT+MODE=USER\r\n") << QByteArrayList{OK};
    QTest::newRow("echo, then the report up to the cut, then the rest")
        << true << (inLine + slowOk) << QByteArray("AT+MODE?\r\n")
        << QByteArrayList{"AT+MODE?\r\n", "\r\nAT+MODE=TR", "ANS\r\n" + OK};
}

void TestSimModule::pausedReplies()
{
    QFETCH(bool, echo);
    QFETCH(QStringList, options);
    QFETCH(QByteArray, frame);
    QFETCH(QByteArrayList, pieces);

    SimModule m;
    QVERIFY(m.start());
    QVERIFY(parseFaultOptions(options, &m.faults()));
    m.state().configMode = true;
    m.state().echo = echo;
    m.state().canId = QStringLiteral("7FF");
    m.state().filters = {{"NDTF", "7FF"}, {"EDTF", "1ABCDEF0"}};
    Tool tool;
    QVERIFY(tool.open(m.portName(), 115200, QSerialPort::NoParity));
    qint64 frameAt = -1;
    connect(&m, &SimModule::frameReceived, this, [&] { frameAt = tool.clock.elapsed(); });
    tool.send(frame);
    QTRY_COMPARE(tool.rx, pieces.join());

    // Each piece came alone and the next no sooner than 0.8 times the pause;
    // the whole reply took no further pause.
    int size = 0;
    for (int i = 0; i + 1 < pieces.size(); ++i) {
        size += pieces.at(i).size();
        const auto alone = std::find_if(tool.arrivals.cbegin(), tool.arrivals.cend(),
                                        [&](const QPair<qint64, int>& a) { return a.second == size; });
        QVERIFY2(alone != tool.arrivals.cend(), qPrintable(QStringLiteral("piece %1").arg(i)));
        const qint64 pause = tool.timeOfSize(size + 1) - alone->first;
        QVERIFY2(pause >= 160, qPrintable(QStringLiteral("%1 ms after piece %2").arg(pause).arg(i)));
    }
    const qint64 whole = tool.timeOfSize(size + pieces.constLast().size()) - frameAt;
    QVERIFY2(whole < 200 * pieces.size(), qPrintable(QStringLiteral("%1 ms in all").arg(whole)));
}

void TestSimModule::endlessFiller()
{
    SimModule m;
    QVERIFY(m.start());
    m.faults().endless = true;
    Tool tool;
    QVERIFY(tool.open(m.portName(), 115200, QSerialPort::NoParity));
    QVERIFY(sendFrame(tool, m, "+++"));
    QVERIFY(sendFrame(tool, m, "AT\r\n"));
    const QByteArray expected = "AT\r\n" + NOTICE;
    QTRY_VERIFY(tool.rx.size() > expected.size() + 2000);
    QVERIFY(tool.rx.startsWith(expected));
    QVERIFY(m.isSending());

    m.faults().endless = false;
    QTRY_VERIFY(!m.isSending());
    // Quiet again: the next command gets its plain answer.
    tool.rx.clear();
    QVERIFY(sendFrame(tool, m, "AT\r\n"));
    QTRY_COMPARE(tool.rx, QByteArray("AT\r\n" + OK));
    QTRY_VERIFY(!m.isSending());
}

void TestSimModule::unplugAfterFrames()
{
    SimModule m;
    QVERIFY(m.start());
    QVERIFY(parseFaultOptions({"--vanish-after", "2"}, &m.faults()));
    QSignalSpy unplugged(&m, &SimModule::unplugged);
    QSignalSpy replies(&m, &SimModule::replyQueued);
    const QString link = m.portName();
    Tool tool;
    QVERIFY(tool.open(link, 115200, QSerialPort::NoParity));
    QVERIFY(sendFrame(tool, m, "+++"));
    QVERIFY(m.isRunning());
    QCOMPARE(unplugged.count(), 0);
    QCOMPARE(openFdsOn(m.slavePath()), 2); // the tool's port and the module's own

    tool.send("AT\r\n");
    QTRY_COMPARE(unplugged.count(), 1);
    QVERIFY(!m.isRunning());
    QCOMPARE(m.frames().size(), 2);
    QCOMPARE(replies.count(), 0);
    QVERIFY(!QFileInfo(link).isSymLink());
    QCOMPARE(openFdsOn(m.slavePath()), 1); // only the tool's port is left
    // The tool's port notices that the device is gone.
    QTRY_COMPARE(tool.port.error(), QSerialPort::ResourceError);
}

void TestSimModule::replugTakesTheLinkAway()
{
    // Between the two, the old device may become another program's: a tool
    // following the link must find nothing there, not that program's port.
    SimModule m;
    QVERIFY(m.start());
    m.faults().replugAfterRestartMs = 1000;
    QSignalSpy replugged(&m, &SimModule::replugged);
    const QString link = m.portName();
    const QString before = m.slavePath();
    m.replug();
    QTRY_VERIFY(!m.isRunning());
    QVERIFY(!QFileInfo(link).isSymLink());
    QCOMPARE(openFdsOn(before), 0);
    QVERIFY(replugged.wait());
    QVERIFY(m.isRunning());
    QCOMPARE(QFileInfo(link).symLinkTarget(), m.slavePath());
}

void TestSimModule::silentAfterFrames()
{
    SimModule m;
    QVERIFY(m.start());
    QVERIFY(parseFaultOptions({"--silent-after", "3"}, &m.faults()));
    QSignalSpy replies(&m, &SimModule::replyQueued);
    Tool tool;
    QVERIFY(tool.open(m.portName(), 115200, QSerialPort::NoParity));
    QVERIFY(sendFrame(tool, m, "+++"));
    QVERIFY(sendFrame(tool, m, "AT\r\n"));
    QTRY_COMPARE(tool.rx, QByteArray("AT\r\n" + NOTICE));

    // From the third frame on nothing is answered or changed, but the port stays usable.
    for (const QByteArray& frame : {QByteArray("AT+MODE=USER\r\n"), QByteArray("AT\r\n")})
        QVERIFY(sendFrame(tool, m, frame));
    QCOMPARE(replies.count(), 1);
    QCOMPARE(m.state().mode, QStringLiteral("TRANS"));
    QVERIFY(m.isRunning());
    QCOMPARE(tool.port.error(), QSerialPort::NoError);
}

// Each test process publishes its links in a runtime folder of its own.
int main(int argc, char** argv)
{
    QByteArray dir = QDir::tempPath().toLocal8Bit() + "/tst_simmodule-XXXXXX";
    if (!::mkdtemp(dir.data())) {
        std::perror("mkdtemp");
        return 1;
    }
    ::chmod(dir.constData(), 0700);
    qputenv("XDG_RUNTIME_DIR", dir);
    int rc;
    {
        QCoreApplication app(argc, argv);
        TestSimModule test;
        rc = QTest::qExec(&test, argc, argv);
    }
    QDir(QString::fromLocal8Bit(dir)).removeRecursively();
    return rc;
}

#include "tst_simmodule.moc"
