// The traffic through a module: the conversions the tool expects, a
// profile's vectors, and the check against a simulated module that converts
// on a virtualcan bus this test hosts on a port of its own for its whole run.
#include "core/traffic/canbus.h"
#include "core/traffic/conversion.h"
#include "core/traffic/trace.h"
#include "core/traffic/trafficcheck.h"
#include "core/traffic/vectors.h"
#include "core/transport/serialsocket.h"
#include "sim/canbridge.h"
#include "sim/simmodule.h"
#include "tests/support/cliprocess.h"
#include "tests/support/coresupport.h"
#include "tests/support/simsupport.h"

#include <QElapsedTimer>
#include <QJsonArray>
#include <QProcess>
#include <QTemporaryDir>
#include <QTimer>

#include <csignal>

using Traffic::CanFrame;

namespace {

using TestSupport::kLoadedLatencyMs;

CanFrame frame(const QString& text)
{
    CanFrame f;
    if (!Traffic::parseFrame(text, &f))
        qFatal("not a frame: %s", qPrintable(text));
    return f;
}

QStringList texts(const QVector<CanFrame>& frames)
{
    QStringList t;
    for (const CanFrame& f : frames)
        t.append(f.text());
    return t;
}

QByteArray hex(const char* text)
{
    return QByteArray::fromHex(text);
}

} // namespace

class TstTraffic : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void cleanupTestCase();

    void serialToCan_data();
    void serialToCan();
    void canToSerial_data();
    void canToSerial();
    void filterAndDirection_data();
    void filterAndDirection();
    void vectorsRefused_data();
    void vectorsRefused();

    void checkAgainstTheSimulatedModule_data();
    void checkAgainstTheSimulatedModule();
    void commandLine_data();
    void commandLine();
    void traceInCandumpsFormat();
    void traceKeepsItsNewestLinesWithinItsLimit_data();
    void traceKeepsItsNewestLinesWithinItsLimit();
    void portsListsTheCanInterfaces();
    void signalEndsTheCheck();
    void stationChecksEachFixtureOnOneBus();

private:
    // A simulated module in its working state holding `config`, converting
    // on the test's bus, with `faults`.
    void startModule(const ModuleConfig& config, const sim::CanBridge::Faults& faults, bool onBus = true);
    QString bus() const { return m_bus; }

    QTemporaryDir m_dir; // the files of the test's runs
    QString m_bus;
    Traffic::CanBus* m_host = nullptr; // hosts the bus for the whole run
    sim::SimModule* m_sim = nullptr;
    sim::CanBridge* m_bridge = nullptr;
};

void TstTraffic::initTestCase()
{
    m_host = TestSupport::hostCanBus(this, &m_bus);
    QVERIFY(m_host);
}

void TstTraffic::cleanupTestCase()
{
    delete m_bridge;
    delete m_sim;
    m_host->close();
}

void TstTraffic::startModule(const ModuleConfig& config, const sim::CanBridge::Faults& faults, bool onBus)
{
    delete m_bridge;
    delete m_sim;
    m_sim = new sim::SimModule;
    QVERIFY(m_sim->start());
    m_sim->state() = TestSupport::moduleHolding(config);
    m_bridge = new sim::CanBridge(m_sim);
    m_bridge->faults() = faults;
    QString error;
    if (onBus)
        QVERIFY2(m_bridge->open(bus(), &error), qPrintable(error));
}

void TstTraffic::serialToCan_data()
{
    QTest::addColumn<QStringList>("settings");
    QTest::addColumn<QByteArray>("message");
    QTest::addColumn<QStringList>("frames");

    QTest::newRow("TRANS: ten bytes in two frames with the module's ID")
        << QStringList{"can.id=1A1"} << hex("00112233445566778899") << QStringList{"1A1#0011223344556677", "1A1#8899"};
    QTest::newRow("TRANS: the flags do not touch serial to CAN")
        << QStringList{"can.id=1ABCDEF0", "can.frameType=EDTF", "transparent.frameInfo=true",
                       "transparent.frameId=true"}
        << hex("0102") << QStringList{"1ABCDEF0#0102"};
    QTest::newRow("TPRTL: a 2-byte ID at byte 1, the rest the data")
        << QStringList{"mode=TPRTL", "identifier.length=2", "identifier.position=1"} << hex("AA01A2BBCC")
        << QStringList{"1A2#AABBCC"};
    QTest::newRow("TPRTL: a 4-byte extended ID at byte 0, twelve data bytes in two frames")
        << QStringList{"mode=TPRTL", "identifier.length=4", "identifier.position=0", "can.frameType=EDTF"}
        << hex("12345678000102030405060708090A0B") << QStringList{"12345678#0001020304050607", "12345678#08090A0B"};
    QTest::newRow("TPRTL: a message too short for its ID gives no frame")
        << QStringList{"mode=TPRTL", "identifier.length=2", "identifier.position=3"} << hex("010203") << QStringList{};
    QTest::newRow("TPRTL: length 0 is TRANS")
        << QStringList{"mode=TPRTL", "identifier.length=0", "can.id=7FF"} << hex("0102") << QStringList{"7FF#0102"};
    QTest::newRow("USER: head, data, tail") << QStringList{"mode=USER", "custom.head=A5", "custom.tail=5A", "can.id=10"}
                                            << hex("A5DEADBEEF5A") << QStringList{"010#DEADBEEF"};
    QTest::newRow("USER: without its head no frame")
        << QStringList{"mode=USER", "custom.head=A5", "custom.tail=5A"} << hex("A4DEAD5A") << QStringList{};
    QTest::newRow("USER: more than 8 data bytes no frame")
        << QStringList{"mode=USER", "custom.head=A5", "custom.tail=5A"} << hex("A5000102030405060708095A")
        << QStringList{};
    QTest::newRow("PROTOL: two records, standard and extended") << QStringList{"mode=PROTOL"}
                                                                << hex("02000001A1DEAD000000000000"
                                                                       "83123456780102030000000000")
                                                                << QStringList{"1A1#DEAD", "12345678#010203"};
    QTest::newRow("PROTOL: a cut record gives no frame")
        << QStringList{"mode=PROTOL"} << hex("02000001A1DEAD") << QStringList{};
    QTest::newRow("MODBUS: no conventions") << QStringList{"mode=MODBUS"} << hex("0103000000010A84") << QStringList{};
}

void TstTraffic::serialToCan()
{
    QFETCH(QStringList, settings);
    QFETCH(QByteArray, message);
    QFETCH(QStringList, frames);
    QCOMPARE(texts(Traffic::serialToCan(TestSupport::configWith(settings), message)), frames);
}

void TstTraffic::canToSerial_data()
{
    QTest::addColumn<QStringList>("settings");
    QTest::addColumn<QString>("frame");
    QTest::addColumn<QByteArray>("serial");

    QTest::newRow("TRANS: the data alone") << QStringList{} << "1A1#DEADBEEF" << hex("DEADBEEF");
    QTest::newRow("TRANS: frame info then a standard ID")
        << QStringList{"transparent.frameInfo=true", "transparent.frameId=true"} << "1A1#DEAD" << hex("0201A1DEAD");
    QTest::newRow("TRANS: frame info of an extended frame")
        << QStringList{"transparent.frameInfo=true"} << "1ABCDEF0#0102030405060708" << hex("880102030405060708");
    QTest::newRow("TRANS: a 4-byte ID of an extended frame without frame info")
        << QStringList{"transparent.frameId=true"} << "1ABCDEF0#01" << hex("1ABCDEF001");
    QTest::newRow("TPRTL: the ID's last 2 bytes at byte 1")
        << QStringList{"mode=TPRTL", "identifier.length=2", "identifier.position=1"} << "1A2#AABBCC"
        << hex("AA01A2BBCC");
    QTest::newRow("TPRTL: after the data when it is shorter")
        << QStringList{"mode=TPRTL", "identifier.length=1", "identifier.position=5"} << "1A2#AABB" << hex("AABBA2");
    QTest::newRow("TPRTL: length 0 without the flags")
        << QStringList{"mode=TPRTL", "identifier.length=0", "transparent.frameInfo=true"} << "1A2#AA" << hex("AA");
    QTest::newRow("USER: head, data, tail")
        << QStringList{"mode=USER", "custom.head=D2", "custom.tail=2D"} << "1A1#0102" << hex("D201022D");
    QTest::newRow("PROTOL: one record, zeros after the data")
        << QStringList{"mode=PROTOL"} << "12345678#0102" << hex("82123456780102000000000000");
}

void TstTraffic::canToSerial()
{
    QFETCH(QStringList, settings);
    QFETCH(QString, frame);
    QFETCH(QByteArray, serial);
    QCOMPARE(Traffic::canToSerial(TestSupport::configWith(settings), ::frame(frame)).toHex(' '), serial.toHex(' '));
}

void TstTraffic::filterAndDirection_data()
{
    QTest::addColumn<QStringList>("settings");
    QTest::addColumn<QString>("frame");
    QTest::addColumn<bool>("accepted");

    QTest::newRow("OFF takes an extended frame") << QStringList{"filter.mode=OFF"} << "1ABCDEF0#01" << true;
    QTest::newRow("ETF refuses a standard frame") << QStringList{"filter.mode=ETF"} << "1A1#01" << false;
    QTest::newRow("NTF refuses an extended frame") << QStringList{"filter.mode=NTF"} << "000001A1#01" << false;
    QTest::newRow("USER takes a listed ID of its type")
        << QStringList{"filter.mode=USER", "filter.list=NDTF:1A1,EDTF:1ABC"} << "00001ABC#01" << true;
    QTest::newRow("USER refuses the listed ID of the other type")
        << QStringList{"filter.mode=USER", "filter.list=NDTF:1A1"} << "000001A1#01" << false;
    QTest::newRow("no filter takes a remote frame") << QStringList{} << "1A1#R" << false;
    QTest::newRow("UART-CAN passes nothing to the serial line")
        << QStringList{"direction=UART-CAN"} << "1A1#01" << false;
}

void TstTraffic::filterAndDirection()
{
    QFETCH(QStringList, settings);
    QFETCH(QString, frame);
    QFETCH(bool, accepted);
    const ModuleConfig c = TestSupport::configWith(settings);
    QCOMPARE(Traffic::passesCanToSerial(c) && Traffic::accepts(c, ::frame(frame)), accepted);
}

void TstTraffic::vectorsRefused_data()
{
    QTest::addColumn<QByteArray>("section");
    QTest::addColumn<QString>("problem"); // empty: read

    QTest::newRow("sound vectors both ways")
        << QByteArray(R"({"serialToCan": [{"serial": "01 A1 DE AD", "frames": ["1A1#DEAD"]}],
                          "canToSerial": [{"frame": "1ABCDEF0#01", "serial": ""}]})")
        << QString();
    QTest::newRow("a frame that is not one") << QByteArray(R"({"canToSerial": [{"frame": "1A1#XY", "serial": "01"}]})")
                                             << R"(traffic.canToSerial[0].frame: "1A1#XY" is not a frame)";
    QTest::newRow("an ID above its frame type")
        << QByteArray(R"({"serialToCan": [{"serial": "01", "frames": ["800#01"]}]})")
        << R"(traffic.serialToCan[0].frames[0]: "800#01" is not a frame)";
    QTest::newRow("a remote frame") << QByteArray(R"({"canToSerial": [{"frame": "1A1#R", "serial": "01"}]})")
                                    << "traffic.canToSerial[0].frame: 1A1#R is a remote frame";
    QTest::newRow("odd hex digits") << QByteArray(R"({"serialToCan": [{"serial": "0A1", "frames": []}]})")
                                    << "traffic.serialToCan[0].serial: missing or not hex bytes";
    QTest::newRow("nothing to send") << QByteArray(R"({"serialToCan": [{"serial": "", "frames": []}]})")
                                     << "traffic.serialToCan[0].serial: no bytes to send";
    QTest::newRow("an unknown key") << QByteArray(R"({"serialToCAN": []})") << "traffic.serialToCAN: unknown key";
}

void TstTraffic::vectorsRefused()
{
    QFETCH(QByteArray, section);
    QFETCH(QString, problem);
    Traffic::Vectors v;
    QStringList problems;
    const bool read = Traffic::readVectors(R"({"traffic": )" + section + "}", &v, &problems);
    if (problem.isEmpty()) {
        QVERIFY2(read, qPrintable(problems.join('\n')));
        QCOMPARE(v.serialToCan.size(), 1);
        QCOMPARE(texts(v.serialToCan.at(0).frames), QStringList{"1A1#DEAD"});
        QCOMPARE(v.canToSerial.at(0).serial, QByteArray());
    } else {
        QVERIFY(!read);
        QCOMPARE(problems.size(), 1);
        QVERIFY2(problems.at(0).startsWith(problem), qPrintable(problems.at(0)));
    }
}

void TstTraffic::checkAgainstTheSimulatedModule_data()
{
    QTest::addColumn<QStringList>("settings");
    QTest::addColumn<QStringList>("faults"); // drop N, corrupt N, wrong-id, latency MS, off-bus
    QTest::addColumn<int>("verdict");
    QTest::addColumn<QStringList>("failures"); // each failure's text begins so, in order
    using V = Traffic::CheckReport::Verdict;

    QTest::newRow("TRANS both ways") << QStringList{"can.id=1A1"} << QStringList{} << int(V::Passed) << QStringList{};
    QTest::newRow("TRANS with both flags, extended ID, filter ETF")
        << QStringList{"can.id=1ABCDEF0", "can.frameType=EDTF", "transparent.frameInfo=true",
                       "transparent.frameId=true", "filter.mode=ETF"}
        << QStringList{} << int(V::Passed) << QStringList{};
    QTest::newRow("TPRTL, a 2-byte ID at byte 3, serial to CAN only")
        << QStringList{"mode=TPRTL", "identifier.length=2", "identifier.position=3", "can.id=2B5", "direction=UART-CAN"}
        << QStringList{} << int(V::Passed) << QStringList{};
    QTest::newRow("USER, CAN to serial only, a listed ID")
        << QStringList{"mode=USER",          "custom.head=D2",   "custom.tail=2D",
                       "direction=CAN-UART", "filter.mode=USER", "filter.list=EDTF:1ABC"}
        << QStringList{} << int(V::Passed) << QStringList{};
    QTest::newRow("PROTOL both ways at 9600 baud") << QStringList{"mode=PROTOL", "serial.baud=9600", "can.id=123"}
                                                   << QStringList{} << int(V::Passed) << QStringList{};
    QTest::newRow("every third lost") << QStringList{} << QStringList{"drop", "3"} << int(V::Failed)
                                      << QStringList{"serial→CAN: 2 of 8 messages lost (seq 2, 5)",
                                                     "CAN→serial: 3 of 8 messages lost (seq 0, 3, 6)"};
    QTest::newRow("every fourth corrupted") << QStringList{} << QStringList{"corrupt", "4"} << int(V::Failed)
                                            << QStringList{"serial→CAN: 2 of 8 messages corrupted (seq 3, 7)",
                                                           "CAN→serial: 2 of 8 messages corrupted (seq 3, 7)"};
    QTest::newRow("the ID plus one") << QStringList{"can.id=1A1", "direction=UART-CAN"} << QStringList{"wrong-id"}
                                     << int(V::Failed)
                                     << QStringList{
                                            "serial→CAN: frame 0x1A1 expected, 0x1A2 received (8 unexpected in all)"};
    QTest::newRow("late beyond the limit") << QStringList{"direction=CAN-UART"} << QStringList{"latency", "130"}
                                           << int(V::Failed) << QStringList{"CAN→serial: latency up to 1"};
    QTest::newRow("nothing on the bus") << QStringList{} << QStringList{"off-bus"} << int(V::NothingThrough)
                                        << QStringList{"serial→CAN: 8 of 8 messages lost",
                                                       "CAN→serial: 8 of 8 messages lost"};
    // Last: frames of the other node may still be on their way when the row ends.
    QTest::newRow("another node talks on the bus meanwhile")
        << QStringList{"can.id=1A1"} << QStringList{"other-node"} << int(V::Passed) << QStringList{};
}

void TstTraffic::checkAgainstTheSimulatedModule()
{
    QFETCH(QStringList, settings);
    QFETCH(QStringList, faults);
    QFETCH(int, verdict);
    QFETCH(QStringList, failures);

    const ModuleConfig config = TestSupport::configWith(settings);
    sim::CanBridge::Faults f;
    const QString fault = faults.value(0);
    const int n = faults.value(1).toInt();
    f.dropEvery = fault == "drop" ? n : 0;
    f.corruptEvery = fault == "corrupt" ? n : 0;
    f.latencyMs = fault == "latency" ? n : 0;
    f.wrongId = fault == "wrong-id";
    startModule(config, f, fault != "off-bus");

    QObject owner;
    SerialSocket* port = SerialSocket::createPort(&owner);
    port->setPortConfig(m_sim->portName(), config.baud, QSerialPort::Data8, QSerialPort::NoParity,
                        QSerialPort::OneStop);
    QVERIFY(port->openPort());
    Traffic::CanBus tool;
    Traffic::CanName name;
    Traffic::CanName::parse(bus(), &name);
    Traffic::CanOpenFailure why;
    QVERIFY2(tool.open(name, 250, &why), qPrintable(why.text()));
    // The host hears every frame; the module's bridge is another node.
    Traffic::CheckSetup setup;
    setup.config = config;
    if (verdict == int(Traffic::CheckReport::Verdict::Passed))
        setup.maxLatencyMs = kLoadedLatencyMs;
    Traffic::TrafficCheck check(port, &tool, setup);
    // Another node: the host sends a frame of its own every 15 ms.
    QTimer otherNode;
    connect(&otherNode, &QTimer::timeout, this, [this] { m_host->send(frame("555#AA55")); });
    if (fault == "other-node")
        otherNode.start(15);
    const Traffic::CheckReport report = check.run();
    otherNode.stop();
    // The other node's last frames are through before the next case.
    QElapsedTimer sinceFrame;
    sinceFrame.start();
    connect(&tool, &Traffic::CanBus::frameReceived, this, [&] { sinceFrame.restart(); });
    QTRY_VERIFY_WITH_TIMEOUT(sinceFrame.elapsed() > 100, 10000);

    const QStringList got = report.failureTexts();
    QVERIFY2(got.size() == failures.size(), qPrintable(got.join('\n')));
    for (int i = 0; i < failures.size(); ++i)
        QVERIFY2(got.at(i).startsWith(failures.at(i)), qPrintable(got.join('\n')));
    QCOMPARE(int(report.verdict), verdict);
    for (const Traffic::Measurement& m : report.directions) {
        QCOMPARE(m.checked, m.direction == Traffic::Direction::SerialToCan ? Traffic::passesSerialToCan(config)
                                                                           : Traffic::passesCanToSerial(config));
        if (m.checked)
            QCOMPARE(m.sent, 8);
        QCOMPARE(m.received + m.lost + m.corrupted + (fault == "wrong-id" ? m.unexpected : 0), m.sent);
        QCOMPARE(m.otherFrames > 0, fault == "other-node");
    }
}

void TstTraffic::commandLine_data()
{
    QTest::addColumn<QStringList>("settings"); // of the module, and of the profile given
    QTest::addColumn<QByteArray>("vectors");   // the profile's "traffic" section; none: no profile
    QTest::addColumn<QString>("can");          // empty: the test's bus
    QTest::addColumn<QStringList>("options");
    QTest::addColumn<int>("status");
    QTest::addColumn<QString>("error");
    const QStringList none;

    QTest::newRow("read from the module, within the limits")
        << QStringList{"mode=USER"} << QByteArray() << QString() << none << 0 << QString();
    QTest::newRow("a profile's vectors that the module meets")
        << QStringList{"can.id=1A1", "transparent.frameId=true"}
        << QByteArray(R"({"serialToCan": [{"serial": "0102", "frames": ["1A1#0102"]}],
                          "canToSerial": [{"frame": "1A1#0A", "serial": "01A10A"}]})")
        << QString() << none << 0 << QString();
    QTest::newRow("a vector the module does not meet")
        << QStringList{"can.id=1A1"} << QByteArray(R"({"canToSerial": [{"frame": "1A1#0A", "serial": "0B"}]})")
        << QString() << none << 3 << "CAN→serial: 8 of 8 messages corrupted";
    QTest::newRow("a message the module is to drop, and does not")
        << QStringList{"can.id=1A1", "direction=UART-CAN"}
        << QByteArray(R"({"serialToCan": [{"serial": "0102", "frames": []}]})") << QString() << none << 3
        << "serial→CAN: frame 1A1#0102 unexpected (8 unexpected in all)";
    QTest::newRow("a profile the module does not hold")
        << QStringList{"can.id=1A1"} << QByteArray("{}") << QString() << QStringList{"--set", "can.id=1A2"} << 3
        << "can.id: profile has 1A2, module has 1A1";
    QTest::newRow("MODBUS without vectors is not guessed")
        << QStringList{"mode=MODBUS"} << QByteArray("{}") << QString() << none << 2
        << "mode MODBUS: its conversion is checked with a profile's test vectors only";
    QTest::newRow("refused vectors") << QStringList{} << QByteArray(R"({"canToSerial": [{"frame": "1A1"}]})")
                                     << QString() << none << 2 << "traffic.canToSerial[0].frame";
    QTest::newRow("more messages than a sequence number tells apart")
        << QStringList{} << QByteArray() << QString() << QStringList{"--count", "257"} << 2
        << "--count 257: allowed 1 to 256";
    QTest::newRow("a plugin that does not exist") << QStringList{} << QByteArray() << "nosuchcan:can0" << none << 4
                                                  << R"(nosuchcan:can0: no CAN plugin "nosuchcan")";
    QTest::newRow("an interface virtualcan does not have")
        << QStringList{} << QByteArray() << "virtualcan:can7" << none << 4 << "virtualcan:can7:";
}

void TstTraffic::commandLine()
{
    QFETCH(QStringList, settings);
    QFETCH(QByteArray, vectors);
    QFETCH(QString, can);
    QFETCH(QStringList, options);
    QFETCH(int, status);
    QFETCH(QString, error);

    const ModuleConfig config = TestSupport::configWith(settings);
    startModule(config, {});
    QStringList arguments{"traffic", m_sim->portName(), "--can", can.isEmpty() ? bus() : can, "--json", "--quiet"};
    if (error.isEmpty())
        arguments += QStringList{"--max-latency", QString::number(kLoadedLatencyMs)};
    arguments += options;
    if (!vectors.isNull()) {
        QByteArray profile = Profile::write(config);
        profile.insert(profile.lastIndexOf('}'), ",\n    \"traffic\": " + vectors + "\n");
        const QString file = TestSupport::writeFile(m_dir.filePath("profile.json"), profile);
        QVERIFY(!file.isEmpty());
        arguments.append(file);
    }
    const TestSupport::CliRun run = TestSupport::runCli(arguments);
    const QJsonObject result = run.json();
    QVERIFY2(run.status == status, run.err.constData());
    QCOMPARE(result.value("status").toInt(), status);
    if (error.isEmpty()) {
        QCOMPARE(result.value("verdict").toString(), QString("passed"));
        QCOMPARE(result.value("serialToCan").toObject().value("received").toInt(), 8);
        QCOMPARE(result.value("canToSerial").toObject().value("lost").toInt(), 0);
    } else {
        QVERIFY2(QString::fromUtf8(run.err).contains(error), run.err.constData());
    }
    if (status == 2 || status == 4) // refused before the module was touched
        QCOMPARE(m_sim->frameData(), QList<QByteArray>());
}

void TstTraffic::traceInCandumpsFormat()
{
    const ModuleConfig config = TestSupport::configWith({"can.id=1A1", "direction=UART-CAN"});
    startModule(config, {});
    const QString trace = m_dir.filePath("trace.log");
    QFile::remove(trace);
    const TestSupport::CliRun run =
        TestSupport::runCli({"traffic", m_sim->portName(), "--can", bus(), "--count", "3", "--max-latency",
                             QString::number(kLoadedLatencyMs), "--trace", trace, "--quiet"});
    QVERIFY2(run.status == 0, run.err.constData());
    QFile can(trace);
    QVERIFY(can.open(QIODevice::ReadOnly));
    const QList<QByteArray> lines = can.readAll().split('\n');
    QCOMPARE(lines.size(), 4); // three frames and the last line end
    const QRegularExpression candump(R"(^\(\d{10}\.\d{6}\) can0 1A1#C5[0-9A-F]+$)");
    for (int i = 0; i < 3; ++i)
        QVERIFY2(candump.match(QString::fromLatin1(lines.at(i))).hasMatch(), lines.at(i).constData());
    QFile serial(trace + ".serial");
    QVERIFY(serial.open(QIODevice::ReadOnly));
    QVERIFY(serial.readAll().startsWith("("));

    // The module goes back into its configuration state as always.
    QCOMPARE(TestSupport::runCli({"read", m_sim->portName(), "--quiet"}).status, 0);
}

void TstTraffic::traceKeepsItsNewestLinesWithinItsLimit_data()
{
    QTest::addColumn<int>("limit");     // bytes of each side
    QTest::addColumn<int>("frames");    // 1A1#<n in 4 bytes>, n from 0
    QTest::addColumn<int>("dataBytes"); // of the serial side's two messages
    QTest::addColumn<int>("firstKept"); // n of the first frame left; -1: the newest serial line alone
    QTest::addColumn<bool>("trimmed");
    // A frame's line, "(1000.000000) can0 1A1#00000000\n", is 32 bytes.
    QTest::newRow("within the limit, all of it") << 320 << 10 << 2 << 0 << false;
    QTest::newRow("past it, down to three quarters at a line's start") << 320 << 11 << 2 << 4 << true;
    QTest::newRow("a long way past it, the newest lines") << 320 << 1000 << 2 << 992 << true;
    QTest::newRow("a line longer than the limit stays alone") << 100 << 0 << 200 << -1 << true;
}

void TstTraffic::traceKeepsItsNewestLinesWithinItsLimit()
{
    QFETCH(int, limit);
    QFETCH(int, frames);
    QFETCH(int, dataBytes);
    QFETCH(int, firstKept);
    QFETCH(bool, trimmed);
    const qint64 at = 1000000000;
    const auto frameLine = [](int n) {
        return "(1000.000000) can0 1A1#" + QByteArray::number(n, 16).rightJustified(8, '0').toUpper() + '\n';
    };
    Traffic::Trace trace;
    trace.setNames("can0", "/dev/ttyUSB0");
    trace.setLimit(limit);
    trace.addSerial(at, QByteArray(dataBytes, '\x5A'), true);
    for (int n = 0; n < frames; ++n) {
        CanFrame f = frame("1A1#00");
        f.data = QByteArray::fromHex(QByteArray::number(n, 16).rightJustified(8, '0'));
        trace.addFrame(at, f);
    }
    trace.addSerial(at, QByteArray(dataBytes, '\x5A'), false);
    QCOMPARE(trace.trimmed(), trimmed);
    if (firstKept >= 0) {
        QVERIFY(trace.can().size() <= limit);
        QVERIFY2(trace.can().startsWith(frameLine(firstKept)), trace.can().left(64).constData());
        QVERIFY(trace.can().endsWith(frameLine(frames - 1)));
        QCOMPARE(trace.can().count('\n'), frames - firstKept);
    } else {
        QCOMPARE(trace.serial(),
                 "(1000.000000) /dev/ttyUSB0 RX " + QByteArray(dataBytes, '\x5A').toHex().toUpper() + '\n');
    }
    trace.clear();
    QVERIFY(!trace.trimmed());
}

void TstTraffic::portsListsTheCanInterfaces()
{
    const TestSupport::CliRun run = TestSupport::runCli({"ports", "--can", "--json"});
    QCOMPARE(run.status, 0);
    QJsonArray virtualcan;
    for (const QJsonValue& p : run.json().value("canPlugins").toArray()) {
        if (p.toObject().value("plugin").toString() == "virtualcan")
            virtualcan = p.toObject().value("interfaces").toArray();
    }
    QCOMPARE(virtualcan, (QJsonArray{"virtualcan:can0", "virtualcan:can1"}));
}

void TstTraffic::signalEndsTheCheck()
{
    startModule(TestSupport::configWith({}), {});
    qint64 pid = 0;
    bool signalled = false;
    connect(m_sim, &sim::SimModule::workingMessage, this, [&] {
        if (!signalled && pid > 0)
            ::kill(pid_t(pid), SIGINT);
        signalled = true;
    });
    TestSupport::CliOptions options;
    options.started = [&](QProcess& process) { pid = process.processId(); };
    const TestSupport::CliRun run =
        TestSupport::runCli({"traffic", m_sim->portName(), "--can", bus(), "--count", "256", "--quiet"}, options);
    QVERIFY(signalled);
    QCOMPARE(run.status, 130);
    QVERIFY2(run.err.contains("stopped by SIGINT during the traffic check"), run.err.constData());
    // Stopped after the message in progress: far fewer than the 256 asked for.
    QVERIFY(m_sim->frames().size() < 12 + 10);
}

void TstTraffic::stationChecksEachFixtureOnOneBus()
{
    // Two fixtures on the one bus; the second's module loses every third message.
    sim::SimModule good;
    sim::SimModule lossy;
    QVERIFY(good.start());
    QVERIFY(lossy.start());
    sim::CanBridge goodSide(&good);
    sim::CanBridge lossySide(&lossy);
    lossySide.faults().dropEvery = 3;
    QString error;
    QVERIFY2(goodSide.open(bus(), &error) && lossySide.open(bus(), &error), qPrintable(error));
    const QString report = m_dir.filePath("station.jsonl");
    QFile::remove(report);
    const TestSupport::CliRun run =
        TestSupport::runCli({"station", TestSupport::exampleProfile(), "--port", good.portName(), "--port",
                             lossy.portName(), "--count", "2", "--restart", "--can", bus(), "--max-latency",
                             QString::number(kLoadedLatencyMs), "--report", report, "--quiet"});
    QVERIFY2(run.status == 3, run.err.constData());

    QHash<QString, QJsonObject> byPort;
    for (const QJsonObject& line : TestSupport::reportLines(report))
        byPort.insert(line.value("port").toString(), line);
    QCOMPARE(byPort.size(), 2);
    const QJsonObject passed = byPort.value(good.portName());
    QVERIFY2(passed.value("result").toString() == QLatin1String("ok"), qPrintable(passed.value("error").toString()));
    QCOMPARE(passed.value("traffic").toObject().value("verdict").toString(), QString("passed"));
    QCOMPARE(passed.value("traffic").toObject().value("limits").toObject().value("latencyMs").toInt(),
             kLoadedLatencyMs);
    // Neither check judged the other fixture's frames: they took turns.
    QCOMPARE(passed.value("traffic").toObject().value("canToSerial").toObject().value("otherFrames").toInt(), 0);
    const QJsonObject failed = byPort.value(lossy.portName());
    QCOMPARE(failed.value("result").toString(), QString("traffic"));
    QCOMPARE(failed.value("status").toInt(), 3);
    // Which messages it loses depends on how many of the other fixture's frames it passed on before.
    QVERIFY2(failed.value("error").toString().contains(QRegularExpression("^serial→CAN: \\d of 8 messages lost")),
             qPrintable(failed.value("error").toString()));
    QCOMPARE(failed.value("traffic").toObject().value("verdict").toString(), QString("failed"));
}

VELKO_CORE_TEST_MAIN_PACED(TstTraffic, TestSupport::kQuickPace)
#include "tst_traffic.moc"
