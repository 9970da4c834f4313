// The window's File menu: what a read-back showed goes into a profile file,
// and a profile comes back into the editors, checked whole first.
#include "core/config/profile.h"
#include "sim/simmodule.h"
#include "tests/support/endtoendtest.h"
#include "tests/support/simsupport.h"
#include "window/kx47main.h"

#include <QAction>
#include <QComboBox>
#include <QDir>
#include <QFileDialog>
#include <QLineEdit>
#include <QPushButton>
#include <QTimer>

using TestSupport::Editors;
using TestSupport::tr47;
using TestSupport::widget;

class TstProfileFiles : public TestSupport::EndToEndTest
{
    Q_OBJECT

public:
    TstProfileFiles() : EndToEndTest(Port::Open) {}

private slots:
    void savesWhatWasReadBackAndOpensIt();
    void refusedProfileChangesNoEditor_data();
    void refusedProfileChangesNoEditor();
    void menuUsesTheFileDialogs();

private:
    // Triggers `action` and answers its file dialog with `path`; the folder the dialog started in.
    QString triggerWithFile(const char* action, const QString& path);

    QTemporaryDir m_dir;
};

QString TstProfileFiles::triggerWithFile(const char* action, const QString& path)
{
    QString folder;
    QTimer answer;
    connect(&answer, &QTimer::timeout, this, [&] {
        auto* const dialog = qobject_cast<QFileDialog*>(QApplication::activeModalWidget());
        if (!dialog || !dialog->isVisible())
            return;
        answer.stop();
        folder = dialog->directory().absolutePath();
        // As a user types it: the folder, then the name in the dialog's name field.
        const QFileInfo file(path);
        dialog->setDirectory(file.absolutePath());
        dialog->findChild<QLineEdit*>("fileNameEdit")->setText(file.fileName());
        static_cast<QDialog*>(dialog)->accept(); // QFileDialog hides it
    });
    answer.start(20);
    m_window->findChild<QAction*>(action)->trigger();
    return folder;
}

void TstProfileFiles::savesWhatWasReadBackAndOpensIt()
{
    ModuleConfig module;
    module.canRateKbit = 1000;
    module.canId = "1ABCDEF0";
    module.frameType = "EDTF";
    module.mode = "TPRTL";
    module.idLength = "4";
    module.idPosition = "7";
    module.direction = "CAN-UART";
    module.filterMode = "USER";
    module.filters = {{"NDTF", "12"}, {"EDTF", "1FFFFFFF"}};
    m_sim->state() = TestSupport::moduleHolding(module);
    widget<QPushButton>(m_window, "device_connet")->click();
    const Editors readBack = editors();

    const QString path = m_dir.filePath("module.json");
    QVERIFY(m_window->saveConfig(path));
    QFile file(path);
    QVERIFY(file.open(QIODevice::ReadOnly));
    QCOMPARE(QString::fromUtf8(file.readAll()), QString::fromUtf8(Profile::write(module)));

    // Other editors, then the profile again: the editors of the read-back, and nothing sent.
    widget<QComboBox>(m_window, "Box_can_baud")->setCurrentIndex(0);
    widget<QLineEdit>(m_window, "line_idLocation")->setText("1");
    widget<QComboBox>(m_window, "Box_filtra_mode")->setCurrentIndex(0);
    m_window->Box_filtra_mode();
    const int frames = m_sim->frames().size();
    QVERIFY(m_window->openConfig(path));
    QCOMPARE(editors(), readBack);
    QVERIFY(widget<QPushButton>(m_window, "add_filter_id_btn")->isEnabled());
    QCOMPARE(widget<QLineEdit>(m_window, "line_send_id")->maxLength(), 8);
    QCOMPARE(m_sim->frames().size(), frames);
    QVERIFY(m_boxes->seen().isEmpty());
}

void TstProfileFiles::refusedProfileChangesNoEditor_data()
{
    QTest::addColumn<QByteArray>("content");
    QTest::addColumn<QString>("message");
    ModuleConfig tooBig;
    tooBig.canId = "800";
    QByteArray wrongFormat = Profile::write(ModuleConfig());
    wrongFormat.replace("velkocan-config", "other-tool");
    QTest::newRow("not JSON") << QByteArray("{\"format\": ") << "not a JSON profile";
    QTest::newRow("another format") << wrongFormat << "format";
    QTest::newRow("a standard ID above 7FF")
        << Profile::write(tooBig) << "can.id: 800 is above 7FF for a standard frame";
}

void TstProfileFiles::refusedProfileChangesNoEditor()
{
    QFETCH(QByteArray, content);
    QFETCH(QString, message);
    widget<QLineEdit>(m_window, "line_user_head")->setText("3C");
    const Editors before = editors();

    const QString file = TestSupport::writeFile(m_dir.filePath("refused.json"), content);
    QVERIFY(!m_window->openConfig(file));

    // The box names the file, then what is wrong with it.
    QCOMPARE(m_boxes->titles(), QStringList{tr47("错误")});
    const QString told = m_boxes->seen().first().text;
    QVERIFY2(told.section(QLatin1Char('\n'), 0, 0).contains(QDir::toNativeSeparators(file)), qPrintable(told));
    QVERIFY2(told.section(QLatin1Char('\n'), 1).startsWith(message), qPrintable(told));
    QCOMPARE(editors(), before);
    QVERIFY(m_sim->frames().isEmpty());
}

void TstProfileFiles::menuUsesTheFileDialogs()
{
    widget<QPushButton>(m_window, "device_connet")->click(); // every editor filled
    QDir(m_dir.path()).mkpath("menu");
    const QString folder = m_dir.filePath("menu");
    triggerWithFile("action_save_config", folder + "/saved"); // the suffix is added
    QVERIFY(QFile::exists(folder + "/saved.json"));

    // The next dialog starts in the folder of the last one.
    QCOMPARE(triggerWithFile("action_open_config", folder + "/saved.json"), folder);
    QVERIFY(m_boxes->seen().isEmpty());

    m_window->show_log("a line of the log", 3);
    triggerWithFile("action_save_log", folder + "/log.txt");
    QFile log(folder + "/log.txt");
    QVERIFY(log.open(QIODevice::ReadOnly));
    const QString text = QString::fromUtf8(log.readAll());
    QVERIFY(text.contains("a line of the log"));
    QVERIFY(text.contains("::")); // its time stamp
}

VELKO_TEST_MAIN_PACED(TstProfileFiles, TestSupport::kQuickPace)
#include "tst_profilefiles.moc"
