// velkocan-cli end to end: the program runs as a child process against a
// simulated module of this process; its output, exit status and the frames
// the module received are checked.
#include "moduleconfig.h"
#include "simmodule.h"
#include "testsupport.h"

#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QSignalSpy>

namespace {

struct Result
{
    int status = -1;
    QByteArray out;
    QByteArray err;
};

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
    void writeSendsTheProfileInTheWindowsOrder();
    void verifyNamesWhatTheModuleKept();
    void failures_data();
    void failures();
    void moduleCommands_data();
    void moduleCommands();
    void searchFindsTheLine();
    void portsListsTheModule();

private:
    Result cli(const QStringList& arguments, const QByteArray& input = {});
    QString profileFile(const ModuleConfig& config);

    sim::SimModule* m_sim = nullptr;
    QTemporaryDir m_dir;
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
}

Result TstCli::cli(const QStringList& arguments, const QByteArray& input)
{
    QProcess process;
    QSignalSpy finished(&process, SIGNAL(finished(int, QProcess::ExitStatus)));
    process.start(QStringLiteral(VELKO_CLI_PROGRAM), arguments);
    process.write(input);
    process.closeWriteChannel();
    // The module answers from this process's event loop, which the wait runs.
    if (!finished.wait(60000))
        process.kill();
    return {process.exitStatus() == QProcess::NormalExit ? process.exitCode() : -1, process.readAllStandardOutput(),
            process.readAllStandardError()};
}

QString TstCli::profileFile(const ModuleConfig& config)
{
    const QString path = m_dir.filePath(QStringLiteral("profile.json"));
    QFile file(path);
    if (!file.open(QIODevice::WriteOnly) || file.write(Profile::write(config)) < 0)
        return QString();
    return path;
}

void TstCli::readPrintsTheModule()
{
    sim::ModuleState& s = m_sim->state();
    s.canRate = 125;
    s.canId = "1A5";
    s.mode = "USER";
    s.userHead = "C3";
    s.filterMode = "USER";
    s.filters = {{"EDTF", "1ABCDEF0"}};

    const Result r = cli({"read", m_sim->portName(), "--quiet"});

    QCOMPARE(r.status, 0);
    QCOMPARE(m_sim->frameData(), TestSupport::kReadBackFrames);
    ModuleConfig expected;
    expected.canRateKbit = 125;
    expected.canId = "1A5";
    expected.mode = "USER";
    expected.head = "C3";
    expected.filterMode = "USER";
    expected.filters = {{"EDTF", "1ABCDEF0"}};
    QCOMPARE(QString::fromUtf8(r.out), QString::fromUtf8(Profile::write(expected)));
    QVERIFY(r.err.isEmpty());
}

void TstCli::writeSendsTheProfileInTheWindowsOrder()
{
    const QString path = profileFile(customProfile());
    const QString log = m_dir.filePath(QStringLiteral("traffic.log"));

    const Result r =
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
    // One progress line a step on a standard error that is no terminal.
    QCOMPARE(r.err.count('\n'), expected.size());
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
    const Result r = cli({"write", m_sim->portName(), profileFile(profile), "--verify", "--json"});

    QCOMPARE(r.status, 3);
    QVERIFY2(r.err.contains("can.id: wrote 1A0, module has 0"), r.err.constData());
    QCOMPARE(r.err.count("wrote"), 1);
    const QJsonObject json = QJsonDocument::fromJson(r.out).object();
    QCOMPARE(json.value("status").toInt(), 3);
    QCOMPARE(json.value("differences").toArray().size(), 1);
    QCOMPARE(m_sim->frameData().mid(10), TestSupport::kReadBackFrames);
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

    const Result r = cli(arguments + QStringList{"--quiet"});

    QCOMPARE(r.status, status);
    QVERIFY2(r.err.contains(message.toUtf8()), r.err.constData());
    QVERIFY(r.out.isEmpty());
    if (status == 2) // refused before anything is sent
        QVERIFY(m_sim->frames().isEmpty());
}

void TstCli::moduleCommands_data()
{
    QTest::addColumn<QString>("command");
    QTest::addColumn<QList<QByteArray>>("frames");
    QTest::newRow("leave") << "leave" << QList<QByteArray>{"AT+EXAT\r\n"};
    QTest::newRow("restart") << "restart" << QList<QByteArray>{"AT+REBT\r\n"};
    QTest::newRow("restore") << "restore" << QList<QByteArray>{"AT+RESTORE\r\n", "AT+REBT\r\n"};
}

void TstCli::moduleCommands()
{
    QFETCH(QString, command);
    QFETCH(QList<QByteArray>, frames);
    m_sim->state().canId = "123";

    const Result r = cli({command, m_sim->portName(), "--json", "--quiet"});

    QCOMPARE(r.status, 0);
    QCOMPARE(QJsonDocument::fromJson(r.out).object().value("status").toInt(-1), 0);
    QCOMPARE(m_sim->frameData(), TestSupport::kReadBackFrames.mid(0, 3) + frames);
    QCOMPARE(m_sim->state().canId, QString(command == "restore" ? "0" : "123"));
}

void TstCli::searchFindsTheLine()
{
    m_sim->setLine(9600, sim::Parity::Odd);
    const Result r = cli({"search", m_sim->portName(), "--json"});
    QCOMPARE(r.status, 0);
    const QJsonObject found = QJsonDocument::fromJson(r.out).object();
    QCOMPARE(found.value("baud").toInt(), 9600);
    QCOMPARE(found.value("parity").toString(), QStringLiteral("odd"));
    // 115200 three times, then 9600 with no, even and odd parity.
    QCOMPARE(r.err.count('\n'), 6);
}

void TstCli::portsListsTheModule()
{
    const Result r = cli({"ports"});
    QCOMPARE(r.status, 0);
    QVERIFY(QString::fromUtf8(r.out).split('\n').contains(m_sim->portName()));
}

VELKO_TEST_MAIN(TstCli)
#include "tst_cli.moc"
