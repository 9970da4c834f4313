// A module that misbehaves in the window: its operations end, the editors
// of a bad report are left alone, and the window works normally once the
// module is sane (or back) again. Every fault against every sequence of the
// session is in tst_session.
#include "core/transport/serialsocket.h"
#include "sim/simmodule.h"
#include "tests/support/endtoendtest.h"
#include "tests/support/simsupport.h"
#include "window/kx47main.h"

#include <QComboBox>
#include <QElapsedTimer>
#include <QLineEdit>
#include <QPushButton>
#include <QTableWidget>

using TestSupport::kConnectMs;
using TestSupport::kListWriteMs;
using TestSupport::kReadBackFrames;
using TestSupport::kSearchMs;
using TestSupport::kWriteMs;
using TestSupport::widget;

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

void TstHostile::survives_data()
{
    QTest::addColumn<QString>("operation");
    QTest::addColumn<QString>("fault");
    QTest::addColumn<qint64>("budgetMs");

    // The reports that leave the editors alone.
    for (const char* fault : {"reports without key", "reports with too few fields", "invalid UTF-8"})
        QTest::addRow("connect, %s", fault) << "connect" << QString(fault) << kConnectMs;
    // A module gone during each operation: the window ends it and opens the port again.
    QTest::newRow("write, unplugged midway") << "write" << QString("unplugged midway") << kWriteMs;
    QTest::newRow("list write, unplugged midway") << "list write" << QString("unplugged midway") << kListWriteMs;
    QTest::newRow("search, unplugged midway") << "search" << QString("unplugged midway") << kSearchMs;
}

void TstHostile::survives()
{
    QFETCH(QString, operation);
    QFETCH(QString, fault);
    QFETCH(qint64, budgetMs);

    if (operation != "connect")
        prepareTable();
    if (fault == "unplugged midway" && operation == "search")
        m_sim->faults().unplugAfterFrames = 1;
    else
        TestSupport::setHostileFault(m_sim, fault);
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

VELKO_TEST_MAIN_PACED(TstHostile, TestSupport::kQuickPace)
#include "tst_hostile.moc"
