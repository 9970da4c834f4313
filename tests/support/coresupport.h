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
// running side by side do not see each other), and the catalogues of the
// build directory as the working directory.
void prepareEnvironment(bool enterBuildDir = true);

// Writes `bytes` to the file `path`; the path, or an empty text when the file
// could not be written whole.
QString writeFile(const QString& path, const QByteArray& bytes);

// The UTF-8 `text` as UTF-16 behind its byte-order mark, as some editors save it.
QByteArray utf16(const QByteArray& text, bool littleEndian);

// docs/example-profile.json of the source tree.
QString exampleProfile();

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

// A QtTest main without a GUI application that prepares the environment first.
#define VELKO_CORE_TEST_MAIN(TestObject)                                                                               \
    int main(int argc, char** argv)                                                                                    \
    {                                                                                                                  \
        TestSupport::prepareEnvironment();                                                                             \
        QCoreApplication app(argc, argv);                                                                              \
        TestObject tc;                                                                                                 \
        QTEST_SET_MAIN_SOURCE_PATH                                                                                     \
        return QTest::qExec(&tc, argc, argv);                                                                          \
    }
