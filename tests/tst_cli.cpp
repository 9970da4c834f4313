// velkocan-cli end to end: the program runs as a child process against a
// simulated module of this process; its output, exit status and the frames
// the module received are checked.
#include "core/config/profile.h"
#include "sim/simmodule.h"
#include "tests/support/cliprocess.h"
#include "tests/support/coresupport.h"
#include "tests/support/simsupport.h"

#include <QElapsedTimer>
#include <QJsonArray>
#include <QJsonObject>
#include <QProcess>
#include <QSerialPort>
#include <QTimer>

#include <csignal>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

using TestSupport::CliRun;

namespace {

// A profile unlike the module's factory settings in every group.
ModuleConfig customProfile()
{
    ModuleConfig c;
    c.baud = 57600;
    c.stopBits = 2;
    c.parity = "EVEN";
    c.canRateKbit = 500;
    c.frameType = "EDTF";
    c.canId = "1ABCDEF0";
    c.mode = "TRANS";
    c.frameId = true;
    c.frameInfo = false;
    c.direction = "UART-CAN";
    c.filterMode = "USER";
    c.filters = {{"NDTF", "7FF"}, {"EDTF", "1ABCDE"}};
    return c;
}

} // namespace

class TstCli : public QObject
{
    Q_OBJECT

private slots:
    void init();
    void cleanup();

    void readPrintsTheModule();
    void everyProgramAnswersHelpWithoutADisplay_data();
    void everyProgramAnswersHelpWithoutADisplay();
    void wordsAPersonTypesAreReadInAnyCase();
    void writeSendsTheProfileInTheWindowsOrder();
    void verifyNamesWhatTheModuleKept();
    void failures_data();
    void failures();
    void moduleCommands_data();
    void moduleCommands();
    void searchFindsTheLine();
    void portsListsTheModule();
    void earlyEndsSayWhereTheyStopped_data();
    void earlyEndsSayWhereTheyStopped();
    void verifyComparesWhatTheWriteSent_data();
    void verifyComparesWhatTheWriteSent();
    void inputsAndOutputsRefusedBeforeTheTraffic_data();
    void inputsAndOutputsRefusedBeforeTheTraffic();
    void oneDeviceUnderTwoNamesIsOnePort();
    void secondCtrlCEndsAtOnce();
    void aSignalWhileTheOutputBlocksEndsTheCommand();
    void failedOutputKeepsTheOldFile_data();
    void failedOutputKeepsTheOldFile();
    void profileThatIsNotPlainTextIsRefused_data();
    void profileThatIsNotPlainTextIsRefused();
    void failedLogEndsTheRunAfterTheOperation_data();
    void failedLogEndsTheRunAfterTheOperation();

private:
    CliRun cli(const QStringList& arguments);
    QString profileFile(const ModuleConfig& config);

    sim::SimModule* m_sim = nullptr;
    QTemporaryDir m_dir;
    // When set, cli() sends the signal to the program once the module receives a frame that begins so.
    QByteArray m_signalAt;
    int m_signal = 0;
    bool m_signalTwice = false;  // and once more, a moment later
    QElapsedTimer m_sinceSignal; // started when the signal goes
    QString m_stdoutFile;        // when set, the program's standard output goes there
    QStringList m_wrapper;       // when set, the program runs under it
};

void TstCli::init()
{
    m_sim = new sim::SimModule(this);
    QVERIFY(m_sim->start());
}

void TstCli::cleanup()
{
    delete m_sim;
    m_sim = nullptr;
    m_signalAt.clear();
    m_signal = 0;
    m_signalTwice = true;
    m_stdoutFile.clear();
    m_wrapper.clear();
}

CliRun TstCli::cli(const QStringList& arguments)
{
    QMetaObject::Connection signalling;
    TestSupport::CliOptions options;
    options.standardOutputFile = m_stdoutFile;
    options.wrapper = m_wrapper;
    options.started = [&](QProcess& process) {
        QProcess* const program = &process;
        signalling = connect(m_sim, &sim::SimModule::frameReceived, this, [this, program](const QByteArray& frame) {
            if (m_signal != 0 && !m_signalAt.isEmpty() && frame.startsWith(m_signalAt)) {
                const pid_t pid = pid_t(program->processId());
                ::kill(pid, m_signal);
                m_sinceSignal.start();
                m_signalAt.clear();
                // Apart, so that the two are not merged into one pending signal.
                if (m_signalTwice)
                    QTimer::singleShot(200, program, [pid, signal = m_signal] { ::kill(pid, signal); });
            }
        });
    };
    const CliRun r = TestSupport::runCli(arguments, options);
    disconnect(signalling);
    return r;
}

QString TstCli::profileFile(const ModuleConfig& config)
{
    return TestSupport::writeFile(m_dir.filePath(QStringLiteral("profile.json")), Profile::write(config));
}

void TstCli::readPrintsTheModule()
{
    ModuleConfig module;
    module.canRateKbit = 125;
    module.canId = "1A5";
    module.mode = "USER";
    module.head = "C3";
    module.filterMode = "USER";
    module.filters = {{"EDTF", "1ABCDEF0"}};
    m_sim->state() = TestSupport::moduleHolding(module);

    const CliRun r = cli({"read", m_sim->portName(), "--quiet"});

    QCOMPARE(r.status, 0);
    QCOMPARE(m_sim->frameData(), TestSupport::kReadBackFrames);
    QCOMPARE(QString::fromUtf8(r.out), QString::fromUtf8(Profile::write(module)));
    QVERIFY(r.err.isEmpty());
}

void TstCli::writeSendsTheProfileInTheWindowsOrder()
{
    const QString path = profileFile(customProfile());
    const QString log = m_dir.filePath(QStringLiteral("traffic.log"));

    const CliRun r =
        cli({"write", m_sim->portName(), path, "--set", "can.id=1a0", "--set", "can.frameType=NDTF", "--log", log});

    QCOMPARE(r.status, 0);
    const QList<QByteArray> expected{
        "+++",
        "AT\r\n",
        "AT+E=OFF\r\n",
        "AT+UART=57600,8,2,EVEN,NFC\r\n",
        "AT+DIRECTION=UART-CAN\r\n",
        "AT+MODE=TRANS\r\n",
        "AT+MSG=1,0\r\n",
        "AT+CANLT=USER\r\n",
        "AT+DELFILTER=EDTF,0\r\n",
        "AT+FILTER=NDTF,7FF\r\n",
        "AT+FILTER=EDTF,1ABCDE\r\n",
        "AT+CAN=500,1A0,NDTF\r\n",
    };
    QCOMPARE(m_sim->frameData(), expected);
    QCOMPARE(m_sim->state().canId, QStringLiteral("1A0"));
    QCOMPARE(m_sim->state().pendingBaud, 57600);
    // One progress line a step on a standard error that is no terminal, and one that it is done.
    QCOMPARE(r.err.count('\n'), expected.size() + 1);
    QVERIFY2(r.err.endsWith("velkocan-cli: write: done\n"), r.err.constData());
    QFile traffic(log);
    QVERIFY(traffic.open(QIODevice::ReadOnly));
    const QByteArray text = traffic.readAll();
    QCOMPARE(text.count("TX:"), expected.size());
    QVERIFY(text.contains("TX:AT+CAN=500,1A0,NDTF"));
    QVERIFY(text.contains("::"));
}

void TstCli::verifyNamesWhatTheModuleKept()
{
    m_sim->faults().keepSettings = QStringList{"CAN"};
    ModuleConfig profile;
    profile.canId = "1A0";
    const CliRun r = cli({"write", m_sim->portName(), profileFile(profile), "--verify", "--json"});

    QCOMPARE(r.status, 3);
    QVERIFY2(r.err.contains("can.id: wrote 1A0, module has 0"), r.err.constData());
    QCOMPARE(r.err.count("wrote"), 1);
    const QJsonObject json = r.json();
    QCOMPARE(json.value("status").toInt(), 3);
    const QJsonArray expected{QJsonObject{{"field", "can.id"}, {"wrote", "1A0"}, {"module", "0"}}};
    QCOMPARE(json.value("differences").toArray(), expected);
    // The read-back of the verify follows in the same session: no second escape.
    QCOMPARE(m_sim->frameData().mid(10), TestSupport::kReadBackFrames.mid(3));
}

void TstCli::failures_data()
{
    QTest::addColumn<QStringList>("arguments");
    QTest::addColumn<bool>("silent");
    QTest::addColumn<int>("status");
    QTest::addColumn<QString>("message");

    QTest::newRow("an unknown command is bad usage") << QStringList{"frobnicate"} << false << 2 << "unknown command";
    QTest::newRow("a command without its port is bad usage") << QStringList{"read"} << false << 2 << "read takes PORT";
    QTest::newRow("an ID above its frame's range refuses the profile")
        << QStringList{"write", "%port", "%profile", "--set", "can.id=800"} << false << 2
        << "can.id: 800 is above 7FF for a standard frame";
    QTest::newRow("an unknown field to set refuses the profile")
        << QStringList{"write", "%port", "%profile", "--set", "can.rate=5"} << false << 2 << "--set can.rate";
    QTest::newRow("a port that does not exist")
        << QStringList{"read", "/dev/velkocan-no-such-port"} << false << 4 << "no such port";
    QTest::newRow("-json with one dash is --json")
        << QStringList{"read", "/dev/velkocan-no-such-port", "-json"} << false << 4 << "no such port";
    QTest::newRow("a silent module") << QStringList{"read", "%port"} << true << 1 << "does not answer";
    QTest::newRow("a silent module to restart") << QStringList{"restart", "%port"} << true << 1 << "does not answer";
}

void TstCli::failures()
{
    QFETCH(QStringList, arguments);
    QFETCH(bool, silent);
    QFETCH(int, status);
    QFETCH(QString, message);
    m_sim->faults().silent = silent;
    arguments.replaceInStrings("%port", m_sim->portName());
    arguments.replaceInStrings("%profile", profileFile(ModuleConfig()));

    if (!arguments.contains(QStringLiteral("-json")))
        arguments.append(QStringLiteral("--json"));
    const CliRun r = cli(arguments + QStringList{"--quiet"});

    QCOMPARE(r.status, status);
    QVERIFY2(r.err.contains(message.toUtf8()), r.err.constData());
    // One result object, usage errors included.
    const QJsonObject json = r.json();
    QCOMPARE(json.value("status").toInt(-1), status);
    QCOMPARE(json.value("command").toString(), arguments.value(0));
    QVERIFY2(json.value("error").toString().contains(message), r.out.constData());
    QVERIFY(json.contains("port"));
    if (status == 2) // refused before anything is sent
        QVERIFY(m_sim->frames().isEmpty());
}

void TstCli::moduleCommands_data()
{
    QTest::addColumn<QString>("command");
    QTest::addColumn<QList<QByteArray>>("frames");
    QTest::addColumn<QStringList>("faults");
    QTest::addColumn<int>("status");
    QTest::addColumn<QString>("stoppedAfter"); // the last command that went out, when cut short
    const QList<QByteArray> restore{"AT+RESTORE\r\n", "AT+REBT\r\n"};
    QTest::newRow("leave") << "leave" << QList<QByteArray>{"AT+EXAT\r\n"} << QStringList() << 0 << QString();
    QTest::newRow("restart") << "restart" << QList<QByteArray>{"AT+REBT\r\n"} << QStringList() << 0 << QString();
    QTest::newRow("restore") << "restore" << restore << QStringList() << 0 << QString();
    // A module that vanishes under the command is never reported as done.
    QTest::newRow("leave cut at its command")
        << "leave" << QList<QByteArray>{"AT+EXAT\r\n"} << QStringList{"--vanish-after", "4"} << 5 << "AT+EXAT";
    QTest::newRow("restore cut before its restart")
        << "restore" << restore.mid(0, 1) << QStringList{"--vanish-after", "4"} << 5 << "AT+RESTORE";
    QTest::newRow("restore unanswered at its restart")
        << "restore" << restore << QStringList{"--silent-after", "5"} << 1 << QString();
}

void TstCli::moduleCommands()
{
    QFETCH(QString, command);
    QFETCH(QList<QByteArray>, frames);
    QFETCH(QStringList, faults);
    QFETCH(int, status);
    QFETCH(QString, stoppedAfter);
    TestSupport::setFaults(m_sim, faults);
    m_sim->state().canId = "123";

    const CliRun r = cli({command, m_sim->portName(), "--json", "--quiet"});

    QCOMPARE(r.status, status);
    const QJsonObject json = r.json();
    QCOMPARE(json.value("status").toInt(-1), status);
    QCOMPARE(m_sim->frameData(), TestSupport::kReadBackFrames.mid(0, 3) + frames);
    if (status == 0) {
        QCOMPARE(m_sim->state().canId, QString(command == "restore" ? "0" : "123"));
        return;
    }
    QCOMPARE(json.value("stoppedAfter").toObject().value("command").toString(), stoppedAfter);
    QVERIFY2(!json.value("error").toString().isEmpty(), r.out.constData());
}

void TstCli::searchFindsTheLine()
{
    // Right after a search, the module may still be taking in its last
    // frame: the next search finds the same line all the same.
    for (int run = 0; run < 2; ++run) {
        const CliRun r = cli({"search", m_sim->portName(), "--json"});
        QCOMPARE(r.status, 0);
        QCOMPARE(r.json().value("parity").toString(), QStringLiteral("NONE"));
    }

    m_sim->setLine(9600, sim::Parity::Odd);
    const CliRun r = cli({"search", m_sim->portName(), "--json"});
    QCOMPARE(r.status, 0);
    const QJsonObject found = r.json();
    QCOMPARE(found.value("baud").toInt(), 9600);
    QCOMPARE(found.value("parity").toString(), QStringLiteral("ODD")); // in the profile's words
    // 115200 three times, then 9600 with no, even and odd parity.
    QCOMPARE(r.err.count('\n'), 6);
}

void TstCli::portsListsTheModule()
{
    const CliRun r = cli({"ports"});
    QCOMPARE(r.status, 0);
    QVERIFY(QString::fromUtf8(r.out).split('\n').contains(m_sim->portName()));
}

void TstCli::earlyEndsSayWhereTheyStopped_data()
{
    QTest::addColumn<QStringList>("faults");
    QTest::addColumn<int>("capacity");
    QTest::addColumn<QByteArray>("signalAt");
    QTest::addColumn<int>("signal");
    QTest::addColumn<int>("status");
    QTest::addColumn<QString>("stoppedAfter"); // the last command that went out; empty when the write ran to its end
    QTest::addColumn<QStringList>("lines");    // on standard error
    QTest::addColumn<int>("frames");           // the module received, all told

    // The example profile: TRANS, filter mode USER with two entries; 12 frames with the connection.
    const QString everything = "not written: serial, direction, mode, transparent, filter.mode, filter.list, can";
    QTest::newRow("the module vanishes at the escape: nothing is written")
        << QStringList{"--vanish-after", "1"} << 20 << QByteArray() << 0 << 5 << "+++"
        << QStringList{"the port closed during the write (unplugged?)", "stopped after step 1 of 3, +++",
                       "written: nothing", everything}
        << 1;
    QTest::newRow("the module vanishes at the first entry: the list is partly written")
        << QStringList{"--vanish-after", "10"} << 20 << QByteArray() << 0 << 5 << "AT+FILTER=NDTF,7FF"
        << QStringList{"stopped after step 7 of 9, AT+FILTER=NDTF,7FF",
                       "written: serial, direction, mode, transparent, filter.mode", "partly written: filter.list",
                       "not written: can"}
        << 10;
    QTest::newRow("the module vanishes at the last command")
        << QStringList{"--vanish-after", "12"} << 20 << QByteArray() << 0 << 5 << "AT+CAN=250,7FF,NDTF"
        << QStringList{"stopped after step 9 of 9, AT+CAN=250,7FF,NDTF", "not written: can"} << 12;
    QTest::newRow("a refused setting is named, the rest still goes out")
        << QStringList{"--refuse", "CAN"} << 20 << QByteArray() << 0 << 1 << QString()
        << QStringList{"the module refused AT+CAN=250,7FF,NDTF (ERROR)", "not written: can"} << 12;
    QTest::newRow("entries beyond a full list are named with the module's words")
        << QStringList() << 1 << QByteArray() << 0 << 1 << QString()
        << QStringList{"the module refused AT+FILTER=EDTF,1ABCDEF0 (+ERROR)", "partly written: filter.list"} << 12;
    QTest::newRow("Ctrl+C ends the write after the entry in progress")
        << QStringList() << 20 << QByteArray("AT+FILTER=NDTF") << int(SIGINT) << 130 << "AT+FILTER=NDTF,7FF"
        << QStringList{"stopped by SIGINT during the write", "stopped after step 7 of 9, AT+FILTER=NDTF,7FF",
                       "partly written: filter.list", "not written: can"}
        << 10;
    QTest::newRow("SIGTERM ends the write after the mode")
        << QStringList() << 20 << QByteArray("AT+MODE") << int(SIGTERM) << 143 << "AT+MODE=TRANS"
        << QStringList{"stopped after step 3 of 9, AT+MODE=TRANS", "written: serial, direction, mode",
                       "not written: transparent, filter.mode, filter.list, can"}
        << 6;
    QTest::newRow("SIGHUP while connecting: nothing is written")
        << QStringList() << 20 << QByteArray("AT\r\n") << int(SIGHUP) << 129 << "AT"
        << QStringList{"stopped after step 2 of 3, AT", everything} << 2;
}

void TstCli::earlyEndsSayWhereTheyStopped()
{
    QFETCH(QStringList, faults);
    QFETCH(int, capacity);
    QFETCH(QByteArray, signalAt);
    QFETCH(int, signal);
    QFETCH(int, status);
    QFETCH(QString, stoppedAfter);
    QFETCH(QStringList, lines);
    QFETCH(int, frames);
    TestSupport::setFaults(m_sim, faults);
    m_sim->state().filterCapacity = capacity;
    m_signalAt = signalAt;
    m_signal = signal;

    const QString profile = TestSupport::exampleProfile();
    const CliRun r = cli({"write", m_sim->portName(), profile, "--json"});

    QCOMPARE(r.status, status);
    for (const QString& line : lines)
        QVERIFY2(r.err.contains(line.toUtf8()), qPrintable(line + "\n---\n" + r.err));
    // Nothing went out after the exchange in progress, and progress named only what did.
    QTRY_COMPARE(m_sim->frames().size(), frames);
    QCOMPARE(r.err.count("\nwrite "), qMax(0, frames - 3));
    const QJsonObject json = r.json();
    QCOMPARE(json.value("status").toInt(), status);
    QCOMPARE(json.value("stoppedAfter").toObject().value("command").toString(), stoppedAfter);
    QVERIFY2(json.value("written").isArray() && json.value("notWritten").isArray(), r.out.constData());
    if (signal != 0) {
        // The port was left as it was found: usable at once.
        m_sim->clearFrames();
        QCOMPARE(cli({"read", m_sim->portName(), "--quiet"}).status, 0);
    }
}

void TstCli::verifyComparesWhatTheWriteSent_data()
{
    QTest::addColumn<QString>("mode");
    QTest::addColumn<QString>("filterMode");
    QTest::addColumn<QStringList>("kept"); // set commands the module acknowledges but ignores
    QTest::addColumn<int>("status");
    QTest::addColumn<QStringList>("differences");
    QTest::newRow("TRANS: the identifier and head the write did not send are not compared")
        << "TRANS"
        << "USER" << QStringList() << 0 << QStringList();
    QTest::newRow("TPRTL: the identifier is compared, the flags are not")
        << "TPRTL"
        << "OFF" << QStringList() << 0 << QStringList();
    QTest::newRow("USER: head and tail are compared, and the list in filter mode USER")
        << "USER"
        << "USER" << QStringList() << 0 << QStringList();
    QTest::newRow("PROTOL with filter mode NTF: no sub-parameters, no list")
        << "PROTOL"
        << "NTF" << QStringList() << 0 << QStringList();
    QTest::newRow("an identifier the module kept is still found")
        << "TPRTL"
        << "OFF" << QStringList{"RANDOM"} << 3
        << QStringList{"identifier.length: wrote 3, module has 2", "identifier.position: wrote 5, module has 0"};
    QTest::newRow("a list the module kept is still found")
        << "USER"
        << "USER" << QStringList{"FILTER"} << 3
        << QStringList{"filter.list: wrote NDTF:7FF EDTF:1ABCDE, module has none"};
}

void TstCli::verifyComparesWhatTheWriteSent()
{
    QFETCH(QString, mode);
    QFETCH(QString, filterMode);
    QFETCH(QStringList, kept);
    QFETCH(int, status);
    QFETCH(QStringList, differences);
    m_sim->faults().keepSettings = kept;
    // Unlike the module's factory settings in every sub-parameter of every mode.
    ModuleConfig profile = customProfile();
    profile.mode = mode;
    profile.filterMode = filterMode;
    profile.baud = 115200; // the line in effect is what the module reports before its restart
    profile.stopBits = 1;
    profile.parity = "NONE";
    profile.frameInfo = true;
    profile.head = "C3";
    profile.tail = "3C";
    profile.idLength = "3";
    profile.idPosition = "5";

    const CliRun r = cli({"write", m_sim->portName(), profileFile(profile), "--verify", "--quiet"});

    QVERIFY2(r.status == status,
             qPrintable(QStringLiteral("status %1: %2").arg(r.status).arg(QString::fromUtf8(r.err))));
    QCOMPARE(r.err.count("wrote"), differences.size());
    for (const QString& d : differences)
        QVERIFY2(r.err.contains(d.toUtf8()), r.err.constData());
}

void TstCli::inputsAndOutputsRefusedBeforeTheTraffic_data()
{
    QTest::addColumn<QStringList>("arguments");
    QTest::addColumn<QString>("standardOutput"); // a file for the program's standard output
    QTest::addColumn<QString>("message");
    QTest::addColumn<bool>("traffic"); // the module was talked to before the refusal
    QTest::newRow("a FIFO as profile") << QStringList{"write", "%port", "%fifo"} << QString()
                                       << "a FIFO, not a regular file" << false;
    QTest::newRow("/dev/zero as profile") << QStringList{"write", "%port", "/dev/zero"} << QString()
                                          << "/dev/zero: a device, not a regular file" << false;
    QTest::newRow("a directory as profile")
        << QStringList{"write", "%port", "%dir"} << QString() << "a directory, not a regular file" << false;
    QTest::newRow("a profile of more than 1 MiB")
        << QStringList{"write", "%port", "%big"} << QString() << "more than 1048576 bytes" << false;
    QTest::newRow("an output into a missing folder")
        << QStringList{"read", "%port", "-o", "%dir/missing/x.json"} << QString() << "no such folder" << false;
    QTest::newRow("a log into a missing folder")
        << QStringList{"read", "%port", "--log", "%dir/missing/x.log"} << QString() << "no such folder" << false;
    QTest::newRow("a FIFO as log, which would block its open")
        << QStringList{"read", "%port", "--log", "%fifo"} << QString() << "fifo: a FIFO, not a regular file" << false;
    QTest::newRow("/dev/full as log") << QStringList{"read", "%port", "--log", "/dev/full"} << QString()
                                      << "/dev/full: a device, not a regular file" << false;
    QTest::newRow("a directory as log") << QStringList{"search", "%port", "--log", "%dir"} << QString()
                                        << ": a directory" << false;
    QTest::newRow("a device as output") << QStringList{"read", "%port", "-o", "/dev/full"} << QString()
                                        << "/dev/full: a device, not a regular file" << false;
    QTest::newRow("a FIFO as output, which would block after the read")
        << QStringList{"read", "%port", "-o", "%fifo"} << QString() << "fifo: a FIFO, not a regular file" << false;
    QTest::newRow("a result that standard output cannot take")
        << QStringList{"read", "%port"} << "/dev/full"
        << "standard output: the result cannot be written" << true;
}

void TstCli::inputsAndOutputsRefusedBeforeTheTraffic()
{
    QFETCH(QStringList, arguments);
    QFETCH(QString, standardOutput);
    QFETCH(QString, message);
    QFETCH(bool, traffic);
    const QString fifo = m_dir.filePath(QStringLiteral("fifo"));
    QVERIFY(QFile::exists(fifo) || ::mkfifo(QFile::encodeName(fifo).constData(), 0600) == 0);
    const QString big = m_dir.filePath(QStringLiteral("big.json"));
    QFile file(big);
    QVERIFY(file.open(QIODevice::WriteOnly) && file.resize(1024 * 1024 + 1));
    file.close();
    arguments.replaceInStrings("%port", m_sim->portName());
    arguments.replaceInStrings("%fifo", fifo);
    arguments.replaceInStrings("%dir", m_dir.path());
    arguments.replaceInStrings("%big", big);
    m_stdoutFile = standardOutput;

    QElapsedTimer clock;
    clock.start();
    const CliRun r = cli(arguments + QStringList{"--quiet"});

    QCOMPARE(r.status, 2);
    QVERIFY2(r.err.contains(message.toUtf8()), r.err.constData());
    QCOMPARE(m_sim->frames().isEmpty(), !traffic);
    if (!traffic) // refused at once
        QVERIFY2(clock.elapsed() < 5000, qPrintable(QString::number(clock.elapsed())));
}

void TstCli::oneDeviceUnderTwoNamesIsOnePort()
{
    // This process holds the device by its own name; the program is given the link.
    QSerialPort holder;
    holder.setPortName(m_sim->slavePath());
    QVERIFY(holder.open(QIODevice::ReadWrite));

    const CliRun r = cli({"read", m_sim->portName(), "--quiet"});

    QCOMPARE(r.status, 4);
    const QByteArray held = "held by another program (PID " + QByteArray::number(QCoreApplication::applicationPid());
    QVERIFY2(r.err.contains(held), r.err.constData());
    QVERIFY(m_sim->frames().isEmpty());
}

void TstCli::secondCtrlCEndsAtOnce()
{
    // The module falls silent at the list's query, whose answer is awaited
    // for 7 s: a first Ctrl+C lets that wait run out, a second one does not.
    TestSupport::setFaults(m_sim, {"--silent-after", QString::number(TestSupport::kReadBackFrames.size())});
    m_signalAt = "AT+FILTER?";
    m_signal = SIGINT;
    m_signalTwice = true;

    const CliRun r = cli({"read", m_sim->portName(), "--quiet"});

    QCOMPARE(r.status, 130);
    QVERIFY2(m_sinceSignal.elapsed() < 4000, QByteArray::number(m_sinceSignal.elapsed()).constData());
}

void TstCli::everyProgramAnswersHelpWithoutADisplay_data()
{
    QTest::addColumn<QString>("program"); // in the build folder
    QTest::addColumn<QStringList>("arguments");
    QTest::addColumn<QByteArray>("told");
    QTest::newRow("the window's help") << "velkocan-config" << QStringList{"--help"}
                                       << QByteArray("Usage: velkocan-config [--help] [--version]\n");
    QTest::newRow("the window's version")
        << "velkocan-config" << QStringList{"--version"} << QByteArray("velkocan-config ");
    QTest::newRow("the production window's help, not a setup named --help")
        << "velkocan-station" << QStringList{"--help"} << QByteArray("Usage: velkocan-station [SETUP]");
    QTest::newRow("the production window's version")
        << "velkocan-station" << QStringList{"--version"} << QByteArray("velkocan-station ");
    QTest::newRow("the simulated module's version")
        << "sim/velkocan-sim" << QStringList{"--version"} << QByteArray("velkocan-sim ");
    QTest::newRow("one command's usage") << "velkocan-cli" << QStringList{"write", "--help"}
                                         << QByteArray("Usage: velkocan-cli write PORT FILE [OPTIONS]\n");
    QTest::newRow("the ledger's usage, without the serial line's options")
        << "velkocan-cli" << QStringList{"ledger", "--help"} << QByteArray("ledger withdraw URL SOURCE");
    QTest::newRow("every command, and how to ask for one")
        << "velkocan-cli" << QStringList{"--help"} << QByteArray("velkocan-cli COMMAND --help");
}

void TstCli::everyProgramAnswersHelpWithoutADisplay()
{
    QFETCH(QString, program);
    QFETCH(QStringList, arguments);
    QFETCH(QByteArray, told);
    QProcess process;
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    environment.remove(QStringLiteral("DISPLAY"));
    environment.remove(QStringLiteral("WAYLAND_DISPLAY"));
    environment.remove(QStringLiteral("QT_QPA_PLATFORM"));
    process.setProcessEnvironment(environment);
    process.start(QStringLiteral("./") + program, arguments);
    QVERIFY(process.waitForFinished(20000));
    const QByteArray out = process.readAllStandardOutput();
    QCOMPARE(process.exitStatus(), QProcess::NormalExit);
    QCOMPARE(process.exitCode(), 0);
    QVERIFY2(out.contains(told), out.constData());
    if (program == "velkocan-cli" && arguments.first() == "ledger")
        QVERIFY2(!out.contains("--baud"), out.constData());
}

void TstCli::wordsAPersonTypesAreReadInAnyCase()
{
    // The PC side's parity, the module's words in --set and a flag, as a person may type them.
    const CliRun r = cli({"write", m_sim->portName(), TestSupport::exampleProfile(), "--parity", "None", "--set",
                          "mode=Trans", "--set", "filter.mode=Off", "--set", "transparent.frameId=TRUE", "--fast"});

    QVERIFY2(r.status == 0, r.err.constData());
    QVERIFY(m_sim->frameData().contains("AT+MODE=TRANS\r\n"));
    QVERIFY(m_sim->frameData().contains("AT+CANLT=OFF\r\n"));
    QVERIFY(m_sim->frameData().contains("AT+MSG=1,1\r\n"));
    // It ends on a line that says so.
    QVERIFY2(r.err.endsWith("velkocan-cli: write: done\n"), r.err.constData());
}

void TstCli::aSignalWhileTheOutputBlocksEndsTheCommand()
{
    // Standard output is a FIFO whose reader takes nothing more, and full.
    const QString fifo = m_dir.filePath(QStringLiteral("stdout.fifo"));
    QCOMPARE(::mkfifo(QFile::encodeName(fifo).constData(), 0600), 0);
    const int reader = ::open(QFile::encodeName(fifo).constData(), O_RDONLY | O_NONBLOCK);
    const int filler = ::open(QFile::encodeName(fifo).constData(), O_WRONLY | O_NONBLOCK);
    QVERIFY(reader >= 0 && filler >= 0);
    const QByteArray block(4096, 'x');
    while (::write(filler, block.constData(), size_t(block.size())) > 0) {
    }
    TestSupport::CliOptions options;
    options.wrapper = QStringList{"sh", "-c", QStringLiteral("exec \"$0\" \"$@\" > '%1'").arg(fifo)};
    QTimer poll;
    options.started = [&](QProcess& process) {
        // Once the result waits on the full output, the signal comes.
        connect(&poll, &QTimer::timeout, &process, [&process, &poll] {
            QFile wchan(QStringLiteral("/proc/%1/wchan").arg(process.processId()));
            if (wchan.open(QIODevice::ReadOnly) && wchan.readAll().contains("pipe_write")) {
                poll.stop();
                ::kill(pid_t(process.processId()), SIGTERM);
            }
        });
        poll.start(20);
    };

    const CliRun r = TestSupport::runCli({"read", m_sim->portName(), "--quiet"}, options);

    ::close(reader);
    ::close(filler);
    QCOMPARE(r.status, 143);
    QCOMPARE(m_sim->frameData(), TestSupport::kReadBackFrames);
    QVERIFY2(r.err.contains("did not take the result; it follows here:\n{"), r.err.constData());
    QVERIFY2(r.err.contains("\"can\""), r.err.constData());
}

void TstCli::failedOutputKeepsTheOldFile_data()
{
    // A full file system of this size; 0 for a file size limit of 512 bytes instead, -1 for one of 0 bytes.
    QTest::addColumn<int>("roomKib");
    QTest::addColumn<QString>("message");
    QTest::newRow("a writer past its file size limit, halfway through the profile") << 0 << "File too large";
    QTest::newRow("a file size limit that not even the port's lock file fits in")
        << -1 << "the serial port: its lock file cannot be written: File too large";
    QTest::newRow("a file system that is full") << 16 << "No space left on device";
}

void TstCli::failedOutputKeepsTheOldFile()
{
    QFETCH(int, roomKib);
    QFETCH(QString, message);
    const QTemporaryDir folder(m_dir.filePath(QStringLiteral("out-XXXXXX")));
    const QByteArray old = "the old profile\n";
    const QString output = TestSupport::writeFile(folder.filePath(QStringLiteral("module.json")), old);
    QVERIFY(!output.isEmpty());
    // A profile of about 1 KiB, of which the first 512 bytes go through the size limit.
    m_sim->state().filterMode = "USER";
    for (int i = 0; i < 14; ++i)
        m_sim->state().filters.append({"EDTF", QString::number(0x1ABCDE00 + i, 16).toUpper()});
    m_wrapper = roomKib > 0 ? TestSupport::smallFileSystem(folder.path(), roomKib)
                            : TestSupport::fileSizeLimit(roomKib < 0 ? 0 : 512);
    if (m_wrapper.isEmpty())
        QSKIP("this system gives no mount namespace for a small file system");

    const CliRun r = cli({"read", m_sim->portName(), "-o", output, "--quiet"});

    QCOMPARE(r.status, 2);
    if (roomKib < 0) {
        QVERIFY2(r.err.contains(message.toUtf8()), r.err.constData());
        QVERIFY(m_sim->frameData().isEmpty());
    } else {
        QVERIFY2(r.err.contains((output + QStringLiteral(": ") + message).toUtf8()), r.err.constData());
        QCOMPARE(m_sim->frameData(), TestSupport::kReadBackFrames); // the read itself went through
    }
    QFile file(output);
    QVERIFY(file.open(QIODevice::ReadOnly));
    QCOMPARE(file.readAll(), old);
    // No temporary file left beside it.
    QCOMPARE(QDir(folder.path()).entryList(QDir::AllEntries | QDir::Hidden | QDir::NoDotAndDotDot),
             QStringList{"module.json"});
}

void TstCli::profileThatIsNotPlainTextIsRefused_data()
{
    QTest::addColumn<QByteArray>("text");
    QTest::addColumn<QString>("message");
    // The bytes go at the start of the profile's third line.
    const auto spoilt = [](const QByteArray& bytes) {
        QByteArray text = Profile::write(ModuleConfig());
        return text.insert(text.indexOf('\n', text.indexOf('\n') + 1) + 1, bytes);
    };
    QTest::newRow("a NUL byte is named with its line") << spoilt(QByteArray(1, '\0')) << " line 3: a NUL byte";
    QTest::newRow("an escape character is named with its code")
        << spoilt("\x1B[1m") << " line 3: a control character (0x1B)";
    QTest::newRow("DEL is a control character too") << spoilt("\x7F") << " line 3: a control character (0x7F)";
    QTest::newRow("a Latin-1 byte is not UTF-8") << spoilt("\xE9") << " line 3: not UTF-8 text; save it as UTF-8";
    QTest::newRow("a sequence cut short is not UTF-8") << spoilt("\xE2\x82") << " line 3: not UTF-8 text";
    QTest::newRow("an overlong form is not UTF-8") << spoilt("\xC0\xAF") << " line 3: not UTF-8 text";
    QTest::newRow("UTF-16 is told by its little-endian mark")
        << TestSupport::utf16(Profile::write(ModuleConfig()), true) << ": UTF-16 text; save it as UTF-8";
    QTest::newRow("UTF-16 is told by its big-endian mark")
        << TestSupport::utf16(Profile::write(ModuleConfig()), false) << ": UTF-16 text; save it as UTF-8";
}

void TstCli::profileThatIsNotPlainTextIsRefused()
{
    QFETCH(QByteArray, text);
    QFETCH(QString, message);
    const QString profile = TestSupport::writeFile(m_dir.filePath(QStringLiteral("spoilt.json")), text);

    const CliRun r = cli({"write", m_sim->portName(), profile, "--quiet"});

    QCOMPARE(r.status, 2);
    QVERIFY2(r.err.contains((profile + message).toUtf8()), r.err.constData());
    QVERIFY(m_sim->frames().isEmpty());
}

void TstCli::failedLogEndsTheRunAfterTheOperation_data()
{
    QTest::addColumn<int>("roomKib"); // a full file system of this size; 0 for a file size limit instead
    QTest::addColumn<QString>("message");
    QTest::newRow("a log past its file size limit") << 0 << "File too large";
    QTest::newRow("a log on a file system that fills") << 16 << "No space left on device";
}

void TstCli::failedLogEndsTheRunAfterTheOperation()
{
    QFETCH(int, roomKib);
    QFETCH(QString, message);
    // An earlier run's 4000 bytes: this run's first entries fill the 4096 bytes
    // the limit, or the file system's last page, leaves.
    const QTemporaryDir folder(m_dir.filePath(QStringLiteral("log-XXXXXX")));
    const QString log = TestSupport::writeFile(folder.filePath(QStringLiteral("traffic.log")), QByteArray(4000, 'x'));
    QVERIFY(!log.isEmpty());
    m_wrapper = roomKib > 0 ? TestSupport::smallFileSystem(folder.path(), roomKib) : TestSupport::fileSizeLimit(4096);
    if (m_wrapper.isEmpty())
        QSKIP("this system gives no mount namespace for a small file system");

    const CliRun r = cli({"read", m_sim->portName(), "--log", log, "--json", "--quiet"});

    QCOMPARE(r.status, 2);
    const QByteArray told = "LOG: the log cannot be written (" + message.toUtf8() + "); it stops here";
    QCOMPARE(r.err.count(told), 1);
    // The operation went to its end, its result with it.
    QCOMPARE(m_sim->frameData(), TestSupport::kReadBackFrames);
    QVERIFY(r.json().value("config").isObject());
    QVERIFY(r.json().value("error").toString().contains(told));
    const qint64 size = QFileInfo(log).size();
    QVERIFY2(size > 4000 && size <= 4096, QByteArray::number(size).constData());
}

VELKO_CORE_TEST_MAIN_PACED(TstCli, TestSupport::kQuickPace)
#include "tst_cli.moc"
