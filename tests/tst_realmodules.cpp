// What real modules and real users do to the window: replies cut by pauses
// or padded with blanks and zeros, a module that vanishes or falls silent,
// an operation stopped with the port button, and the busy state it shows.
#include "core/transport/serialsocket.h"
#include "sim/simmodule.h"
#include "tests/support/endtoendtest.h"
#include "tests/support/simsupport.h"
#include "window/kx47main.h"

#include <QAction>
#include <QElapsedTimer>
#include <QLabel>
#include <QProgressBar>
#include <QPushButton>
#include <QScopeGuard>
#include <QSignalSpy>
#include <QStatusBar>
#include <QTableWidget>
#include <QTimer>

using TestSupport::Editors;
using TestSupport::kReadBackFrames;
using TestSupport::tr47;
using TestSupport::widget;

class TstRealModules : public TestSupport::EndToEndTest
{
    Q_OBJECT

public:
    TstRealModules() : EndToEndTest(Port::Open) {}

private slots:
    void replyFormsReadAndWriteBackExactly_data();
    void replyFormsReadAndWriteBackExactly();
    void moduleThatVanishesClosesThePanel();
    void portButtonStopsAReadBackAtOnce();
    void busyShowsInButtonsAndStatusBar();

private:
    void modulePlugged() override;
};

void TstRealModules::modulePlugged()
{
    widget<QTableWidget>(m_window, "tableWidget")->setRowCount(0);
}

void TstRealModules::replyFormsReadAndWriteBackExactly_data()
{
    QTest::addColumn<QStringList>("faults");
    QTest::addColumn<bool>("filters");
    QTest::addColumn<bool>("fast"); // "快速通信" checked
    // Each form on its own, and an empty list, are in tst_session.
    const QStringList all{"--blanks", "--padded-ids", "--pause-in-line", "150", "--slow-ok", "200"};
    QTest::newRow("every reply form at once") << all << true << false;
    QTest::newRow("every reply form at once, paced by the replies") << all << true << true;
}

void TstRealModules::replyFormsReadAndWriteBackExactly()
{
    QFETCH(QStringList, faults);
    QFETCH(bool, filters);
    QFETCH(bool, fast);
    TestSupport::setFaults(m_sim, faults);
    auto* const fastExchange = m_window->findChild<QAction*>("action_fast_exchange");
    QVERIFY(fastExchange && fastExchange->isCheckable() && !fastExchange->isChecked()); // off unless asked for
    fastExchange->setChecked(fast);
    const auto uncheck = qScopeGuard([fastExchange] { fastExchange->setChecked(false); });
    m_sim->state() = TestSupport::moduleHolding(TestSupport::replyFormsSample(filters));

    widget<QPushButton>(m_window, "device_connet")->click();

    QVERIFY2(m_boxes->seen().isEmpty(), qPrintable(m_boxes->titles().join(',') + TestSupport::logText(m_window)));
    QCOMPARE(m_sim->frameData(), kReadBackFrames);
    Editors expected;
    expected.stop = "2";
    expected.parity = "EVEN";
    expected.canRate = "500K";
    expected.id = "7FF";
    expected.msgId = expected.msgInfo = true;
    expected.head = "A5";
    expected.tail = "5A";
    expected.length = "2";
    expected.position = "0";
    expected.direction = 1;
    expected.filterMode = filters ? 3 : 0;
    if (filters)
        expected.rows = QStringList{"NDTF,12", "EDTF,1ABCDEF0"};
    QCOMPARE(TestSupport::readEditors(m_window), expected);

    // What was read goes back unchanged.
    m_sim->clearFrames();
    widget<QPushButton>(m_window, "all_set")->click();
    QList<QByteArray> written{"AT+UART=115200,8,2,EVEN,NFC\r\n",
                              "AT+DIRECTION=CAN-UART\r\n",
                              "AT+MODE=TRANS\r\n",
                              "AT+MSG=1,1\r\n",
                              filters ? "AT+CANLT=USER\r\n" : "AT+CANLT=OFF\r\n",
                              "AT+DELFILTER=EDTF,0\r\n"};
    if (filters)
        written << "AT+FILTER=NDTF,12\r\n"
                << "AT+FILTER=EDTF,1ABCDEF0\r\n";
    written << "AT+CAN=500,7FF,NDTF\r\n";
    QCOMPARE(m_sim->frameData(), written);
}

void TstRealModules::moduleThatVanishesClosesThePanel()
{
    TestSupport::setFaults(m_sim, {"--vanish-after", "6"}); // unplugged at the mode query
    QSignalSpy errors(SerialSocket::getInstance(), &SerialSocket::signal_error);
    QElapsedTimer clock;
    clock.start();
    widget<QPushButton>(m_window, "device_connet")->click();

    // The port error reaches the log once, the panel closes and the rest is not asked.
    QVERIFY2(clock.elapsed() < 4000, qPrintable(QString::number(clock.elapsed())));
    QVERIFY(m_boxes->seen().isEmpty());
    QVERIFY(!SerialSocket::getInstance()->isOpen());
    QCOMPARE(widget<QPushButton>(m_window, "my_serial_open_btn")->text(), tr47("打开串口"));
    QVERIFY(!widget<QPushButton>(m_window, "device_connet")->isEnabled());
    const QString log = TestSupport::logText(m_window);
    QCOMPARE(errors.count(), 1);
    QCOMPARE(log.count(errors.first().first().toString()), 1);
    QVERIFY(log.contains(QStringLiteral("operation stopped: the port closed")));
    // The status bar says how the read-back ended.
    QCOMPARE(m_window->statusBar()->currentMessage(), tr47("%1中断：串口已关闭").arg(tr47("读取")));
}

void TstRealModules::portButtonStopsAReadBackAtOnce()
{
    TestSupport::setFaults(m_sim,
                           {"--silent-after", "11"}); // from the filter query on: a budget of 7000, 14 s of polls
    QElapsedTimer pressed;
    QObject context; // ends the connection before the locals it captures
    connect(m_sim, &sim::SimModule::frameReceived, &context, [&](const QByteArray& frame) {
        if (frame != "AT+FILTER?")
            return;
        QTimer::singleShot(300, this, [&] {
            pressed.start();
            widget<QPushButton>(m_window, "my_serial_open_btn")->click();
        });
    });

    widget<QPushButton>(m_window, "device_connet")->click();

    QVERIFY(pressed.isValid());
    QVERIFY2(pressed.elapsed() < 1000, qPrintable(QString::number(pressed.elapsed())));
    QVERIFY(!m_window->isBusy());
    QVERIFY(!SerialSocket::getInstance()->isOpen());
    QCOMPARE(widget<QPushButton>(m_window, "my_serial_open_btn")->text(), tr47("打开串口"));
    QVERIFY(!widget<QPushButton>(m_window, "device_connet")->isEnabled()); // the port is closed
    QVERIFY(widget<QPushButton>(m_window, "btn_serch")->isEnabled());
    QVERIFY(TestSupport::logText(m_window).contains(QStringLiteral("operation stopped")));
    QVERIFY(m_boxes->seen().isEmpty());
    QCOMPARE(m_window->statusBar()->currentMessage(), tr47("%1已停止").arg(tr47("读取")));
}

void TstRealModules::busyShowsInButtonsAndStatusBar()
{
    m_sim->faults().silent = true; // ends with the "连接失败" box
    const char* const operations[] = {"device_connet", "all_set", "quit_btn", "btn_serch"};
    QStringList enabledWhileBusy;
    QString status;
    bool progressShown = false;
    QObject context; // ends the connection before the locals it captures
    connect(m_sim, &sim::SimModule::frameReceived, &context, [&](const QByteArray& frame) {
        if (frame != "AT\r\n")
            return;
        QTimer::singleShot(30, this, [&] {
            for (const char* name : operations) {
                if (widget<QPushButton>(m_window, name)->isEnabled())
                    enabledWhileBusy << name;
            }
            status = m_window->statusBar()->findChild<QLabel*>()->text();
            progressShown = m_window->statusBar()->findChild<QProgressBar*>()->isVisible();
        });
    });

    widget<QPushButton>(m_window, "device_connet")->click();

    QCOMPARE(enabledWhileBusy, QStringList());
    QVERIFY2(status.contains("AT"), qPrintable(status));
    QVERIFY(progressShown);
    QCOMPARE(m_boxes->titles(), QStringList{tr47("连接失败")});
    QCOMPARE(m_boxes->seen().first().cursor, int(Qt::ArrowCursor));
    for (const char* name : operations)
        QVERIFY2(widget<QPushButton>(m_window, name)->isEnabled(), name);
    QVERIFY(!m_window->statusBar()->findChild<QProgressBar*>()->isVisible());
    QCOMPARE(m_window->statusBar()->currentMessage(), QString()); // not done
}

VELKO_TEST_MAIN_PACED(TstRealModules, TestSupport::kQuickPace)
#include "tst_realmodules.moc"
