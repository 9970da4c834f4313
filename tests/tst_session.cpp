// The module session on its own, without a window: its sequences against a
// simulated module through a serial port of their own. What is checked is
// what goes out and what comes of it: the frames the module received, in
// their order and with their pauses, the module's state afterwards, the
// log entries and failures the session reports, and its outcome.
#include "core/protocol/logformat.h"
#include "core/session/modulesession.h"
#include "core/transport/serialsocket.h"
#include "sim/simmodule.h"
#include "tests/support/coresupport.h"
#include "tests/support/simsupport.h"

#include <QElapsedTimer>
#include <QSerialPort>

using TestSupport::describe;
using TestSupport::describeFrames;
using TestSupport::distinctRows;
using TestSupport::entriesOf;
using TestSupport::kConnectMs;
using TestSupport::kListWriteMs;
using TestSupport::kReadBackFrames;
using TestSupport::kSearchMs;
using TestSupport::kWriteMs;
using TestSupport::writeFrames;
using End = SequenceOutcome::End;
using GroupState = SequenceOutcome::GroupState;
// A progress report: step k of n.
using Step = QPair<int, int>;

Q_DECLARE_METATYPE(sim::Parity)
Q_DECLARE_METATYPE(QSerialPort::Parity)

namespace {
const QByteArray kEmptyList = "AT+DELFILTER=EDTF,0\r\n";

// The paths of `fields`, in profile order.
QStringList paths(ConfigFields fields)
{
    QStringList out;
    for (const ConfigField field : Config::allFields()) {
        if (fields & field)
            out.append(Config::fieldPath(field));
    }
    return out;
}

// The commands as messages name them, with the module's refusal: "AT+CAN=250,0,NDTF (ERROR)".
QStringList refusals(const QVector<SequenceOutcome::Command>& commands)
{
    QStringList out;
    for (const SequenceOutcome::Command& c : commands)
        out.append(QStringLiteral("%1 (%2)").arg(c.text(), c.refusal));
    return out;
}

// The paths of the groups a sequence planned, in order.
QStringList planned(const SequenceOutcome& outcome)
{
    QStringList out;
    for (const SequenceOutcome::Group& g : outcome.plan)
        out.append(g.path);
    return out;
}
} // namespace

class TstSession : public QObject
{
    Q_OBJECT

private slots:
    void init();
    void cleanup();

    // The exchange.
    void queryOnAClosedPortPausesAndSendsNothing();

    // The read-back.
    void readBackSendsEveryQueryAndReadsEveryGroup_data();
    void readBackSendsEveryQueryAndReadsEveryGroup();
    void readBackGoesOnWithoutTheNotice();
    void echoOffDecidesWhetherTheModuleListens_data();
    void echoOffDecidesWhetherTheModuleListens();
    void silentModuleIsNotListening();
    void silentQuerySkipsItsGroupOnly();
    void repliesInPiecesAreReadWhole();
    void replyFormsReadAndWriteBackExactly_data();
    void replyFormsReadAndWriteBackExactly();

    // The writes and the module commands.
    void writeAllSendsEveryGroupInOrder_data();
    void writeAllSendsEveryGroupInOrder();
    void emptyUserListIsToldAfterItsEmptying();
    void filterListWrite_data();
    void filterListWrite();
    void entriesRemovedWhileTheListIsWrittenEndIt();
    void clearFilterListEmptiesTheModulesList();
    void refusalsAreNamedAndTheRestGoesOut_data();
    void refusalsAreNamedAndTheRestGoesOut();
    void moduleCommands_data();
    void moduleCommands();

    // A sequence stopped, or cut short by its port.
    void sequenceEndedEarlySendsNothingMore_data();
    void sequenceEndedEarlySendsNothingMore();

    // The baud-rate search.
    void searchFindsTheModuleLine_data();
    void searchFindsTheModuleLine();
    void silentModuleIsSearchedAtEveryCandidate();
    void searchWithoutAPortNameSendsNothing();
    void portFailingToOpenEndsTheSearch_data();
    void portFailingToOpenEndsTheSearch();
    void stopEndsTheSearchAfterItsAttempt();

    // The sequences' pauses at their real length.
    void pausesKeepTheirRealLength_data();
    void pausesKeepTheirRealLength();

    // A module that misbehaves in every way the line allows.
    // (One function per kind of sequence, so that they can run side by side.)
    void hostileModuleEndsTheReadBackWithinItsBudget_data();
    void hostileModuleEndsTheReadBackWithinItsBudget();
    void hostileModuleEndsTheWritesWithinTheirBudgets_data();
    void hostileModuleEndsTheWritesWithinTheirBudgets();
    void hostileModuleEndsTheSearchWithinItsBudget_data();
    void hostileModuleEndsTheSearchWithinItsBudget();

private:
    // Opens the session's port on the module at this line.
    bool openPort(qint32 baud = 115200);
    // A module in its configuration state with its echo off, as after a read-back.
    void configurationState();
    // Runs the sequence named in a data table: "read-back", "write", "list
    // write", "restore", "search" (on the module's port).
    void run(const QString& sequence, const ModuleConfig& config);
    // The log's messages, without the traffic.
    QStringList messages() const;
    // The rows of a hostile module's test of the sequences given (the
    // "sequence" of run()), and its body.
    static void hostileRows(const QStringList& sequences);
    void hostileModuleEndsWithinTheBudget();

    sim::SimModule* m_sim = nullptr;
    SerialSocket* m_port = nullptr;
    ModuleSession* m_session = nullptr;
    // What the session reported: each log entry ("TX:" and "RX:" before the
    // traffic, messages as they are), the failures and the number of frames
    // the module had received at the last one, the groups read, each step as
    // (step, steps), the rates the search tried and the lines it found.
    QStringList m_log;
    QList<ModuleSession::Failure> m_failures;
    int m_framesAtFailure = -1;
    int m_groupsRead = 0;
    QList<Step> m_progress;
    QList<int> m_ratesTried;
    QList<ModuleSession::Line> m_found;
};

void TstSession::init()
{
    m_sim = new sim::SimModule(this);
    QString error;
    QVERIFY2(m_sim->start(&error), qPrintable(error));
    m_port = SerialSocket::createPort(this);
    m_session = new ModuleSession(m_port, this);
    m_log.clear();
    m_failures.clear();
    m_framesAtFailure = -1;
    m_groupsRead = 0;
    m_progress.clear();
    m_ratesTried.clear();
    m_found.clear();
    connect(m_session, &ModuleSession::logEntry, this, [this](const QByteArray& data, int flag) {
        const QByteArray before = flag == LogFormat::Sent ? "TX:" : flag == LogFormat::Received ? "RX:" : "";
        m_log.append(QString::fromLatin1(before + data));
    });
    connect(m_session, &ModuleSession::failed, this, [this](ModuleSession::Failure failure) {
        m_failures.append(failure);
        m_framesAtFailure = m_sim->frames().size();
    });
    connect(m_session, &ModuleSession::groupRead, this, [this] { ++m_groupsRead; });
    connect(m_session, &ModuleSession::progress, this, [this](int step, int steps) {
        m_progress.append({step, steps});
    });
    connect(m_session, &ModuleSession::searchRateTried, this, [this](int baud) { m_ratesTried.append(baud); });
    connect(m_session, &ModuleSession::searchFound, this,
            [this](const ModuleSession::Line& line) { m_found.append(line); });
    QVERIFY2(openPort(), qPrintable(m_sim->portName() + QLatin1String(": ") + m_port->errorString()));
}

void TstSession::cleanup()
{
    delete m_session;
    m_session = nullptr;
    delete m_port;
    m_port = nullptr;
    delete m_sim;
    m_sim = nullptr;
}

bool TstSession::openPort(qint32 baud)
{
    m_port->setPortConfig(m_sim->portName(), baud, QSerialPort::Data8, QSerialPort::NoParity, QSerialPort::OneStop);
    return m_port->openPort();
}

void TstSession::configurationState()
{
    m_sim->state().configMode = true;
    m_sim->state().echo = false;
}

void TstSession::run(const QString& sequence, const ModuleConfig& config)
{
    if (sequence == "read-back")
        m_session->readBack();
    else if (sequence == "write")
        m_session->writeAll(ModuleSession::fixed(config));
    else if (sequence == "list write")
        m_session->writeFilterList(ModuleSession::fixed(config));
    else if (sequence == "restore")
        m_session->restore();
    else if (sequence == "search")
        m_session->searchBaudRate(m_sim->portName());
    else
        QFAIL(qPrintable("no sequence " + sequence));
}

QStringList TstSession::messages() const
{
    QStringList out;
    for (const QString& entry : m_log) {
        if (!entry.startsWith("TX:") && !entry.startsWith("RX:"))
            out.append(entry);
    }
    return out;
}

void TstSession::queryOnAClosedPortPausesAndSendsNothing()
{
    const TestSupport::Pace real(1);
    m_port->closePort();
    QElapsedTimer clock;
    clock.start();
    QVERIFY(!m_session->query("AT\r\n", 500));
    QVERIFY(clock.elapsed() >= 100); // the pause before every query
    QVERIFY(clock.elapsed() < 1000);
    QCOMPARE(m_log, QStringList{"TX:AT\r\n"});
    QCOMPARE(m_port->lastPollCount(), 0);
    // Nothing went out: the first frame the module gets is the next one sent.
    QVERIFY(openPort());
    m_port->sendData("x");
    QTRY_COMPARE(m_sim->frameData(), QList<QByteArray>{"x"});
}

void TstSession::readBackSendsEveryQueryAndReadsEveryGroup_data()
{
    QTest::addColumn<ModuleConfig>("module");
    QTest::addColumn<bool>("echo");
    using TestSupport::readBackSample;
    QTest::newRow("TRANS, standard, OFF, no filters, echo on")
        << readBackSample("TRANS", "NDTF", "7FF", "OFF", 0) << true;
    QTest::newRow("TPRTL, extended, ETF, echo off") << readBackSample("TPRTL", "EDTF", "1ABCDEF0", "ETF", 0) << false;
    QTest::newRow("PROTOL, NTF, three filters") << readBackSample("PROTOL", "NDTF", "12", "NTF", 3) << true;
    QTest::newRow("MODBUS, USER, fourteen filters") << readBackSample("MODBUS", "EDTF", "7", "USER", 14) << false;
    QTest::newRow("USER mode, USER filter, three filters") << readBackSample("USER", "NDTF", "0", "USER", 3) << true;
}

void TstSession::readBackSendsEveryQueryAndReadsEveryGroup()
{
    QFETCH(ModuleConfig, module);
    QFETCH(bool, echo);
    m_sim->state() = TestSupport::moduleHolding(module);
    m_sim->state().pendingBaud = 9600; // reported is the line in effect
    m_sim->state().echo = echo;

    ConfigReading reading;
    QVERIFY(m_session->readBack(&reading));

    QCOMPARE(m_sim->frameData(), kReadBackFrames);
    QCOMPARE(paths(reading.fields), Config::fieldPaths());
    QCOMPARE(reading.values, module);
    QCOMPARE(m_groupsRead, Reading::groupQueries().size());
    QVERIFY(m_failures.isEmpty());
    // The log tells how the module answered before its echo goes off.
    QCOMPARE(messages(), (QStringList{"connection is successful", "Echo close"}));
    QCOMPARE(m_session->outcome().end, End::Completed);
    QCOMPARE(m_session->outcome().steps, kReadBackFrames.size());
    QCOMPARE(m_progress.last(), Step(kReadBackFrames.size(), kReadBackFrames.size()));
}

void TstSession::readBackGoesOnWithoutTheNotice()
{
    TestSupport::answerFrame(m_sim, "AT\r\n", "AT\r\n\r\n+OK\r\n\r\n");
    m_sim->state().mode = "MODBUS";
    ConfigReading reading;
    QVERIFY(m_session->readBack(&reading));
    QCOMPARE(messages(), (QStringList{"connection fails", "Echo close"}));
    QCOMPARE(m_sim->frameData(), kReadBackFrames);
    QCOMPARE(reading.values.mode, QStringLiteral("MODBUS"));
}

void TstSession::echoOffDecidesWhetherTheModuleListens_data()
{
    QTest::addColumn<QByteArray>("answer");
    QTest::addColumn<bool>("accepted");
    QTest::newRow("a plain OK is accepted") << QByteArray("\r\n+OK\r\n\r\n") << true;
    QTest::newRow("an echoed OK is accepted") << QByteArray("AT+E=OFF\r\n\r\n+OK\r\n\r\n") << true;
    QTest::newRow("an OK and more is accepted") << QByteArray("\r\n+OK\r\n\r\nready\r\n") << true;
    QTest::newRow("an error is not listening") << QByteArray("\r\n+ERROR\r\n\r\n") << false;
    QTest::newRow("an OK after noise is not listening") << QByteArray("xx\r\n+OK\r\n\r\n") << false;
}

void TstSession::echoOffDecidesWhetherTheModuleListens()
{
    QFETCH(QByteArray, answer);
    QFETCH(bool, accepted);
    TestSupport::answerFrame(m_sim, "AT+E=OFF\r\n", answer);
    m_sim->state().echo = false;
    m_sim->state().canRate = 20;
    ConfigReading reading;
    QCOMPARE(m_session->readBack(&reading), accepted);
    if (accepted) {
        QVERIFY(m_failures.isEmpty());
        QCOMPARE(m_sim->frameData(), kReadBackFrames);
        QCOMPARE(reading.values.canRateKbit, 20);
    } else {
        QCOMPARE(m_failures, QList<ModuleSession::Failure>{ModuleSession::Failure::NoAnswer});
        QCOMPARE(m_sim->frameData(), kReadBackFrames.mid(0, 3));
        QCOMPARE(m_groupsRead, 0);
    }
}

void TstSession::silentModuleIsNotListening()
{
    m_sim->faults().silent = true;
    QVERIFY(!m_session->readBack());
    QCOMPARE(m_failures, QList<ModuleSession::Failure>{ModuleSession::Failure::NoAnswer});
    QCOMPARE(m_groupsRead, 0);
    QCOMPARE(m_sim->frameData(), kReadBackFrames.mid(0, 3));
    // Three commands went out and nothing came back.
    QCOMPARE(m_log, (QStringList{"TX:+++", "TX:AT\r\n", "TX:AT+E=OFF\r\n"}));
}

void TstSession::silentQuerySkipsItsGroupOnly()
{
    m_sim->state().canRate = 125;
    m_sim->state().mode = "PROTOL";
    m_sim->faults().silentFor = QStringList{"AT+CAN?"};
    ConfigReading reading;
    QVERIFY(m_session->readBack(&reading));
    QCOMPARE(m_sim->frameData(), kReadBackFrames);
    QCOMPARE(paths(Config::everyField() & ~reading.fields), (QStringList{"can.rateKbit", "can.frameType", "can.id"}));
    QCOMPARE(reading.values.mode, QStringLiteral("PROTOL")); // the next group is read
    QCOMPARE(m_groupsRead, Reading::groupQueries().size() - 1);
}

void TstSession::repliesInPiecesAreReadWhole()
{
    // Reports that come in pieces within the polls, with blanks after the values.
    m_sim->faults().splitGapMs = TestSupport::paced(60);
    m_sim->faults().extraAfterValues = "  ";
    m_sim->state().userTail = "7E";
    m_sim->state().filters = TestSupport::filtersOf(distinctRows(3));
    ConfigReading reading;
    QVERIFY(m_session->readBack(&reading));
    QCOMPARE(m_sim->frameData(), kReadBackFrames);
    QCOMPARE(reading.values.tail, QStringLiteral("7E"));
    QCOMPARE(reading.values.filters.size(), 3);
    QCOMPARE(reading.values.baud, 115200);
}

void TstSession::replyFormsReadAndWriteBackExactly_data()
{
    QTest::addColumn<QStringList>("faults");
    QTest::addColumn<bool>("filters");
    QTest::addColumn<bool>("fast"); // paced by the replies
    QTest::newRow("blanks after the commas") << QStringList{"--blanks"} << true << false;
    QTest::newRow("IDs padded to eight digits") << QStringList{"--padded-ids"} << true << false;
    QTest::newRow("a pause of 250 ms inside a report line") << QStringList{"--pause-in-line", "250"} << true << false;
    QTest::newRow("the OK 300 ms after the echo") << QStringList{"--slow-ok", "300"} << true << false;
    QTest::newRow("an empty list as a bare key") << QStringList{"--bare-empty-list"} << false << false;
    const QStringList all{"--blanks", "--padded-ids", "--pause-in-line", "150", "--slow-ok", "200"};
    QTest::newRow("all of them at once") << all << true << false;
    QTest::newRow("all of them at once, paced by the replies") << all << true << true;
    QTest::newRow("an empty list as a bare key, paced by the replies")
        << QStringList{"--bare-empty-list"} << false << true;
}

void TstSession::replyFormsReadAndWriteBackExactly()
{
    QFETCH(QStringList, faults);
    QFETCH(bool, filters);
    QFETCH(bool, fast);
    TestSupport::setFaults(m_sim, faults);
    m_session->setFastExchange(fast);
    const ModuleConfig expected = TestSupport::replyFormsSample(filters);
    m_sim->state() = TestSupport::moduleHolding(expected);

    ConfigReading reading;
    QVERIFY(m_session->readBack(&reading));

    QVERIFY(m_failures.isEmpty());
    QCOMPARE(m_sim->frameData(), kReadBackFrames);
    QCOMPARE(reading.values, expected);

    // What was read goes back unchanged.
    m_sim->clearFrames();
    m_session->writeAll(ModuleSession::fixed(reading.values));
    QCOMPARE(m_sim->frameData(), writeFrames(expected));
    QVERIFY(m_session->outcome().refused().isEmpty());
    QVERIFY(m_session->outcome().unanswered().isEmpty());
}

void TstSession::writeAllSendsEveryGroupInOrder_data()
{
    QTest::addColumn<ModuleConfig>("config");
    QTest::addColumn<bool>("silent");
    QTest::addColumn<QStringList>("groups");

    using TestSupport::configWith;
    ModuleConfig c =
        configWith({"serial.baud=9600", "serial.stopBits=2", "serial.parity=EVEN", "can.rateKbit=125",
                    "direction=UART-CAN", "transparent.frameId=true", "transparent.frameInfo=true", "filter.mode=OFF"});
    c.canId = "";                           // goes out as 0
    c.filters = entriesOf(distinctRows(2)); // not written in mode OFF
    QTest::newRow("transparent mode writes both flags and an empty ID as 0")
        << c << false << QStringList{"serial", "direction", "mode", "transparent", "filter.mode", "filter.list", "can"};

    c = configWith({"serial.baud=460800", "serial.parity=ODD", "can.rateKbit=1000", "can.frameType=EDTF",
                    "can.id=1FFFFFFF", "direction=CAN-UART", "mode=TPRTL", "identifier.length=0",
                    "identifier.position=5", "filter.mode=ETF"});
    QTest::newRow("transparent mode with identifier writes length and position")
        << c << false << QStringList{"serial", "direction", "mode", "identifier", "filter.mode", "filter.list", "can"};

    const QStringList withoutSubParameters{"serial", "direction", "mode", "filter.mode", "filter.list", "can"};
    c = configWith(
        {"serial.baud=600", "serial.stopBits=2", "can.rateKbit=6", "can.id=7FF", "mode=PROTOL", "filter.mode=NTF"});
    QTest::newRow("protocol mode has no sub-parameters") << c << false << withoutSubParameters;

    c = configWith({"serial.baud=57600", "serial.parity=EVEN", "can.rateKbit=500", "can.frameType=EDTF", "can.id=ABC",
                    "direction=UART-CAN", "mode=MODBUS", "filter.mode=USER",
                    "filter.list=NDTF:7FF,EDTF:1ABCDEF0,NDTF:0"});
    QTest::newRow("Modbus mode has no sub-parameters and the list goes out in entry order")
        << c << false << withoutSubParameters;

    c = configWith({"serial.baud=19200", "serial.stopBits=2", "serial.parity=ODD", "can.rateKbit=750", "can.id=12",
                    "direction=CAN-UART", "mode=USER", "custom.head=A1", "custom.tail=1A", "filter.mode=USER"});
    c.filters = entriesOf(distinctRows(14));
    const QStringList custom{"serial", "direction", "mode", "custom", "filter.mode", "filter.list", "can"};
    QTest::newRow("user protocol writes head and tail and a full list of fourteen") << c << false << custom;

    c.baud = 38400;
    c.filters = entriesOf(distinctRows(1));
    QTest::newRow("a module that never answers gets the same sequence, each command unanswered") << c << true << custom;
}

void TstSession::writeAllSendsEveryGroupInOrder()
{
    QFETCH(ModuleConfig, config);
    QFETCH(bool, silent);
    QFETCH(QStringList, groups);
    const sim::ModuleState before = TestSupport::moduleBefore(config);
    m_sim->state() = before;
    m_sim->faults().silent = silent;

    m_session->writeAll(ModuleSession::fixed(config));

    const QList<QByteArray> frames = writeFrames(config);
    QCOMPARE(m_sim->frameData(), frames);
    QCOMPARE(describe(m_sim->state()), describe(TestSupport::moduleAfterWrite(before, config)));
    const SequenceOutcome& outcome = m_session->outcome();
    QCOMPARE(outcome.end, End::Completed);
    QCOMPARE(planned(outcome), groups);
    // Each command is a step of the plan, counted as it goes out.
    QCOMPARE(outcome.steps, frames.size());
    QCOMPARE(m_progress.size(), frames.size());
    QCOMPARE(m_progress.last(), Step(frames.size(), frames.size()));
    QVERIFY(outcome.refused().isEmpty());
    QCOMPARE(outcome.unanswered().size(), silent ? frames.size() : 0);
    QCOMPARE(outcome.groups(silent ? GroupState::NotWritten : GroupState::Written), groups);
}

void TstSession::emptyUserListIsToldAfterItsEmptying()
{
    ModuleConfig config;
    config.mode = "PROTOL";
    config.canRateKbit = 100;
    config.canId = "5";
    config.filterMode = "USER";
    const sim::ModuleState before = TestSupport::moduleBefore(config);
    m_sim->state() = before;

    m_session->writeAll(ModuleSession::fixed(config));

    const QList<QByteArray> expected{"AT+UART=115200,8,1,NONE,NFC\r\n",
                                     "AT+DIRECTION=BOTHWAY\r\n",
                                     "AT+MODE=PROTOL\r\n",
                                     "AT+CANLT=USER\r\n",
                                     kEmptyList,
                                     "AT+CAN=100,5,NDTF\r\n"};
    QCOMPARE(m_sim->frameData(), expected);
    QCOMPARE(m_failures, QList<ModuleSession::Failure>{ModuleSession::Failure::EmptyFilterList});
    QCOMPARE(m_framesAtFailure, 5); // after the emptying, before the CAN command
    QCOMPARE(describe(m_sim->state()), describe(TestSupport::moduleAfterWrite(before, config)));
    QVERIFY(m_sim->state().filters.isEmpty());
}

void TstSession::filterListWrite_data()
{
    QTest::addColumn<QString>("filterMode");
    QTest::addColumn<QList<QByteArray>>("frames");

    QTest::newRow("mode OFF sends the mode and empties the module's list, whatever the entries")
        << "OFF" << QList<QByteArray>{"AT+CANLT=OFF\r\n", kEmptyList};
    QTest::newRow("mode NTF sends the mode and empties the module's list")
        << "NTF" << QList<QByteArray>{"AT+CANLT=NTF\r\n", kEmptyList};
    QTest::newRow("mode USER sends the mode, empties the list and sends every entry in order")
        << "USER"
        << QList<QByteArray>{"AT+CANLT=USER\r\n", kEmptyList, "AT+FILTER=NDTF,7FF\r\n", "AT+FILTER=EDTF,1ABCDEF0\r\n",
                             "AT+FILTER=NDTF,12\r\n"};
}

void TstSession::filterListWrite()
{
    QFETCH(QString, filterMode);
    QFETCH(QList<QByteArray>, frames);
    const QStringList rows{"NDTF,7FF", "EDTF,1ABCDEF0", "NDTF,12"};
    configurationState();
    m_sim->state().filters = TestSupport::customizedModule().filters;
    m_sim->state().filterMode = "ETF";
    ModuleConfig config;
    config.filterMode = filterMode;
    config.filters = entriesOf(rows);

    m_session->writeFilterList(ModuleSession::fixed(config));

    QCOMPARE(m_sim->frameData(), frames);
    QCOMPARE(m_sim->state().filterMode, filterMode);
    QCOMPARE(TestSupport::rowsOf(m_sim->state().filters), filterMode == "USER" ? rows : QStringList());
    QVERIFY(m_failures.isEmpty());
    QCOMPARE(m_session->outcome().groups(GroupState::Written), (QStringList{"filter.mode", "filter.list"}));
}

void TstSession::entriesRemovedWhileTheListIsWrittenEndIt()
{
    configurationState();
    const QStringList rows = distinctRows(5);
    ModuleConfig config;
    config.filterMode = "USER";
    config.filters = entriesOf(rows);
    // While the first entry waits for its reply, the last three are removed.
    QObject context; // ends the connection before the locals it captures
    connect(m_sim, &sim::SimModule::frameReceived, &context, [&](const QByteArray& frame) {
        if (frame.startsWith("AT+FILTER="))
            config.filters.resize(qMin(config.filters.size(), 2));
    });

    m_session->writeFilterList([&config] { return config; });

    QCOMPARE(m_sim->frameData(),
             (QList<QByteArray>{"AT+CANLT=USER\r\n", kEmptyList, ("AT+FILTER=" + rows.at(0) + "\r\n").toLatin1(),
                                ("AT+FILTER=" + rows.at(1) + "\r\n").toLatin1()}));
    QCOMPARE(TestSupport::rowsOf(m_sim->state().filters), rows.mid(0, 2));
    // The list was planned with five entries: it is written in part.
    const SequenceOutcome& outcome = m_session->outcome();
    QCOMPARE(outcome.end, End::Completed);
    QCOMPARE(outcome.groups(GroupState::Partly), QStringList{"filter.list"});
    QVERIFY(m_port->isOpen());
}

void TstSession::clearFilterListEmptiesTheModulesList()
{
    configurationState();
    m_sim->state().filters = TestSupport::customizedModule().filters;
    m_session->clearFilterList();
    QCOMPARE(m_sim->frameData(), QList<QByteArray>{kEmptyList});
    QVERIFY(m_sim->state().filters.isEmpty());
    QCOMPARE(m_session->outcome().groups(GroupState::Written), QStringList{"filter.list"});
}

void TstSession::refusalsAreNamedAndTheRestGoesOut_data()
{
    QTest::addColumn<QString>("sequence");
    QTest::addColumn<QStringList>("refuse");
    QTest::addColumn<int>("capacity");
    QTest::addColumn<QString>("filterMode");
    QTest::addColumn<QList<QByteArray>>("frames");
    QTest::addColumn<QStringList>("refused");
    QTest::addColumn<QStringList>("partly");
    QTest::addColumn<QStringList>("notWritten");

    ModuleConfig config;
    config.filters = entriesOf(distinctRows(2));
    QTest::newRow("a refused CAN setting is refused with the module's line, the rest went out")
        << "write" << QStringList{"CAN"} << 20 << "OFF" << writeFrames(config)
        << QStringList{"AT+CAN=250,0,NDTF (ERROR)"} << QStringList() << QStringList{"can"};
    QTest::newRow("filter entries beyond the module's list are refused with its reply")
        << "list write" << QStringList() << 1 << "USER"
        << QList<QByteArray>{"AT+CANLT=USER\r\n", kEmptyList, "AT+FILTER=NDTF,700\r\n", "AT+FILTER=EDTF,1ABCDE01\r\n"}
        << QStringList{"AT+FILTER=EDTF,1ABCDE01 (+ERROR)"} << QStringList{"filter.list"} << QStringList();
}

void TstSession::refusalsAreNamedAndTheRestGoesOut()
{
    QFETCH(QString, sequence);
    QFETCH(QStringList, refuse);
    QFETCH(int, capacity);
    QFETCH(QString, filterMode);
    QFETCH(QList<QByteArray>, frames);
    QFETCH(QStringList, refused);
    QFETCH(QStringList, partly);
    QFETCH(QStringList, notWritten);
    configurationState();
    m_sim->faults().refuse = refuse;
    m_sim->state().filterCapacity = capacity;
    ModuleConfig config;
    config.filterMode = filterMode;
    config.filters = entriesOf(distinctRows(2));

    run(sequence, config);

    QCOMPARE(m_sim->frameData(), frames);
    const SequenceOutcome& outcome = m_session->outcome();
    QCOMPARE(outcome.end, End::Completed); // the sequence ran to its end
    QCOMPARE(refusals(outcome.refused()), refused);
    QVERIFY(outcome.unanswered().isEmpty());
    QCOMPARE(outcome.groups(GroupState::Partly), partly);
    QCOMPARE(outcome.groups(GroupState::NotWritten), notWritten);
}

void TstSession::moduleCommands_data()
{
    QTest::addColumn<QString>("command");
    QTest::addColumn<bool>("fast"); // paced by the replies
    QTest::addColumn<QList<QByteArray>>("frames");
    QTest::addColumn<int>("gapMs"); // between the two frames at the least
    QTest::addColumn<QString>("after");

    sim::ModuleState s = TestSupport::customizedModule();
    s.configMode = false;
    QTest::newRow("leaving the configuration state sends AT+EXAT")
        << "leave" << false << QList<QByteArray>{"AT+EXAT\r\n"} << 0 << describe(s);

    s = TestSupport::customizedModule();
    s.baud = s.pendingBaud;
    s.stopBits = s.pendingStopBits;
    s.parity = s.pendingParity;
    s.configMode = false;
    s.echo = true;
    QTest::newRow("restarting sends AT+REBT and the module takes its pending line")
        << "restart" << false << QList<QByteArray>{"AT+REBT\r\n"} << 0 << describe(s);

    // The first exchange ends at its first poll at the earliest (100 ms after
    // the command went out); then the session pauses at least 600 ms.
    const QList<QByteArray> restore{"AT+RESTORE\r\n", "AT+REBT\r\n"};
    QTest::newRow("restoring sends AT+RESTORE, AT+REBT 700 ms later, and leaves the factory settings")
        << "restore" << false << restore << 700 << describe(sim::ModuleState());
    // Paced by the replies, the module's time to restore its settings stays.
    QTest::newRow("paced by the replies, restoring still waits the 500 ms the module needs before AT+REBT")
        << "restore" << true << restore << 500 << describe(sim::ModuleState());
}

void TstSession::moduleCommands()
{
    QFETCH(QString, command);
    QFETCH(bool, fast);
    QFETCH(QList<QByteArray>, frames);
    QFETCH(int, gapMs);
    QFETCH(QString, after);
    const TestSupport::Pace real(1); // the restore's pause is checked
    m_sim->state() = TestSupport::customizedModule();
    m_session->setFastExchange(fast);

    if (command == "leave")
        m_session->leaveConfiguration();
    else if (command == "restart")
        m_session->restart();
    else
        m_session->restore();

    QCOMPARE(m_sim->frameData(), frames);
    QCOMPARE(describe(m_sim->state()), after);
    const SequenceOutcome& outcome = m_session->outcome();
    QCOMPARE(outcome.end, End::Completed);
    QCOMPARE(outcome.answered(SequenceOutcome::Answer::Accepted).size(), frames.size());
    QVERIFY(m_port->isOpen());
    if (frames.size() > 1) {
        const qint64 gap = m_sim->frames().at(1).msecs - m_sim->frames().at(0).msecs;
        QVERIFY2(gap >= gapMs, qPrintable(QStringLiteral("restart %1 ms after the restore command").arg(gap)));
    }
}

void TstSession::sequenceEndedEarlySendsNothingMore_data()
{
    QTest::addColumn<QString>("sequence");
    // "stopped" at the last of `frames`, while the session waits for its
    // reply; "vanished": the module gone at it; "closed": the port closed
    // before the sequence began.
    QTest::addColumn<QString>("how");
    QTest::addColumn<QList<QByteArray>>("frames");
    QTest::addColumn<QStringList>("written");
    QTest::addColumn<QStringList>("notWritten");

    const QList<QByteArray> write = writeFrames(ModuleConfig());
    const QStringList all{"serial", "direction", "mode", "transparent", "filter.mode", "filter.list", "can"};
    QTest::newRow("a read-back stopped at the mode query asks nothing more")
        << "read-back"
        << "stopped" << kReadBackFrames.mid(0, 6) << QStringList() << QStringList();
    QTest::newRow("a write stopped at the mode has the mode written and nothing after it")
        << "write"
        << "stopped" << write.mid(0, 3) << QStringList(all.mid(0, 3)) << QStringList(all.mid(3));
    QTest::newRow("a restore stopped at its command sends no restart")
        << "restore"
        << "stopped" << QList<QByteArray>{"AT+RESTORE\r\n"} << QStringList() << QStringList();
    QTest::newRow("a module that vanishes at the mode query ends the read-back")
        << "read-back"
        << "vanished" << kReadBackFrames.mid(0, 6) << QStringList() << QStringList();
    QTest::newRow("a module that vanishes at the mode leaves it and the rest not written")
        << "write"
        << "vanished" << write.mid(0, 3) << QStringList(all.mid(0, 2)) << QStringList(all.mid(2));
    QTest::newRow("a write that begins on a closed port sends nothing")
        << "write"
        << "closed" << QList<QByteArray>() << QStringList() << all;
}

void TstSession::sequenceEndedEarlySendsNothingMore()
{
    QFETCH(QString, sequence);
    QFETCH(QString, how);
    QFETCH(QList<QByteArray>, frames);
    QFETCH(QStringList, written);
    QFETCH(QStringList, notWritten);
    if (sequence != "read-back")
        configurationState();
    const bool stopped = how == "stopped";
    QObject context; // ends the connection before the locals it captures
    if (stopped) {
        connect(m_sim, &sim::SimModule::frameReceived, &context, [&](const QByteArray& frame) {
            if (frame == frames.last())
                m_session->stop();
        });
    } else if (how == "vanished") {
        TestSupport::setFaults(m_sim, {"--vanish-after", QString::number(frames.size())});
    } else {
        m_port->closePort();
    }

    run(sequence, ModuleConfig());

    QCOMPARE(m_sim->frameData(), frames);
    QVERIFY(m_session->wasStopped());
    const SequenceOutcome& outcome = m_session->outcome();
    QCOMPARE(outcome.end, stopped ? End::Stopped : End::PortClosed);
    QCOMPARE(outcome.commands.size(), frames.size());
    if (!frames.isEmpty()) {
        QCOMPARE(outcome.last()->bytes, frames.last());
        // The exchange in progress finished; one the port cut off got no answer.
        if (sequence == "write")
            QCOMPARE(outcome.last()->answer,
                     stopped ? SequenceOutcome::Answer::Accepted : SequenceOutcome::Answer::Cut);
    }
    QCOMPARE(outcome.groups(GroupState::Written), written);
    QCOMPARE(outcome.groups(GroupState::NotWritten), notWritten);
    QCOMPARE(messages().filter("operation stopped").size(), 1);
    QCOMPARE(messages().last(),
             stopped ? QStringLiteral("operation stopped") : QStringLiteral("operation stopped: the port closed"));
    QCOMPARE(m_port->isOpen(), stopped);
}

void TstSession::searchFindsTheModuleLine_data()
{
    QTest::addColumn<int>("moduleBaud");
    QTest::addColumn<sim::Parity>("moduleParity");
    // What the module answers to "AT" at the attempt without parity instead of
    // the notice; only for a module at even parity (null: no replacement).
    QTest::addColumn<QByteArray>("answerWithoutParity");
    QTest::addColumn<int>("attempt"); // 1-based number of the attempt that finds it
    QTest::addColumn<QSerialPort::Parity>("parity");

    QTest::newRow("a module at 115200 without parity is found at the first attempt")
        << 115200 << sim::Parity::None << QByteArray() << 1 << QSerialPort::NoParity;
    // A pseudo-terminal does not tell even parity from none, so the simulated
    // module at even parity would also take the attempt without parity. The
    // module is made to refuse that attempt, as a real one at even parity
    // does, so that the search finds it at its even candidate.
    QTest::newRow("a module answering only with even parity is found with even parity")
        << 115200 << sim::Parity::Even << QByteArray("") << 2 << QSerialPort::EvenParity;
    QTest::newRow("a module whose answer without parity lacks the notice is found with even parity")
        << 115200 << sim::Parity::Even << QByteArray("AT\r\n\r\n+OK\r\n\r\n") << 2 << QSerialPort::EvenParity;
    QTest::newRow("a module answering only with odd parity is found with odd parity")
        << 115200 << sim::Parity::Odd << QByteArray() << 3 << QSerialPort::OddParity;
    QTest::newRow("a module at 57600 with odd parity is found after every earlier candidate")
        << 57600 << sim::Parity::Odd << QByteArray() << 21 << QSerialPort::OddParity;
}

void TstSession::searchFindsTheModuleLine()
{
    QFETCH(int, moduleBaud);
    QFETCH(sim::Parity, moduleParity);
    QFETCH(QByteArray, answerWithoutParity);
    QFETCH(int, attempt);
    QFETCH(QSerialPort::Parity, parity);
    m_port->closePort();
    m_sim->setLine(moduleBaud, moduleParity);
    // The first "AT" the module can read is the one of the attempt without parity.
    if (!answerWithoutParity.isNull())
        TestSupport::answerFirst(m_sim, "AT\r\n", answerWithoutParity);

    ModuleSession::Line found;
    QCOMPARE(m_session->searchBaudRate(m_sim->portName(), &found), 1);

    QCOMPARE(found.baud, moduleBaud);
    QCOMPARE(found.parity, parity);
    QCOMPARE(m_found.size(), 1);
    QCOMPARE(m_found.first().baud, moduleBaud);
    QCOMPARE(m_found.first().parity, parity);
    const TestSupport::SearchAttempt at = TestSupport::searchAttempts().at(attempt - 1);
    QCOMPARE(at.baud, moduleBaud);
    QTRY_COMPARE(describeFrames(m_sim->frames()),
                 TestSupport::unansweredAttempts(attempt - 1) + TestSupport::answeredAttempt(at.baud, at.odd));
    QCOMPARE(m_progress.last(), Step(attempt, 42));
    QVERIFY(!m_port->isOpen());
}

void TstSession::silentModuleIsSearchedAtEveryCandidate()
{
    m_port->closePort();
    m_sim->faults().silent = true;

    QCOMPARE(m_session->searchBaudRate(m_sim->portName()), 0);

    QCOMPARE(TestSupport::escapes(m_sim->frames()), TestSupport::scheduledEscapes(42));
    QCOMPARE(describeFrames(m_sim->frames()), TestSupport::unansweredAttempts(42));
    QCOMPARE(m_ratesTried, (QList<int>{115200, 9600, 460800, 256000, 230400, 128000, 57600, 38400, 19200, 14400, 4800,
                                       2400, 1200, 600}));
    QCOMPARE(m_progress.size(), 42);
    QCOMPARE(m_progress.last(), Step(42, 42));
    // The escape is not logged; each attempt's "AT" is.
    QCOMPARE(m_log.count("TX:AT\r\n"), 42);
    QCOMPARE(m_log.size(), 42);
    QVERIFY(m_found.isEmpty());
    QVERIFY(m_failures.isEmpty());
    QVERIFY(!m_port->isOpen());
}

void TstSession::searchWithoutAPortNameSendsNothing()
{
    m_port->closePort();
    QCOMPARE(m_session->searchBaudRate(QString()), -1);
    QCOMPARE(m_failures, QList<ModuleSession::Failure>{ModuleSession::Failure::InvalidPort});
    QVERIFY(m_ratesTried.isEmpty());
    QVERIFY(m_log.isEmpty());
    // Nothing went out: the first frame the module gets is the next one sent.
    QVERIFY(openPort());
    m_port->sendData("x");
    QTRY_COMPARE(m_sim->frameData(), QList<QByteArray>{"x"});
}

void TstSession::portFailingToOpenEndsTheSearch_data()
{
    QTest::addColumn<int>("vanishAfter"); // "+++" frames after which the port goes away
    QTest::addColumn<bool>("unplug");     // the module goes (the open port breaks), or only its name

    QTest::newRow("a port name gone after the first attempt stops the search at the second") << 1 << false;
    QTest::newRow("a port name gone during the 9600 candidates stops the search there") << 5 << false;
    QTest::newRow("a module unplugged during the first attempt stops the search at the second") << 1 << true;
}

void TstSession::portFailingToOpenEndsTheSearch()
{
    QFETCH(int, vanishAfter);
    QFETCH(bool, unplug);
    m_port->closePort();
    m_sim->faults().silent = true;
    int seen = 0;
    QObject context; // ends the connection before the locals it captures
    connect(m_sim, &sim::SimModule::frameReceived, &context, [&](const QByteArray& frame) {
        if (frame != "+++" || ++seen != vanishAfter)
            return;
        if (unplug)
            m_sim->stop();
        else
            QFile::remove(m_sim->portName()); // the open port itself keeps working
    });

    QCOMPARE(m_session->searchBaudRate(m_sim->portName()), -1);

    QCOMPARE(m_failures, QList<ModuleSession::Failure>{ModuleSession::Failure::OpenFailed});
    if (unplug)
        QCOMPARE(TestSupport::escapes(m_sim->frames()), TestSupport::scheduledEscapes(vanishAfter));
    else
        QCOMPARE(describeFrames(m_sim->frames()), TestSupport::unansweredAttempts(vanishAfter));
    // The rates tried end at the candidate that did not open.
    const QVector<TestSupport::SearchAttempt> attempts = TestSupport::searchAttempts();
    QList<int> rates;
    for (int i = 0; i <= vanishAfter; ++i) {
        if (!rates.contains(attempts.at(i).baud))
            rates.append(attempts.at(i).baud);
    }
    QCOMPARE(m_ratesTried, rates);
    QVERIFY(!m_port->isOpen());
}

void TstSession::stopEndsTheSearchAfterItsAttempt()
{
    m_port->closePort();
    m_sim->faults().silent = true;
    // Stopped while the third attempt waits for its answer.
    QObject context; // ends the connection before the locals it captures
    connect(m_sim, &sim::SimModule::frameReceived, &context, [&](const QByteArray& frame) {
        if (frame == "AT\r\n" && m_sim->frames().size() == 6)
            m_session->stop();
    });

    QCOMPARE(m_session->searchBaudRate(m_sim->portName()), 0);

    QCOMPARE(describeFrames(m_sim->frames()), TestSupport::unansweredAttempts(3));
    QVERIFY(m_session->wasStopped());
    QCOMPARE(m_session->outcome().end, End::Stopped);
    QCOMPARE(messages(), QStringList{"operation stopped"});
    QVERIFY(!m_port->isOpen());
}

void TstSession::pausesKeepTheirRealLength_data()
{
    QTest::addColumn<QString>("sequence");
    // The least time from each frame to the next: the pauses before it and
    // the polls that took the reply before (at least one of 100 ms).
    QTest::addColumn<QList<int>>("gapsMs");

    // 150 ms after "+++", 100 ms before every command.
    QList<int> readBack{250};
    for (int i = 2; i < kReadBackFrames.size(); ++i)
        readBack.append(200);
    QTest::newRow("read-back") << "read-back" << readBack;
    // 300 ms between the steps (serial, direction, mode and its
    // sub-parameters, the filter list, CAN), 100 ms around the list's emptying.
    QTest::newRow("whole write") << "write" << QList<int>{500, 500, 200, 500, 300, 600};
    QTest::newRow("filter list write") << "list write" << QList<int>{300, 300, 200};
    // 200 ms after "+++", then a poll budget of 100 (two polls) for the notice.
    QTest::newRow("search") << "search" << QList<int>{300, 200, 300};
}

void TstSession::pausesKeepTheirRealLength()
{
    QFETCH(QString, sequence);
    QFETCH(QList<int>, gapsMs);
    const TestSupport::Pace real(1);
    ModuleConfig config;
    if (sequence == "list write") {
        configurationState();
        config.filterMode = "USER";
        config.filters = entriesOf(distinctRows(2));
    } else if (sequence == "write") {
        configurationState();
    } else if (sequence == "search") {
        // Stopped once its second attempt has asked.
        m_port->closePort();
        m_sim->faults().silent = true;
        connect(m_sim, &sim::SimModule::frameReceived, m_session, [this](const QByteArray& frame) {
            if (frame == "AT\r\n" && m_sim->frames().size() == 4)
                m_session->stop();
        });
    }

    run(sequence, config);

    const QVector<sim::Frame> frames = m_sim->frames();
    QCOMPARE(frames.size(), gapsMs.size() + 1);
    // The module stamps a frame in whole milliseconds when it sees its first
    // byte: a gap may look a few ms short. A scaled pause would be far shorter.
    constexpr qint64 kStampSlackMs = 5;
    for (int i = 0; i < gapsMs.size(); ++i) {
        const qint64 gap = frames.at(i + 1).msecs - frames.at(i).msecs;
        QVERIFY2(gap >= gapsMs.at(i) - kStampSlackMs,
                 qPrintable(QStringLiteral("%1 ms from %2 to %3, at least %4 expected")
                                .arg(gap)
                                .arg(QString::fromLatin1(frames.at(i).data.trimmed()),
                                     QString::fromLatin1(frames.at(i + 1).data.trimmed()))
                                .arg(gapsMs.at(i))));
    }
}

void TstSession::hostileRows(const QStringList& sequences)
{
    QTest::addColumn<QString>("sequence");
    QTest::addColumn<QString>("fault");
    QTest::addColumn<qint64>("budgetMs");

    const QStringList faults{"garbage",
                             "zero byte",
                             "64 KiB replies",
                             "endless stream",
                             "replies split across polls",
                             "notice after +++",
                             "unplugged midway",
                             "reports without key",
                             "reports with too few fields",
                             "invalid UTF-8"};
    if (sequences.contains("read-back")) {
        for (const QString& fault : faults)
            QTest::addRow("read-back, %s", qPrintable(fault)) << "read-back" << fault << kConnectMs;
    }
    if (sequences.contains("write")) {
        for (const char* fault : {"garbage", "64 KiB replies", "endless stream", "unplugged midway"}) {
            QTest::addRow("write, %s", fault) << "write" << QString(fault) << kWriteMs;
            QTest::addRow("list write, %s", fault) << "list write" << QString(fault) << kListWriteMs;
        }
    }
    if (sequences.contains("search")) {
        for (const char* fault : {"endless stream", "notice after +++", "unplugged midway", "64 KiB replies"})
            QTest::addRow("search, %s", fault) << "search" << QString(fault) << kSearchMs;
    }
}

void TstSession::hostileModuleEndsTheReadBackWithinItsBudget_data()
{
    hostileRows({"read-back"});
}

void TstSession::hostileModuleEndsTheReadBackWithinItsBudget()
{
    hostileModuleEndsWithinTheBudget();
}

void TstSession::hostileModuleEndsTheWritesWithinTheirBudgets_data()
{
    hostileRows({"write"});
}

void TstSession::hostileModuleEndsTheWritesWithinTheirBudgets()
{
    hostileModuleEndsWithinTheBudget();
}

void TstSession::hostileModuleEndsTheSearchWithinItsBudget_data()
{
    hostileRows({"search"});
}

void TstSession::hostileModuleEndsTheSearchWithinItsBudget()
{
    hostileModuleEndsWithinTheBudget();
}

void TstSession::hostileModuleEndsWithinTheBudget()
{
    QFETCH(QString, sequence);
    QFETCH(QString, fault);
    QFETCH(qint64, budgetMs);
    configurationState();
    ModuleConfig config;
    config.filterMode = "USER";
    config.filters = entriesOf({"NDTF,0", "NDTF,0", "NDTF,0"});
    if (fault == "64 KiB replies") {
        // At the fastest rate a long reply takes 1.5 s on the line instead of 6.
        m_port->closePort();
        m_sim->setLine(460800, sim::Parity::None);
        QVERIFY(openPort(460800));
    }
    if (fault == "unplugged midway" && sequence == "search")
        m_sim->faults().unplugAfterFrames = 1;
    else
        TestSupport::setHostileFault(m_sim, fault);
    if (sequence == "search")
        m_port->closePort();

    QElapsedTimer clock;
    clock.start();
    run(sequence, config);
    const qint64 took = clock.elapsed();

    // Generous: the machine is shared; the point is that no wait runs away.
    QVERIFY2(took < budgetMs * 5 / 4 + 3000, qPrintable(QString("%1 ms, budget %2 ms").arg(took).arg(budgetMs)));

    // A sane module, a new one (the old one may still be pushing out what a
    // fault queued), is read whole on the port opened again.
    delete m_sim;
    m_sim = new sim::SimModule(this);
    QVERIFY(m_sim->start());
    m_sim->state().mode = "PROTOL";
    m_sim->state().canRate = 750;
    m_port->closePort();
    QVERIFY(openPort());
    m_failures.clear();
    ConfigReading reading;
    QVERIFY(m_session->readBack(&reading));
    QCOMPARE(m_sim->frameData(), kReadBackFrames);
    QVERIFY(m_failures.isEmpty());
    QCOMPARE(reading.values.mode, QStringLiteral("PROTOL"));
    QCOMPARE(reading.values.canRateKbit, 750);
    QCOMPARE(reading.values.baud, 115200);
}

VELKO_CORE_TEST_MAIN_PACED(TstSession, TestSupport::kQuickPace)
#include "tst_session.moc"
