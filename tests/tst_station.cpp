// The station's files and names without a module: the setup file's rules and
// its round trip, what a report holds, and ports named by an adapter's serial
// number.
#include "core/station/reportfile.h"
#include "core/station/stationsetup.h"
#include "core/transport/adapters.h"

#include <QDir>
#include <QTemporaryDir>
#include <QtTest>

class TstStation : public QObject
{
    Q_OBJECT

private slots:
    void cleanup() { Adapters::setSource({}); }

    void setupRefusals_data();
    void setupRefusals();
    void setupRoundTrip();
    void reportContents_data();
    void reportContents();
    void usbNames_data();
    void usbNames();
};

void TstStation::setupRefusals_data()
{
    QTest::addColumn<QByteArray>("keys"); // after format and version
    QTest::addColumn<QString>("problem"); // empty: read
    QTest::newRow("keys left out take their defaults") << QByteArray() << QString();
    QTest::newRow("a parity it does not know")
        << QByteArray(R"("parity": "mark")") << R"(parity: "mark"; allowed none, odd, even)";
    QTest::newRow("stop bits of 3") << QByteArray(R"("stopBits": 3)")
                                    << "stopBits: 3; allowed a whole number from 1 to 2";
    QTest::newRow("a count of none") << QByteArray(R"("count": 0)")
                                     << "count: 0; allowed a whole number from 1 to 1000000000, or null";
    QTest::newRow("fast as a word") << QByteArray(R"("fast": "yes")") << "fast: a text; allowed true or false";
    QTest::newRow("a port that is a number")
        << QByteArray(R"("ports": [3])") << "ports: a number in the list; allowed a port name, a path or usb:SERIAL";
    QTest::newRow("a removal it does not know")
        << QByteArray(R"("removal": "later")") << R"(removal: "later"; allowed probe, port, operator)";
}

void TstStation::setupRefusals()
{
    QFETCH(QByteArray, keys);
    QFETCH(QString, problem);
    QByteArray text = R"({"format": "velkocan-station", "version": 1)";
    if (!keys.isEmpty())
        text += ", " + keys;
    text += "}";
    StationSetup setup;
    QStringList problems;
    const bool read = Setup::read(text, QStringLiteral("/line"), &setup, &problems);
    QCOMPARE(read, problem.isEmpty());
    if (read) {
        QCOMPARE(setup, StationSetup());
        return;
    }
    QCOMPARE(problems, QStringList{problem});
}

void TstStation::setupRoundTrip()
{
    QTemporaryDir dir;
    StationSetup setup;
    setup.profile = dir.filePath(QStringLiteral("line.json"));
    setup.values = QStringLiteral("sqlite:") + dir.filePath(QStringLiteral("ledger.db"));
    setup.report = QStringLiteral("/var/lib/line/line.jsonl"); // outside the folder: kept whole
    setup.ports = QStringList{QStringLiteral("usb:A10K3X2B"), QStringLiteral("COM4")};
    setup.parity = QSerialPort::EvenParity;
    setup.count = 40;
    setup.stationName = QStringLiteral("line 2, station 3");
    const QByteArray text = Setup::write(setup, dir.path());
    QVERIFY2(text.contains("    \"profile\": \"line.json\",\n"), text.constData());
    QVERIFY2(text.contains("    \"values\": \"sqlite:ledger.db\",\n"), text.constData());
    QVERIFY2(text.contains("    \"report\": \"/var/lib/line/line.jsonl\",\n"), text.constData());
    QCOMPARE(text.count('\n'), 15); // a key a line, the braces on lines of their own

    StationSetup back;
    QStringList problems;
    QStringList warnings;
    QVERIFY(Setup::read(text, dir.path(), &back, &problems, &warnings));
    QCOMPARE(back, setup);
    QVERIFY(warnings.isEmpty());
    QCOMPARE(Setup::write(back, dir.path()), text); // the same setup, the same bytes
}

void TstStation::reportContents_data()
{
    QTest::addColumn<QByteArray>("bytes");
    QTest::addColumn<int>("records");
    QTest::addColumn<QStringList>("problems");
    QTest::addColumn<int>("cutLine");
    QTest::newRow("records with blank lines between them")
        << QByteArray("{\"row\":1}\n\n{\"row\":2}\n") << 2 << QStringList() << 0;
    QTest::newRow("a last line cut in the middle of a record")
        << QByteArray("{\"row\":1}\n{\"row\":2,\"va") << 1 << QStringList{"line 2: not a record (unterminated string)"}
        << 2;
    QTest::newRow("a last record without its line end is still one")
        << QByteArray("{\"row\":1}\n{\"row\":2}") << 2 << QStringList() << 2;
    QTest::newRow("lines that are JSON but no object, or no JSON")
        << QByteArray("[1]\ngarbage\n{\"row\":3}\n") << 1
        << QStringList{"line 1: not a record (not an object)", "line 2: not a record (illegal value)"} << 0;
    QTest::newRow("a record glued to a NUL byte") << QByteArray("{\"row\":1}\0\n", 11) << 0
                                                  << QStringList{"line 1: not a record (garbage at the end of the "
                                                                 "document)"}
                                                  << 0;
}

void TstStation::reportContents()
{
    QFETCH(QByteArray, bytes);
    QFETCH(int, records);
    QFETCH(QStringList, problems);
    QFETCH(int, cutLine);
    const ReportContents contents = ReportContents::parse(bytes);
    QCOMPARE(contents.records.size(), records);
    QCOMPARE(contents.problems, problems);
    QCOMPARE(contents.cutLine, cutLine);
}

void TstStation::usbNames_data()
{
    QTest::addColumn<QStringList>("serials"); // of ttyUSB0, ttyUSB1, ...
    QTest::addColumn<QString>("port");
    QTest::addColumn<QString>("device");
    QTest::addColumn<QString>("why");
    QTest::newRow("a port name stays as it is") << QStringList{"A1"} << "/dev/ttyS0"
                                                << "/dev/ttyS0" << QString();
    QTest::newRow("the one adapter with the serial number") << QStringList{"A1", "B2"} << "usb:B2"
                                                            << "/dev/ttyUSB1" << QString();
    QTest::newRow("serial numbers compare exactly")
        << QStringList{"a1"} << "usb:A1" << QString() << "no adapter with serial number A1";
    QTest::newRow("two adapters with it")
        << QStringList{"A1", "A1"} << "usb:A1" << QString() << "two adapters with serial number A1: ttyUSB0, ttyUSB1";
    QTest::newRow("adapters that report none are named")
        << QStringList{"", "B2", ""} << "usb:A1" << QString()
        << "no adapter with serial number A1 (ttyUSB0, ttyUSB2 report none)";
}

void TstStation::usbNames()
{
    QFETCH(QStringList, serials);
    QFETCH(QString, port);
    QFETCH(QString, device);
    QFETCH(QString, why);
    QList<Adapters::Adapter> adapters;
    for (int i = 0; i < serials.size(); ++i)
        adapters.append({QStringLiteral("ttyUSB%1").arg(i), QStringLiteral("/dev/ttyUSB%1").arg(i),
                         QStringLiteral("USB serial"), QStringLiteral("FTDI"), serials.at(i)});
    Adapters::setSource([adapters] { return adapters; });
    QString told;
    QCOMPARE(Adapters::resolve(port, &told), device);
    QCOMPARE(told, why);
}

QTEST_GUILESS_MAIN(TstStation)
#include "tst_station.moc"
