#pragma once

// What every test program shares, the window's or not: the process's
// environment, files, the example profile, the read-back's frames,
// configurations in QtTest's tables and messages. Links the core alone: no
// Gui or Widgets library is loaded by a test built on it.
#include "core/config/moduleconfig.h"
#include "core/config/profile.h"

#include <QByteArray>
#include <QCoreApplication>
#include <QJsonObject>
#include <QList>
#include <QString>
#include <QStringList>
#include <QtTest>

namespace TestSupport {

// Prepares the process for a test: the offscreen platform unless another is
// asked for, a private runtime folder (so that simulated modules of tests
// running side by side do not see each other), a private, empty folder for
// the windows' remembered settings, and the catalogues of the build
// directory as the working directory.
void prepareEnvironment(bool enterBuildDir = true);

// The pace of the module's pauses and polls (Pacing) for a test that does not
// check the pauses themselves: a quarter of their real length. The same
// commands go out in the same order, and a budget allows as many polls.
constexpr double kQuickPace = 0.25;

// The latency limit of a traffic check that is not about latency: on a loaded
// machine (the tests side by side, under the sanitizers) the latency is the
// machine's more than the module's.
constexpr int kLoadedLatencyMs = 500;

// Sets the pace of this process and of every program it starts (the
// VELKOCAN_TEST_PACE hook of a velkocan-cli) while it lives, and the pace
// before it afterwards. A test that checks the real pauses holds a Pace(1).
class Pace
{
public:
    explicit Pace(double scale);
    ~Pace();
    Pace(const Pace&) = delete;
    Pace& operator=(const Pace&) = delete;

    // The pace of this process and its programs from now on.
    static void set(double scale);

private:
    double m_before;
};

// `ms` at the pace in effect: the length of a simulated module's timing fault
// that keeps its relation to the tool's polls and pauses.
int paced(int ms);

// Writes `bytes` to the file `path`; the path, or an empty text when the file
// could not be written whole.
QString writeFile(const QString& path, const QByteArray& bytes);
// The whole file; empty when it cannot be read.
QByteArray readWhole(const QString& path);

// The UTF-8 `text` as UTF-16 behind its byte-order mark, as some editors save it.
QByteArray utf16(const QByteArray& text, bool littleEndian);

// docs/example-profile.json of the source tree.
QString exampleProfile();
// A file of tests/data in the source tree.
QString testData(const QString& name);

// The factory configuration with `settings` ("serial.baud=9600",
// "filter.list=NDTF:7FF,EDTF:1ABCDEF0", ...) as velkocan-cli's --set takes
// them; a setting the profile's checks refuse fails the test.
ModuleConfig configWith(const QStringList& settings);

// `count` filter entries ("TYPE,ID") that differ from each other, standard
// and extended by turns.
QStringList distinctRows(int count);

// The lines of a JSON Lines file (a station's report) as objects; a line
// that is no object gives an empty one, so that counts still match.
QList<QJsonObject> reportLines(const QString& path);

// What a read-back sends, in order.
extern const QList<QByteArray> kReadBackFrames;

} // namespace TestSupport

Q_DECLARE_METATYPE(ModuleConfig)

namespace QTest {
// A configuration in a failure message: its profile text.
template <> inline char* toString(const ModuleConfig& config)
{
    return qstrdup(Profile::write(config).constData());
}
} // namespace QTest

// A QtTest main without a GUI application that prepares the environment
// first, with the module's pauses and polls at `pace` (Pace; kQuickPace for a
// test whose checks of the real pauses each hold a Pace(1)).
#define VELKO_CORE_TEST_MAIN_PACED(TestObject, pace)                                                                   \
    int main(int argc, char** argv)                                                                                    \
    {                                                                                                                  \
        TestSupport::prepareEnvironment();                                                                             \
        TestSupport::Pace::set(pace);                                                                                  \
        QCoreApplication app(argc, argv);                                                                              \
        TestObject tc;                                                                                                 \
        QTEST_SET_MAIN_SOURCE_PATH                                                                                     \
        return QTest::qExec(&tc, argc, argv);                                                                          \
    }
#define VELKO_CORE_TEST_MAIN(TestObject) VELKO_CORE_TEST_MAIN_PACED(TestObject, 1.0)
