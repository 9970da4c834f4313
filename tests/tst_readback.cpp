// "连接设备" end to end: the window reads a simulated module through the real
// port into its editors, marks what was not read and tells it in its boxes.
// The read-back's frames, its judgement of the replies and its log entries
// are in tst_session.
#include "core/config/moduleconfig.h"
#include "core/transport/serialsocket.h"
#include "sim/simmodule.h"
#include "tests/support/endtoendtest.h"
#include "tests/support/simsupport.h"
#include "window/kx47main.h"

#include <QCheckBox>
#include <QComboBox>
#include <QLineEdit>
#include <QPushButton>
#include <QStatusBar>
#include <QTableWidget>
#include <QTimer>

using TestSupport::Editors;
using TestSupport::kReadBackFrames;
using TestSupport::tr47;
using TestSupport::widget;

namespace {
// `count` filters that differ from each other, standard and extended by turns.
QVector<sim::Filter> makeFilters(int count)
{
    return TestSupport::filtersOf(TestSupport::distinctRows(count));
}
} // namespace

class TstReadBack : public TestSupport::EndToEndTest
{
    Q_OBJECT

public:
    TstReadBack() : EndToEndTest(Port::Open) {}

private slots:
    void readsEveryGroup_data();
    void readsEveryGroup();
    void moreThanFourteenFilters();
    void silentModule();
    void silentSingleQuery();
    void malformedReports_data();
    void malformedReports();
    void filterModeUserEnablesButtons();
    void clicksDuringReadBackChangeNothing();
    void incompleteReadBackNamesWhatWasNotRead_data();
    void incompleteReadBackNamesWhatWasNotRead();
    void notReadMarkGoesWhenTheEditorIsFilledOrEdited();

private:
    void modulePlugged() override;
    void connectDevice();
    // The fields whose editors are marked as not read, by their paths.
    QStringList marked() const;
    QString status() const { return m_window->statusBar()->currentMessage(); }
};

QStringList TstReadBack::marked() const
{
    static const char* const editors[] = {
        "baud_485",       "stopbit_485",    "parity_485",          "Box_can_baud",        "Box_send_mode",
        "line_send_id",   "device_box",     "id_enabled_checkBox", "meg_enabledcheckBox", "line_user_head",
        "line_user_tail", "line_idlenggth", "line_idLocation",     "Box_filtra_mode_2",   "Box_filtra_mode",
        "tableWidget"};
    QStringList paths;
    for (int i = 0; i < Config::fieldPaths().size(); ++i) {
        const QWidget* const w = widget<QWidget>(m_window, editors[i]);
        // A mark shows as a colour and a tool tip.
        if (w->property("notRead").toBool() && !w->styleSheet().isEmpty() && w->toolTip() == tr47("未从模块读取"))
            paths << Config::fieldPaths().at(i);
    }
    return paths;
}

void TstReadBack::modulePlugged()
{
    widget<QTableWidget>(m_window, "tableWidget")->setRowCount(0);
}

void TstReadBack::connectDevice()
{
    press("device_connet");
}

void TstReadBack::readsEveryGroup_data()
{
    QTest::addColumn<QString>("mode");
    QTest::addColumn<int>("modeItem");
    QTest::addColumn<QString>("frameType");
    QTest::addColumn<QString>("id");
    QTest::addColumn<QString>("filterMode");
    QTest::addColumn<int>("filterItem");
    QTest::addColumn<int>("filters");
    QTest::addColumn<bool>("echo");

    QTest::newRow("TRANS, standard, OFF, no filters, echo on") << "TRANS" << 0 << "NDTF"
                                                               << "7FF"
                                                               << "OFF" << 0 << 0 << true;
    QTest::newRow("TPRTL, extended, ETF, echo off") << "TPRTL" << 1 << "EDTF"
                                                    << "1ABCDEF0"
                                                    << "ETF" << 1 << 0 << false;
    QTest::newRow("PROTOL, NTF, three filters") << "PROTOL" << 2 << "NDTF"
                                                << "12"
                                                << "NTF" << 2 << 3 << true;
    QTest::newRow("MODBUS, USER, fourteen filters") << "MODBUS" << 3 << "EDTF"
                                                    << "7"
                                                    << "USER" << 3 << 14 << false;
    QTest::newRow("USER mode, USER filter, three filters") << "USER" << 4 << "NDTF"
                                                           << "0"
                                                           << "USER" << 3 << 3 << true;
}

void TstReadBack::readsEveryGroup()
{
    QFETCH(QString, mode);
    QFETCH(int, modeItem);
    QFETCH(QString, frameType);
    QFETCH(QString, id);
    QFETCH(QString, filterMode);
    QFETCH(int, filterItem);
    QFETCH(int, filters);
    QFETCH(bool, echo);

    sim::ModuleState& s = m_sim->state();
    s = TestSupport::moduleHolding(TestSupport::readBackSample(mode, frameType, id, filterMode, filters));
    s.pendingBaud = 9600; // reported is the line in effect
    s.echo = echo;

    connectDevice();

    QVERIFY(m_boxes->seen().isEmpty());
    Editors expected;
    expected.baud = "115200";
    expected.stop = "2";
    expected.parity = "NONE";
    expected.canRate = "1000K";
    expected.frameType = frameType == "EDTF" ? 1 : 0;
    expected.id = id;
    expected.mode = modeItem;
    expected.head = "D2";
    expected.tail = "2D";
    expected.length = "1";
    expected.position = "3";
    expected.direction = 1;
    expected.filterMode = filterItem;
    expected.msgId = false;
    expected.msgInfo = true;
    expected.rows = TestSupport::rowsOf(s.filters);
    QCOMPARE(editors(), expected);

    // The ID editor follows the frame type read; the mode rules follow the mode.
    QCOMPARE(widget<QLineEdit>(m_window, "line_send_id")->maxLength(), frameType == "EDTF" ? 8 : 3);
    QCOMPARE(widget<QLineEdit>(m_window, "line_user_head")->isReadOnly(), modeItem != 4);
    QCOMPARE(widget<QLineEdit>(m_window, "line_idlenggth")->isReadOnly(), modeItem != 1);
    QCOMPARE(widget<QCheckBox>(m_window, "id_enabled_checkBox")->isEnabled(), modeItem == 0);

    const auto* table = widget<QTableWidget>(m_window, "tableWidget");
    for (int r = 0; r < table->rowCount(); ++r) {
        QCOMPARE(table->rowHeight(r), 30);
        QCOMPARE(int(table->item(r, 1)->textAlignment()), int(Qt::AlignHCenter | Qt::AlignVCenter));
    }
}

void TstReadBack::moreThanFourteenFilters()
{
    m_sim->state().filters = makeFilters(17);
    connectDevice();
    // One warning per entry beyond the 14th; the first 14 stay as listed.
    QCOMPARE(m_boxes->titles(), (QStringList{tr47("警告"), tr47("警告"), tr47("警告")}));
    QCOMPARE(m_boxes->seen().first().text, tr47("已经达到最大条目!"));
    const Editors e = editors();
    QCOMPARE(e.rows.size(), 14);
    QCOMPARE(e.rows, TestSupport::rowsOf(m_sim->state().filters.mid(0, 14)));
}

void TstReadBack::silentModule()
{
    m_sim->faults().silent = true;
    auto* const table = widget<QTableWidget>(m_window, "tableWidget");
    table->setRowCount(1);
    m_window->updata_tableWidget("EDTF", "ABC");
    widget<QComboBox>(m_window, "Box_can_baud")->setCurrentIndex(4);
    const Editors before = editors();

    connectDevice();

    QCOMPARE(m_boxes->titles(), QStringList{tr47("连接失败")});
    QCOMPARE(m_boxes->seen().first().text, tr47("设备无回复！请检查通讯参数！"));
    QCOMPARE(editors(), before);
}

void TstReadBack::silentSingleQuery()
{
    m_sim->state().canRate = 125;
    m_sim->state().mode = "PROTOL";
    m_sim->faults().silentFor = QStringList{"AT+CAN?"};
    widget<QComboBox>(m_window, "Box_can_baud")->setCurrentIndex(14);
    connectDevice();
    const Editors e = editors();
    QCOMPARE(e.canRate, QStringLiteral("1000K")); // skipped
    QCOMPARE(e.mode, 2);                          // the next group is read
    // The box names what was skipped.
    QCOMPARE(m_boxes->titles(), QStringList{tr47("提示")});
}

void TstReadBack::malformedReports_data()
{
    QTest::addColumn<QByteArray>("query");
    QTest::addColumn<QByteArray>("report");
    QTest::addColumn<QString>("field"); // the Editors member that is checked
    QTest::addColumn<QString>("value"); // "" = unchanged

    QTest::newRow("serial report without its key")
        << QByteArray("AT+UART?\r\n") << QByteArray("\r\n9600,8,2,EVEN,NFC\r\n\r\n+OK\r\n\r\n") << "baud"
        << "";
    QTest::newRow("serial report with one field")
        << QByteArray("AT+UART?\r\n") << QByteArray("\r\nAT+UART=9600\r\n\r\n+OK\r\n\r\n") << "baud"
        << "9600";
    QTest::newRow("serial report with one field keeps parity")
        << QByteArray("AT+UART?\r\n") << QByteArray("\r\nAT+UART=9600\r\n\r\n+OK\r\n\r\n") << "parity"
        << "";
    QTest::newRow("serial report with four fields still sets parity")
        << QByteArray("AT+UART?\r\n") << QByteArray("\r\nAT+UART=9600,8,2,EVEN\r\n\r\n+OK\r\n\r\n") << "parity"
        << "EVEN";
    QTest::newRow("CAN report with the rate alone keeps the ID")
        << QByteArray("AT+CAN?\r\n") << QByteArray("\r\nAT+CAN=50\r\n\r\n+OK\r\n\r\n") << "id"
        << "";
    QTest::newRow("CAN report with a rate that is no item")
        << QByteArray("AT+CAN?\r\n") << QByteArray("\r\nAT+CAN=333,1,NDTF\r\n\r\n+OK\r\n\r\n") << "canRate"
        << "";
    QTest::newRow("a standard ID of five digits is not cut to three")
        << QByteArray("AT+CAN?\r\n") << QByteArray("\r\nAT+CAN=250,12345,NDTF\r\n\r\n+OK\r\n\r\n") << "id"
        << "";
    QTest::newRow("a standard ID above 7FF keeps the editor's")
        << QByteArray("AT+CAN?\r\n") << QByteArray("\r\nAT+CAN=250,800,NDTF\r\n\r\n+OK\r\n\r\n") << "id"
        << "";
    QTest::newRow("a padded standard ID is shown without its zeros")
        << QByteArray("AT+CAN?\r\n") << QByteArray("\r\nAT+CAN=250,000007FF,NDTF\r\n\r\n+OK\r\n\r\n") << "id"
        << "7FF";
    QTest::newRow("blanks after the commas")
        << QByteArray("AT+UART?\r\n") << QByteArray("\r\nAT+UART=9600, 8, 2, EVEN, NFC\r\n\r\n+OK\r\n\r\n") << "parity"
        << "EVEN";
    QTest::newRow("a flag after a blank")
        << QByteArray("AT+MSG?\r\n") << QByteArray("\r\nAT+MSG=0, 1\r\n\r\n+OK\r\n\r\n") << "msgInfo"
        << "1";
    QTest::newRow("tail ends at its line")
        << QByteArray("AT+UDMHT?\r\n") << QByteArray("\r\nAT+UDMHT=B1,1B\r\n\r\n+OK\r\n\r\n") << "tail"
        << "1B";
    QTest::newRow("position ends at its line")
        << QByteArray("AT+RANDOM?\r\n") << QByteArray("\r\nAT+RANDOM=1,3\r\n\r\n+OK\r\n\r\n") << "position"
        << "3";
    QTest::newRow("identifier report with one field keeps the position")
        << QByteArray("AT+RANDOM?\r\n") << QByteArray("\r\nAT+RANDOM=1\r\n\r\n+OK\r\n\r\n") << "position"
        << "";
    QTest::newRow("flags report with one field keeps the second")
        << QByteArray("AT+MSG?\r\n") << QByteArray("\r\nAT+MSG=1\r\n\r\n+OK\r\n\r\n") << "msgInfo"
        << "";
    QTest::newRow("flags report with empty fields clears both")
        << QByteArray("AT+MSG?\r\n") << QByteArray("\r\nAT+MSG=,\r\n\r\n+OK\r\n\r\n") << "msgInfo"
        << "0";
    QTest::newRow("mode report without its key")
        << QByteArray("AT+MODE?\r\n") << QByteArray("\r\nUSER\r\n\r\n+OK\r\n\r\n") << "mode"
        << "";
    QTest::newRow("unknown mode keeps the item")
        << QByteArray("AT+MODE?\r\n") << QByteArray("\r\nAT+MODE=FAST\r\n\r\n+OK\r\n\r\n") << "mode"
        << "";
    QTest::newRow("direction with text after the token")
        << QByteArray("AT+DIRECTION?") << QByteArray("\r\nAT+DIRECTION=UART-CAN now\r\n") << "direction"
        << "0";
    QTest::newRow("filter listing keeps only real entries")
        << QByteArray("AT+FILTER?")
        << QByteArray("\r\nAT+FILTER=XXXX,12\r\nAT+FILTER=NDTF,\r\nAT+FILTER=NDTF,7G\r\nAT+FILTER=NDTF,800\r\n"
                      "AT+FILTER=EDTF, 01A\r\n\r\n+OK\r\n\r\n")
        << "rows"
        << "EDTF,1A";
    QTest::newRow("a bare key is an empty list")
        << QByteArray("AT+FILTER?") << QByteArray("\r\nAT+FILTER=\r\n\r\n+OK\r\n\r\n") << "rows"
        << "none";
    QTest::newRow("filter listing of garbage keeps no rows")
        << QByteArray("AT+FILTER?") << QByteArray("RRRR garbage") << "rows"
        << "none";
}

void TstReadBack::malformedReports()
{
    QFETCH(QByteArray, query);
    QFETCH(QByteArray, report);
    QFETCH(QString, field);
    QFETCH(QString, value);
    m_sim->state().echo = false;
    TestSupport::answerFrame(m_sim, query, report);
    // Editor values that no report of this test would set.
    widget<QComboBox>(m_window, "baud_485")->setCurrentText("600");
    widget<QComboBox>(m_window, "parity_485")->setCurrentText("ODD");
    widget<QComboBox>(m_window, "Box_can_baud")->setCurrentText("6K");
    widget<QComboBox>(m_window, "Box_send_mode")->setCurrentIndex(0);
    m_window->box_send_mode();
    widget<QLineEdit>(m_window, "line_send_id")->setText("5");
    widget<QLineEdit>(m_window, "line_user_tail")->setText("EE");
    widget<QLineEdit>(m_window, "line_idLocation")->setText("7");
    widget<QCheckBox>(m_window, "meg_enabledcheckBox")->setChecked(true);
    widget<QComboBox>(m_window, "device_box")->setCurrentIndex(1);
    widget<QComboBox>(m_window, "Box_filtra_mode_2")->setCurrentIndex(2);
    const Editors before = editors();

    connectDevice();

    const Editors after = editors();
    const QMap<QString, QPair<QString, QString>> values{
        {"baud", {before.baud, after.baud}},
        {"parity", {before.parity, after.parity}},
        {"canRate", {before.canRate, after.canRate}},
        {"id", {before.id, after.id}},
        {"tail", {before.tail, after.tail}},
        {"position", {before.position, after.position}},
        {"msgInfo", {before.msgInfo ? "1" : "0", after.msgInfo ? "1" : "0"}},
        {"mode", {QString::number(before.mode), QString::number(after.mode)}},
        {"direction", {QString::number(before.direction), QString::number(after.direction)}},
        {"rows", {before.rows.join(' '), after.rows.isEmpty() ? "none" : after.rows.join(' ')}},
    };
    QVERIFY(values.contains(field));
    QCOMPARE(values[field].second, value.isEmpty() ? values[field].first : value);
    QCOMPARE(m_sim->frameData(), kReadBackFrames);
}

void TstReadBack::filterModeUserEnablesButtons()
{
    auto* const add = widget<QPushButton>(m_window, "add_filter_id_btn");
    auto* const mode = widget<QComboBox>(m_window, "Box_filtra_mode");
    TestSupport::chooseItem(mode, 0);
    m_sim->state().filterMode = "USER";
    connectDevice();
    QVERIFY(add->isEnabled());
    // A later read-back of OFF selects it but leaves the buttons as they were.
    m_sim->clearFrames();
    m_sim->state().filterMode = "OFF";
    connectDevice();
    QCOMPARE(mode->currentIndex(), 0);
    QVERIFY(add->isEnabled());
    emit mode->activated(0);
}

void TstReadBack::clicksDuringReadBackChangeNothing()
{
    m_sim->state().filters = makeFilters(2);
    m_sim->state().filterMode = "USER";
    // (The port button is not among them: it stops the read-back.)
    const char* const others[] = {"all_set",     "device_connet", "quit_btn",       "reset_btn",
                                  "restore_btn", "write_id_btn",  "clean_list_btn", "btn_serch"};
    int rounds = 0;
    // Click every other module operation while the read-back waits for the module.
    QObject context; // ends the connection before the locals it captures
    connect(m_sim, &sim::SimModule::frameReceived, &context, [&](const QByteArray& frame) {
        if (frame != "AT+MODE?\r\n" && frame != "AT+FILTER?")
            return;
        QTimer::singleShot(30, this, [&] {
            ++rounds;
            for (const char* name : others)
                TestSupport::clickAnyway(widget<QPushButton>(m_window, name));
        });
    });
    connectDevice();
    QCOMPARE(rounds, 2);
    QCOMPARE(m_sim->frameData(), kReadBackFrames);
    QVERIFY(SerialSocket::getInstance()->isOpen());
    QVERIFY(m_boxes->seen().isEmpty());
    QCOMPARE(editors().rows.size(), 2);
}

void TstReadBack::incompleteReadBackNamesWhatWasNotRead_data()
{
    QTest::addColumn<QString>("silentFor");
    QTest::addColumn<QByteArray>("query");
    QTest::addColumn<QByteArray>("report");
    QTest::addColumn<QStringList>("notRead");
    QTest::newRow("a CAN report without its ID leaves the frame type and the ID not read")
        << "" << QByteArray("AT+CAN?\r\n") << QByteArray("\r\nAT+CAN=500\r\n\r\n+OK\r\n\r\n")
        << QStringList{"can.frameType", "can.id"};
    QTest::newRow("a standard ID above 7FF is kept out with its frame type")
        << "" << QByteArray("AT+CAN?\r\n") << QByteArray("\r\nAT+CAN=250,800,NDTF\r\n\r\n+OK\r\n\r\n")
        << QStringList{"can.frameType", "can.id"};
    QTest::newRow("a silent CAN query leaves every CAN field not read")
        << "AT+CAN?" << QByteArray() << QByteArray() << QStringList{"can.rateKbit", "can.frameType", "can.id"};
    QTest::newRow("an unknown mode selects nothing and is not read")
        << "" << QByteArray("AT+MODE?\r\n") << QByteArray("\r\nAT+MODE=FAST\r\n\r\n+OK\r\n\r\n") << QStringList{"mode"};
}

void TstReadBack::incompleteReadBackNamesWhatWasNotRead()
{
    QFETCH(QString, silentFor);
    QFETCH(QByteArray, query);
    QFETCH(QByteArray, report);
    QFETCH(QStringList, notRead);
    if (!silentFor.isEmpty())
        m_sim->faults().silentFor = QStringList{silentFor};
    else
        TestSupport::answerFrame(m_sim, query, report);

    connectDevice();

    QCOMPARE(m_boxes->titles(), QStringList{tr47("提示")});
    QCOMPARE(m_boxes->seen().first().text.split('\n'), QStringList{tr47("这些字段没有从模块读取：")} + notRead);
    QCOMPARE(status(), QCoreApplication::translate("KX47main", "读取未完成：%n 个字段未读取", nullptr, notRead.size()));
    // The rows before left other marks: a read-back leaves only its own.
    QCOMPARE(marked(), notRead);
}

void TstReadBack::notReadMarkGoesWhenTheEditorIsFilledOrEdited()
{
    m_sim->faults().silentFor = QStringList{"AT+CAN?", "AT+MODE?", "AT+FILTER?"}; // the last waits out its budget
    TestSupport::fillTable(m_window, TestSupport::distinctRows(2));
    connectDevice();
    QCOMPARE(marked(), (QStringList{"can.rateKbit", "can.frameType", "can.id", "mode", "filter.list"}));

    // Edited by the user: typed, chosen, a row deleted.
    QTest::keyClicks(widget<QLineEdit>(m_window, "line_send_id"), "1");
    TestSupport::chooseItem(widget<QComboBox>(m_window, "device_box"), 2);
    TestSupport::chooseItem(widget<QComboBox>(m_window, "Box_filtra_mode"), 3);
    widget<QTableWidget>(m_window, "tableWidget")->setCurrentCell(0, 0);
    press("del_id_btn");
    QCOMPARE(marked(), (QStringList{"can.rateKbit", "can.frameType"}));
    // Filled again.
    QVERIFY(m_window->openConfig(TestSupport::exampleProfile()));
    QCOMPARE(marked(), QStringList());
}

VELKO_TEST_MAIN_PACED(TstReadBack, TestSupport::kQuickPace)
#include "tst_readback.moc"
