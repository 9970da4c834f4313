// A module that misbehaves in every way the line allows: the window must not
// crash, must not wait beyond its budgets, must leave the editors of a bad
// report alone, and must work normally once the module is sane (or back) again.
#include "core/transport/serialsocket.h"
#include "sim/simmodule.h"
#include "tests/support/endtoendtest.h"
#include "window/kx47main.h"

#include <QComboBox>
#include <QElapsedTimer>
#include <QLineEdit>
#include <QPushButton>
#include <QTableWidget>

using TestSupport::kReadBackFrames;
using TestSupport::tr47;
using TestSupport::widget;

namespace {
// The longest each operation may take by its own pauses and poll budgets
// (every poll at least 100 ms, 50 budget units each), for a table of three rows.
constexpr qint64 kConnectMs = 150 + 10 * (100 + 1000) + (100 + 14000);
constexpr qint64 kWriteMs = 4 * 300 + 2 * 100 + 6 * (100 + 1000) + 2 * (100 + 600) + 3 * (100 + 1000);
constexpr qint64 kListWriteMs = 2 * 100 + 2 * (100 + 600) + 3 * (100 + 1000);
// Three passes over the rates; a failed attempt costs 500 ms from 9600 baud up, more below.
constexpr qint64 kSearchMs = 3 * (10 * 500 + 537 + 776 + 1252 + 2205) + 1666;
} // namespace

class TstHostile : public TestSupport::EndToEndTest
{
    Q_OBJECT

public:
    TstHostile() : EndToEndTest(Port::Open) {}

private slots:
    void survives_data();
    void survives();

private:
    void modulePlugged() override;
    void startModule();
    void prepareTable();
    qint64 run(const QString& operation);
    void applyFault(const QString& fault);
    void reportToEveryQuery(const QByteArray& fields);
    void checkUsableAfterwards();
};

void TstHostile::startModule()
{
    delete m_sim;
    m_sim = new sim::SimModule(this);
    QVERIFY(m_sim->start());
}

void TstHostile::modulePlugged()
{
    m_sim->state().configMode = true;
    m_sim->state().echo = false;
}

void TstHostile::prepareTable()
{
    TestSupport::chooseItem(widget<QComboBox>(m_window, "Box_filtra_mode"), 3);
    widget<QTableWidget>(m_window, "tableWidget")->setRowCount(0);
    for (int i = 0; i < 3; ++i)
        widget<QPushButton>(m_window, "add_filter_id_btn")->click();
}

qint64 TstHostile::run(const QString& operation)
{
    QElapsedTimer clock;
    clock.start();
    if (operation == "connect") {
        widget<QPushButton>(m_window, "device_connet")->click();
    } else if (operation == "write") {
        // Nothing was read from the module: the write asks first.
        m_boxes->queue(QCoreApplication::translate("QPlatformTheme", "&Yes"));
        widget<QPushButton>(m_window, "all_set")->click();
    } else if (operation == "list write") {
        m_boxes->queue(QCoreApplication::translate("QPlatformTheme", "&Yes"));
        widget<QPushButton>(m_window, "write_id_btn")->click();
    } else {
        m_boxes->queue(QCoreApplication::translate("QPlatformTheme", "&Yes"));
        m_window->search_baud_rate();
    }
    return clock.elapsed();
}

void TstHostile::applyFault(const QString& fault)
{
    sim::SimModule::Faults& f = m_sim->faults();
    if (fault == "garbage") {
        f.garbage = true;
    } else if (fault == "zero byte") {
        f.zeroByte = true;
    } else if (fault == "64 KiB replies") {
        f.longReply = true;
    } else if (fault == "endless stream") {
        f.endless = true;
    } else if (fault == "replies split across polls") {
        f.splitGapMs = 250;
    } else if (fault == "notice after +++") {
        f.noticeAfterPlus = true;
    } else if (fault == "unplugged midway") {
        f.unplugAfterFrames = 4;
    } else if (fault == "reports without key") {
        m_sim->setReplyHook([](const QByteArray& frame, QByteArray& reply) {
            if (!frame.endsWith('?') && !frame.endsWith("?\r\n"))
                return false;
            reply = "\r\n115200,8,2,ODD,NFC\r\n\r\n+OK\r\n\r\n";
            return true;
        });
    } else if (fault == "reports with too few fields") {
        reportToEveryQuery("");
    } else if (fault == "invalid UTF-8") {
        reportToEveryQuery("\xff\xfe\xc3(,\xed\xa0\x80,\xf0\x28\x8c\x28");
    }
}

// Every query gets a report of its own key with `fields` for its values.
void TstHostile::reportToEveryQuery(const QByteArray& fields)
{
    m_sim->setReplyHook([fields](const QByteArray& frame, QByteArray& reply) {
        const int q = frame.indexOf('?');
        if (q < 0)
            return false;
        reply = "\r\n" + frame.left(q) + "=" + fields + "\r\n\r\n+OK\r\n\r\n";
        return true;
    });
}

void TstHostile::survives_data()
{
    QTest::addColumn<QString>("operation");
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
    for (const QString& fault : faults)
        QTest::addRow("connect, %s", qPrintable(fault)) << "connect" << fault << kConnectMs;
    for (const char* fault : {"garbage", "64 KiB replies", "endless stream", "unplugged midway"}) {
        QTest::addRow("write, %s", qPrintable(fault)) << "write" << QString(fault) << kWriteMs;
        QTest::addRow("list write, %s", qPrintable(fault)) << "list write" << QString(fault) << kListWriteMs;
    }
    for (const char* fault : {"endless stream", "notice after +++", "unplugged midway", "64 KiB replies"})
        QTest::addRow("search, %s", qPrintable(fault)) << "search" << QString(fault) << kSearchMs;
}

void TstHostile::survives()
{
    QFETCH(QString, operation);
    QFETCH(QString, fault);
    QFETCH(qint64, budgetMs);

    if (operation != "connect")
        prepareTable();
    if (fault == "64 KiB replies") {
        // At the fastest rate a long reply takes 1.5 s on the line instead of 6.
        TestSupport::closePort(m_window);
        m_sim->setLine(460800, sim::Parity::None);
        widget<QComboBox>(m_window, "my_serial_baud_box")->setCurrentText("460800");
        QVERIFY(TestSupport::openPortFromPanel(m_window, m_sim->portName()));
    }
    if (fault == "unplugged midway" && operation == "search")
        m_sim->faults().unplugAfterFrames = 1;
    else
        applyFault(fault);
    auto* const id = widget<QLineEdit>(m_window, "line_send_id");
    const QString idBefore = id->text();
    auto* const baud = widget<QComboBox>(m_window, "baud_485");
    baud->setCurrentText("600");

    const qint64 took = run(operation);

    // Generous: the machine is shared; the point is that no wait runs away.
    QVERIFY2(took < budgetMs * 5 / 4 + 3000, qPrintable(QString("%1 ms, budget %2 ms").arg(took).arg(budgetMs)));
    QVERIFY(!m_window->isBusy());
    if (operation == "connect" && fault.startsWith("reports")) {
        // No group had a usable report: the editors keep what they held.
        QCOMPARE(baud->currentText(), QStringLiteral("600"));
        QCOMPARE(id->text(), idBefore);
    }
    if (fault == "invalid UTF-8")
        QCOMPARE(baud->currentText(), QStringLiteral("600"));

    checkUsableAfterwards();
}

void TstHostile::checkUsableAfterwards()
{
    // A sane module is plugged in (a new one: the old one may still be
    // pushing out what a fault queued); the port is reopened from the panel.
    startModule();
    m_sim->state().mode = "PROTOL";
    m_sim->state().canRate = 750;

    TestSupport::closePort(m_window);
    widget<QComboBox>(m_window, "my_serial_baud_box")->setCurrentText("115200");
    widget<QComboBox>(m_window, "my_serial_parity_box")->setCurrentIndex(0);
    QVERIFY(TestSupport::openPortFromPanel(m_window, m_sim->portName()));
    m_sim->clearFrames();
    m_boxes->clear();
    widget<QPushButton>(m_window, "device_connet")->click();
    QCOMPARE(m_sim->frameData(), kReadBackFrames);
    QVERIFY(m_boxes->seen().isEmpty());
    QCOMPARE(widget<QComboBox>(m_window, "device_box")->currentIndex(), 2);
    QCOMPARE(widget<QComboBox>(m_window, "Box_can_baud")->currentText(), QStringLiteral("750K"));
    QCOMPARE(widget<QComboBox>(m_window, "baud_485")->currentText(), QStringLiteral("115200"));
}

VELKO_TEST_MAIN(TstHostile)
#include "tst_hostile.moc"
