// The window as it starts, its language switch, the clickable widgets and the
// exit confirmation.
#include "tests/support/windowsupport.h"
#include "window/ecombobox.h"
#include "window/eqlabel.h"
#include "window/kx47main.h"

#include <QAbstractItemView>
#include <QCheckBox>
#include <QComboBox>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QLineEdit>
#include <QMenuBar>
#include <QProcess>
#include <QPushButton>
#include <QScrollBar>
#include <QSerialPort>
#include <QSignalSpy>
#include <QStatusBar>
#include <QStyle>
#include <QTableWidget>
#include <QTemporaryDir>
#include <QTextBrowser>
#include <QTimer>
#include <QTranslator>
#include <QValidator>

using TestSupport::tr47;
using TestSupport::widget;

namespace {
QStringList items(QComboBox* box)
{
    QStringList list;
    for (int i = 0; i < box->count(); ++i)
        list.append(box->itemText(i));
    return list;
}

// A parent that records the presses that reach it.
class PressRecorder : public QWidget
{
public:
    int presses = 0;

protected:
    void mousePressEvent(QMouseEvent*) override { ++presses; }
};
} // namespace

class TstWindow : public QObject, protected TestSupport::WindowFixture
{
    Q_OBJECT

private slots:
    void initTestCase();
    void cleanupTestCase();

    void titleAndSize();
    void visibility_data();
    void visibility();
    void comboBoxes_data();
    void comboBoxes();
    void serialPanelItemData();
    void fieldStates();
    void validators_data();
    void validators();
    void idEditorFollowsFrameType();
    void modeRules_data();
    void modeRules();
    void filterButtonsFollowMode();
    void menuAndTable();
    void productionMenuOpensTheLinesWindow();
    void filterTableShowsWholeIds_data();
    void filterTableShowsWholeIds();
    void englishTextsFit();

    void languageSwitch();
    void languageKeepsIndexes();
    void languageUnexpectedText();
    void startWithoutCatalogues();
    void startElsewhere_data();
    void startElsewhere();
    void fixedItemsReadTheSameInBothLanguages();

    void comboBoxPresses_data();
    void comboBoxPresses();
    void labelPresses_data();
    void labelPresses();

    void closeCancelled();
    void closeConfirmed();
};

void TstWindow::initTestCase()
{
    createWindow();
}

void TstWindow::cleanupTestCase()
{
    destroyWindow();
}

void TstWindow::titleAndSize()
{
    QCOMPARE(m_window->windowTitle(), tr47("VelkoCAN模块设置软件 V1.5"));
    QVERIFY(m_window->windowTitle() != QStringLiteral("VelkoCAN模块设置软件 V1.5")); // English is installed
    QCOMPARE(m_window->size(), QSize(1080, 666));
    QVERIFY(m_window->autoFillBackground());
    QCOMPARE(widget<QPushButton>(m_window, "language")->text(), QStringLiteral("中文"));
}

void TstWindow::visibility_data()
{
    QTest::addColumn<QString>("name");
    QTest::addColumn<bool>("hidden");
    QTest::addColumn<bool>("enabled");

    for (const char* name : {"write_485_btn", "write_can_btn", "write_dev_mode_btn", "write_filter_mode_btn",
                             "in_config_btn", "elabel_net", "language"})
        QTest::newRow(name) << name << true << (qstrcmp(name, "elabel_net") == 0 || qstrcmp(name, "language") == 0);
    for (const char* name : {"all_set", "quit_btn", "reset_btn", "restore_btn", "device_connet"})
        QTest::newRow(name) << name << false << false;
    for (const char* name : {"add_filter_id_btn", "write_id_btn", "del_id_btn", "clean_list_btn"})
        QTest::newRow(name) << name << false << false;
    for (const char* name :
         {"my_serial_number_box", "my_serial_baud_box", "my_serial_stopbit_box", "my_serial_parity_box",
          "my_serial_open_btn", "btn_serch", "clean_log_btn", "id_enabled_checkBox", "meg_enabledcheckBox"})
        QTest::newRow(name) << name << false << true;
}

void TstWindow::visibility()
{
    QFETCH(QString, name);
    QFETCH(bool, hidden);
    QFETCH(bool, enabled);
    QWidget* const w = m_window->findChild<QWidget*>(name);
    QVERIFY(w);
    QCOMPARE(w->isHidden(), hidden);
    // The hidden write buttons are disabled in the form; the logo label and
    // the language button are enabled but hidden.
    QCOMPARE(w->isEnabled(), enabled);
}

void TstWindow::comboBoxes_data()
{
    QTest::addColumn<QString>("name");
    QTest::addColumn<QStringList>("texts");
    QTest::addColumn<int>("current");

    QTest::newRow("panel baud rates") << "my_serial_baud_box"
                                      << QStringList{"600",   "1200",  "2400",   "4800",   "9600",   "14400",  "19200",
                                                     "38400", "57600", "115200", "128000", "230400", "256000", "460800"}
                                      << 9;
    QTest::newRow("panel stop bits") << "my_serial_stopbit_box" << QStringList{"1", "2"} << 0;
    QTest::newRow("panel parity") << "my_serial_parity_box" << QStringList{"None", "Odd", "Even"} << 0;
    QTest::newRow("module baud rates") << "baud_485" << QStringList{"600",    "1200",   "2400",   "4800",  "9600",
                                                                    "14400",  "19200",  "38400",  "57600", "115200",
                                                                    "128000", "230400", "256000", "460800"}
                                       << 9;
    QTest::newRow("module stop bits") << "stopbit_485" << QStringList{"1", "2"} << 0;
    QTest::newRow("module parity") << "parity_485" << QStringList{"NONE", "ODD", "EVEN"} << 0;
    QTest::newRow("CAN rates") << "Box_can_baud"
                               << QStringList{"6K",   "10K",  "20K",  "50K",  "100K", "120K", "125K", "150K",
                                              "200K", "250K", "400K", "500K", "600K", "750K", "1000K"}
                               << 0;
    QTest::newRow("frame type") << "Box_send_mode" << QStringList{tr47("NDTF(标准帧)"), tr47("EDTF(扩展帧)")} << 0;
    QTest::newRow("direction") << "Box_filtra_mode_2" << QStringList{tr47("UART-CAN"), tr47("CAN-UART"), tr47("双向")}
                               << 0;
    QTest::newRow("mode") << "device_box"
                          << QStringList{tr47("TRANS(透明模式)"), tr47("TPRTL(透明带标识模式)"),
                                         tr47("PROTOL(协议模式)"), tr47("MODBUS(MODBUS模式)"), tr47("USER(自定义)")}
                          << 0;
    QTest::newRow("filter mode") << "Box_filtra_mode"
                                 << QStringList{tr47("OFF(接收所有数据)"), tr47("ETF(只接收扩展帧)"),
                                                tr47("NTF(只接收标准帧)"), tr47("USER(用户自定义)")}
                                 << 0;
}

void TstWindow::comboBoxes()
{
    QFETCH(QString, name);
    QFETCH(QStringList, texts);
    QFETCH(int, current);
    auto* const box = m_window->findChild<QComboBox*>(name);
    QVERIFY(box);
    QCOMPARE(items(box), texts);
    QCOMPARE(box->currentIndex(), current);
}

void TstWindow::serialPanelItemData()
{
    // The port gets the numbers of the item data, never the parsed texts.
    auto* const baud = widget<QComboBox>(m_window, "my_serial_baud_box");
    for (int i = 0; i < baud->count(); ++i)
        QCOMPARE(baud->itemData(i).toInt(), baud->itemText(i).toInt());
    auto* const parity = widget<QComboBox>(m_window, "my_serial_parity_box");
    QCOMPARE(parity->itemData(0).toInt(), int(QSerialPort::NoParity));
    QCOMPARE(parity->itemData(1).toInt(), int(QSerialPort::OddParity));
    QCOMPARE(parity->itemData(2).toInt(), int(QSerialPort::EvenParity));
    auto* const stop = widget<QComboBox>(m_window, "my_serial_stopbit_box");
    QCOMPARE(stop->itemData(0).toInt(), int(QSerialPort::OneStop));
    QCOMPARE(stop->itemData(1).toInt(), int(QSerialPort::TwoStop));
}

void TstWindow::fieldStates()
{
    auto* const open = widget<QPushButton>(m_window, "my_serial_open_btn");
    QCOMPARE(open->text(), tr47("打开串口"));
    QVERIFY(open->styleSheet().isEmpty());
    for (const char* name : {"line_user_head", "line_user_tail", "line_idlenggth", "line_idLocation"})
        QVERIFY2(widget<QLineEdit>(m_window, name)->isReadOnly(), name);
    QVERIFY(!widget<QCheckBox>(m_window, "id_enabled_checkBox")->isChecked());
    QVERIFY(!widget<QCheckBox>(m_window, "meg_enabledcheckBox")->isChecked());
    auto* const id = widget<QLineEdit>(m_window, "line_send_id");
    QVERIFY(id->text().isEmpty());
    QCOMPARE(id->maxLength(), 3);
    QCOMPARE(widget<QLineEdit>(m_window, "line_idlenggth")->placeholderText(), tr47("DEC EX:2"));
    QCOMPARE(widget<QLineEdit>(m_window, "line_idLocation")->placeholderText(), tr47("DEC EX:5"));
    QCOMPARE(widget<QLineEdit>(m_window, "line_user_head")->placeholderText(), tr47("HEX EX:A5"));
    QCOMPARE(widget<QLineEdit>(m_window, "line_user_tail")->placeholderText(), tr47("HEX EX:A5"));
    QCOMPARE(id->placeholderText(), tr47("HEX EX:A5"));
    QCOMPARE(widget<QTableWidget>(m_window, "tableWidget")->rowCount(), 0);
    QVERIFY(widget<QTextBrowser>(m_window, "logBrower")->toPlainText().isEmpty());
}

void TstWindow::validators_data()
{
    QTest::addColumn<QString>("field");
    QTest::addColumn<QString>("text");
    QTest::addColumn<bool>("admitted"); // acceptable or still able to become so

    QTest::newRow("length 4") << "line_idlenggth"
                              << "4" << true;
    QTest::newRow("length 5 refused") << "line_idlenggth"
                                      << "5" << false;
    QTest::newRow("length two digits refused") << "line_idlenggth"
                                               << "12" << false;
    QTest::newRow("position 7") << "line_idLocation"
                                << "7" << true;
    QTest::newRow("position 8 refused") << "line_idLocation"
                                        << "8" << false;
    QTest::newRow("head A5") << "line_user_head"
                             << "A5" << true;
    QTest::newRow("head lower case refused") << "line_user_head"
                                             << "a" << false;
    QTest::newRow("head three digits refused") << "line_user_head"
                                               << "A55" << false;
    QTest::newRow("tail 0F") << "line_user_tail"
                             << "0F" << true;
    QTest::newRow("tail G refused") << "line_user_tail"
                                    << "G" << false;
    QTest::newRow("standard ID 7FF") << "line_send_id"
                                     << "7FF" << true;
    QTest::newRow("standard ID FF") << "line_send_id"
                                    << "FF" << true;
    QTest::newRow("standard ID 800 refused") << "line_send_id"
                                             << "800" << false;
    QTest::newRow("standard ID lower case refused") << "line_send_id"
                                                    << "7ff" << false;
}

void TstWindow::validators()
{
    QFETCH(QString, field);
    QFETCH(QString, text);
    QFETCH(bool, admitted);
    auto* const edit = m_window->findChild<QLineEdit*>(field);
    QVERIFY(edit && edit->validator());
    QString input = text;
    int pos = 0;
    QCOMPARE(edit->validator()->validate(input, pos) != QValidator::Invalid, admitted);
}

void TstWindow::idEditorFollowsFrameType()
{
    auto* const frame = widget<QComboBox>(m_window, "Box_send_mode");
    auto* const id = widget<QLineEdit>(m_window, "line_send_id");
    const auto admits = [id](QString text) {
        int pos = 0;
        return id->validator()->validate(text, pos) == QValidator::Acceptable;
    };
    id->setText("7F");
    frame->setCurrentIndex(1);
    m_window->box_send_mode();
    QVERIFY(id->text().isEmpty());
    QCOMPARE(id->maxLength(), 8);
    QVERIFY(admits("1ABCDEF0"));
    QVERIFY(!admits("2ABCDEF0"));
    QVERIFY(admits("ABCDEF0"));
    frame->setCurrentIndex(0);
    m_window->box_send_mode();
    QCOMPARE(id->maxLength(), 3);
    QVERIFY(admits("7FF"));
    QVERIFY(!admits("800"));
    QVERIFY(!admits("7ff"));
    // Choosing the item already shown still empties the editor.
    id->setText("12");
    m_window->box_send_mode();
    QVERIFY(id->text().isEmpty());
}

void TstWindow::modeRules_data()
{
    QTest::addColumn<int>("item");
    QTest::addColumn<bool>("userEditable");
    QTest::addColumn<bool>("randomEditable");
    QTest::addColumn<bool>("flagsEnabled");
    QTest::newRow("TRANS") << 0 << false << false << true;
    QTest::newRow("TPRTL") << 1 << false << true << false;
    QTest::newRow("PROTOL") << 2 << false << false << false;
    QTest::newRow("MODBUS") << 3 << false << false << false;
    QTest::newRow("USER") << 4 << true << false << false;
}

void TstWindow::modeRules()
{
    QFETCH(int, item);
    QFETCH(bool, userEditable);
    QFETCH(bool, randomEditable);
    QFETCH(bool, flagsEnabled);
    auto* const mode = widget<QComboBox>(m_window, "device_box");
    TestSupport::chooseItem(mode, item);
    QCOMPARE(!widget<QLineEdit>(m_window, "line_user_head")->isReadOnly(), userEditable);
    QCOMPARE(!widget<QLineEdit>(m_window, "line_user_tail")->isReadOnly(), userEditable);
    QCOMPARE(!widget<QLineEdit>(m_window, "line_idlenggth")->isReadOnly(), randomEditable);
    QCOMPARE(!widget<QLineEdit>(m_window, "line_idLocation")->isReadOnly(), randomEditable);
    QCOMPARE(widget<QCheckBox>(m_window, "id_enabled_checkBox")->isEnabled(), flagsEnabled);
    QCOMPARE(widget<QCheckBox>(m_window, "meg_enabledcheckBox")->isEnabled(), flagsEnabled);
    TestSupport::chooseItem(mode, 0);
}

void TstWindow::filterButtonsFollowMode()
{
    auto* const mode = widget<QComboBox>(m_window, "Box_filtra_mode");
    const char* const buttons[] = {"add_filter_id_btn", "del_id_btn"};
    // Those that send something also need an open port, which this window has not.
    const char* const sending[] = {"write_id_btn", "clean_list_btn"};
    for (int item : {3, 1, 3, 0}) {
        TestSupport::chooseItem(mode, item);
        for (const char* name : buttons)
            QCOMPARE(widget<QPushButton>(m_window, name)->isEnabled(), item == 3);
        for (const char* name : sending)
            QVERIFY(!widget<QPushButton>(m_window, name)->isEnabled());
    }
}

void TstWindow::englishTextsFit()
{
    // The English catalogue is installed: each check box shows its whole text.
    for (const char* name : {"id_enabled_checkBox", "meg_enabledcheckBox"}) {
        auto* const box = widget<QCheckBox>(m_window, name);
        QVERIFY2(box->text().startsWith("Enable frame "), qPrintable(box->text()));
        QVERIFY2(box->sizeHint().width() <= box->maximumWidth(), name);
    }
    QCOMPARE(widget<QPushButton>(m_window, "quit_btn")->text(), QStringLiteral("Leave config mode"));
}

void TstWindow::menuAndTable()
{
    QVERIFY(m_window->findChild<QMenuBar*>("menubar"));
    QVERIFY(m_window->findChild<QStatusBar*>()); // shows a running operation
    QVERIFY(m_window->findChild<QAction*>("action"));
    auto* const table = widget<QTableWidget>(m_window, "tableWidget");
    QCOMPARE(table->columnCount(), 2);
    QCOMPARE(table->horizontalHeaderItem(0)->text(), tr47("类别"));
    QCOMPARE(table->horizontalHeaderItem(1)->text(), tr47("ID数据"));
    QCOMPARE(table->editTriggers(), QAbstractItemView::DoubleClicked);
    QCOMPARE(table->selectionMode(), QAbstractItemView::SingleSelection);
    auto* const log = widget<QTextBrowser>(m_window, "logBrower");
    QCOMPARE(log->font().family(), QStringLiteral("宋体"));
    QCOMPARE(log->font().pointSize(), 9);
}

void TstWindow::productionMenuOpensTheLinesWindow()
{
    auto* const action = m_window->findChild<QAction*>("action_station");
    QVERIFY(action);
    QCOMPARE(action->text(), tr47("生产线…"));
    action->trigger();
    action->trigger(); // shown again, not made twice
    QList<QWidget*> lines;
    for (QWidget* const w : QApplication::topLevelWidgets()) {
        if (w->objectName() == QLatin1String("StationWindow") && w->isVisible())
            lines.append(w);
    }
    QCOMPARE(lines.size(), 1);
    QVERIFY(lines.first()->findChild<QAction*>("action_open_setup"));
    QVERIFY(lines.first()->findChild<QAction*>("action_save_setup"));
    QVERIFY(lines.first()->close());
}

void TstWindow::filterTableShowsWholeIds_data()
{
    QTest::addColumn<int>("rows");
    QTest::newRow("one row shows an eight-digit ID whole") << 1;
    QTest::newRow("a full table shows it whole beside its scroll bar") << 14;
}

void TstWindow::filterTableShowsWholeIds()
{
    QFETCH(int, rows);
    auto* const table = widget<QTableWidget>(m_window, "tableWidget");
    QStringList entries;
    while (entries.size() < rows)
        entries << "EDTF,1ABCDEF0";
    TestSupport::fillTable(m_window, entries);
    QTRY_COMPARE(table->verticalScrollBar()->isVisible(), rows > 1);
    // The text is centred in its column: the whole column must be in view,
    // and hold the text (the items keep the table's font) and its margins.
    const int margin = table->style()->pixelMetric(QStyle::PM_FocusFrameHMargin, nullptr, table) + 1;
    const int width = table->columnWidth(1);
    QVERIFY(table->columnViewportPosition(1) + width <= table->viewport()->width());
    for (const char* id : {"1ABCDEF0", "1FFFFFFF"})
        QVERIFY2(width >= QFontMetrics(table->font()).horizontalAdvance(id) + 2 * margin, id);
    table->setRowCount(0);
}

void TstWindow::languageSwitch()
{
    auto* const language = widget<QPushButton>(m_window, "language");
    auto* const connect = widget<QPushButton>(m_window, "device_connet");
    const QString english = connect->text();
    QVERIFY(english != QStringLiteral("连接设备"));

    language->click(); // to Chinese
    QCOMPARE(language->text(), QStringLiteral("English"));
    QCOMPARE(connect->text(), QStringLiteral("连接设备"));
    QCOMPARE(m_window->windowTitle(), QStringLiteral("VelkoCAN模块设置软件 V1.5"));

    language->click(); // back to English
    QCOMPARE(language->text(), QStringLiteral("中文"));
    QCOMPARE(connect->text(), english);
    QCOMPARE(m_window->windowTitle(), tr47("VelkoCAN模块设置软件 V1.5"));
}

void TstWindow::languageKeepsIndexes()
{
    auto* const mode = widget<QComboBox>(m_window, "device_box");
    auto* const filter = widget<QComboBox>(m_window, "Box_filtra_mode");
    auto* const baud = widget<QComboBox>(m_window, "baud_485");
    mode->setCurrentIndex(4);
    filter->setCurrentIndex(2);
    baud->setCurrentIndex(3);
    widget<QPushButton>(m_window, "language")->click();
    QCOMPARE(mode->currentIndex(), 4);
    QCOMPARE(mode->currentText(), QStringLiteral("USER(自定义)"));
    QCOMPARE(filter->currentIndex(), 2);
    QCOMPARE(baud->currentIndex(), 3);
    widget<QPushButton>(m_window, "language")->click();
    QCOMPARE(mode->currentIndex(), 4);
    mode->setCurrentIndex(0);
    filter->setCurrentIndex(0);
    baud->setCurrentText("115200");
}

void TstWindow::languageUnexpectedText()
{
    auto* const language = widget<QPushButton>(m_window, "language");
    auto* const connect = widget<QPushButton>(m_window, "device_connet");
    const QString before = connect->text();
    language->setText(QStringLiteral("english"));
    m_window->setWindowTitle(QStringLiteral("x"));
    language->click();
    QCOMPARE(language->text(), QStringLiteral("english"));
    QCOMPARE(connect->text(), before);
    QCOMPARE(m_window->windowTitle(), tr47("VelkoCAN模块设置软件 V1.5"));
    language->setText(QStringLiteral("中文"));
}

void TstWindow::startWithoutCatalogues()
{
    // A fresh process in a folder without language/: every text stays Chinese.
    QTemporaryDir empty;
    QProcess child;
    child.setWorkingDirectory(empty.path());
    child.start(QCoreApplication::applicationFilePath(), {"--child-texts"});
    QVERIFY(child.waitForFinished(30000));
    const QString out = QString::fromUtf8(child.readAllStandardOutput());
    QVERIFY2(out.contains(QStringLiteral("title=VelkoCAN模块设置软件 V1.5\n")), qPrintable(out));
    QVERIFY2(out.contains(QStringLiteral("connect=连接设备\n")), qPrintable(out));
    QVERIFY2(out.contains(QStringLiteral("language=中文\n")), qPrintable(out));
}

void TstWindow::startElsewhere_data()
{
    // A tree made in a temporary folder: a copy of this program in
    // `programDir`, the catalogues in `cataloguesIn`/language/, and the Chinese
    // catalogue under the English name in `decoyIn`/language/ (a catalogue that
    // must win shows Chinese). The child works in the tree's folder "work".
    QTest::addColumn<QString>("programDir");
    QTest::addColumn<QString>("cataloguesIn");
    QTest::addColumn<QString>("decoyIn");
    QTest::addColumn<bool>("english");
    QTest::newRow("next to the program") << "app"
                                         << "app"
                                         << "" << true;
    QTest::newRow("installed tree") << "bin"
                                    << "share/velkocan-config"
                                    << "" << true;
    QTest::newRow("working directory first") << "bin"
                                             << "share/velkocan-config"
                                             << "work" << false;
    QTest::newRow("program folder before share") << "bin"
                                                 << "share/velkocan-config"
                                                 << "bin" << false;
}

void TstWindow::startElsewhere()
{
    QFETCH(QString, programDir);
    QFETCH(QString, cataloguesIn);
    QFETCH(QString, decoyIn);
    QFETCH(bool, english);
    QTemporaryDir tree;
    const QDir root(tree.path());
    for (const QString& dir : {programDir, cataloguesIn + "/language", QStringLiteral("work")})
        QVERIFY(root.mkpath(dir));
    const QString program =
        root.filePath(programDir + "/" + QFileInfo(QCoreApplication::applicationFilePath()).fileName());
    QVERIFY(QFile::copy(QCoreApplication::applicationFilePath(), program));
    for (const char* file : {"language/language_EN.qm", "language/language_CN.qm"})
        QVERIFY(QFile::copy(QString::fromLatin1(file), root.filePath(cataloguesIn + "/" + file)));
    if (!decoyIn.isEmpty()) {
        QVERIFY(root.mkpath(decoyIn + "/language"));
        QVERIFY(QFile::copy("language/language_CN.qm", root.filePath(decoyIn + "/language/language_EN.qm")));
    }

    QProcess child;
    child.setWorkingDirectory(root.filePath("work"));
    child.start(program, {"--child-texts"});
    QVERIFY(child.waitForFinished(30000));
    const QString out = QString::fromUtf8(child.readAllStandardOutput());
    const QString title = english ? tr47("VelkoCAN模块设置软件 V1.5") : QStringLiteral("VelkoCAN模块设置软件 V1.5");
    QVERIFY2(out.contains("title=" + title + "\n"), qPrintable(out));
    // Switched to Chinese and back: the switch finds the catalogues the same way.
    QVERIFY2(out.contains("again=" + title + "\n"), qPrintable(out));
}

void TstWindow::fixedItemsReadTheSameInBothLanguages()
{
    // These item texts go to the module or are matched against its reports.
    QStringList fixed{"1", "2", "NONE", "ODD", "EVEN"};
    for (const char* rate : {"600", "1200", "2400", "4800", "9600", "14400", "19200", "38400", "57600", "115200",
                             "128000", "230400", "256000", "460800"})
        fixed.append(rate);
    for (const char* rate : {"6K", "10K", "20K", "50K", "100K", "120K", "125K", "150K", "200K", "250K", "400K", "500K",
                             "600K", "750K", "1000K"})
        fixed.append(rate);
    for (const char* file : {"language/language_EN.qm", "language/language_CN.qm"}) {
        QTranslator catalogue;
        QVERIFY2(catalogue.load(QString::fromLatin1(file)), file);
        QVERIFY(!catalogue.isEmpty());
        for (const QString& text : fixed) {
            const QString translated = catalogue.translate("KX47main", text.toUtf8().constData());
            QVERIFY2(translated.isEmpty() || translated == text, qPrintable(QString(file) + ": " + text));
        }
    }
}

void TstWindow::comboBoxPresses_data()
{
    QTest::addColumn<int>("button");
    QTest::addColumn<int>("clicks");
    QTest::addColumn<bool>("popup");
    QTest::newRow("left") << int(Qt::LeftButton) << 1 << true;
    QTest::newRow("right") << int(Qt::RightButton) << 0 << false;
    QTest::newRow("middle") << int(Qt::MiddleButton) << 0 << false;
}

void TstWindow::comboBoxPresses()
{
    QFETCH(int, button);
    QFETCH(int, clicks);
    QFETCH(bool, popup);
    QWidget host;
    auto* const box = new EComboBox(&host);
    box->addItems({"a", "b"});
    host.show();
    QVERIFY(QTest::qWaitForWindowExposed(&host));
    QSignalSpy spy(box, &EComboBox::clicked);
    QTest::mousePress(box, Qt::MouseButton(button));
    QCOMPARE(spy.count(), clicks);
    QCOMPARE(box->view()->isVisible(), popup);
    box->hidePopup();
}

void TstWindow::labelPresses_data()
{
    QTest::addColumn<int>("button");
    QTest::addColumn<int>("clicks");
    QTest::newRow("left") << int(Qt::LeftButton) << 1;
    QTest::newRow("right") << int(Qt::RightButton) << 0;
    QTest::newRow("middle") << int(Qt::MiddleButton) << 0;
}

void TstWindow::labelPresses()
{
    QFETCH(int, button);
    QFETCH(int, clicks);
    PressRecorder host;
    auto* const label = new EQlabel(&host);
    label->setText("logo");
    host.resize(200, 100);
    host.show();
    QVERIFY(QTest::qWaitForWindowExposed(&host));
    QSignalSpy spy(label, &EQlabel::clicked);
    QTest::mousePress(label, Qt::MouseButton(button));
    QCOMPARE(spy.count(), clicks);
    QCOMPARE(host.presses, 0); // no press goes on to the parent
}

void TstWindow::closeCancelled()
{
    TestSupport::BoxAnswerer answerer;
    answerer.queue(tr47("取消"));
    auto* const mode = widget<QComboBox>(m_window, "device_box");
    mode->setCurrentIndex(2);
    QVERIFY(!m_window->close());
    QCOMPARE(answerer.seen().size(), 1);
    const TestSupport::BoxSeen box = answerer.seen().first();
    QCOMPARE(box.title, tr47("提示"));
    QCOMPARE(box.text, tr47("你确定退出该软件?"));
    QCOMPARE(box.buttons, (QStringList{tr47("确定"), tr47("取消")}));
    QVERIFY(m_window->isVisible());
    QCOMPARE(mode->currentIndex(), 2);
    mode->setCurrentIndex(0);
}

void TstWindow::closeConfirmed()
{
    // The confirmed close ends the process at once: run it in a child.
    QProcess child;
    child.start(QCoreApplication::applicationFilePath(), {"--child-close"});
    QVERIFY(child.waitForFinished(30000));
    QCOMPARE(child.exitStatus(), QProcess::NormalExit);
    QCOMPARE(child.exitCode(), 0);
    const QString out = QString::fromUtf8(child.readAllStandardOutput());
    QVERIFY2(out.contains("asked\n"), qPrintable(out));
    QVERIFY2(!out.contains("survived"), qPrintable(out));
}

namespace {
// Child modes, run by the tests above in a process of their own.
int childMain(int argc, char** argv, const QByteArray& mode)
{
    QApplication app(argc, argv);
    KX47main window;
    window.show();
    QTextStream out(stdout);
    if (mode == "--child-texts") {
        out << "title=" << window.windowTitle() << '\n'
            << "connect=" << window.findChild<QPushButton*>("device_connet")->text() << '\n'
            << "language=" << window.findChild<QPushButton*>("language")->text() << '\n';
        window.findChild<QPushButton*>("language")->click();
        window.findChild<QPushButton*>("language")->click();
        out << "again=" << window.windowTitle() << '\n';
        return 0;
    }
    TestSupport::BoxAnswerer answerer;
    answerer.queue(tr47("确定"));
    QTimer::singleShot(50, &window, [&] {
        out << "asked\n";
        out.flush();
        window.close();
        out << "survived\n";
        out.flush();
        app.exit(3);
    });
    return app.exec();
}
} // namespace

int main(int argc, char** argv)
{
    const bool child = argc > 1 && QByteArray(argv[1]).startsWith("--child-");
    // A child keeps the working directory it was started in.
    TestSupport::prepareEnvironment(!child);
    if (child)
        return childMain(argc, argv, argv[1]);
    QApplication app(argc, argv);
    TstWindow tc;
    return QTest::qExec(&tc, argc, argv);
}

#include "tst_window.moc"
