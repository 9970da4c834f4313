// The production line's window against simulated modules, driven by object
// names as an operator drives it: tiles and counters follow the station, Stop
// records the module in progress, a setup survives saving and opening, a
// fixture bound to an adapter's serial number, the operator's removal.
#include "core/station/stationsetup.h"
#include "core/transport/adapters.h"
#include "core/transport/serialsocket.h"
#include "sim/simmodule.h"
#include "tests/support/cliprocess.h"
#include "tests/support/simsupport.h"
#include "tests/support/windowsupport.h"
#include "window/stationwindow.h"

#include <QFile>
#include <QJsonDocument>
#include <QJsonObject>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QSpinBox>
#include <QTableWidget>

using TestSupport::widget;

namespace {

QString stationText(const char* source)
{
    return QCoreApplication::translate("StationWindow", source);
}

QString label(QWidget* window, const QString& name)
{
    const auto* const l = window->findChild<QLabel*>(name);
    return l ? l->text() : QStringLiteral("<no %1>").arg(name);
}

} // namespace

class TstStationWindow : public QObject
{
    Q_OBJECT

private slots:
    void init();
    void cleanup();

    void tilesAndCountersFollowTheStation_data();
    void tilesAndCountersFollowTheStation();
    void stopInTheMiddleRecordsTheModuleCutShort();
    void ledgerAsTheValues();
    void setupSavedAndOpenedIsTheSame();
    void fixtureBoundToAnAdaptersSerialNumber_data();
    void fixtureBoundToAnAdaptersSerialNumber();
    void operatorSaysTheModuleWasTakenOff();
    void closingWhileTheLineRunsAsksFirst();
    void startWithoutAReportAsksFirst();
    void refusedSetupIsToldInABox();
    void tilesBeforeStartAndAfterStop_data();
    void tilesBeforeStartAndAfterStop();
    void lastSetupOpenedAgain();

private:
    sim::SimModule* plug();
    StationSetup setupFor(const QList<sim::SimModule*>& modules, const QByteArray& csv);
    // Starts the line from the window and waits until it ends by itself.
    void runLine();

    QTemporaryDir m_dir;
    QList<sim::SimModule*> m_sims;
    StationWindow* m_window = nullptr;
    TestSupport::BoxAnswerer* m_boxes = nullptr;
};

void TstStationWindow::init()
{
    m_window = new StationWindow;
    m_window->show();
    QVERIFY(QTest::qWaitForWindowExposed(m_window));
    m_boxes = new TestSupport::BoxAnswerer(this);
}

void TstStationWindow::cleanup()
{
    delete m_window;
    m_window = nullptr;
    delete m_boxes;
    m_boxes = nullptr;
    qDeleteAll(m_sims);
    m_sims.clear();
    Adapters::setSource({});
}

sim::SimModule* TstStationWindow::plug()
{
    auto* const module = new sim::SimModule;
    if (!module->start())
        qWarning("the simulated module did not start");
    m_sims.append(module);
    return module;
}

StationSetup TstStationWindow::setupFor(const QList<sim::SimModule*>& modules, const QByteArray& csv)
{
    StationSetup s;
    s.profile = TestSupport::exampleProfile();
    s.values = TestSupport::writeFile(m_dir.filePath(QStringLiteral("values.csv")), csv);
    s.report = m_dir.filePath(QStringLiteral("line.jsonl"));
    QFile::remove(s.report);
    for (const sim::SimModule* m : modules)
        s.ports.append(m->portName());
    s.fast = true;
    s.removalGiven = Station::Removal::Port;
    return s;
}

void TstStationWindow::runLine()
{
    widget<QPushButton>(m_window, "station_start_btn")->click();
    QVERIFY(m_window->isRunning());
    QVERIFY(!widget<QPushButton>(m_window, "station_start_btn")->isEnabled());
    QVERIFY(!m_window->findChild<QWidget*>(QStringLiteral("station_setup_box"))->isEnabled());
    QTRY_VERIFY_WITH_TIMEOUT(!m_window->isRunning(), 60000);
}

void TstStationWindow::tilesAndCountersFollowTheStation_data()
{
    QTest::addColumn<bool>("secondRefuses");
    QTest::newRow("two modules that pass") << false;
    // The refusing module stays on its fixture; a fresh module on the other
    // fixture takes the row it gave back.
    QTest::newRow("a module that refuses its CAN settings, its row handed on") << true;
}

void TstStationWindow::tilesAndCountersFollowTheStation()
{
    QFETCH(bool, secondRefuses);
    sim::SimModule* const first = plug();
    sim::SimModule* const second = plug();
    // Modules that differ from the simulated module's own replies.
    TestSupport::setFaults(first, {"--blanks", "--padded-ids"});
    first->faults().replugAfterRestartMs = 50;
    if (secondRefuses)
        second->faults().refuse = QStringList{"CAN"};
    else
        TestSupport::setFaults(second, {"--slow-ok", "150"});
    StationSetup setup = setupFor({first, second}, "can.id\n1A1\n1A2\n");
    setup.restart = true;
    const QString setupFile =
        TestSupport::writeFile(m_dir.filePath(QStringLiteral("station.json")), Setup::write(setup, m_dir.path()));
    QVERIFY(m_window->openSetup(setupFile));

    runLine();

    const QByteArray records = TestSupport::readWhole(setup.report);
    QVERIFY2(label(m_window, "station_ok_count") == QStringLiteral("2"), records.constData());
    QVERIFY2(label(m_window, "station_failed_count") == (secondRefuses ? QStringLiteral("1") : QStringLiteral("0")),
             records.constData());
    QCOMPARE(label(m_window, "station_rows_left"), QStringLiteral("0"));
    // Two modules in a few seconds make no rate of the line's.
    QCOMPARE(label(m_window, "station_rate"), QStringLiteral("—"));
    const QList<QJsonObject> lines = TestSupport::reportLines(setup.report);
    QCOMPARE(lines.size(), secondRefuses ? 3 : 2);
    QStringList ok;
    for (const QJsonObject& r : lines) {
        if (r.value("result").toString() == QLatin1String("ok"))
            ok.append(r.value("values").toObject().value("can.id").toString());
    }
    std::sort(ok.begin(), ok.end());
    QCOMPARE(ok, (QStringList{"1A1", "1A2"}));
    // The last result stays on each tile, in words and with what went wrong.
    QCOMPARE(label(m_window, "slot_state_1"), stationText("通过"));
    QVERIFY(label(m_window, "slot_module_1").contains(QStringLiteral("can.id")));
    if (secondRefuses) {
        QCOMPARE(label(m_window, "slot_state_2"), stationText("被拒绝"));
        QVERIFY2(label(m_window, "slot_reason_2").contains(QStringLiteral("AT+CAN=250,")),
                 qPrintable(label(m_window, "slot_reason_2")));
    } else {
        QCOMPARE(label(m_window, "slot_state_2"), stationText("通过"));
    }
    QCOMPARE(widget<QTableWidget>(m_window, "station_results")->rowCount(), lines.size());
    QVERIFY(m_window->findChild<QWidget*>(QStringLiteral("station_setup_box"))->isEnabled());
}

void TstStationWindow::stopInTheMiddleRecordsTheModuleCutShort()
{
    sim::SimModule* const module = plug();
    StationSetup setup = setupFor({module}, "can.id\n1A1\n");
    setup.fast = false;
    m_window->setSetup(setup);
    connect(module, &sim::SimModule::frameReceived, this, [this](const QByteArray& frame) {
        if (frame.startsWith("AT+MODE="))
            widget<QPushButton>(m_window, "station_stop_btn")->click();
    });

    runLine();

    QCOMPARE(module->frameData().last(), QByteArray("AT+MODE=TRANS\r\n"));
    const QList<QJsonObject> lines = TestSupport::reportLines(setup.report);
    QCOMPARE(lines.size(), 1);
    QCOMPARE(lines.first().value("result").toString(), QStringLiteral("cut-short"));
    QCOMPARE(lines.first().value("status").toInt(), 130);
    QCOMPARE(label(m_window, "slot_state_1"), stationText("中断"));
    QCOMPARE(label(m_window, "station_failed_count"), QStringLiteral("1"));
    QCOMPARE(label(m_window, "station_rows_left"), QStringLiteral("1"));
}

void TstStationWindow::ledgerAsTheValues()
{
    // A ledger that another station's command line shares: two rows, one
    // taken by that station already.
    const QString url = QStringLiteral("sqlite:") + m_dir.filePath(QStringLiteral("line.db"));
    QFile::remove(url.mid(7));
    QCOMPARE(TestSupport::runCli({"ledger", "init", url}).status, 0);
    const QString csv = TestSupport::writeFile(m_dir.filePath(QStringLiteral("ids.csv")), "can.id\n1A1\n1A2\n1A3\n");
    QCOMPARE(TestSupport::runCli({"ledger", "import", url, csv}).status, 0);
    sim::SimModule* const other = plug();
    QCOMPARE(TestSupport::runCli({"station", TestSupport::exampleProfile(), "--values", url, "--port",
                                  other->portName(), "--count", "1", "--fast", "--station-name", "bench-1"})
                 .status,
             0);
    sim::SimModule* const first = plug();
    sim::SimModule* const second = plug();
    StationSetup setup = setupFor({first, second}, QByteArray());
    setup.values = url;
    m_window->setSetup(setup);
    widget<QLineEdit>(m_window, "setup_station_name")->setText(QStringLiteral("bench-2"));

    runLine();

    QCOMPARE(label(m_window, "station_ok_count"), QStringLiteral("2"));
    QCOMPARE(label(m_window, "station_rows_left"), QStringLiteral("0"));
    // Each row to one module, each result under its station's name.
    const TestSupport::CliRun exported = TestSupport::runCli({"ledger", "export", url, "--results"});
    QCOMPARE(exported.status, 0);
    QStringList results;
    for (const QByteArray& line : exported.out.split('\n')) {
        const QJsonObject r = QJsonDocument::fromJson(line).object();
        if (!r.isEmpty())
            results << r.value("values").toObject().value("can.id").toString() + QLatin1Char(' ') +
                           r.value("station").toString();
    }
    std::sort(results.begin(), results.end());
    QCOMPARE(results.size(), 3);
    QCOMPARE(results.first(), QStringLiteral("1A1 bench-1"));
    QCOMPARE(results.filter(QStringLiteral(" bench-2")).size(), 2);
    // The report stays a local copy of this station's modules.
    QCOMPARE(TestSupport::reportLines(setup.report).size(), 2);
}

void TstStationWindow::setupSavedAndOpenedIsTheSame()
{
    StationSetup setup;
    setup.profile = m_dir.filePath(QStringLiteral("line.json"));
    setup.values = m_dir.filePath(QStringLiteral("ids.csv"));
    setup.report = m_dir.filePath(QStringLiteral("out/line.jsonl"));
    setup.ports = QStringList{"usb:A10K3X2B", "/dev/ttyUSB1"};
    setup.baud = 57600;
    setup.parity = QSerialPort::OddParity;
    setup.stopBits = 2;
    setup.fast = true;
    setup.restart = true;
    setup.count = 12;
    setup.removalGiven = Station::Removal::Operator;
    setup.stationName = "line-2";
    setup.can = "virtualcan:can1";
    setup.maxLatency = 250;
    m_window->setSetup(setup);
    QCOMPARE(m_window->findChild<QLineEdit*>("setup_can")->text(), setup.can);
    QCOMPARE(m_window->findChild<QSpinBox*>("setup_max_latency")->value(), 250);
    const QString path = m_dir.filePath(QStringLiteral("saved.json"));
    QVERIFY(m_window->saveSetup(path));
    QFile saved(path);
    QVERIFY(saved.open(QIODevice::ReadOnly));
    const QByteArray text = saved.readAll();
    QVERIFY2(text.contains("\"profile\": \"line.json\",\n"), text.constData()); // relative to its folder

    StationWindow other;
    QVERIFY(other.openSetup(path));
    QCOMPARE(other.setup(), setup);
    QCOMPARE(m_window->findChildren<QFrame*>(QRegularExpression(QStringLiteral("^slot_tile_\\d+$"))).size(), 2);
}

void TstStationWindow::fixtureBoundToAnAdaptersSerialNumber_data()
{
    QTest::addColumn<QStringList>("serials"); // of the adapters the system lists
    QTest::addColumn<QString>("told");        // on the tile while it waits; empty: the module is taken
    QTest::newRow("the one adapter with the serial number") << QStringList{"", "SIM0001"} << QString();
    // Refused at start, in a box.
    QTest::newRow("two adapters with the same serial number")
        << QStringList{"SIM0001", "SIM0001"} << "two adapters with serial number SIM0001: ttySIM0, ttySIM1";
    QTest::newRow("adapters that report none") << QStringList{"", "OTHER"} << "(ttySIM0 reports none)";
}

void TstStationWindow::fixtureBoundToAnAdaptersSerialNumber()
{
    QFETCH(QStringList, serials);
    QFETCH(QString, told);
    sim::SimModule* const module = plug();
    // The system's list as the test has it: the simulated module's device behind each serial number.
    QList<Adapters::Adapter> adapters;
    for (int i = 0; i < serials.size(); ++i)
        adapters.append({QStringLiteral("ttySIM%1").arg(i), module->slavePath(), QStringLiteral("simulated"), QString(),
                         serials.at(i)});
    Adapters::setSource([adapters] { return adapters; });
    StationSetup setup = setupFor({module}, "can.id\n1A1\n");
    setup.ports = QStringList{"usb:SIM0001"};
    m_window->setSetup(setup);

    if (told.startsWith(QLatin1String("two"))) {
        widget<QPushButton>(m_window, "station_start_btn")->click();
        QVERIFY(!m_window->isRunning());
        QVERIFY2(m_boxes->seen().value(0).text.contains(told), qPrintable(m_boxes->seen().value(0).text));
        return;
    }
    if (!told.isEmpty()) {
        widget<QPushButton>(m_window, "station_start_btn")->click();
        QTRY_VERIFY(label(m_window, "slot_step_1").contains(told));
        widget<QPushButton>(m_window, "station_stop_btn")->click();
        QTRY_VERIFY(!m_window->isRunning());
        QVERIFY(module->frames().isEmpty());
        return;
    }
    runLine();
    const QList<QJsonObject> lines = TestSupport::reportLines(setup.report);
    QCOMPARE(lines.size(), 1);
    QCOMPARE(lines.first().value("result").toString(), QStringLiteral("ok"));
    QCOMPARE(lines.first().value("port").toString(), QStringLiteral("usb:SIM0001"));
    QCOMPARE(lines.first().value("device").toString(), module->slavePath());
}

void TstStationWindow::operatorSaysTheModuleWasTakenOff()
{
    // The module stays on its fixture and answers: only the operator's word
    // lets the slot take the next one.
    sim::SimModule* const module = plug();
    StationSetup setup = setupFor({module}, "can.id\n1A1\n1A2\n");
    setup.restart = true;
    setup.removalGiven = Station::Removal::Operator;
    m_window->setSetup(setup);
    auto* const next = widget<QPushButton>(m_window, "slot_next_btn_1");

    widget<QPushButton>(m_window, "station_start_btn")->click();
    QTRY_VERIFY_WITH_TIMEOUT(next->isEnabled(), 30000);
    QCOMPARE(TestSupport::reportLines(setup.report).size(), 1);
    QCOMPARE(module->frameData().count("+++"), 1); // not probed: it stays restarted
    next->click();

    QTRY_VERIFY_WITH_TIMEOUT(!m_window->isRunning(), 30000);
    const QList<QJsonObject> lines = TestSupport::reportLines(setup.report);
    QCOMPARE(lines.size(), 2);
    QCOMPARE(lines.at(1).value("values").toObject().value("can.id").toString(), QStringLiteral("1A2"));
    QCOMPARE(module->state().canId, QStringLiteral("1A2"));
}

void TstStationWindow::closingWhileTheLineRunsAsksFirst()
{
    sim::SimModule* const module = plug();
    module->faults().silent = true;
    m_window->setSetup(setupFor({module}, "can.id\n1A1\n"));
    widget<QPushButton>(m_window, "station_start_btn")->click();
    QVERIFY(m_window->isRunning());

    m_boxes->queue(stationText("取消"));
    QVERIFY(!m_window->close());
    QVERIFY(m_window->isRunning());
    m_boxes->queue(stationText("确定"));
    QVERIFY(m_window->close()); // returns once the line has ended
    QVERIFY(!m_window->isRunning());
    QCOMPARE(m_boxes->seen().size(), 2);
    QCOMPARE(m_boxes->seen().first().text, stationText("生产线正在运行。停止并关闭？"));
}

void TstStationWindow::startWithoutAReportAsksFirst()
{
    // Nothing would keep which rows were used: the next start gives them again.
    sim::SimModule* const module = plug();
    StationSetup setup = setupFor({module}, "can.id\n1A1\n");
    setup.report.clear();
    m_window->setSetup(setup);
    m_boxes->queue(stationText("取消"));
    widget<QPushButton>(m_window, "station_start_btn")->click();
    QVERIFY(!m_window->isRunning());
    QCOMPARE(m_boxes->seen().size(), 1);
    QCOMPARE(m_boxes->seen().first().text,
             stationText("没有记录文件：不会保存哪些行已经用过，下次启动会再次使用同样的值。仍然启动？"));
    QVERIFY(module->frames().isEmpty());

    m_boxes->queue(stationText("确定"));
    widget<QPushButton>(m_window, "station_start_btn")->click();
    QVERIFY(m_window->isRunning());
    QTRY_VERIFY_WITH_TIMEOUT(!m_window->isRunning(), 30000);
    QCOMPARE(module->state().canId, QStringLiteral("1A1"));
}

void TstStationWindow::refusedSetupIsToldInABox()
{
    sim::SimModule* const module = plug();
    StationSetup setup = setupFor({module}, "can.id\n1A1\n800\n");
    m_window->setSetup(setup);
    widget<QPushButton>(m_window, "station_start_btn")->click();
    QVERIFY(!m_window->isRunning());
    QCOMPARE(m_boxes->titles(), QStringList{stationText("错误")});
    QVERIFY2(m_boxes->seen().first().text.contains(QStringLiteral("line 3: can.id: 800 is above 7FF")),
             qPrintable(m_boxes->seen().first().text));
    QVERIFY(label(m_window, "station_status").contains(QStringLiteral("800 is above 7FF")));
    QVERIFY(module->frames().isEmpty());
}

void TstStationWindow::tilesBeforeStartAndAfterStop_data()
{
    QTest::addColumn<QString>("fixture");    // "module", "missing" or "held" (by the configuration window's port)
    QTest::addColumn<QString>("before");     // the tile's step before Start
    QTest::addColumn<QString>("whileWaits"); // a part of its step while the line runs
    QTest::newRow("a module that does not answer") << "module" << QString() << QStringLiteral("no answer");
    QTest::newRow("a port that does not exist")
        << "missing" << stationText("没有这个端口") << QStringLiteral("no such port yet");
    QTest::newRow("a port this program's configuration window holds")
        << "held" << QString() << stationText("（端口被本程序的配置窗口占用：在配置窗口中按“关闭串口”即可释放）");
}

void TstStationWindow::tilesBeforeStartAndAfterStop()
{
    QFETCH(QString, fixture);
    QFETCH(QString, before);
    QFETCH(QString, whileWaits);
    sim::SimModule* const module = plug();
    module->faults().silent = true;
    StationSetup setup = setupFor({module}, "can.id\n1A1\n1A2\n1A3\n");
    if (fixture == QLatin1String("missing"))
        setup.ports = QStringList{m_dir.filePath(QStringLiteral("ttyNOSUCH"))};
    SerialSocket* const held = SerialSocket::getInstance();
    if (fixture == QLatin1String("held")) {
        held->setPortConfig(module->portName(), 115200, QSerialPort::Data8, QSerialPort::NoParity,
                            QSerialPort::OneStop);
        QVERIFY(held->openPort());
    }
    m_window->setSetup(setup);

    QCOMPARE(label(m_window, "slot_state_1"), stationText("未开始"));
    QCOMPARE(label(m_window, "slot_step_1"), before);
    QCOMPARE(label(m_window, "station_rows_left"), QStringLiteral("3"));

    widget<QPushButton>(m_window, "station_start_btn")->click();
    QVERIFY(m_window->isRunning());
    QTRY_VERIFY_WITH_TIMEOUT(label(m_window, "slot_step_1").contains(whileWaits), 10000);
    widget<QPushButton>(m_window, "station_stop_btn")->click();
    QTRY_VERIFY(!m_window->isRunning());
    QCOMPARE(label(m_window, "slot_state_1"), stationText("已停止"));
    QCOMPARE(label(m_window, "slot_step_1"), stationText("已停止"));
    QCOMPARE(label(m_window, "station_rows_left"), QStringLiteral("3"));
    if (held->isOpen())
        held->closePort();
}

void TstStationWindow::lastSetupOpenedAgain()
{
    StationSetup setup = setupFor({plug()}, "can.id\n1A1\n");
    const QString path =
        TestSupport::writeFile(m_dir.filePath(QStringLiteral("last.json")), Setup::write(setup, m_dir.path()));
    QVERIFY(m_window->openSetup(path));
    StationWindow next;
    next.restoreLastSetup();
    QCOMPARE(next.setup(), setup);
    QCOMPARE(label(&next, "station_rows_left"), QStringLiteral("1"));
}

VELKO_TEST_MAIN_PACED(TstStationWindow, TestSupport::kQuickPace)
#include "tst_stationwindow.moc"
