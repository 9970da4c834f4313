// The serial-port panel, the log view and the command exchange of the
// window, with the simulated module on the far end of the port.
#include "core/transport/adapters.h"
#include "core/transport/serialsocket.h"
#include "sim/simmodule.h"
#include "tests/support/endtoendtest.h"
#include "window/kx47main.h"

#include <QAction>
#include <QComboBox>
#include <QFileInfo>
#include <QPushButton>
#include <QRegularExpression>
#include <QStatusBar>
#include <QTextBlock>
#include <QTextBrowser>
#include <QTextDocument>

using TestSupport::kReadBackFrames;
using TestSupport::tr47;
using TestSupport::widget;

class TstPanel : public TestSupport::EndToEndTest
{
    Q_OBJECT

public:
    TstPanel() : EndToEndTest(Port::Closed) {}

private slots:
    void noPortName();
    void openAndClose();
    void failedOpen();
    void settingsAreItemData();
    void refreshKeepsOrDropsSelection();
    void portErrorBehindThePanel();
    void returningPortIsReopened_data();
    void returningPortIsReopened();
    void settingsKeptForTheNextWindow_data();
    void settingsKeptForTheNextWindow();

    void logEntries_data();
    void logEntries();
    void trafficIsShownVerbatim();
    void messagesKeepMarkup();
    void clearButton();
    void queryLogsReplyOnce();

private:
    void modulePlugged() override;
    QStringList logBlocks() const;
};

void TstPanel::modulePlugged()
{
    m_window->slot_portListClicked();
}

QStringList TstPanel::logBlocks() const
{
    QStringList blocks;
    const QTextDocument* doc = widget<QTextBrowser>(m_window, "logBrower")->document();
    for (QTextBlock b = doc->begin(); b.isValid(); b = b.next())
        blocks.append(b.text());
    return blocks;
}

void TstPanel::noPortName()
{
    auto* const names = widget<QComboBox>(m_window, "my_serial_number_box");
    m_window->fill_port_box({});
    QVERIFY(names->currentText().isEmpty());
    widget<QPushButton>(m_window, "my_serial_open_btn")->click();
    QCOMPARE(m_boxes->seen().size(), 1);
    QCOMPARE(m_boxes->seen().first().title, tr47("错误"));
    QCOMPARE(m_boxes->seen().first().text, tr47("无效串口"));
    QVERIFY(!SerialSocket::getInstance()->isOpen());
    QCOMPARE(widget<QPushButton>(m_window, "device_connet")->isEnabled(), false);
}

void TstPanel::openAndClose()
{
    auto* const open = widget<QPushButton>(m_window, "my_serial_open_btn");
    auto* const baud = widget<QComboBox>(m_window, "my_serial_baud_box");
    const char* const combos[] = {"my_serial_number_box", "my_serial_baud_box", "my_serial_stopbit_box",
                                  "my_serial_parity_box"};
    const char* const commands[] = {"all_set", "quit_btn", "reset_btn", "restore_btn", "device_connet"};

    QVERIFY(TestSupport::openPortFromPanel(m_window, m_sim->portName()));
    QCOMPARE(open->text(), tr47("关闭串口"));
    QCOMPARE(open->styleSheet(), QStringLiteral("background-color: rgb(100, 255, 0);"));
    for (const char* name : combos)
        QVERIFY2(!widget<QComboBox>(m_window, name)->isEnabled(), name);
    for (const char* name : commands)
        QVERIFY2(widget<QPushButton>(m_window, name)->isEnabled(), name);

    open->click();
    QVERIFY(!SerialSocket::getInstance()->isOpen());
    QCOMPARE(open->text(), tr47("打开串口"));
    QCOMPARE(open->styleSheet(), QStringLiteral("background-color: rgb(229, 241, 251);"));
    for (const char* name : combos)
        QVERIFY2(widget<QComboBox>(m_window, name)->isEnabled(), name);
    for (const char* name : commands)
        QVERIFY2(!widget<QPushButton>(m_window, name)->isEnabled(), name);
    QCOMPARE(widget<QComboBox>(m_window, "my_serial_number_box")->currentText(), m_sim->portName());
    QCOMPARE(baud->currentText(), QStringLiteral("115200"));
    QVERIFY(m_boxes->seen().isEmpty());
}

void TstPanel::failedOpen()
{
    m_window->fill_port_box({QStringLiteral("/dev/velkocan-no-such-port")});
    widget<QPushButton>(m_window, "my_serial_open_btn")->click();
    QCOMPARE(m_boxes->titles(), QStringList{tr47("错误")});
    QCOMPARE(m_boxes->seen().first().text, tr47("串口打开失败"));
    auto* const open = widget<QPushButton>(m_window, "my_serial_open_btn");
    QCOMPARE(open->text(), tr47("打开串口"));
    QCOMPARE(open->styleSheet(), QStringLiteral("background-color: rgb(229, 241, 251);"));
    QVERIFY(!widget<QPushButton>(m_window, "all_set")->isEnabled());
}

void TstPanel::settingsAreItemData()
{
    auto* const baud = widget<QComboBox>(m_window, "my_serial_baud_box");
    auto* const parity = widget<QComboBox>(m_window, "my_serial_parity_box");
    auto* const stop = widget<QComboBox>(m_window, "my_serial_stopbit_box");
    // Texts that would parse to other numbers: only the item data may be used.
    baud->setItemText(8, QStringLiteral("fast"));
    baud->setCurrentIndex(8);
    parity->setCurrentIndex(1);
    stop->setCurrentIndex(1);
    QVERIFY(TestSupport::openPortFromPanel(m_window, m_sim->portName()));
    SerialSocket* const port = SerialSocket::getInstance();
    QCOMPARE(port->baudRate(), 57600);
    QCOMPARE(port->parity(), QSerialPort::OddParity);
    QCOMPARE(port->stopBits(), QSerialPort::TwoStop);
    QCOMPARE(port->dataBits(), QSerialPort::Data8);
    port->sendData("x");
    QTRY_COMPARE(m_sim->frames().size(), 1);
    QCOMPARE(m_sim->frames().first().baud, 57600);
    QVERIFY(m_sim->frames().first().oddParity);
    TestSupport::closePort(m_window);
    baud->setItemText(8, QStringLiteral("57600"));
    baud->setCurrentText("115200");
    parity->setCurrentIndex(0);
    stop->setCurrentIndex(0);
}

void TstPanel::refreshKeepsOrDropsSelection()
{
    auto* const names = widget<QComboBox>(m_window, "my_serial_number_box");
    sim::SimModule second;
    QVERIFY(second.start());
    m_window->slot_portListClicked();
    QVERIFY(names->findText(m_sim->portName()) >= 0);
    QVERIFY(names->findText(second.portName()) >= 0);
    names->setCurrentText(second.portName());

    // A press on the box refreshes the list before it pops up.
    QTest::mouseClick(names, Qt::LeftButton);
    names->hidePopup();
    QCOMPARE(names->currentText(), second.portName());

    second.stop();
    m_window->slot_portListClicked();
    QCOMPARE(names->findText(second.portName()), -1);
    QCOMPARE(names->currentIndex(), 0);
    QVERIFY(names->findText(m_sim->portName()) >= 0);
}

void TstPanel::portErrorBehindThePanel()
{
    QVERIFY(TestSupport::openPortFromPanel(m_window, m_sim->portName()));
    emit SerialSocket::getInstance()->errorOccurred(QSerialPort::ResourceError);
    QVERIFY(!SerialSocket::getInstance()->isOpen());
    // The message goes into the log and the panel shows the closed port.
    auto* const open = widget<QPushButton>(m_window, "my_serial_open_btn");
    QCOMPARE(open->text(), tr47("打开串口"));
    QVERIFY(!widget<QPushButton>(m_window, "device_connet")->isEnabled());
    QVERIFY(widget<QComboBox>(m_window, "my_serial_baud_box")->isEnabled());
    const QString message = QCoreApplication::translate("SerialSocket", "设备已拔出：串口已关闭");
    QCOMPARE(TestSupport::logText(m_window).count(message), 1);
    open->click();
    QVERIFY(SerialSocket::getInstance()->isOpen());
    QCOMPARE(open->text(), tr47("关闭串口"));
}

void TstPanel::returningPortIsReopened_data()
{
    QTest::addColumn<QString>("serialNumber"); // of the port's adapter; empty: the port is known by its link
    QTest::addColumn<bool>("duringReadBack");  // pulled out while a read-back runs
    QTest::newRow("a port known by its link, idle") << QString() << false;
    QTest::newRow("a port known by its link, its read-back cut and not repeated") << QString() << true;
    QTest::newRow("a port known by its adapter's serial number") << QStringLiteral("SIM0042") << false;
}

void TstPanel::returningPortIsReopened()
{
    QFETCH(QString, serialNumber);
    QFETCH(bool, duringReadBack);
    // A module that starts at 57600 baud, odd parity; so does each one plugged in after it.
    m_sim->stop();
    m_sim->setLine(57600, sim::Parity::Odd);
    QVERIFY(m_sim->start());
    const QString link = m_sim->portName();
    if (!serialNumber.isEmpty()) {
        // The adapter is listed while its device is there, as the system lists a USB adapter.
        Adapters::setSource([link, serialNumber] {
            return QFileInfo::exists(link) ? QList<Adapters::Adapter>{{link, link, "simulated", {}, serialNumber}}
                                           : QList<Adapters::Adapter>{};
        });
    }
    m_sim->faults().replugAfterRestartMs = TestSupport::paced(1000);
    widget<QComboBox>(m_window, "my_serial_baud_box")->setCurrentText(QStringLiteral("57600"));
    widget<QComboBox>(m_window, "my_serial_parity_box")->setCurrentIndex(1);
    QVERIFY(TestSupport::openPortFromPanel(m_window, link));
    QVERIFY(widget<QAction>(m_window, "action_reopen_port")->isChecked()); // on by default
    // The fresh module starts at the line of the one before: the same line reaches it.
    QSignalSpy replugged(m_sim, &sim::SimModule::replugged);
    if (duringReadBack) {
        connect(m_sim, &sim::SimModule::frameReceived, this, [this](const QByteArray& frame) {
            if (frame == "AT+CAN?\r\n")
                m_sim->replug();
        });
        press("device_connet");
    } else {
        m_sim->replug();
    }
    QTRY_VERIFY(!SerialSocket::getInstance()->isOpen());
    QVERIFY(replugged.wait(10000));
    const int framesBefore = m_sim->frames().size();

    QTRY_VERIFY_WITH_TIMEOUT(SerialSocket::getInstance()->isOpen(), 5000);
    SerialSocket* const port = SerialSocket::getInstance();
    QCOMPARE(port->baudRate(), 57600);
    QCOMPARE(port->parity(), QSerialPort::OddParity);
    QCOMPARE(widget<QPushButton>(m_window, "my_serial_open_btn")->text(), tr47("关闭串口"));
    QVERIFY(widget<QPushButton>(m_window, "device_connet")->isEnabled());
    const QString told = tr47("串口 %1 已重新插入，已按原来的参数重新打开；被中断的操作不会重做").arg(link);
    QCOMPARE(TestSupport::logText(m_window).count(told), 1);
    QCOMPARE(m_window->statusBar()->currentMessage(), tr47("串口已重新打开：%1").arg(link));
    // Nothing went to the new module by itself: the cut read-back is not sent again.
    QCOMPARE(m_sim->frames().size(), framesBefore);
    QVERIFY(!m_window->isBusy());
    // It answers at that line.
    press("clean_log_btn");
    press("device_connet");
    QVERIFY(TestSupport::logText(m_window).contains("connection is successful"));

    Adapters::setSource({});
    TestSupport::closePort(m_window);
    widget<QComboBox>(m_window, "my_serial_baud_box")->setCurrentText(QStringLiteral("115200"));
    widget<QComboBox>(m_window, "my_serial_parity_box")->setCurrentIndex(0);
}

void TstPanel::settingsKeptForTheNextWindow_data()
{
    QTest::addColumn<bool>("portThere"); // the port opened last is there when the next window starts
    QTest::newRow("the port opened last is there: chosen again") << true;
    QTest::newRow("the port opened last is gone: the list as it comes") << false;
}

void TstPanel::settingsKeptForTheNextWindow()
{
    QFETCH(bool, portThere);
    auto* const baud = widget<QComboBox>(m_window, "my_serial_baud_box");
    auto* const parity = widget<QComboBox>(m_window, "my_serial_parity_box");
    auto* const stop = widget<QComboBox>(m_window, "my_serial_stopbit_box");
    auto* const fast = widget<QAction>(m_window, "action_fast_exchange");
    auto* const reopen = widget<QAction>(m_window, "action_reopen_port");
    baud->setCurrentText(QStringLiteral("19200"));
    parity->setCurrentIndex(2);
    stop->setCurrentIndex(1);
    QVERIFY(TestSupport::openPortFromPanel(m_window, m_sim->portName())); // kept as it opens
    TestSupport::closePort(m_window);
    // Kept as the window closes.
    fast->setChecked(true);
    reopen->setChecked(false);
    m_window->resize(900, 600);
    m_window->saveSettings();
    if (!portThere)
        m_sim->stop();

    {
        KX47main next;
        QCOMPARE(widget<QComboBox>(&next, "my_serial_baud_box")->currentText(), QStringLiteral("19200"));
        QCOMPARE(widget<QComboBox>(&next, "my_serial_parity_box")->currentData().toInt(), int(QSerialPort::EvenParity));
        QCOMPARE(widget<QComboBox>(&next, "my_serial_stopbit_box")->currentData().toInt(), int(QSerialPort::TwoStop));
        QVERIFY(widget<QAction>(&next, "action_fast_exchange")->isChecked());
        QVERIFY(!widget<QAction>(&next, "action_reopen_port")->isChecked());
        QCOMPARE(next.size(), QSize(900, 600));
        const QStringList listed = SerialSocket::getInstance()->getPortList();
        QCOMPARE(widget<QComboBox>(&next, "my_serial_number_box")->currentText(),
                 portThere ? m_sim->portName() : listed.value(0));
    }

    baud->setCurrentText(QStringLiteral("115200"));
    parity->setCurrentIndex(0);
    stop->setCurrentIndex(0);
    fast->setChecked(false);
    reopen->setChecked(true);
    m_window->resize(1080, 666);
    m_window->saveSettings();
}

void TstPanel::logEntries_data()
{
    QTest::addColumn<QByteArray>("data");
    QTest::addColumn<int>("flag");
    QTest::addColumn<QString>("entry");
    QTest::newRow("sent, empty") << QByteArray() << 1 << "TX:";
    QTest::newRow("received") << QByteArray("+OK") << 2 << "RX:+OK";
    QTest::newRow("message") << QByteArray("Echo close") << 3 << "Echo close";
    QTest::newRow("flag 0") << QByteArray("hidden") << 0 << "";
    QTest::newRow("flag 4") << QByteArray("hidden") << 4 << "";
    QTest::newRow("zero byte") << QByteArray("AB\0CD", 5) << 2 << "RX:AB";
    QTest::newRow("beyond the 1024-byte line") << QByteArray(3000, 'z') << 1 << "TX:" + QString(3000, 'z');
}

void TstPanel::logEntries()
{
    QFETCH(QByteArray, data);
    QFETCH(int, flag);
    QFETCH(QString, entry);
    m_window->show_log(data, flag);
    const QStringList blocks = logBlocks();
    QCOMPARE(blocks.size(), 2);
    QVERIFY2(QRegularExpression("^\\d{4}-\\d\\d-\\d\\d \\d\\d:\\d\\d::\\d\\d\\.\\d{3}$").match(blocks.at(0)).hasMatch(),
             qPrintable(blocks.at(0)));
    QCOMPARE(blocks.at(1), entry);
}

void TstPanel::trafficIsShownVerbatim()
{
    m_window->show_log("<b>bold</b>&amp;", 2);
    m_window->show_log("\r\n+OK\r\n\r\n", 2);
    const QString text = TestSupport::logText(m_window);
    QVERIFY2(text.contains("RX:<b>bold</b>&amp;"), qPrintable(text));
    QVERIFY(text.contains("RX:\n+OK\n"));
}

void TstPanel::messagesKeepMarkup()
{
    m_window->show_log("<font color=\"#0000FF\" size=\"20\">baud: 9600", 3);
    const QStringList blocks = logBlocks();
    QCOMPARE(blocks.last(), QStringLiteral("baud: 9600"));
}

void TstPanel::clearButton()
{
    m_window->show_log("x", 3);
    widget<QPushButton>(m_window, "clean_log_btn")->click();
    QVERIFY(TestSupport::logText(m_window).isEmpty());
}

void TstPanel::queryLogsReplyOnce()
{
    QVERIFY(TestSupport::openPortFromPanel(m_window, m_sim->portName()));
    m_sim->state().configMode = true;
    m_sim->state().echo = false;
    m_sim->faults().splitGapMs = TestSupport::paced(40); // two pieces within one poll's reach
    QVERIFY(m_window->kx47Query("AT+MODE?\r\n", 500));
    const QString text = TestSupport::logText(m_window);
    QCOMPARE(text.count("RX:"), 1);
    QVERIFY(text.contains("RX:\nAT+MODE=TRANS\n\n+OK"));
    QCOMPARE(m_sim->frameData(), QList<QByteArray>{"AT+MODE?\r\n"});
}

VELKO_TEST_MAIN_PACED(TstPanel, TestSupport::kQuickPace)
#include "tst_panel.moc"
