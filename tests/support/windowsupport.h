#pragma once

// What the window's tests share, on top of the core's: message boxes
// answered, the window's widgets and editors, the window and module fixtures.
#include "tests/support/coresupport.h"

#include <QApplication>
#include <QByteArray>
#include <QList>
#include <QObject>
#include <QString>
#include <QStringList>
#include <QtTest>
#include <functional>

class KX47main;
class QAbstractButton;
class QComboBox;
class QTimer;
class QWidget;

namespace sim {
class SimModule;
}

namespace TestSupport {

// One modal message box that was shown.
struct BoxSeen
{
    QString title;
    QString text;
    QStringList buttons;
    QString answered;
    int cursor = -1; // the application's override cursor shape while shown, -1 for none
};

// Answers modal message boxes from a timer, in the order they appear. Each
// box gets the next queued answer (a button text), or, when none is queued,
// its default button or else its first. Every box seen is recorded.
class BoxAnswerer : public QObject
{
    Q_OBJECT

public:
    explicit BoxAnswerer(QObject* parent = nullptr);
    void queue(const QString& buttonText) { m_answers.append(buttonText); }
    const QList<BoxSeen>& seen() const { return m_seen; }
    QStringList titles() const;
    void clear() { m_seen.clear(); }

private:
    void poll();

    QTimer* m_timer = nullptr;
    QStringList m_answers;
    QList<BoxSeen> m_seen;
};

// The widget `name` of the window, of type T; fails the test when missing.
template <typename T> T* widget(QWidget* window, const char* name)
{
    T* const w = window->findChild<T*>(QString::fromLatin1(name));
    if (!w)
        qWarning("widget %s not found", name);
    return w;
}

// Selects `port` in the window's port list (refreshing it) and presses the
// open button; true when the port ends open.
bool openPortFromPanel(KX47main* window, const QString& port);
// Closes the process-wide port if it is open and gives the panel its closed look.
void closePort(KX47main* window);

// The plain text of the log view.
QString logText(KX47main* window);

// The module editors of the window and its filter table, as one comparable
// value. Combo boxes with fixed items are kept as item indexes.
struct Editors
{
    QString baud = "115200", stop = "1", parity = "NONE";
    QString canRate = "250K";
    int frameType = 0;
    QString id;
    int direction = 2;
    int mode = 0;
    bool msgId = false, msgInfo = false;
    QString head = "7E", tail = "E7", length = "3", position = "7";
    int filterMode = 0;
    QStringList rows; // "TYPE,ID"

    bool operator==(const Editors& o) const;
    QString toString() const;
};
Editors readEditors(KX47main* window);
// Sets the editors of the window to `editors` as a user does, combo boxes
// chosen (so that the window's rules for the frame type, the mode and the
// filter mode follow) and the filter table filled with `editors.rows`.
void applyEditors(KX47main* window, const Editors& editors);
// Clicks `button` even when it is disabled, as a click that slips through to
// a busy window; the button is left enabled or disabled as it was.
void clickAnyway(QAbstractButton* button);
// Selects `item` as a user's choice does: activated() is emitted.
void chooseItem(QComboBox* box, int item);
// The filter table's rows as "TYPE,ID", "<none>" for a missing cell.
QStringList tableRows(KX47main* window);
// Replaces the rows of the filter table by `rows` ("TYPE,ID").
void fillTable(KX47main* window, const QStringList& rows);
// A text of the window as the installed catalogue shows it.
QString tr47(const char* source);

// One window for the whole test executable.
class WindowFixture
{
protected:
    // For initTestCase(): the window made, shown and exposed.
    void createWindow();
    // For cleanupTestCase().
    void destroyWindow();

    KX47main* m_window = nullptr;
};

// End-to-end fixture: one window for the whole test executable, and for each
// test function a box answerer and a freshly plugged simulated module.
class ModuleFixture : public WindowFixture
{
protected:
    // For init(): a new module and answerer owned by `owner`, the log emptied;
    // with `open`, the module's port opened from the panel.
    void plugModule(QObject* owner, bool open);
    // For cleanup(): the port closed, the module and the answerer gone.
    void unplugModule();

    sim::SimModule* m_sim = nullptr;
    BoxAnswerer* m_boxes = nullptr;
};

} // namespace TestSupport

Q_DECLARE_METATYPE(TestSupport::Editors)

namespace QTest {
template <> inline char* toString(const TestSupport::Editors& e)
{
    return qstrdup(e.toString().toUtf8().constData());
}
} // namespace QTest

// A QtTest main of a GUI application that prepares the environment first,
// with the module's pauses and polls at `pace` (as VELKO_CORE_TEST_MAIN_PACED).
#define VELKO_TEST_MAIN_PACED(TestObject, pace)                                                                        \
    int main(int argc, char** argv)                                                                                    \
    {                                                                                                                  \
        TestSupport::prepareEnvironment();                                                                             \
        TestSupport::Pace::set(pace);                                                                                  \
        QApplication app(argc, argv);                                                                                  \
        TestObject tc;                                                                                                 \
        QTEST_SET_MAIN_SOURCE_PATH                                                                                     \
        return QTest::qExec(&tc, argc, argv);                                                                          \
    }
#define VELKO_TEST_MAIN(TestObject) VELKO_TEST_MAIN_PACED(TestObject, 1.0)
