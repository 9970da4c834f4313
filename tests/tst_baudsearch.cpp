// "波特率搜索" end to end: the window asks first, searches a simulated module
// through the real port, shows the line it found in the panel and the rates
// it tried in the log, and takes no other click meanwhile. The search's
// attempts, their order and how it ends are in tst_session.
#include "core/transport/serialsocket.h"
#include "sim/simmodule.h"
#include "tests/support/endtoendtest.h"
#include "tests/support/simsupport.h"
#include "window/kx47main.h"

#include <QComboBox>
#include <QElapsedTimer>
#include <QFile>
#include <QMessageBox>
#include <QPushButton>
#include <QRegularExpression>
#include <QStatusBar>
#include <QTimer>

using TestSupport::answeredAttempt;
using TestSupport::describeFrame;
using TestSupport::describeFrames;
using TestSupport::kReadBackFrames;
using TestSupport::tr47;
using TestSupport::unansweredAttempts;
using TestSupport::widget;

Q_DECLARE_METATYPE(sim::Parity)

namespace {
// Button texts of the question as the offscreen platform labels them.
const QString kYes = QStringLiteral("&Yes");
const QString kNo = QStringLiteral("&No");

const char* const kQuestion = "请选择正确的串口号！\r\n重启设备后！\r\n点击\"Yes\"开始搜索波特率！";
const char* const kClosingLine = "请以点击  \"连接设备\"  以搜索上来的  \"串口参数设置\"  为准！";

// The log's lines without the time stamps, blanks collapsed as the view renders them.
QStringList logLines(KX47main* window)
{
    static const QRegularExpression stamp(QStringLiteral("^\\d{4}-\\d\\d-\\d\\d \\d\\d:\\d\\d::\\d\\d\\.\\d{3}$"));
    QStringList out;
    for (const QString& line : TestSupport::logText(window).split('\n')) {
        if (!stamp.match(line).hasMatch())
            out.append(line.simplified());
    }
    return out;
}

// The rates of the rate lines in the log, in order.
QList<int> rateLines(KX47main* window)
{
    const QStringList parts = tr47("Current serch baud: %1").split(QStringLiteral("%1"));
    QStringList escaped;
    for (const QString& part : parts)
        escaped.append(QRegularExpression::escape(part));
    const QRegularExpression rateLine(QStringLiteral("^") + escaped.join(QStringLiteral("(\\d+)")) +
                                      QStringLiteral("$"));
    QList<int> rates;
    for (const QString& line : TestSupport::logText(window).split('\n')) {
        const QRegularExpressionMatch m = rateLine.match(line);
        if (m.hasMatch())
            rates.append(m.captured(1).toInt());
    }
    return rates;
}

// Calls `onShow` whenever a message box is about to be shown, before anyone can answer it.
class BoxShowWatcher : public QObject
{
public:
    explicit BoxShowWatcher(std::function<void(QMessageBox*)> onShow) : m_onShow(std::move(onShow))
    {
        qApp->installEventFilter(this);
    }
    ~BoxShowWatcher() override { qApp->removeEventFilter(this); }

protected:
    bool eventFilter(QObject* watched, QEvent* event) override
    {
        if (event->type() == QEvent::Show) {
            if (auto* const box = qobject_cast<QMessageBox*>(watched))
                m_onShow(box);
        }
        return false;
    }

private:
    std::function<void(QMessageBox*)> m_onShow;
};
} // namespace

class TstBaudSearch : public TestSupport::EndToEndTest
{
    Q_OBJECT

public:
    TstBaudSearch() : EndToEndTest(Port::Closed) {}

private slots:
    void findsTheModuleLine_data();
    void findsTheModuleLine();
    void silentModuleTriesEveryCandidate();
    void declinedQuestion_data();
    void declinedQuestion();
    void emptyPortName();
    void portFailingToOpen();
    void clicksDuringSearchDoNothing();
    void searchButtonStopsTheSearch();
    void openPortIsClosedBeforeTheQuestion_data();
    void openPortIsClosedBeforeTheQuestion();
    void foundLineReachesTheModule();

private:
    void windowCreated() override;
    void modulePlugged() override;
    int search(const QStringList& answers);

    QComboBox* m_baud = nullptr;
    QComboBox* m_parity = nullptr;
    QComboBox* m_stopBits = nullptr;
    QPushButton* m_open = nullptr;
    QPushButton* m_searchBtn = nullptr;
};

void TstBaudSearch::windowCreated()
{
    m_baud = widget<QComboBox>(m_window, "my_serial_baud_box");
    m_parity = widget<QComboBox>(m_window, "my_serial_parity_box");
    m_stopBits = widget<QComboBox>(m_window, "my_serial_stopbit_box");
    m_open = widget<QPushButton>(m_window, "my_serial_open_btn");
    m_searchBtn = widget<QPushButton>(m_window, "btn_serch");
    QVERIFY(m_baud && m_parity && m_stopBits && m_open && m_searchBtn);
}

void TstBaudSearch::modulePlugged()
{
    TestSupport::closePort(m_window);
    m_window->fill_port_box({m_sim->portName()});
    // Panel settings that a search which finds nothing must leave alone; no
    // module of these tests is at 1200 baud.
    m_baud->setCurrentText(QStringLiteral("1200"));
    m_parity->setCurrentText(QStringLiteral("Even"));
    m_stopBits->setCurrentText(QStringLiteral("1"));
    widget<QPushButton>(m_window, "clean_log_btn")->click();
}

// Runs one search with the given answers queued for the boxes; the search's result.
int TstBaudSearch::search(const QStringList& answers)
{
    for (const QString& a : answers)
        m_boxes->queue(a);
    return m_window->search_baud_rate();
}

void TstBaudSearch::findsTheModuleLine_data()
{
    QTest::addColumn<int>("moduleBaud");
    QTest::addColumn<sim::Parity>("moduleParity");
    // What the module answers to "AT" at the attempt without parity instead of
    // the notice; only for a module at even parity (null: no replacement).
    QTest::addColumn<QByteArray>("answerWithoutParity");
    QTest::addColumn<QString>("parityText");
    QTest::addColumn<int>("parityData");
    QTest::addColumn<QString>("parityWord");

    QTest::newRow("a module without parity selects None")
        << 115200 << sim::Parity::None << QByteArray() << "None" << 0 << "have no parity!";
    // A pseudo-terminal does not tell even parity from none, so the simulated
    // module at even parity would also take the attempt without parity. The
    // module is made to refuse that attempt, as a real one at even parity
    // does, so that the search finds it at its even candidate. The panel then
    // shows "Even" on purpose, not "Odd" for any parity as the tool once did:
    // opening the port with the parity shown must reach the module.
    QTest::newRow("a module answering only with even parity selects Even")
        << 115200 << sim::Parity::Even << QByteArray("") << "Even" << 2 << "have parity!";
    QTest::newRow("a module at 57600 answering only with odd parity selects Odd and 57600")
        << 57600 << sim::Parity::Odd << QByteArray() << "Odd" << 3 << "have parity!";
}

void TstBaudSearch::findsTheModuleLine()
{
    QFETCH(int, moduleBaud);
    QFETCH(sim::Parity, moduleParity);
    QFETCH(QByteArray, answerWithoutParity);
    QFETCH(QString, parityText);
    QFETCH(int, parityData);
    QFETCH(QString, parityWord);

    m_sim->setLine(moduleBaud, moduleParity);
    // The first "AT" the module can read is the one of the attempt without parity.
    if (!answerWithoutParity.isNull())
        TestSupport::answerFirst(m_sim, "AT\r\n", answerWithoutParity);
    m_stopBits->setCurrentText(QStringLiteral("2"));
    // Start from a parity item other than the one expected, so that the selection shows.
    m_parity->setCurrentIndex((m_parity->findText(parityText) + 1) % m_parity->count());

    QCOMPARE(search({kYes}), 1);

    QCOMPARE(m_boxes->titles(), QStringList{tr47("提示")});

    QCOMPARE(m_baud->currentText(), QString::number(moduleBaud));
    QCOMPARE(m_baud->currentData().toInt(), moduleBaud);
    QCOMPARE(m_parity->currentText(), parityText);
    QCOMPARE(m_parity->currentData().toInt(), parityData);
    QCOMPARE(m_stopBits->currentText(), QStringLiteral("2")); // neither used nor changed

    QVERIFY(!SerialSocket::getInstance()->isOpen());
    QVERIFY(m_open->isEnabled());
    QCOMPARE(m_open->text(), tr47("打开串口"));
    QVERIFY(!m_window->isBusy());

    // The log was cleared when the line was found: only the result remains
    // (the view collapses the two blanks after the comma).
    QCOMPARE(logLines(m_window), (QStringList{QStringLiteral("connection is successful"),
                                              QStringLiteral("baud: %1 , %2").arg(moduleBaud).arg(parityWord),
                                              tr47(kClosingLine).simplified()}));
}

void TstBaudSearch::silentModuleTriesEveryCandidate()
{
    m_sim->faults().silent = true;

    QCOMPARE(search({kYes}), 0);

    QCOMPARE(m_boxes->titles(), QStringList{tr47("提示")});

    QCOMPARE(m_baud->currentText(), QStringLiteral("1200"));
    QCOMPARE(m_parity->currentText(), QStringLiteral("Even"));
    QVERIFY(!SerialSocket::getInstance()->isOpen());
    QVERIFY(m_open->isEnabled());

    QCOMPARE(rateLines(m_window), (QList<int>{115200, 9600, 460800, 256000, 230400, 128000, 57600, 38400, 19200, 14400,
                                              4800, 2400, 1200, 600}));
    const QStringList lines = logLines(m_window);
    QCOMPARE(lines.first(), tr47("开始搜索：").simplified());
    QCOMPARE(lines.last(), tr47("参数搜索失败！").simplified());
    QVERIFY(!TestSupport::logText(m_window).contains(QStringLiteral("connection is successful")));
    // The status bar tells it as failed, not as done.
    const QString status = m_window->statusBar()->currentMessage();
    const QString failed =
        tr47("%1失败：模块在任何波特率下都没有应答，%2 秒").arg(m_searchBtn->text(), QStringLiteral("#"));
    QVERIFY2(status.startsWith(failed.section(QLatin1Char('#'), 0, 0)), qPrintable(status));
}

void TstBaudSearch::declinedQuestion_data()
{
    QTest::addColumn<QStringList>("answers");
    QTest::newRow("answering No changes nothing") << QStringList{kNo};
    QTest::newRow("the default button of the question is No") << QStringList{};
}

void TstBaudSearch::declinedQuestion()
{
    QFETCH(QStringList, answers);
    m_window->show_log("marker before the search", 3);
    const QString logBefore = TestSupport::logText(m_window);

    QCOMPARE(search(answers), 0);

    QCOMPARE(m_boxes->seen().size(), 1);
    const TestSupport::BoxSeen question = m_boxes->seen().first();
    QCOMPARE(question.title, tr47("提示"));
    QCOMPARE(question.text, tr47(kQuestion));
    QCOMPARE(question.buttons.size(), 2);
    QVERIFY(question.buttons.contains(kYes));
    QVERIFY(question.buttons.contains(kNo));
    QCOMPARE(question.answered, kNo);

    QVERIFY(m_sim->frames().isEmpty());
    QCOMPARE(TestSupport::logText(m_window), logBefore);
    QCOMPARE(m_baud->currentText(), QStringLiteral("1200"));
    QCOMPARE(m_parity->currentText(), QStringLiteral("Even"));
    QVERIFY(m_open->isEnabled());
    QVERIFY(!SerialSocket::getInstance()->isOpen());

    // The button still starts exactly one search per click.
    m_boxes->clear();
    m_boxes->queue(kNo);
    m_searchBtn->click();
    QCOMPARE(m_boxes->titles(), QStringList{tr47("提示")});
    QVERIFY(m_sim->frames().isEmpty());
    QCOMPARE(TestSupport::logText(m_window), logBefore);
}

void TstBaudSearch::emptyPortName()
{
    m_window->fill_port_box({});

    QCOMPARE(search({kYes}), -1);

    QCOMPARE(m_boxes->titles(), (QStringList{tr47("提示"), tr47("错误")}));
    QCOMPARE(m_boxes->seen().at(1).text, tr47("无效串口"));
    QVERIFY(rateLines(m_window).isEmpty());
    QVERIFY(m_open->isEnabled());
    QVERIFY(!m_window->isBusy());
    QCOMPARE(m_baud->currentText(), QStringLiteral("1200"));

    // With a port chosen again, one click runs one whole search.
    m_window->fill_port_box({m_sim->portName()});
    m_boxes->clear();
    m_boxes->queue(kYes);
    m_searchBtn->click();
    QCOMPARE(m_boxes->titles(), QStringList{tr47("提示")});
    QTRY_COMPARE(describeFrames(m_sim->frames()), answeredAttempt(115200, false));
    QCOMPARE(m_baud->currentText(), QStringLiteral("115200"));
    QCOMPARE(m_parity->currentText(), QStringLiteral("None"));
}

void TstBaudSearch::portFailingToOpen()
{
    m_sim->faults().silent = true;
    const QObject context;
    // The port name is gone after the first attempt; the open port itself keeps working.
    connect(m_sim, &sim::SimModule::frameReceived, &context, [&](const QByteArray& frame) {
        if (frame == "+++")
            QFile::remove(m_sim->portName());
    });

    QCOMPARE(search({kYes}), -1);

    QCOMPARE(m_boxes->titles(), (QStringList{tr47("提示"), tr47("错误")}));
    QCOMPARE(m_boxes->seen().at(1).text, tr47("串口打开失败"));
    QVERIFY(!TestSupport::logText(m_window).contains(tr47("参数搜索失败！")));

    QVERIFY(!SerialSocket::getInstance()->isOpen());
    QVERIFY(m_open->isEnabled());
    QVERIFY(!m_window->isBusy());
    QCOMPARE(m_baud->currentText(), QStringLiteral("1200"));
    QCOMPARE(m_parity->currentText(), QStringLiteral("Even"));
}

void TstBaudSearch::clicksDuringSearchDoNothing()
{
    m_sim->setLine(9600, sim::Parity::None);
    QList<bool> openEnabled;
    int clicked = 0;
    const QObject context;
    // At each unanswered attempt, click the open button (enabled for the
    // click if the window disabled it).
    connect(m_sim, &sim::SimModule::frameReceived, &context, [&](const QByteArray& frame) {
        if (frame != "+++" || ++clicked > 3)
            return;
        QTimer::singleShot(30, &context, [&] {
            openEnabled.append(m_open->isEnabled());
            m_open->setEnabled(true);
            m_open->click();
            m_open->setEnabled(false);
        });
    });

    QCOMPARE(search({kYes}), 1);

    QCOMPARE(openEnabled, (QList<bool>{false, false, false}));
    QCOMPARE(m_boxes->titles(), QStringList{tr47("提示")});
    QTRY_COMPARE(describeFrames(m_sim->frames()), unansweredAttempts(3) + answeredAttempt(9600, false));
    QCOMPARE(m_baud->currentText(), QStringLiteral("9600"));
    QVERIFY(m_open->isEnabled());
    QVERIFY(!SerialSocket::getInstance()->isOpen());
}

void TstBaudSearch::searchButtonStopsTheSearch()
{
    m_sim->faults().silent = true;
    QElapsedTimer pressed;
    QString textWhileSearching;
    const QObject context;
    connect(m_sim, &sim::SimModule::frameReceived, &context, [&](const QByteArray& frame) {
        if (frame != "AT\r\n" || m_sim->frames().size() != 6) // the third attempt
            return;
        QTimer::singleShot(30, &context, [&] {
            textWhileSearching = m_searchBtn->text();
            pressed.start();
            m_searchBtn->click();
        });
    });

    QCOMPARE(search({kYes}), 0);

    // It ends with the attempt it was making: well within one attempt's 0.5 s.
    QVERIFY(pressed.isValid());
    QVERIFY2(pressed.elapsed() < 1500, qPrintable(QString::number(pressed.elapsed())));
    QCOMPARE(textWhileSearching, tr47("停止搜索"));
    QVERIFY(!SerialSocket::getInstance()->isOpen());
    QCOMPARE(m_baud->currentText(), QStringLiteral("1200"));
    QCOMPARE(m_parity->currentText(), QStringLiteral("Even"));
    QVERIFY(!TestSupport::logText(m_window).contains(tr47("参数搜索失败！")));

    // The search button is the search button again, connected once.
    QCOMPARE(m_searchBtn->text(), tr47("波特率搜索"));
    m_boxes->queue(kNo);
    m_searchBtn->click();
    QCOMPARE(m_boxes->titles(), (QStringList{tr47("提示"), tr47("提示")}));
}

void TstBaudSearch::openPortIsClosedBeforeTheQuestion_data()
{
    QTest::addColumn<QString>("answer");
    QTest::addColumn<int>("result");
    QTest::newRow("an open port stays closed after No") << kNo << 0;
    QTest::newRow("an open port is closed before a search that runs") << kYes << 1;
}

void TstBaudSearch::openPortIsClosedBeforeTheQuestion()
{
    QFETCH(QString, answer);
    QFETCH(int, result);

    QVERIFY(TestSupport::openPortFromPanel(m_window, m_sim->portName()));
    auto* const connectBtn = widget<QPushButton>(m_window, "device_connet");
    QVERIFY(connectBtn->isEnabled());

    struct AtQuestion
    {
        bool portOpen, connectEnabled, baudEnabled;
        QString openText;
    };
    QList<AtQuestion> atQuestion;
    const BoxShowWatcher watcher([&](QMessageBox* box) {
        if (box->windowTitle() == tr47("提示"))
            atQuestion.append(
                {SerialSocket::getInstance()->isOpen(), connectBtn->isEnabled(), m_baud->isEnabled(), m_open->text()});
    });

    QCOMPARE(search({answer}), result);

    QCOMPARE(atQuestion.size(), 1);
    QVERIFY(!atQuestion.first().portOpen);
    QCOMPARE(atQuestion.first().openText, tr47("打开串口"));
    QVERIFY(!atQuestion.first().connectEnabled);
    QVERIFY(atQuestion.first().baudEnabled);

    QVERIFY(!SerialSocket::getInstance()->isOpen());
    QCOMPARE(m_open->text(), tr47("打开串口"));
    QVERIFY(m_open->isEnabled());
    QVERIFY(!connectBtn->isEnabled());
    if (result == 1)
        QTRY_COMPARE(describeFrames(m_sim->frames()), answeredAttempt(115200, false));
    else
        QVERIFY(m_sim->frames().isEmpty());
}

void TstBaudSearch::foundLineReachesTheModule()
{
    m_sim->setLine(9600, sim::Parity::Odd);
    m_sim->state().canRate = 500;
    m_sim->state().mode = "MODBUS";
    m_sim->state().direction = "CAN-UART";

    QCOMPARE(search({kYes}), 1);
    const int searchFrames = m_sim->frames().size();
    QTRY_COMPARE(describeFrames(m_sim->frames()), unansweredAttempts(5) + answeredAttempt(9600, true));

    // The user opens the port with the settings found and connects.
    m_open->click();
    QVERIFY(SerialSocket::getInstance()->isOpen());
    widget<QPushButton>(m_window, "device_connet")->click(); // returns when the read-back has ended

    QStringList expected;
    for (const QByteArray& frame : kReadBackFrames)
        expected.append(describeFrame(frame, 9600, true));
    QTRY_COMPARE(describeFrames(m_sim->frames()).mid(searchFrames), expected);
    QCOMPARE(m_boxes->titles(), QStringList{tr47("提示")});

    QCOMPARE(widget<QComboBox>(m_window, "baud_485")->currentText(), QStringLiteral("9600"));
    QCOMPARE(widget<QComboBox>(m_window, "parity_485")->currentText(), QStringLiteral("ODD"));
    QCOMPARE(widget<QComboBox>(m_window, "Box_can_baud")->currentText(), QStringLiteral("500K"));
    QCOMPARE(widget<QComboBox>(m_window, "device_box")->currentIndex(), 3);
    QCOMPARE(widget<QComboBox>(m_window, "Box_filtra_mode_2")->currentIndex(), 1);
    QVERIFY(TestSupport::logText(m_window).contains(QStringLiteral("connection is successful")));
    QVERIFY(!TestSupport::logText(m_window).contains(QStringLiteral("connection fails")));
}

VELKO_TEST_MAIN_PACED(TstBaudSearch, TestSupport::kQuickPace)
#include "tst_baudsearch.moc"
