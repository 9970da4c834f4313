// The station's files and names without a module: the setup file's rules and
// its round trip, the records and what a report holds, and ports named by an
// adapter's serial number.
#include "core/station/reportfile.h"
#include "core/station/station.h"
#include "core/station/stationsetup.h"
#include "core/station/valuestable.h"
#include "core/transport/adapters.h"
#include "tests/support/coresupport.h"

#include <QDir>
#include <QTemporaryDir>
#include <QtTest>

Q_DECLARE_METATYPE(ModuleRecord::Verdict)

class TstStation : public QObject
{
    Q_OBJECT

private slots:
    void cleanup() { Adapters::setSource({}); }

    void setupRefusals_data();
    void setupRefusals();
    void setupRoundTrip();
    void setupDefaults();
    void recordsOfAnEarlierReport_data();
    void recordsOfAnEarlierReport();
    void earlierReportResumes();
    void reportContents_data();
    void reportContents();
    void valueRowsKeepEveryField_data();
    void valueRowsKeepEveryField();
    void aBigOrderIsCheckedWhole_data();
    void aBigOrderIsCheckedWhole();
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
    QTest::newRow("a latency limit of none")
        << QByteArray(R"("maxLatency": 0)") << "maxLatency: 0; allowed a whole number from 1 to 60000";
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
    setup.can = QStringLiteral("virtualcan:tcp://127.0.0.1:35468/can0");
    setup.maxLatency = 400;
    const QByteArray text = Setup::write(setup, dir.path());
    QVERIFY2(text.contains("    \"profile\": \"line.json\",\n"), text.constData());
    QVERIFY2(text.contains("    \"values\": \"sqlite:ledger.db\",\n"), text.constData());
    QVERIFY2(text.contains("    \"report\": \"/var/lib/line/line.jsonl\",\n"), text.constData());
    QCOMPARE(text.count('\n'), 17); // a key a line, the braces on lines of their own

    StationSetup back;
    QStringList problems;
    QStringList warnings;
    QVERIFY(Setup::read(text, dir.path(), &back, &problems, &warnings));
    QCOMPARE(back, setup);
    QVERIFY(warnings.isEmpty());
    QCOMPARE(Setup::write(back, dir.path()), text); // the same setup, the same bytes
}

void TstStation::setupDefaults()
{
    // One removal for a setup that names none, whoever runs it, also when it restarts the modules.
    StationSetup setup;
    setup.restart = true;
    QCOMPARE(setup.removal(), Station::Removal::Probe);
    QCOMPARE(Setup::settings(setup).removal, Station::Removal::Probe);
    setup.removalGiven = Station::Removal::Operator;
    QCOMPARE(Setup::settings(setup).removal, Station::Removal::Operator);
    // The limits are the file's, the options' and the window's alike.
    setup.ports = QStringList{QStringLiteral("COM4")};
    setup.profile = QStringLiteral("line.json");
    setup.count = Setup::kMaxCount;
    setup.baud = Setup::kMaxBaud;
    QVERIFY(Setup::check(setup).isEmpty());
    setup.count = Setup::kMaxCount + 1;
    setup.baud = 0;
    const QVector<Operation::Problem> problems = Setup::check(setup);
    QCOMPARE(problems.size(), 2);
    QCOMPARE(problems.at(0).text, QStringLiteral("baud: 0; allowed 1 to 4000000"));
    QCOMPARE(problems.at(1).text, QStringLiteral("count: 1000000001; allowed 1 to 1000000000"));
}

void TstStation::recordsOfAnEarlierReport_data()
{
    // Lines as this tool has always written them, one per kind of record.
    QTest::addColumn<int>("line");
    QTest::addColumn<ModuleRecord::Verdict>("verdict");
    QTest::addColumn<int>("row");
    QTest::addColumn<qint64>("duration");
    QTest::newRow("a module that passed") << 1 << ModuleRecord::Verdict::Ok << 2 << qint64(488);
    QTest::newRow("differences, without values") << 2 << ModuleRecord::Verdict::Differences << 0 << qint64(1204);
    QTest::newRow("a command refused") << 3 << ModuleRecord::Verdict::Refused << 1 << qint64(950);
    QTest::newRow("cut short on an adapter named by its serial number")
        << 4 << ModuleRecord::Verdict::CutShort << 5 << qint64(3001);
    QTest::newRow("a newer tool's verdict and keys are kept as they are")
        << 5 << ModuleRecord::Verdict::Unknown << 0 << qint64(10);
}

void TstStation::recordsOfAnEarlierReport()
{
    QFETCH(int, line);
    QFETCH(ModuleRecord::Verdict, verdict);
    QFETCH(int, row);
    QFETCH(qint64, duration);
    QFile file(TestSupport::testData(QStringLiteral("earlier-report.jsonl")));
    QVERIFY(file.open(QIODevice::ReadOnly));
    const QList<QByteArray> lines = file.readAll().split('\n');
    const QByteArray text = lines.at(line - 1) + '\n';
    const ReportContents contents = ReportContents::parse(text);
    QCOMPARE(contents.records.size(), 1);
    const ModuleRecord& r = contents.records.first().record;
    QCOMPARE(r.verdict, verdict);
    QCOMPARE(r.row, row);
    QCOMPARE(r.durationMs, duration);
    QCOMPARE(r.timeOfDay(), QTime(10, 15, 3));
    // Written again, it is the same line: the report's format is kept exactly.
    QCOMPARE(r.toLine(), text);
    if (verdict == ModuleRecord::Verdict::CutShort) {
        QVERIFY(r.stoppedAfter.has_value());
        QCOMPARE(r.stoppedAfter->step, 4);
        QCOMPARE(r.notWritten.value_or(QStringList()), QStringList{"can"});
        QCOMPARE(r.newLine, QStringLiteral("9600 baud, parity none"));
    }
}

void TstStation::earlierReportResumes()
{
    // A report of an earlier version: the row it holds as ok is skipped, the
    // one that failed is given again, and module numbers go on after its last.
    QTemporaryDir dir;
    const QString values = dir.filePath(QStringLiteral("ids.csv"));
    const QString report = dir.filePath(QStringLiteral("line.jsonl"));
    QFile csv(values);
    QVERIFY(csv.open(QIODevice::WriteOnly));
    csv.write("can.id\n1A1\n1A2\n");
    csv.close();
    QVERIFY(QFile::copy(TestSupport::testData(QStringLiteral("resumed-report.jsonl")), report));
    StationSetup setup;
    setup.profile = TestSupport::exampleProfile();
    setup.values = values;
    setup.report = report;
    setup.ports = QStringList{QStringLiteral("COM3")};
    Station::Run run;
    run.check = true;
    run.withoutPorts = true;
    Station station(setup, run);
    Operation::Result refused;
    QVERIFY2(station.prepare(&refused), qPrintable(refused.error));
    QCOMPARE(station.rowsDone(), 1);
    QCOMPARE(station.rowsLeft().size(), 1);
    QCOMPARE(station.rowsLeft().first().row, 2);
    QCOMPARE(station.lastModule(), 7);
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
    // Read a piece at a time, as a report of any length is: a line split
    // between pieces is the same line.
    for (const int piece : {1, 3, 10}) {
        int taken = 0;
        QStringList told;
        ReportReader reader([&taken](int, const ModuleRecord&) { ++taken; },
                            [&told](const QString& problem) { told.append(problem); });
        for (int at = 0; at < bytes.size(); at += piece)
            reader.feed(bytes.constData() + at, int(qMin(piece, int(bytes.size()) - at)));
        reader.finish();
        QCOMPARE(taken, records);
        QCOMPARE(told, problems);
        QCOMPARE(reader.cutLine(), cutLine);
    }
}

void TstStation::valueRowsKeepEveryField_data()
{
    QTest::addColumn<QStringList>("fields");
    QTest::newRow("empty fields") << QStringList{QString(), QStringLiteral("1A1"), QString()};
    QTest::newRow("letters beyond ASCII and a quote") << QStringList{QStringLiteral("Ü€\"x"), QStringLiteral(";")};
    QTest::newRow("a field longer than one length byte holds")
        << QStringList{QString(200, QLatin1Char('7')), QString(20000, QLatin1Char('E'))};
}

void TstStation::valueRowsKeepEveryField()
{
    QFETCH(QStringList, fields);
    ValueRows rows;
    rows.append({QStringLiteral("before")}, 2);
    rows.append(fields, 5);
    rows.append({QStringLiteral("after"), QString()}, 9);
    QCOMPARE(rows.size(), 3);
    QCOMPARE(rows.fields(1), fields);
    QCOMPARE(rows.line(1), 5);
    QCOMPARE(rows.fields(2), (QStringList{QStringLiteral("after"), QString()}));
}

void TstStation::aBigOrderIsCheckedWhole_data()
{
    // 100,000 rows, each with an extended CAN ID of its own; the row at
    // line `at` (from 2) is `row` instead.
    QTest::addColumn<int>("at");
    QTest::addColumn<QByteArray>("row");
    QTest::addColumn<QString>("refused"); // empty: prepared
    QTest::addColumn<QString>("note");    // a note it gives
    QTest::newRow("a bad CAN ID near the end")
        << 99999 << QByteArray("12G45,NDTF:1") << "line 99999: can.id: 12G45 is not hexadecimal" << QString();
    QTest::newRow("an ID too long near the end") << 99999 << QByteArray("123456789,NDTF:1")
                                                 << "line 99999: can.id: 123456789 has more than 8 digits" << QString();
    QTest::newRow("a filter that no standard frame has")
        << 100001 << QByteArray("1ABCDEF,NDTF:800") << "line 100001: filter.list[0].id: 800 is above 7FF" << QString();
    QTest::newRow("the first row's ID again, spelled otherwise")
        << 99998 << QByteArray("0010000,NDTF:1") << QString() << "line 99998: can.id 0010000 repeats line 2";
}

void TstStation::aBigOrderIsCheckedWhole()
{
    QFETCH(int, at);
    QFETCH(QByteArray, row);
    QFETCH(QString, refused);
    QFETCH(QString, note);
    QTemporaryDir dir;
    QFile example(TestSupport::exampleProfile());
    QVERIFY(example.open(QIODevice::ReadOnly));
    const QByteArray extended =
        example.readAll().replace(R"("frameType": "NDTF", "id": "7FF")", R"("frameType": "EDTF", "id": "7FF")");
    QByteArray csv = "can.id,filter.list\n";
    for (int line = 2; line <= 100001; ++line)
        csv += line == at ? row + '\n' : QByteArray::number(0x10000 + line - 2, 16).toUpper() + ",NDTF:1\n";
    // An earlier run's report: the first 50,000 rows done, one more with other values.
    QByteArray report;
    for (int r = 1; r <= 50001; ++r) {
        ModuleRecord record;
        record.module = r;
        record.row = r;
        record.verdict = ModuleRecord::Verdict::Ok;
        record.values = {
            {QStringLiteral("can.id"), QString::number(0x10000 + r - 1, 16).toUpper()},
            {QStringLiteral("filter.list"), r > 50000 ? QStringLiteral("NDTF:2") : QStringLiteral("NDTF:1")}};
        report += record.toLine();
    }
    StationSetup setup;
    setup.profile = TestSupport::writeFile(dir.filePath(QStringLiteral("extended.json")), extended);
    setup.values = TestSupport::writeFile(dir.filePath(QStringLiteral("ids.csv")), csv);
    setup.report = TestSupport::writeFile(dir.filePath(QStringLiteral("line.jsonl")), report);
    Station::Run run;
    run.check = true;
    run.withoutPorts = true;
    Station station(setup, run);
    QStringList notes;
    connect(&station, &Station::note, this, [&notes](const QString& line) { notes.append(line); });
    Operation::Result result;
    const bool prepared = station.prepare(&result);

    const QString problems = (QStringList{result.error} + result.details).join(QLatin1Char('\n'));
    QVERIFY2(prepared == refused.isEmpty(), qPrintable(problems));
    if (!prepared) {
        QVERIFY2(problems.contains(refused), qPrintable(problems));
        return;
    }
    if (!note.isEmpty())
        QVERIFY2(notes.join(QLatin1Char('\n')).contains(note), qPrintable(notes.join(QLatin1Char('\n'))));
    QCOMPARE(station.rowsDone(), 50000);
    QCOMPARE(station.rowsLeftCount(), 50000);
    QCOMPARE(station.lastModule(), 50001);
    int first = 0;
    station.eachRowLeft([&first](const Station::RowLeft& left) {
        first = left.row;
        return false;
    });
    QCOMPARE(first, 50001);
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
