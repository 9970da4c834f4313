// The traffic window against a simulated module that converts on a
// virtualcan bus this test hosts on a port of its own for its whole run:
// the module out of its configuration state and back, the check's verdict in
// words and colour, bytes and frames both ways, the trace in both formats.
#include "core/traffic/canbus.h"
#include "sim/canbridge.h"
#include "sim/simmodule.h"
#include "tests/support/simsupport.h"
#include "tests/support/windowsupport.h"
#include "window/kx47main.h"
#include "window/remembered.h"
#include "window/trafficwindow.h"

#include <QAction>
#include <QCheckBox>
#include <QComboBox>
#include <QLabel>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QSpinBox>
#include <QTableWidget>
#include <QTemporaryDir>

using TestSupport::widget;

namespace {

// The rows of a frames table as "DIRECTION ID DATA" (all frames) or "ID DATA xCOUNT" (the latest of each ID).
QStringList rowsOf(QTableWidget* table, bool latest)
{
    QStringList rows;
    for (int r = 0; r < table->rowCount(); ++r) {
        const auto cell = [&](int c) { return table->item(r, c) ? table->item(r, c)->text() : QString(); };
        rows.append(latest ? QStringLiteral("%1 %2 x%3").arg(cell(0), cell(3), cell(4))
                           : QStringLiteral("%1 %2 %3").arg(cell(1), cell(2), cell(5)));
    }
    return rows;
}

// Whether a row of the latest frames is `seen`; with `atLeast`, a row with the same ID and bytes
// counted at least as often as `seen` says (a repetition goes on while the test looks).
bool hasRow(const QStringList& rows, const QString& seen, bool atLeast)
{
    if (!atLeast)
        return rows.contains(seen);
    const int x = seen.lastIndexOf(QLatin1String(" x"));
    const QString head = seen.left(x + 2);
    const int least = seen.mid(x + 2).toInt();
    for (const QString& row : rows) {
        if (row.startsWith(head) && row.mid(head.size()).toInt() >= least)
            return true;
    }
    return false;
}

} // namespace

class TstTrafficWindow : public QObject, protected TestSupport::ModuleFixture
{
    Q_OBJECT

private slots:
    void initTestCase();
    void cleanupTestCase();
    void init();
    void cleanup();

    void noWorkingStateWithoutAModule_data();
    void noWorkingStateWithoutAModule();
    void checkVerdictInWordsAndColour_data();
    void checkVerdictInWordsAndColour();
    void bytesAndFramesThroughTheModule_data();
    void bytesAndFramesThroughTheModule();
    void traceSavedAndInterfaceRemembered();

private:
    QString bus() const { return m_bus; }
    // Opens the traffic window from the menu and connects it to the test's bus.
    TrafficWindow* openTraffic();

    QString m_bus;
    Traffic::CanBus* m_host = nullptr; // hosts the bus for the whole run
    sim::CanBridge* m_bridge = nullptr;
};

void TstTrafficWindow::initTestCase()
{
    m_host = TestSupport::hostCanBus(this, &m_bus);
    QVERIFY(m_host);
    createWindow();
}

void TstTrafficWindow::cleanupTestCase()
{
    destroyWindow();
    m_host->close();
}

void TstTrafficWindow::init()
{
    plugModule(this, false);
    m_sim->state() = TestSupport::moduleHolding(TestSupport::configWith({"can.id=1A1"}));
    m_bridge = new sim::CanBridge(m_sim);
    QString error;
    QVERIFY2(m_bridge->open(bus(), &error), qPrintable(error));
    QVERIFY(TestSupport::openPortFromPanel(m_window, m_sim->portName()));
}

void TstTrafficWindow::cleanup()
{
    if (m_window->trafficWindow())
        m_window->trafficWindow()->close();
    QTRY_VERIFY(!m_window->trafficWindow());
    delete m_bridge;
    m_bridge = nullptr;
    unplugModule();
}

TrafficWindow* TstTrafficWindow::openTraffic()
{
    m_window->findChild<QAction*>("action_traffic")->trigger();
    TrafficWindow* const traffic = m_window->trafficWindow();
    if (!traffic)
        return nullptr;
    widget<QComboBox>(traffic, "traffic_can_interface")->setCurrentText(bus());
    widget<QPushButton>(traffic, "traffic_can_connect_btn")->click(); // returns once connected
    return traffic;
}

void TstTrafficWindow::noWorkingStateWithoutAModule_data()
{
    QTest::addColumn<bool>("portOpen");
    QTest::addColumn<QString>("box");
    QTest::newRow("a closed port is to be opened first") << false << "请先打开模块的串口";
    QTest::newRow("a module that does not answer stays where it is") << true << "模块没有进入工作状态：";
}

void TstTrafficWindow::noWorkingStateWithoutAModule()
{
    QFETCH(bool, portOpen);
    QFETCH(QString, box);
    if (portOpen)
        m_sim->faults().silentAfterFrames = 0;
    else
        TestSupport::closePort(m_window);
    m_window->findChild<QAction*>("action_traffic")->trigger();
    QVERIFY(!m_window->trafficWindow());
    QCOMPARE(m_boxes->seen().size(), portOpen ? 2 : 1); // the session's box that the module is silent first
    QVERIFY2(m_boxes->seen().last().text.startsWith(TestSupport::tr47(box.toUtf8().constData())),
             qPrintable(m_boxes->seen().last().text));
    QCOMPARE(widget<QPushButton>(m_window, "device_connet")->isEnabled(), portOpen);
}

void TstTrafficWindow::checkVerdictInWordsAndColour_data()
{
    QTest::addColumn<int>("dropEvery");
    QTest::addColumn<QString>("verdict");
    QTest::addColumn<QString>("colour");
    QTest::addColumn<QString>("failure"); // a line of the result
    QTest::newRow("a module that converts everything is within the limits, in green") << 0 << "passed"
                                                                                      << "#d9f7be" << QString();
    QTest::newRow("a module that loses every third message fails, in red")
        << 3 << "failed"
        << "#ffccc7"
        << "serial→CAN: 1 of 3 messages lost (seq 2)";
}

void TstTrafficWindow::checkVerdictInWordsAndColour()
{
    QFETCH(int, dropEvery);
    QFETCH(QString, verdict);
    QFETCH(QString, colour);
    QFETCH(QString, failure);
    m_bridge->faults().dropEvery = dropEvery;
    TrafficWindow* const traffic = openTraffic();
    QVERIFY(traffic);
    // Out of the configuration state, told in the configuration window's log;
    // its module commands wait meanwhile.
    QVERIFY(!m_sim->state().configMode);
    QVERIFY(TestSupport::logText(m_window).contains("AT+EXAT"));
    QVERIFY(!widget<QPushButton>(m_window, "device_connet")->isEnabled());

    widget<QSpinBox>(traffic, "traffic_check_count")->setValue(3);
    // This is about the verdict's words, not the latency.
    widget<QSpinBox>(traffic, "traffic_check_latency")->setValue(TestSupport::kLoadedLatencyMs);
    widget<QPushButton>(traffic, "traffic_check_btn")->click(); // returns when the check has ended
    auto* const result = widget<QLabel>(traffic, "traffic_check_result");
    QVERIFY2(result->property("verdict").toString() == verdict, qPrintable(result->text()));
    QVERIFY2(result->styleSheet().contains(colour), qPrintable(result->styleSheet()));
    const QStringList lines = result->text().split('\n');
    QVERIFY2(lines.size() == (failure.isEmpty() ? 3 : 4) || lines.size() == 5, qPrintable(result->text()));
    if (!failure.isEmpty())
        QVERIFY2(lines.contains(failure), qPrintable(result->text()));
    // The check's traffic is shown as well: three messages each way, at least;
    // and what comes after it too.
    QVERIFY(widget<QTableWidget>(traffic, "traffic_frames")->rowCount() >= 3);
    widget<QLineEdit>(traffic, "traffic_frame_input")->setText("123#A5A5");
    widget<QPushButton>(traffic, "traffic_frame_send_btn")->click();
    auto* const serialView = widget<QPlainTextEdit>(traffic, "traffic_serial_view");
    QTRY_VERIFY2(serialView->toPlainText().endsWith("RX  A5 A5  |..|"), qPrintable(serialView->toPlainText()));

    // Back to configuring: the module listens again, the window closes.
    widget<QPushButton>(traffic, "traffic_back_btn")->click();
    QTRY_VERIFY(!m_window->trafficWindow());
    QVERIFY(m_sim->state().configMode);
    QVERIFY(widget<QPushButton>(m_window, "device_connet")->isEnabled());
    QCOMPARE(m_boxes->seen().size(), 0);
}

void TstTrafficWindow::bytesAndFramesThroughTheModule_data()
{
    QTest::addColumn<QString>("frame"); // sent on the bus; else `bytes` on the serial line
    QTest::addColumn<QString>("bytes");
    QTest::addColumn<bool>("hex");
    QTest::addColumn<int>("lineEnd"); // item of the line-end box
    QTest::addColumn<int>("repeatMs");
    QTest::addColumn<QString>("seen"); // a line of the serial view, or a row of the latest frames

    QTest::newRow("a frame sent on the bus comes out on the serial line")
        << "123#DEADBEEF" << QString() << false << 0 << 0 << "RX  DE AD BE EF  |....|";
    QTest::newRow("hex bytes sent on the serial line come onto the bus as a frame")
        << QString() << "01 02 03" << true << 0 << 0 << "1A1 01 02 03 x1";
    QTest::newRow("text with its line end comes onto the bus")
        << QString() << "AT" << false << 1 << 0 << "1A1 41 54 0D 0A x1";
    QTest::newRow("bytes sent again every 30 ms come again") << QString() << "05" << true << 0 << 30 << "1A1 05 x3";
}

void TstTrafficWindow::bytesAndFramesThroughTheModule()
{
    QFETCH(QString, frame);
    QFETCH(QString, bytes);
    QFETCH(bool, hex);
    QFETCH(int, lineEnd);
    QFETCH(int, repeatMs);
    QFETCH(QString, seen);
    TrafficWindow* const traffic = openTraffic();
    QVERIFY(traffic);
    auto* const serialView = widget<QPlainTextEdit>(traffic, "traffic_serial_view");
    auto* const frames = widget<QTableWidget>(traffic, "traffic_frames");
    auto* const latest = widget<QTableWidget>(traffic, "traffic_latest");
    if (!frame.isEmpty()) {
        widget<QLineEdit>(traffic, "traffic_frame_input")->setText(frame);
        widget<QPushButton>(traffic, "traffic_frame_send_btn")->click();
        QCOMPARE(rowsOf(frames, false).value(0), QStringLiteral("TX 123 DE AD BE EF"));
        QTRY_VERIFY2(serialView->toPlainText().contains(seen), qPrintable(serialView->toPlainText()));
        return;
    }
    widget<QLineEdit>(traffic, "traffic_serial_input")->setText(bytes);
    widget<QCheckBox>(traffic, "traffic_serial_hex")->setChecked(hex);
    widget<QComboBox>(traffic, "traffic_serial_line_end")->setCurrentIndex(lineEnd);
    widget<QCheckBox>(traffic, "traffic_serial_repeat")->setChecked(repeatMs > 0);
    widget<QSpinBox>(traffic, "traffic_serial_repeat_ms")->setValue(qMax(10, repeatMs));
    auto* const send = widget<QPushButton>(traffic, "traffic_serial_send_btn");
    send->click();
    QVERIFY(serialView->toPlainText().contains(" TX  "));
    QTRY_VERIFY2(hasRow(rowsOf(latest, true), seen, repeatMs > 0), qPrintable(rowsOf(latest, true).join('\n')));
    if (repeatMs > 0) {
        QCOMPARE(send->text(), QCoreApplication::translate("TrafficWindow", "停止"));
        send->click(); // stops the repetition
        QCOMPARE(send->text(), QCoreApplication::translate("TrafficWindow", "发送"));
    }
}

void TstTrafficWindow::traceSavedAndInterfaceRemembered()
{
    TrafficWindow* traffic = openTraffic();
    QVERIFY(traffic);
    widget<QLineEdit>(traffic, "traffic_frame_input")->setText("123#DEADBEEF");
    widget<QPushButton>(traffic, "traffic_frame_send_btn")->click();
    QTRY_VERIFY(widget<QPlainTextEdit>(traffic, "traffic_serial_view")->toPlainText().contains("RX  DE AD BE EF"));
    widget<QCheckBox>(traffic, "traffic_serial_hex")->setChecked(true);
    widget<QLineEdit>(traffic, "traffic_serial_input")->setText("0102");
    widget<QPushButton>(traffic, "traffic_serial_send_btn")->click();
    QTRY_VERIFY(rowsOf(widget<QTableWidget>(traffic, "traffic_latest"), true).contains("1A1 01 02 x1"));

    QTemporaryDir dir;
    const QString path = dir.filePath("run.log");
    QVERIFY(traffic->saveTrace(path));
    QFile can(path);
    QVERIFY(can.open(QIODevice::ReadOnly));
    const QStringList canLines = QString::fromUtf8(can.readAll()).split('\n', Qt::SkipEmptyParts);
    const QRegularExpression candump(R"(^\(\d{10}\.\d{6}\) can0 ([0-9A-F]{3}#[0-9A-F]*)$)");
    QStringList framesSeen;
    for (const QString& line : canLines) {
        const QRegularExpressionMatch m = candump.match(line);
        QVERIFY2(m.hasMatch(), qPrintable(line));
        framesSeen.append(m.captured(1));
    }
    QCOMPARE(framesSeen, (QStringList{"123#DEADBEEF", "1A1#0102"}));
    QFile serial(path + ".serial");
    QVERIFY(serial.open(QIODevice::ReadOnly));
    const QRegularExpression hexLine(R"(^\(\d{10}\.\d{6}\) (\S+) (TX|RX) ([0-9A-F]+)$)");
    QStringList bytesSeen;
    for (const QString& line : QString::fromUtf8(serial.readAll()).split('\n', Qt::SkipEmptyParts)) {
        const QRegularExpressionMatch m = hexLine.match(line);
        QVERIFY2(m.hasMatch() && m.captured(1) == m_sim->portName(), qPrintable(line));
        bytesSeen.append(m.captured(2) + ' ' + m.captured(3));
    }
    QCOMPARE(bytesSeen, (QStringList{"RX DEADBEEF", "TX 0102"}));

    // The interface connected last is the next window's.
    QCOMPARE(Remembered::Store().get(Remembered::kTrafficCanInterface), bus());
    traffic->close();
    QTRY_VERIFY(!m_window->trafficWindow());
    m_window->findChild<QAction*>("action_traffic")->trigger();
    traffic = m_window->trafficWindow();
    QVERIFY(traffic);
    QCOMPARE(widget<QComboBox>(traffic, "traffic_can_interface")->currentText(), bus());
}

VELKO_TEST_MAIN_PACED(TstTrafficWindow, TestSupport::kQuickPace)
#include "tst_trafficwindow.moc"
