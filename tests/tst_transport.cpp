// The serial port object, the reply wait and the delay, through the real
// QSerialPort on a pseudo-terminal whose far end is the simulated module.
#include "core/protocol/atprotocol.h"
#include "core/transport/common.h"
#include "core/transport/serialsocket.h"
#include "sim/simmodule.h"
#include "tests/support/coresupport.h"
#include "tests/support/simsupport.h"

#include <QElapsedTimer>
#include <QMetaEnum>
#include <QSignalSpy>
#include <QTimer>
#include <ctime>

Q_DECLARE_METATYPE(SerialSocket::ReplyEnd)

namespace {
double processCpuSeconds()
{
    timespec ts{};
    clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &ts);
    return double(ts.tv_sec) + double(ts.tv_nsec) / 1e9;
}
} // namespace

class TstTransport : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void init();
    void cleanup();

    // Runs first: the drain of bytes before the first exchange is one-way.
    void bytesBeforeFirstExchangeAreDrained();
    void bytesBetweenExchangesOpenTheNextReply();

    void oneInstance();
    void configOnClosedPortReportsNoError();
    void openMissingPort();
    void configOnOpenPortAppliesAtOnce();
    void polls_data();
    void polls();
    void replyInTwoParts();
    void endlessStreamStopsAtBudget();
    void pacedReplyEnds_data();
    void pacedReplyEnds();
    void closedPortReturnsAtOnce();
    void errorMessages_data();
    void errorMessages();
    void unplugClosesThePort();
    void delayLastsAndProcessesEvents();
    void delayCostsLittleCpu();
    void delayWhileQuittingSleeps();

private:
    bool openSim(qint32 baud = 115200, QSerialPort::Parity parity = QSerialPort::NoParity);
    // Puts the simulated module into its configuration state with echo off, so that "AT\r\n" gets the OK reply.
    void enterConfig();

    sim::SimModule* m_sim = nullptr;
    SerialSocket* m_port = nullptr;
};

void TstTransport::initTestCase()
{
    m_port = SerialSocket::getInstance();
}

void TstTransport::init()
{
    m_sim = new sim::SimModule(this);
    QString error;
    QVERIFY2(m_sim->start(&error), qPrintable(error));
}

void TstTransport::cleanup()
{
    m_port->closePort();
    delete m_sim;
    m_sim = nullptr;
}

bool TstTransport::openSim(qint32 baud, QSerialPort::Parity parity)
{
    m_port->setPortConfig(m_sim->portName(), baud, QSerialPort::Data8, parity, QSerialPort::OneStop);
    return m_port->openPort();
}

void TstTransport::enterConfig()
{
    m_sim->state().configMode = true;
    m_sim->state().echo = false;
}

void TstTransport::bytesBeforeFirstExchangeAreDrained()
{
    QVERIFY(openSim());
    enterConfig();
    m_port->sendData("AT+MODE?\r\n");
    QTRY_VERIFY(m_port->drainedBytes().contains("AT+MODE=TRANS"));
    QVERIFY(m_port->sendAndWait("AT+MSG?\r\n", 500));
    QVERIFY(m_port->getReply().contains("AT+MSG=0,0"));
    QVERIFY(!m_port->getReply().contains("AT+MODE"));
}

void TstTransport::bytesBetweenExchangesOpenTheNextReply()
{
    QVERIFY(openSim());
    enterConfig();
    QVERIFY(m_port->sendAndWait("AT\r\n", 500));
    const QByteArray drained = m_port->drainedBytes();
    m_port->sendData("AT+MODE?\r\n");
    QTRY_VERIFY(!m_sim->isSending() && m_sim->frames().size() == 2);
    QTest::qWait(50); // the last byte on its way through the pseudo-terminal
    QVERIFY(m_port->sendAndWait("AT+MSG?\r\n", 500));
    const QByteArray reply = m_port->getReply();
    QVERIFY(reply.startsWith("\r\nAT+MODE=TRANS"));
    QVERIFY(reply.contains("AT+MSG=0,0"));
    QCOMPARE(m_port->drainedBytes(), drained); // the drain ended with the first exchange
}

void TstTransport::oneInstance()
{
    QCOMPARE(SerialSocket::getInstance(), m_port);
}

void TstTransport::configOnClosedPortReportsNoError()
{
    // Nothing to drop on a closed port: no "not open" error for a configuration that succeeds.
    QSignalSpy errors(m_port, &SerialSocket::signal_error);
    m_port->setPortConfig(m_sim->portName(), 9600, QSerialPort::Data8, QSerialPort::NoParity, QSerialPort::OneStop);
    QCOMPARE(errors.count(), 0);
    QVERIFY(!m_port->isOpen());
    QVERIFY(m_port->openPort()); // the next open uses the new settings
    QCOMPARE(m_port->baudRate(), 9600);
    m_port->sendData("x");
    QTRY_COMPARE(m_sim->frames().size(), 1);
    QCOMPARE(m_sim->frames().first().baud, 9600);
}

void TstTransport::openMissingPort()
{
    QSignalSpy errors(m_port, &SerialSocket::signal_error);
    m_port->setPortConfig("/dev/velkocan-missing", 115200, QSerialPort::Data8, QSerialPort::NoParity,
                          QSerialPort::OneStop);
    errors.clear();
    QVERIFY(!m_port->openPort());
    QVERIFY(!m_port->isOpen());
    QCOMPARE(errors.count(), 1);
    QCOMPARE(errors.first().first().toString(), QStringLiteral("设备不存在"));
}

void TstTransport::configOnOpenPortAppliesAtOnce()
{
    QVERIFY(openSim());
    enterConfig();
    m_port->setPortConfig(m_sim->portName(), 57600, QSerialPort::Data8, QSerialPort::OddParity, QSerialPort::OneStop);
    QVERIFY(m_port->isOpen());
    m_sim->setLine(57600, sim::Parity::Odd);
    QVERIFY(m_port->sendAndWait("AT\r\n", 500));
    QCOMPARE(m_sim->frames().last().baud, 57600);
    QVERIFY(m_sim->frames().last().oddParity);
}

void TstTransport::polls_data()
{
    QTest::addColumn<int>("budget");
    QTest::addColumn<bool>("silent");
    QTest::addColumn<int>("polls");
    QTest::addColumn<bool>("replied");

    QTest::newRow("silent, budget 100: two polls") << 100 << true << 2 << false;
    QTest::newRow("silent, budget 500: ten polls") << 500 << true << 10 << false;
    QTest::newRow("silent, budget 30: one poll") << 30 << true << 1 << false;
    QTest::newRow("reply within the first poll costs two") << 500 << false << 2 << true;
    QTest::newRow("budget 0: written, no poll") << 0 << false << 0 << false;
    QTest::newRow("negative budget: written, no poll") << -50 << false << 0 << false;
}

void TstTransport::polls()
{
    QFETCH(int, budget);
    QFETCH(bool, silent);
    QFETCH(int, polls);
    QFETCH(bool, replied);
    QVERIFY(openSim());
    enterConfig();
    m_sim->faults().silent = silent;
    QCOMPARE(m_port->sendAndWait("AT\r\n", budget), replied);
    QCOMPARE(m_port->lastPollCount(), polls);
    QTRY_COMPARE(m_sim->frameData(), QList<QByteArray>{"AT\r\n"});
    if (replied)
        QCOMPARE(m_port->getReply(), QByteArray("\r\n+OK\r\n\r\n"));
}

void TstTransport::replyInTwoParts()
{
    QVERIFY(openSim());
    enterConfig();
    m_sim->faults().splitGapMs = 350; // longer than a poll
    // Cut inside a line: the rest is waited for within the budget.
    QVERIFY(m_port->sendAndWait("AT+MODE?\r\n", 500));
    QCOMPARE(m_port->getReply(), QByteArray("\r\nAT+MODE=TRANS\r\n\r\n+OK\r\n\r\n"));
    QVERIFY(m_port->lastPollCount() > 4);
    // Cut after a line end: the exchange ends with the first part, and the
    // second opens the reply of the next exchange.
    const QByteArray split = "\r\nAT+MODE=TRANS\r\n"
                             "\r\n+OK\r\n\r\n\r\n\r\n\r\n\r\n"; // its halves meet at a line end
    TestSupport::answerFrame(m_sim, "AT+MODE?\r\n", split);
    QVERIFY(m_port->sendAndWait("AT+MODE?\r\n", 500));
    const QByteArray first = m_port->getReply();
    QCOMPARE(first, QByteArray("\r\nAT+MODE=TRANS\r\n"));
    m_sim->setReplyHook({});
    m_sim->faults().splitGapMs = 0;
    QTRY_VERIFY(!m_sim->isSending());
    QTest::qWait(50);
    QVERIFY(m_port->sendAndWait("AT\r\n", 500));
    QCOMPARE(first + m_port->getReply(), split + "\r\n+OK\r\n\r\n");
}

void TstTransport::endlessStreamStopsAtBudget()
{
    QVERIFY(openSim());
    enterConfig();
    m_sim->faults().endless = true;
    QVERIFY(m_port->sendAndWait("AT\r\n", 300));
    QCOMPARE(m_port->lastPollCount(), 6);
    QVERIFY(m_port->getReply().size() > 1000);
    m_sim->faults().endless = false;
}

void TstTransport::pacedReplyEnds_data()
{
    QTest::addColumn<QByteArray>("command");
    QTest::addColumn<QByteArray>("answer"); // what the module answers; empty for its own reply
    QTest::addColumn<int>("splitGapMs");
    QTest::addColumn<bool>("noticeEnds");
    QTest::addColumn<SerialSocket::ReplyEnd>("end");
    QTest::addColumn<QByteArray>("reply");
    using End = SerialSocket::ReplyEnd;
    QTest::newRow("+OK ends the reply at once")
        << QByteArray("AT\r\n") << QByteArray() << 0 << false << End::Finished << QByteArray("\r\n+OK\r\n\r\n");
    QTest::newRow("a plain OK after a report")
        << QByteArray("AT+CAN?\r\n") << QByteArray("AT+CAN=250,7FF,NDTF\r\nOK\r\n") << 0 << false << End::Finished
        << QByteArray("AT+CAN=250,7FF,NDTF\r\nOK\r\n");
    QTest::newRow("+ERROR ends it too") << QByteArray("AT+MODE=X\r\n") << QByteArray() << 0 << false << End::Finished
                                        << QByteArray("\r\n+ERROR\r\n\r\n");
    QTest::newRow("the notice ends the AT after the escape")
        << QByteArray("AT\r\n") << QByteArray("\r\nAT MODE\r\n\r\n") << 0 << true << End::Finished
        << QByteArray("\r\nAT MODE\r\n\r\n");
    QTest::newRow("the echo alone is waited on to the end of the budget")
        << QByteArray("AT+MODE?\r\n") << QByteArray("AT+MODE?\r\n") << 0 << false << End::Budget
        << QByteArray("AT+MODE?\r\n");
    QTest::newRow("a report without a final line ends when nothing more comes")
        << QByteArray("AT+MODE?\r\n") << QByteArray("\r\nAT+MODE=TRANS\r\n") << 0 << false << End::Quiet
        << QByteArray("\r\nAT+MODE=TRANS\r\n");
    QTest::newRow("a final line split by a pause is waited for")
        << QByteArray("AT\r\n") << QByteArray() << 300 << false << End::Finished << QByteArray("\r\n+OK\r\n\r\n");
}

void TstTransport::pacedReplyEnds()
{
    QFETCH(QByteArray, command);
    QFETCH(QByteArray, answer);
    QFETCH(int, splitGapMs);
    QFETCH(bool, noticeEnds);
    QFETCH(SerialSocket::ReplyEnd, end);
    QFETCH(QByteArray, reply);
    QVERIFY(openSim());
    enterConfig();
    m_sim->faults().splitGapMs = splitGapMs;
    if (!answer.isEmpty()) {
        m_sim->setReplyHook([answer](const QByteArray&, QByteArray& out) {
            out = answer;
            return true;
        });
    }
    const bool replied = m_port->sendAndWaitPaced(
        command, 300, 5, [noticeEnds](const QByteArray& r) { return At::replyFinished(r, noticeEnds); });
    QVERIFY(replied);
    QCOMPARE(m_port->lastReplyEnd(), end);
    // The line ends that follow a final line are taken too: nothing is left for the next reply.
    QCOMPARE(m_port->getReply(), reply);
    // The wait wakes for bytes and at its own ends only: it does not spin.
    QVERIFY2(m_port->lastPollCount() < 20, QByteArray::number(m_port->lastPollCount()).constData());
}

void TstTransport::closedPortReturnsAtOnce()
{
    QVERIFY(openSim());
    enterConfig();
    QVERIFY(m_port->sendAndWait("AT\r\n", 500));
    const QByteArray last = m_port->getReply();
    m_port->closePort();
    QCOMPARE(m_port->getReply(), last); // closing leaves the reply alone
    QElapsedTimer clock;
    clock.start();
    QVERIFY(!m_port->sendAndWait("AT+MODE?\r\n", 500));
    QVERIFY(clock.elapsed() < 50);
    QCOMPARE(m_port->lastPollCount(), 0);
    QCOMPARE(m_port->getReply(), last);
    QTest::qWait(50);
    QCOMPARE(m_sim->frames().size(), 1);
}

void TstTransport::errorMessages_data()
{
    // Errors by name: Qt 6 numbers them differently and has no parity,
    // framing or break errors. An error without a text of its own shows its
    // Qt 5 number on both.
    QTest::addColumn<QByteArray>("error");
    QTest::addColumn<QString>("message");
    QTest::newRow("device not found") << QByteArray("DeviceNotFoundError") << "设备不存在";
    QTest::newRow("permission") << QByteArray("PermissionError") << "设备连接出错：已有其他软件连接该设备";
    QTest::newRow("open") << QByteArray("OpenError") << "设备打开出错";
    QTest::newRow("write") << QByteArray("WriteError") << "设备通信写入发生错误：串口已关闭";
    QTest::newRow("read") << QByteArray("ReadError") << "设备通信读取发生错误：串口已关闭";
    QTest::newRow("resource") << QByteArray("ResourceError") << "设备已拔出：串口已关闭";
    QTest::newRow("unsupported operation") << QByteArray("UnsupportedOperationError") << "未知错误：错误码10";
    QTest::newRow("unknown") << QByteArray("UnknownError") << "未知错误：错误码11";
    QTest::newRow("timeout") << QByteArray("TimeoutError") << "未知错误：错误码12";
    QTest::newRow("not open") << QByteArray("NotOpenError") << "未知错误：错误码13";
    QTest::newRow("parity") << QByteArray("ParityError") << "未知错误：错误码4";
    QTest::newRow("framing") << QByteArray("FramingError") << "未知错误：错误码5";
    QTest::newRow("break condition") << QByteArray("BreakConditionError") << "未知错误：错误码6";
}

void TstTransport::errorMessages()
{
    QFETCH(QByteArray, error);
    QFETCH(QString, message);
    bool known = false;
    const int code = QMetaEnum::fromType<QSerialPort::SerialPortError>().keyToValue(error.constData(), &known);
    if (!known) {
        // Only the errors Qt 6 dropped may be missing; any other name is a mistake in the table.
        QVERIFY2(error == "ParityError" || error == "FramingError" || error == "BreakConditionError",
                 error.constData());
        QSKIP("this Qt has no such serial port error");
    }
    QVERIFY(openSim());
    QSignalSpy errors(m_port, &SerialSocket::signal_error);
    // Every error closes an open port, whatever its text says.
    emit m_port->errorOccurred(QSerialPort::SerialPortError(code));
    QVERIFY(!m_port->isOpen());
    QCOMPARE(errors.count(), 1);
    QCOMPARE(errors.first().first().toString(), message);
    errors.clear();
    emit m_port->errorOccurred(QSerialPort::NoError);
    QCOMPARE(errors.count(), 0);
}

void TstTransport::unplugClosesThePort()
{
    QVERIFY(openSim());
    enterConfig();
    QSignalSpy errors(m_port, &SerialSocket::signal_error);
    m_sim->faults().unplugAfterFrames = 1;
    m_port->sendAndWait("AT\r\n", 500);
    QTRY_VERIFY(!m_port->isOpen());
    QVERIFY(errors.count() >= 1);
    // Once closed, the port reports nothing more and the process does not spin.
    const int reported = errors.count();
    const double cpu = processCpuSeconds();
    QTest::qWait(500);
    QCOMPARE(errors.count(), reported);
    QVERIFY2(processCpuSeconds() - cpu < 0.2, "busy after unplug");
}

void TstTransport::delayLastsAndProcessesEvents()
{
    int fired = 0;
    QTimer ticker;
    connect(&ticker, &QTimer::timeout, [&fired] { ++fired; });
    ticker.start(30);
    QElapsedTimer clock;
    clock.start();
    Common::delay(300);
    const qint64 took = clock.elapsed();
    QVERIFY2(took >= 300, qPrintable(QString::number(took)));
    QVERIFY2(took < 1500, qPrintable(QString::number(took)));
    QVERIFY(fired >= 3);
    clock.restart();
    Common::delay(0);
    Common::delay(-5);
    QVERIFY(clock.elapsed() < 20);
}

void TstTransport::delayCostsLittleCpu()
{
    delete m_sim;
    m_sim = nullptr;
    const double cpu = processCpuSeconds();
    QElapsedTimer clock;
    clock.start();
    Common::delay(1000);
    const double used = processCpuSeconds() - cpu;
    QVERIFY(clock.elapsed() >= 1000);
    QVERIFY2(used < 0.25, qPrintable(QString("%1 s of CPU").arg(used)));
}

// Last: once the application quits, nested event loops return at once for
// the rest of the process.
void TstTransport::delayWhileQuittingSleeps()
{
    delete m_sim;
    m_sim = nullptr;
    QCoreApplication::exit(0);
    const double cpu = processCpuSeconds();
    QElapsedTimer clock;
    clock.start();
    Common::delay(500);
    const double used = processCpuSeconds() - cpu;
    QVERIFY(clock.elapsed() >= 500);
    QVERIFY2(used < 0.2, qPrintable(QString("%1 s of CPU").arg(used)));
}

VELKO_CORE_TEST_MAIN(TstTransport)
#include "tst_transport.moc"
