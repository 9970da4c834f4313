// "写入配置", the module commands and the filter list end to end: the window
// writes what its editors and its table show to a simulated module through
// the real port, asks and tells in its boxes and stays usable meanwhile. The
// sequences themselves (their frames, order and outcome) are in tst_session.
#include "core/transport/serialsocket.h"
#include "sim/simmodule.h"
#include "tests/support/endtoendtest.h"
#include "tests/support/simsupport.h"
#include "window/kx47main.h"

#include <QCheckBox>
#include <QComboBox>
#include <QLineEdit>
#include <QPushButton>
#include <QSignalSpy>
#include <QStatusBar>
#include <QTableWidget>
#include <QTemporaryDir>
#include <QTimer>

using TestSupport::customizedModule;
using TestSupport::describe;
using TestSupport::distinctRows;
using TestSupport::Editors;
using TestSupport::rowsOf;
using TestSupport::tr47;
using TestSupport::widget;

namespace {
const QByteArray kEmptyList = "AT+DELFILTER=EDTF,0\r\n";
constexpr int kCentred = Qt::AlignHCenter | Qt::AlignVCenter;

// The module's tokens by editor item, as they go on the wire.
const QStringList kModes{"TRANS", "TPRTL", "PROTOL", "MODBUS", "USER"};
const QStringList kDirections{"UART-CAN", "CAN-UART", "BOTHWAY"};
const QStringList kFilterModes{"OFF", "ETF", "NTF", "USER"};
const QStringList kFrameTypes{"NDTF", "EDTF"};

// The configuration these editors show, as a write sends it.
ModuleConfig configOf(const Editors& e)
{
    ModuleConfig c;
    c.baud = e.baud.toInt();
    c.stopBits = e.stop.toInt();
    c.parity = e.parity;
    c.canRateKbit = e.canRate.left(e.canRate.size() - 1).toInt(); // "250K"
    c.frameType = kFrameTypes.at(e.frameType);
    c.canId = e.id;
    c.mode = kModes.at(e.mode);
    c.frameId = e.msgId;
    c.frameInfo = e.msgInfo;
    c.head = e.head;
    c.tail = e.tail;
    c.idLength = e.length;
    c.idPosition = e.position;
    c.direction = kDirections.at(e.direction);
    c.filterMode = kFilterModes.at(e.filterMode);
    c.filters = TestSupport::entriesOf(e.rows);
    return c;
}

// The frames of "写入配置" for these editors, in order.
QList<QByteArray> writeFrames(const Editors& e)
{
    return TestSupport::writeFrames(configOf(e));
}

// The module after "写入配置" of these editors, starting from `before`.
sim::ModuleState moduleAfterWrite(const sim::ModuleState& before, const Editors& e)
{
    return TestSupport::moduleAfterWrite(before, configOf(e));
}

// A module whose every parameter differs from what `e` writes.
sim::ModuleState moduleBefore(const Editors& e)
{
    return TestSupport::moduleBefore(configOf(e));
}
} // namespace

class TstWrite : public TestSupport::EndToEndTest
{
    Q_OBJECT

public:
    TstWrite() : EndToEndTest(Port::Open) {}

private slots:
    void writeAllWritesWhatTheEditorsShow_data();
    void writeAllWritesWhatTheEditorsShow();
    void writeAllWithUserFilterAndEmptyTable();
    void moduleCommands_data();
    void moduleCommands();
    void restartAppliesTheWrittenSerialLine();
    void cellChecks_data();
    void cellChecks();
    void addToEmptyTable();
    void addToFullTableKeepsEveryEntry();
    void deleteWithoutCurrentRowChangesNothing();
    void deleteRemovesTheCurrentRowOnly();
    void clearListEmptiesTableAndModule();
    void listWriteSendsTheTable();
    void rowsRemovedWhileTheListIsWritten();
    void clicksDuringWriteAllChangeNothing();
    void userIsToldWhatTheModuleRefused_data();
    void userIsToldWhatTheModuleRefused();
    void listButtonsThatSendFollowThePort();
    void writeOfWhatWasNotReadAsksFirst_data();
    void writeOfWhatWasNotReadAsksFirst();
    void statusBarTellsWhatWasDone();

private:
    void modulePlugged() override;
    void moduleUnplugged() override;
    void apply(const Editors& s) { TestSupport::applyEditors(m_window, s); }
    void setFilterModeByUser(int item);
    void fillTable(const QStringList& rows);
    QStringList tableRows() const;
    bool nothingSent() const;
    QString status() const { return m_window->statusBar()->currentMessage(); }

    QTemporaryDir m_dir;
};

void TstWrite::modulePlugged()
{
    m_sim->state().configMode = true;
    m_sim->state().echo = false;
    // The editors hold an opened profile: a write goes out without asking first.
    QVERIFY(m_window->openConfig(TestSupport::exampleProfile()));
    widget<QTableWidget>(m_window, "tableWidget")->setRowCount(0);
}

void TstWrite::moduleUnplugged()
{
    widget<QComboBox>(m_window, "my_serial_baud_box")->setCurrentText("115200");
}

void TstWrite::setFilterModeByUser(int item)
{
    TestSupport::chooseItem(widget<QComboBox>(m_window, "Box_filtra_mode"), item);
}

void TstWrite::fillTable(const QStringList& rows)
{
    TestSupport::fillTable(m_window, rows);
}

QStringList TstWrite::tableRows() const
{
    return TestSupport::tableRows(m_window);
}

// Neither the module received anything nor does the log show a sent command.
bool TstWrite::nothingSent() const
{
    return m_sim->frames().isEmpty() && !TestSupport::logText(m_window).contains("TX:");
}

void TstWrite::writeAllWritesWhatTheEditorsShow_data()
{
    QTest::addColumn<Editors>("setup");
    QTest::addColumn<bool>("silent");

    Editors s;
    s.baud = "9600";
    s.stop = "2";
    s.parity = "EVEN";
    s.canRate = "125K";
    s.frameType = 0;
    s.id = ""; // goes out as 0
    s.direction = 0;
    s.mode = 0;
    s.msgId = true;
    s.msgInfo = true;
    s.filterMode = 0;
    s.rows = distinctRows(2); // not written in mode OFF
    QTest::newRow("transparent mode writes both flags and an empty ID as 0") << s << false;

    s = Editors();
    s.baud = "460800";
    s.parity = "ODD";
    s.canRate = "1000K";
    s.frameType = 1;
    s.id = "1FFFFFFF";
    s.direction = 1;
    s.mode = 1;
    s.length = "0";
    s.position = "5";
    s.filterMode = 1;
    QTest::newRow("transparent mode with identifier writes length and position") << s << false;

    s = Editors();
    s.baud = "600";
    s.stop = "2";
    s.canRate = "6K";
    s.id = "7FF";
    s.direction = 2;
    s.mode = 2;
    s.filterMode = 2;
    QTest::newRow("protocol mode has no sub-parameters") << s << false;

    s = Editors();
    s.baud = "57600";
    s.parity = "EVEN";
    s.canRate = "500K";
    s.frameType = 1;
    s.id = "ABC";
    s.direction = 0;
    s.mode = 3;
    s.filterMode = 3;
    s.rows = QStringList{"NDTF,7FF", "EDTF,1ABCDEF0", "NDTF,0"};
    QTest::newRow("Modbus mode has no sub-parameters and the list goes out in row order") << s << false;

    s = Editors();
    s.baud = "19200";
    s.stop = "2";
    s.parity = "ODD";
    s.canRate = "750K";
    s.id = "12";
    s.direction = 1;
    s.mode = 4;
    s.head = "A1";
    s.tail = "1A";
    s.filterMode = 3;
    s.rows = distinctRows(14);
    QTest::newRow("user protocol writes head and tail and a full list of fourteen") << s << false;

    s.baud = "38400";
    s.rows = distinctRows(1);
    QTest::newRow("a module that never answers is told every command in one box") << s << true;
}

void TstWrite::writeAllWritesWhatTheEditorsShow()
{
    QFETCH(Editors, setup);
    QFETCH(bool, silent);
    const sim::ModuleState before = moduleBefore(setup);
    m_sim->state() = before;
    m_sim->faults().silent = silent;
    apply(setup);
    QCOMPARE(editors(), setup);

    press("all_set");

    QCOMPARE(describe(m_sim->state()), describe(moduleAfterWrite(before, setup)));
    if (silent) {
        // Every command the module left unanswered is named in one box.
        QCOMPARE(m_boxes->titles(), QStringList{tr47("提示")});
        const QString text = m_boxes->seen().first().text;
        QVERIFY2(text.startsWith(tr47("模块没有回复这些命令：")), qPrintable(text));
        QCOMPARE(text.count(QStringLiteral("AT+")), writeFrames(setup).size());
        m_boxes->clear();
    }
    QVERIFY(m_boxes->seen().isEmpty());
    QCOMPARE(editors(), setup); // writing changes no editor
    const QString log = TestSupport::logText(m_window);
    QCOMPARE(log.count("TX:"), writeFrames(setup).size());
    QCOMPARE(log.count("RX:"), silent ? 0 : writeFrames(setup).size());

    // Reading the module back shows what was written. The serial report is
    // the line in effect: the written one waits for a restart. The
    // sub-parameters of the other modes were not written and show the module's.
    m_sim->faults().silent = false;
    press("device_connet");
    QVERIFY(m_boxes->seen().isEmpty());
    Editors expected = setup;
    expected.baud = "115200";
    expected.stop = "1";
    expected.parity = "NONE";
    if (expected.id.isEmpty())
        expected.id = "0";
    if (setup.mode != 0) {
        expected.msgId = before.msgId;
        expected.msgInfo = before.msgInfo;
    }
    if (setup.mode != 1) {
        expected.length = before.idLength;
        expected.position = before.idPosition;
    }
    if (setup.mode != 4) {
        expected.head = before.userHead;
        expected.tail = before.userTail;
    }
    if (setup.filterMode != 3)
        expected.rows.clear();
    QCOMPARE(editors(), expected);
}

void TstWrite::writeAllWithUserFilterAndEmptyTable()
{
    Editors setup;
    setup.mode = 2;
    setup.canRate = "100K";
    setup.id = "5";
    setup.filterMode = 3;
    apply(setup);

    press("all_set");

    QCOMPARE(m_boxes->titles(), QStringList{tr47("错误")});
    QCOMPARE(m_boxes->seen().first().text, tr47("请添加数据"));
}

void TstWrite::moduleCommands_data()
{
    QTest::addColumn<QString>("button");
    QTest::addColumn<QList<QByteArray>>("frames");

    QTest::newRow("the leave button leaves the configuration state") << "quit_btn" << QList<QByteArray>{"AT+EXAT\r\n"};
    QTest::newRow("the restart button restarts the module") << "reset_btn" << QList<QByteArray>{"AT+REBT\r\n"};
    QTest::newRow("the restore button restores and restarts once it is confirmed")
        << "restore_btn" << QList<QByteArray>{"AT+RESTORE\r\n", "AT+REBT\r\n"};
}

void TstWrite::moduleCommands()
{
    QFETCH(QString, button);
    QFETCH(QList<QByteArray>, frames);
    const bool restore = button == QLatin1String("restore_btn");
    if (restore)
        m_boxes->queue(tr47("确定"));

    press(button.toLatin1().constData());

    QCOMPARE(m_sim->frameData(), frames);
    // Only the restore asks first.
    QCOMPARE(m_boxes->titles(), restore ? QStringList{tr47("提示")} : QStringList());
    QVERIFY(SerialSocket::getInstance()->isOpen());
}

void TstWrite::restartAppliesTheWrittenSerialLine()
{
    Editors setup;
    setup.baud = "9600";
    setup.mode = 2;
    apply(setup);
    press("all_set");
    QCOMPARE(m_sim->state().pendingBaud, 9600);
    QCOMPARE(m_sim->state().baud, 115200);

    m_sim->clearFrames();
    press("reset_btn");
    QCOMPARE(m_sim->frameData(), QList<QByteArray>{"AT+REBT\r\n"});
    QCOMPARE(m_sim->state().baud, 9600);

    // The tool still talks at 115200: the module no longer understands it.
    widget<QComboBox>(m_window, "baud_485")->setCurrentText("600");
    press("device_connet");
    QCOMPARE(m_boxes->titles(), QStringList{tr47("连接失败")});
    QCOMPARE(widget<QComboBox>(m_window, "baud_485")->currentText(), QStringLiteral("600"));

    // At 9600 the read-back works and shows the new line.
    m_boxes->clear();
    m_sim->clearFrames();
    TestSupport::closePort(m_window);
    widget<QComboBox>(m_window, "my_serial_baud_box")->setCurrentText("9600");
    QVERIFY(TestSupport::openPortFromPanel(m_window, m_sim->portName()));
    press("device_connet");
    QVERIFY(m_boxes->seen().isEmpty());
    QCOMPARE(m_sim->frames().size(), 12);
    for (const sim::Frame& f : m_sim->frames())
        QVERIFY(f.matched);
    QCOMPARE(widget<QComboBox>(m_window, "baud_485")->currentText(), QStringLiteral("9600"));
}

void TstWrite::cellChecks_data()
{
    QTest::addColumn<QString>("rowType");
    QTest::addColumn<QString>("rowId");
    QTest::addColumn<int>("column");
    QTest::addColumn<QString>("typed");
    QTest::addColumn<QString>("cellAfter");
    QTest::addColumn<QString>("warning"); // empty: accepted without a box

    const QString typeWarning = "类别设置错误! \r\n即将恢复默认参数.";
    const QString idWarning = "    ID错误! \r\n即将恢复默认数据.";

    QTest::newRow("a standard row may become extended") << "NDTF"
                                                        << "7FF" << 0 << "EDTF"
                                                        << "EDTF"
                                                        << "";
    QTest::newRow("an extended row becomes standard without its ID being checked again") << "EDTF"
                                                                                         << "1FFFFFFF" << 0 << "NDTF"
                                                                                         << "NDTF"
                                                                                         << "";
    QTest::newRow("a lower-case type is refused and becomes NDTF") << "EDTF"
                                                                   << "1ABCDEF0" << 0 << "ndtf"
                                                                   << "NDTF" << typeWarning;
    QTest::newRow("an unknown type is refused and becomes NDTF") << "NDTF"
                                                                 << "12" << 0 << "X"
                                                                 << "NDTF" << typeWarning;
    QTest::newRow("an empty type is refused and becomes NDTF") << "NDTF"
                                                               << "12" << 0 << ""
                                                               << "NDTF" << typeWarning;
    QTest::newRow("a standard ID of 7FF is accepted") << "NDTF"
                                                      << "0" << 1 << "7FF"
                                                      << "7FF"
                                                      << "";
    QTest::newRow("a standard ID in lower case is accepted") << "NDTF"
                                                             << "0" << 1 << "7ff"
                                                             << "7ff"
                                                             << "";
    QTest::newRow("an empty standard ID counts as 0 and is accepted") << "NDTF"
                                                                      << "0" << 1 << ""
                                                                      << ""
                                                                      << "";
    QTest::newRow("a standard ID of 800 is refused and becomes 0") << "NDTF"
                                                                   << "12" << 1 << "800"
                                                                   << "0" << idWarning;
    QTest::newRow("a standard ID with a prefix is refused and becomes 0") << "NDTF"
                                                                          << "12" << 1 << "0x7"
                                                                          << "0" << idWarning;
    QTest::newRow("a standard ID of four digits is refused even with a small value") << "NDTF"
                                                                                     << "12" << 1 << "0001"
                                                                                     << "0" << idWarning;
    QTest::newRow("an extended ID of 1FFFFFFF is accepted") << "EDTF"
                                                            << "0" << 1 << "1FFFFFFF"
                                                            << "1FFFFFFF"
                                                            << "";
    QTest::newRow("an extended ID of 20000000 is refused and becomes 800") << "EDTF"
                                                                           << "0" << 1 << "20000000"
                                                                           << "800" << idWarning;
    QTest::newRow("an extended ID of nine digits is refused and becomes 800") << "EDTF"
                                                                              << "0" << 1 << "123456789"
                                                                              << "800" << idWarning;
    QTest::newRow("an extended ID of nine digits is refused even with a small value") << "EDTF"
                                                                                      << "0" << 1 << "000000001"
                                                                                      << "800" << idWarning;
}

void TstWrite::cellChecks()
{
    QFETCH(QString, rowType);
    QFETCH(QString, rowId);
    QFETCH(int, column);
    QFETCH(QString, typed);
    QFETCH(QString, cellAfter);
    QFETCH(QString, warning);

    auto* const table = widget<QTableWidget>(m_window, "tableWidget");
    setFilterModeByUser(3);
    press("add_filter_id_btn");
    press("add_filter_id_btn");
    QCOMPARE(tableRows(), (QStringList{"NDTF,0", "NDTF,0"}));
    // The edited row is the first; the second must stay as it is.
    table->item(0, 0)->setText(rowType);
    table->item(0, 1)->setText(rowId);
    QVERIFY(m_boxes->seen().isEmpty());
    const QString otherCell = table->item(0, 1 - column)->text();

    table->item(0, column)->setText(typed);

    if (warning.isEmpty()) {
        QVERIFY(m_boxes->seen().isEmpty());
    } else {
        QCOMPARE(m_boxes->titles(), QStringList{tr47("警告")}); // one box: the default passes the check
        const QString told = m_boxes->seen().first().text;
        if (column == 0) {
            QCOMPARE(told, tr47(warning.toUtf8().constData()));
        } else {
            // Below the warning, why: the ID as typed and what is wrong with it.
            QVERIFY2(told.startsWith(tr47(warning.toUtf8().constData()) + QStringLiteral("\n\n")), qPrintable(told));
            QVERIFY2(told.section(QStringLiteral("\n\n"), 1).contains(typed), qPrintable(told));
        }
        QCOMPARE(int(table->item(0, column)->textAlignment()), kCentred);
    }
    QCOMPARE(table->item(0, column)->text(), cellAfter);
    QCOMPARE(table->item(0, 1 - column)->text(), otherCell);
    QCOMPARE(table->rowCount(), 2);
    QCOMPARE(tableRows().at(1), QStringLiteral("NDTF,0"));
    QVERIFY(nothingSent());
}

void TstWrite::addToEmptyTable()
{
    auto* const table = widget<QTableWidget>(m_window, "tableWidget");
    setFilterModeByUser(3);
    press("add_filter_id_btn");
    QCOMPARE(tableRows(), QStringList{"NDTF,0"});
    QCOMPARE(table->rowHeight(0), 30);
    QCOMPARE(int(table->item(0, 0)->textAlignment()), kCentred);
    QCOMPARE(int(table->item(0, 1)->textAlignment()), kCentred);
    QVERIFY(m_boxes->seen().isEmpty());
    QVERIFY(nothingSent());
}

void TstWrite::addToFullTableKeepsEveryEntry()
{
    auto* const table = widget<QTableWidget>(m_window, "tableWidget");
    setFilterModeByUser(3);
    QStringList rows;
    for (int i = 0; i < 14; ++i) {
        press("add_filter_id_btn");
        table->item(i, 1)->setText(QString::number(0x101 + i, 16).toUpper());
        rows << "NDTF," + QString::number(0x101 + i, 16).toUpper();
    }
    QCOMPARE(tableRows(), rows);
    QVERIFY(m_boxes->seen().isEmpty());

    press("add_filter_id_btn");

    QCOMPARE(m_boxes->titles(), QStringList{tr47("警告")});
    QCOMPARE(m_boxes->seen().first().text, tr47("已经达到最大条目!"));
    QCOMPARE(tableRows(), rows);
    QVERIFY(nothingSent());
}

void TstWrite::deleteWithoutCurrentRowChangesNothing()
{
    auto* const table = widget<QTableWidget>(m_window, "tableWidget");
    setFilterModeByUser(3);
    fillTable(distinctRows(3));
    table->setCurrentItem(nullptr);
    QCOMPARE(table->currentRow(), -1);
    press("del_id_btn");
    QCOMPARE(tableRows(), distinctRows(3));
    QVERIFY(nothingSent());
}

void TstWrite::deleteRemovesTheCurrentRowOnly()
{
    auto* const table = widget<QTableWidget>(m_window, "tableWidget");
    setFilterModeByUser(3);
    const QStringList rows = distinctRows(3);
    fillTable(rows);
    table->setCurrentCell(1, 1);
    press("del_id_btn");
    QCOMPARE(tableRows(), (QStringList{rows.at(0), rows.at(2)}));
    QVERIFY(nothingSent());
}

void TstWrite::clearListEmptiesTableAndModule()
{
    setFilterModeByUser(3);
    fillTable(distinctRows(3));
    m_sim->state().filters = customizedModule().filters;
    press("clean_list_btn");
    QCOMPARE(widget<QTableWidget>(m_window, "tableWidget")->rowCount(), 0);
    QVERIFY(m_sim->state().filters.isEmpty());
    QVERIFY(m_boxes->seen().isEmpty());
}

void TstWrite::listWriteSendsTheTable()
{
    const QStringList rows{"NDTF,7FF", "EDTF,1ABCDEF0", "NDTF,12"};
    m_sim->state().filters = customizedModule().filters;
    m_sim->state().filterMode = "ETF";
    setFilterModeByUser(3);
    fillTable(rows);

    press("write_id_btn");

    QCOMPARE(m_sim->frameData(), (QList<QByteArray>{"AT+CANLT=USER\r\n", kEmptyList, "AT+FILTER=NDTF,7FF\r\n",
                                                    "AT+FILTER=EDTF,1ABCDEF0\r\n", "AT+FILTER=NDTF,12\r\n"}));
    QCOMPARE(m_sim->state().filterMode, QStringLiteral("USER"));
    QCOMPARE(rowsOf(m_sim->state().filters), rows);
    QCOMPARE(tableRows(), rows);
    QVERIFY(m_boxes->seen().isEmpty());
}

void TstWrite::rowsRemovedWhileTheListIsWritten()
{
    auto* const table = widget<QTableWidget>(m_window, "tableWidget");
    setFilterModeByUser(3);
    const QStringList rows = distinctRows(5);
    fillTable(rows);
    int removals = 0;
    QObject context; // ends the connection before the locals it captures
    connect(m_sim, &sim::SimModule::frameReceived, &context, [&](const QByteArray& frame) {
        if (!frame.startsWith("AT+FILTER=") || removals > 0)
            return;
        ++removals;
        // While the first entry waits for its reply, the user removes the last three rows.
        QTimer::singleShot(30, this, [&] {
            ++removals;
            table->setCurrentCell(4, 0);
            widget<QPushButton>(m_window, "del_id_btn")->click();
            table->removeRow(3);
            table->removeRow(2);
        });
    });

    press("write_id_btn");

    QCOMPARE(removals, 2);
    QCOMPARE(tableRows(), rows.mid(0, 2));
    // The write followed the table as it stood.
    QCOMPARE(m_sim->state().filters.size(), 2);
    QVERIFY(SerialSocket::getInstance()->isOpen());
}

void TstWrite::clicksDuringWriteAllChangeNothing()
{
    Editors setup;
    setup.mode = 4;
    setup.baud = "14400";
    setup.filterMode = 3;
    setup.rows = distinctRows(2);
    const sim::ModuleState before = moduleBefore(setup);
    m_sim->state() = before;
    apply(setup);
    // (The port button is not among them: it stops the write.)
    const char* const others[] = {"device_connet", "all_set", "write_id_btn", "clean_list_btn", "btn_serch"};
    const QList<QByteArray> expected = writeFrames(setup);
    int rounds = 0;
    // After every frame, while the write waits for the module, click every
    // other module operation; at most one round per frame of the write, so
    // that clicks which do start operations cannot feed each other forever.
    QObject context; // ends the connection before the locals it captures
    connect(m_sim, &sim::SimModule::frameReceived, &context, [&] {
        QTimer::singleShot(30, this, [&] {
            if (rounds >= expected.size())
                return;
            ++rounds;
            for (const char* name : others)
                TestSupport::clickAnyway(widget<QPushButton>(m_window, name));
        });
    });

    press("all_set");

    QCOMPARE(m_sim->frameData(), expected);
    QCOMPARE(rounds, expected.size());
    QVERIFY(SerialSocket::getInstance()->isOpen());
    QVERIFY(m_boxes->seen().isEmpty());
    QCOMPARE(editors(), setup);
    QCOMPARE(describe(m_sim->state()), describe(moduleAfterWrite(before, setup)));
}

void TstWrite::userIsToldWhatTheModuleRefused_data()
{
    QTest::addColumn<QString>("button");
    QTest::addColumn<QString>("answer"); // to the restore's question; empty for none
    QTest::addColumn<QStringList>("refuse");
    QTest::addColumn<int>("capacity");
    QTest::addColumn<QStringList>("boxLines"); // what the last box says, after its title line; none: nothing sent

    QTest::newRow("a refused CAN setting is named after the write")
        << "all_set" << QString() << QStringList{"CAN"} << 20 << QStringList{"AT+CAN=250,0,NDTF (ERROR)"};
    QTest::newRow("filter entries beyond the module's list are named with its reply")
        << "write_id_btn" << QString() << QStringList() << 1 << QStringList{"AT+FILTER=EDTF,1ABCDE01 (+ERROR)"};
    QTest::newRow("restore answered no sends nothing")
        << "restore_btn" << tr47("取消") << QStringList() << 20 << QStringList();
}

void TstWrite::userIsToldWhatTheModuleRefused()
{
    QFETCH(QString, button);
    QFETCH(QString, answer);
    QFETCH(QStringList, refuse);
    QFETCH(int, capacity);
    QFETCH(QStringList, boxLines);
    m_sim->faults().refuse = refuse;
    m_sim->state().filterCapacity = capacity;
    Editors setup;
    setup.filterMode = button == QLatin1String("write_id_btn") ? 3 : 0;
    setup.rows = distinctRows(2);
    apply(setup);
    if (!answer.isEmpty())
        m_boxes->queue(answer);

    press(button.toLatin1().constData());

    if (boxLines.isEmpty()) {
        QVERIFY(m_sim->frames().isEmpty());
        QCOMPARE(m_boxes->titles(), QStringList{tr47("提示")});
        QCOMPARE(m_boxes->seen().first().text, tr47("确定恢复出厂设置？模块的全部配置将丢失。"));
        QCOMPARE(m_boxes->seen().first().buttons, (QStringList{tr47("确定"), tr47("取消")}));
        return;
    }
    QCOMPARE(m_boxes->titles(), QStringList{tr47("提示")});
    QCOMPARE(m_boxes->seen().first().text.split('\n'), QStringList{tr47("模块拒绝了这些命令：")} + boxLines);
    // The write ran to its end: the status bar says so, with its time.
    const QString done = tr47("%1完成，%2 秒").arg(tr47("写入"), QStringLiteral("|")).section(QLatin1Char('|'), 0, 0);
    QVERIFY2(m_window->statusBar()->currentMessage().startsWith(done),
             qPrintable(m_window->statusBar()->currentMessage()));
}

void TstWrite::listButtonsThatSendFollowThePort()
{
    setFilterModeByUser(3);
    const char* const sending[] = {"write_id_btn", "clean_list_btn"};
    for (const bool open : {true, false, true}) {
        if (!open)
            TestSupport::closePort(m_window);
        else if (!SerialSocket::getInstance()->isOpen())
            QVERIFY(TestSupport::openPortFromPanel(m_window, m_sim->portName()));
        for (const char* name : sending)
            QCOMPARE(widget<QPushButton>(m_window, name)->isEnabled(), open);
        QVERIFY(widget<QPushButton>(m_window, "add_filter_id_btn")->isEnabled());
    }
}

void TstWrite::writeOfWhatWasNotReadAsksFirst_data()
{
    QTest::addColumn<QString>("button");
    QTest::addColumn<QString>("before"); // since the port was opened
    QTest::addColumn<bool>("yes");       // the answer; else the question's default
    QTest::addColumn<bool>("asked");
    for (const char* button : {"all_set", "write_id_btn"}) {
        QTest::addRow("%s right after opening the port asks, and its default no sends nothing", button)
            << button << "" << false << true;
        QTest::addRow("%s right after opening the port asks, and yes writes as ever", button)
            << button << "" << true << true;
    }
    QTest::newRow("all_set after a read-back asks nothing") << "all_set"
                                                            << "read-back" << false << false;
    QTest::newRow("write_id_btn after an opened profile asks nothing") << "write_id_btn"
                                                                       << "profile" << false << false;
    QTest::newRow("a read-back counts only until the port closes") << "all_set"
                                                                   << "read-back, reopened" << false << true;
}

void TstWrite::writeOfWhatWasNotReadAsksFirst()
{
    QFETCH(QString, button);
    QFETCH(QString, before);
    QFETCH(bool, yes);
    QFETCH(bool, asked);
    TestSupport::closePort(m_window); // now another module may be on the line
    QVERIFY(TestSupport::openPortFromPanel(m_window, m_sim->portName()));
    if (before.startsWith("read-back"))
        press("device_connet");
    if (before == "profile")
        QVERIFY(m_window->openConfig(TestSupport::exampleProfile()));
    if (before.endsWith("reopened")) {
        press("my_serial_open_btn");
        press("my_serial_open_btn");
    }
    setFilterModeByUser(3);
    fillTable(distinctRows(2));
    m_sim->clearFrames();
    if (yes)
        m_boxes->queue(QCoreApplication::translate("QPlatformTheme", "&Yes"));

    press(button.toLatin1().constData());

    QList<QByteArray> frames = writeFrames(editors());
    if (button == "write_id_btn")
        frames = frames.mid(frames.indexOf("AT+CANLT=USER\r\n"), 4);
    QCOMPARE(m_sim->frameData(), !asked || yes ? frames : QList<QByteArray>());
    QCOMPARE(m_boxes->titles(), asked ? QStringList{tr47("提示")} : QStringList());
    if (asked)
        QCOMPARE(m_boxes->seen().first().text, tr47("尚未从该模块读取任何配置；要写入显示的值吗？"));
}

void TstWrite::statusBarTellsWhatWasDone()
{
    TestSupport::closePort(m_window);
    press("my_serial_open_btn");
    QCOMPARE(status(), tr47("串口已打开：%1").arg(m_sim->portName()));
    apply(Editors()); // sound values, which a profile takes
    QVERIFY(m_window->saveConfig(m_dir.filePath("line 7.json")));
    QCOMPARE(status(), tr47("已保存配置：%1").arg("line 7.json"));
    QVERIFY(m_window->openConfig(TestSupport::exampleProfile()));
    QCOMPARE(status(), tr47("已打开配置：%1").arg("example-profile.json"));

    // An operation's result stays longer than the five seconds it used to.
    press("all_set");
    const QString written = status();
    const QString done = tr47("%1完成，%2 秒").arg(tr47("写入"), QStringLiteral("|")).section(QLatin1Char('|'), 0, 0);
    QVERIFY2(written.startsWith(done), qPrintable(written));
    QSignalSpy changed(m_window->statusBar(), &QStatusBar::messageChanged);
    QVERIFY(!changed.wait(5500));
    QCOMPARE(status(), written);
}

VELKO_TEST_MAIN_PACED(TstWrite, TestSupport::kQuickPace)
#include "tst_write.moc"
