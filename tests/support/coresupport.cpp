#include "tests/support/coresupport.h"

#include "core/config/fileaccess.h"
#include "core/transport/pacing.h"

#include <QDir>
#include <QFile>
#include <QJsonDocument>
#include <QTemporaryDir>

namespace TestSupport {

void prepareEnvironment(bool enterBuildDir)
{
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    // Lives until the process ends; QTemporaryDir makes it private (0700).
    static QTemporaryDir runtime(QDir::tempPath() + QStringLiteral("/velkocan-test-XXXXXX"));
    qputenv("XDG_RUNTIME_DIR", runtime.path().toLocal8Bit());
    // The windows' remembered settings of this process alone, starting empty:
    // neither the user's nor another test's.
    static QTemporaryDir config(QDir::tempPath() + QStringLiteral("/velkocan-config-XXXXXX"));
    qputenv("XDG_CONFIG_HOME", config.path().toLocal8Bit());
#ifdef VELKO_BUILD_DIR
    if (enterBuildDir)
        QDir::setCurrent(QStringLiteral(VELKO_BUILD_DIR));
#endif
}

Pace::Pace(double scale) : m_before(Pacing::scale())
{
    set(scale);
}

Pace::~Pace()
{
    set(m_before);
}

void Pace::set(double scale)
{
    // A slow build (the sanitizers') runs the quick pace no quicker than
    // VELKO_TEST_MIN_PACE: its event loop may not keep up with 25 ms polls.
    bool given = false;
    const double floor = qEnvironmentVariable("VELKO_TEST_MIN_PACE").toDouble(&given);
    if (given && floor > scale)
        scale = qMin(floor, 1.0);
    Pacing::setScale(scale);
    // Read once by each velkocan-cli this process starts from now on.
    if (scale == 1.0)
        qunsetenv(Pacing::kScaleVariable);
    else
        qputenv(Pacing::kScaleVariable, QByteArray::number(scale));
}

QByteArray readWhole(const QString& path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

int paced(int ms)
{
    return Pacing::scaled(ms);
}

QString writeFile(const QString& path, const QByteArray& bytes)
{
    QString error;
    return Files::writeWhole(path, bytes, &error) ? path : QString();
}

QByteArray utf16(const QByteArray& text, bool littleEndian)
{
    const QString units = QString(QChar(0xFEFF)) + QString::fromUtf8(text);
    QByteArray bytes;
    for (const QChar unit : units) {
        const char low = char(unit.unicode() & 0xFF);
        const char high = char(unit.unicode() >> 8);
        bytes.append(littleEndian ? low : high).append(littleEndian ? high : low);
    }
    return bytes;
}

QString exampleProfile()
{
    return QStringLiteral(VELKO_SOURCE_DIR "/docs/example-profile.json");
}

QString testData(const QString& name)
{
    return QStringLiteral(VELKO_SOURCE_DIR "/tests/data/") + name;
}

ModuleConfig configWith(const QStringList& settings)
{
    ModuleConfig config;
    QString error;
    if (!Profile::read(Profile::write(ModuleConfig()), &config, &error, settings))
        QTest::qFail(qPrintable(QStringLiteral("settings refused: ") + error), __FILE__, __LINE__);
    return config;
}

QStringList distinctRows(int count)
{
    QStringList rows;
    for (int i = 0; i < count; ++i)
        rows << (i % 2 ? QStringLiteral("EDTF,%1").arg(0x1ABCDE00 + i, 0, 16).toUpper()
                       : QStringLiteral("NDTF,%1").arg(0x700 + i, 0, 16).toUpper());
    return rows;
}

const QList<QByteArray> kReadBackFrames{
    "+++",         "AT\r\n",        "AT+E=OFF\r\n",   "AT+UART?\r\n",  "AT+CAN?\r\n", "AT+MODE?\r\n",
    "AT+MSG?\r\n", "AT+UDMHT?\r\n", "AT+RANDOM?\r\n", "AT+DIRECTION?", "AT+CANLT?",   "AT+FILTER?"};

QList<QJsonObject> reportLines(const QString& path)
{
    QList<QJsonObject> lines;
    QFile file(path);
    if (file.open(QIODevice::ReadOnly)) {
        while (!file.atEnd())
            lines.append(QJsonDocument::fromJson(file.readLine()).object());
    }
    return lines;
}

} // namespace TestSupport
