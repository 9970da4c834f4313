// The production line end to end: the reply-paced exchange gives what the
// default pace gives, verify compares without writing, and the station takes
// module after module on its ports. velkocan-cli runs as a child process
// against simulated modules of this process.
#include "core/profile.h"
#include "sim/simmodule.h"
#include "tests/support/cliprocess.h"
#include "tests/support/simsupport.h"
#include "tests/support/testsupport.h"

#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QSignalSpy>

#include <csignal>

using TestSupport::CliRun;

namespace {

// The report's lines as objects.
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

} // namespace

class TstProduction : public QObject
{
    Q_OBJECT

private slots:
    void cleanup();

    void fastPaceGivesWhatTheDefaultGives_data();
    void fastPaceGivesWhatTheDefaultGives();
    void verifyComparesWithoutWriting();
    void writeVerifyRestartIsOneSession_data();
    void writeVerifyRestartIsOneSession();
    void stationGivesEachModuleItsRow();
    void stationTakesTheModuleThatReplacesTheLast();
    void stationResumesFromItsReport();
    void stationGivesAFailedModulesRowToTheNext();
    void stationRefusesBadValues_data();
    void stationRefusesBadValues();
    void stationReadsValuesAsSpreadsheetsSaveThem_data();
    void stationReadsValuesAsSpreadsheetsSaveThem();
    void stationWarnsOfARepeatedCanId_data();
    void stationWarnsOfARepeatedCanId();
    void stationWithoutAnyPort();
    void stationSignalledDuringAModule();

private:
    sim::SimModule* plug(int replugMs = -1);
    CliRun cli(const QStringList& arguments, int signalAfterMs = 0);
    QString file(const QString& name, const QByteArray& text);

    QList<sim::SimModule*> m_sims;
    QTemporaryDir m_dir;
};

void TstProduction::cleanup()
{
    qDeleteAll(m_sims);
    m_sims.clear();
}

sim::SimModule* TstProduction::plug(int replugMs)
{
    auto* const module = new sim::SimModule;
    module->faults().replugAfterRestartMs = replugMs;
    if (!module->start())
        qWarning("the simulated module did not start");
    m_sims.append(module);
    return module;
}

CliRun TstProduction::cli(const QStringList& arguments, int signalAfterMs)
{
    TestSupport::CliOptions options;
    options.timeoutMs = 120000;
    if (signalAfterMs > 0) {
        options.started = [signalAfterMs](QProcess& process) {
            if (!process.waitForStarted())
                return;
            QTest::qWait(signalAfterMs);
            ::kill(pid_t(process.processId()), SIGTERM);
        };
    }
    return TestSupport::runCli(arguments, options);
}

QString TstProduction::file(const QString& name, const QByteArray& text)
{
    return TestSupport::writeFile(m_dir.filePath(name), text);
}

void TstProduction::fastPaceGivesWhatTheDefaultGives_data()
{
    QTest::addColumn<QStringList>("faults");
    QTest::newRow("the module's own replies") << QStringList();
    QTest::newRow("blanks and padded IDs") << QStringList{"--blanks", "--padded-ids"};
    QTest::newRow("a pause inside a report line") << QStringList{"--pause-in-line", "150"};
    QTest::newRow("the rest of a reply after its echo") << QStringList{"--slow-ok", "200"};
    QTest::newRow("an empty list as a bare key") << QStringList{"--bare-empty-list"};
}

void TstProduction::fastPaceGivesWhatTheDefaultGives()
{
    QFETCH(QStringList, faults);
    sim::SimModule* const module = plug();
    TestSupport::setFaults(module, faults);
    module->state().canId = "1A5";
    module->state().filterMode = "USER";
    module->state().filters = {{"EDTF", "1ABCDEF0"}, {"NDTF", "12"}};
    const QString profile = TestSupport::exampleProfile();

    QList<QList<QByteArray>> frames;
    QList<QByteArray> outputs;
    for (const char* command : {"read", "write"}) {
        for (const bool fast : {false, true}) {
            QStringList arguments{command, module->portName(), "--quiet"};
            if (QLatin1String(command) == QLatin1String("write"))
                arguments.insert(2, profile);
            if (fast)
                arguments << "--fast";
            module->clearFrames();
            const CliRun r = cli(arguments);
            QCOMPARE(r.status, 0);
            frames.append(module->frameData());
            outputs.append(r.out);
        }
    }
    QCOMPARE(frames.at(1), frames.at(0));
    QCOMPARE(outputs.at(1), outputs.at(0)); // the same profile
    QCOMPARE(frames.at(3), frames.at(2));
}

void TstProduction::verifyComparesWithoutWriting()
{
    sim::SimModule* const module = plug();
    ModuleConfig profile;
    profile.canId = "1A0";
    profile.mode = "USER";
    profile.head = "C3";
    const QString path = file("profile.json", Profile::write(profile));

    const CliRun differs = cli({"verify", module->portName(), path, "--fast", "--json"});
    QCOMPARE(differs.status, 3);
    QVERIFY2(differs.err.contains("can.id: profile has 1A0, module has 0"), differs.err.constData());
    QVERIFY2(differs.err.contains("custom.head: profile has C3, module has A5"), differs.err.constData());
    QVERIFY(!differs.err.contains("wrote"));
    QCOMPARE(differs.json().value("differences").toArray().size(), 3); // and mode
    // Only the escape, the echo-off and the queries went out.
    for (const QByteArray& frame : module->frameData())
        QVERIFY2(frame == "+++" || frame == "AT\r\n" || frame == "AT+E=OFF\r\n" || !frame.contains('='), frame);

    sim::ModuleState& s = module->state();
    s.canId = "1A0";
    s.mode = "USER";
    s.userHead = "C3";
    const CliRun matches = cli({"verify", module->portName(), path, "--set", "direction=BOTHWAY"});
    QCOMPARE(matches.status, 0);
}

void TstProduction::writeVerifyRestartIsOneSession_data()
{
    QTest::addColumn<bool>("restartAnswered");
    QTest::addColumn<int>("status");
    QTest::newRow("written, verified and restarted") << true << 0;
    // The verify's result stays beside the restart's failure.
    QTest::newRow("the restart unanswered") << false << 1;
}

void TstProduction::writeVerifyRestartIsOneSession()
{
    QFETCH(bool, restartAnswered);
    QFETCH(int, status);
    sim::SimModule* const module = plug();
    const int frameCount = 12 + 9 + 1; // connect and write, the queries, the restart
    if (!restartAnswered)
        TestSupport::setFaults(module, {"--silent-after", QString::number(frameCount)});
    const QString profile = TestSupport::exampleProfile();

    const CliRun r = cli({"write", module->portName(), profile, "--verify", "--restart", "--fast", "--json"});

    QCOMPARE(r.status, status);
    const QList<QByteArray> frames = module->frameData();
    QCOMPARE(frames.count("+++"), 1);
    QCOMPARE(frames.last(), QByteArray("AT+REBT\r\n"));
    QCOMPARE(frames.size(), frameCount);
    const QJsonObject json = r.json();
    QCOMPARE(json.value("status").toInt(-1), status);
    QVERIFY(json.value("verified").toBool());
    QCOMPARE(json.value("differences").toArray(), QJsonArray());
    QCOMPARE(json.value("restarted").toBool(), restartAnswered);
    if (restartAnswered)
        QVERIFY(!module->state().configMode);
}

void TstProduction::stationGivesEachModuleItsRow()
{
    sim::SimModule* const first = plug();
    sim::SimModule* const second = plug();
    const QString values = file("values.csv", "can.id,filter.list\n101,\"NDTF:1,NDTF:2\"\n102,EDTF:1ABC\n");
    const QString report = m_dir.filePath("station.jsonl");
    QFile example(TestSupport::exampleProfile());
    QVERIFY(example.open(QIODevice::ReadOnly));
    const QString profile = file("typo.json", example.readAll().replace("\"rateKbit\"", "\"rate\": 1, \"rateKbit\""));

    const CliRun r = cli({"station", profile, "--port", first->portName(), "--port", second->portName(), "--values",
                          values, "--report", report, "--fast", "--json"});

    QCOMPARE(r.status, 0);
    // Each module got a row of its own, and holds what that row says.
    const QList<QJsonObject> lines = reportLines(report);
    QCOMPARE(lines.size(), 2);
    QList<int> rows;
    for (const QJsonObject& line : lines) {
        QCOMPARE(line.value("result").toString(), QStringLiteral("ok"));
        QVERIFY(line.value("time").toString().contains(
            QRegularExpression(QStringLiteral("T\\d\\d:\\d\\d:\\d\\d\\.\\d{3}[+-]\\d\\d:\\d\\d$"))));
        QVERIFY(line.value("durationMs").toInt() > 0);
        rows << line.value("row").toInt();
        const sim::SimModule* const module = line.value("port").toString() == first->portName() ? first : second;
        QCOMPARE(module->state().canId, line.value("values").toObject().value("can.id").toString());
        QCOMPARE(module->state().filters.size(), line.value("row").toInt() == 1 ? 2 : 1);
    }
    std::sort(rows.begin(), rows.end());
    QCOMPARE(rows, (QList<int>{1, 2}));
    QCOMPARE(r.out.count('\n'), 2); // a report object per module on standard output
    QCOMPARE(r.err.count("profile: unknown key \"can.rate\" ignored"), 1);
}

void TstProduction::stationTakesTheModuleThatReplacesTheLast()
{
    // Taken out after its restart, the module is followed by another on the same port.
    sim::SimModule* const slot = plug(50);
    QSignalSpy replugged(slot, &sim::SimModule::replugged);
    const QString values = file("values.csv", "can.id\n1A1\n1A2\n");
    const QString report = m_dir.filePath("replaced.jsonl");
    const QString profile = TestSupport::exampleProfile();

    const CliRun r = cli({"station", profile, "--port", slot->portName(), "--values", values, "--report", report,
                          "--restart", "--fast", "--quiet"});

    QCOMPARE(r.status, 0);
    QVERIFY(replugged.count() >= 1);
    const QList<QJsonObject> lines = reportLines(report);
    QCOMPARE(lines.size(), 2);
    QCOMPARE(lines.at(0).value("row").toInt(), 1);
    QCOMPARE(lines.at(1).value("row").toInt(), 2);
    QCOMPARE(lines.at(1).value("values").toObject().value("can.id").toString(), QStringLiteral("1A2"));
    QVERIFY2(r.out.isEmpty(), r.out.constData()); // --quiet: only failures
    QVERIFY2(r.err.contains("station: 2 ok, 0 failed, 0 rows left"), r.err.constData());
}

void TstProduction::stationResumesFromItsReport()
{
    sim::SimModule* const module = plug();
    const QString values = file("values.csv", "can.id\n101\n102\n");
    const QString report = file("resumed.jsonl", QByteArray(R"({"row":1,"values":{"can.id":"101"},"result":"ok"})"
                                                            "\n"
                                                            R"({"row":2,"values":{"can.id":"102"},"result":"refused"})"
                                                            "\n"));
    const QString profile = TestSupport::exampleProfile();

    const CliRun r = cli({"station", profile, "--port", module->portName(), "--values", values, "--report", report,
                          "--fast", "--quiet"});

    QCOMPARE(r.status, 0);
    const QList<QJsonObject> lines = reportLines(report);
    QCOMPARE(lines.size(), 3); // appended
    QCOMPARE(lines.last().value("row").toInt(), 2);
    QCOMPARE(module->state().canId, QStringLiteral("102"));
    QCOMPARE(module->frameData().count("+++"), 1);
}

void TstProduction::stationGivesAFailedModulesRowToTheNext()
{
    // The first module refuses its CAN settings and is taken out; the next one gets its row again.
    sim::SimModule* const slot = plug(50);
    slot->faults().refuse = QStringList{"CAN"};
    bool refused = false;
    connect(slot, &sim::SimModule::frameReceived, this, [&](const QByteArray& frame) {
        refused = refused || frame.startsWith("AT+CAN=");
        if (refused && frame == "+++" && !slot->faults().refuse.isEmpty()) {
            slot->faults().refuse.clear();
            slot->replug();
        }
    });
    const QString values = file("values.csv", "can.id\n1A1\n1A2\n");
    const QString report = m_dir.filePath("again.jsonl");

    const CliRun r = cli({"station", TestSupport::exampleProfile(), "--port", slot->portName(), "--values", values,
                          "--report", report, "--restart", "--fast", "--quiet"});

    QCOMPARE(r.status, 3); // a module was not ok
    const QList<QJsonObject> lines = reportLines(report);
    QCOMPARE(lines.size(), 3);
    QCOMPARE(lines.at(0).value("result").toString(), QStringLiteral("refused"));
    QCOMPARE(lines.at(0).value("refused").toArray().first().toObject().value("command").toString(),
             QStringLiteral("AT+CAN=250,1A1,NDTF"));
    QCOMPARE(lines.at(1).value("row").toInt(), 1);
    QCOMPARE(lines.at(1).value("result").toString(), QStringLiteral("ok"));
    QCOMPARE(lines.at(2).value("row").toInt(), 2);
    QVERIFY2(r.out.contains("refused"), r.out.constData()); // --quiet still shows failures
    QVERIFY2(r.err.contains("station: 2 ok, 1 failed, 0 rows left"), r.err.constData());
}

void TstProduction::stationRefusesBadValues_data()
{
    QTest::addColumn<QByteArray>("csv");
    QTest::addColumn<QString>("message");
    QTest::newRow("a column that is no profile path")
        << QByteArray("can.idd\n101\n") << "\"can.idd\" is not a profile path";
    QTest::newRow("a row short of a value") << QByteArray("can.id,mode\n101\n") << "line 2: 1 values for 2 columns";
    QTest::newRow("a quote left open") << QByteArray("can.id\n\"101\n") << "line 2: a quote is not closed";
    QTest::newRow("a value the profile's rules refuse, with its line")
        << QByteArray("can.id\n101\n\n800\n") << "line 4: can.id: 800 is above 7FF";
    QTest::newRow("a NUL byte, where the reader once cut the file") << QByteArray("can.id\n101\n1") + '\0' + "02\n103\n"
                                                                    << "values.csv line 3: a NUL byte";
    QTest::newRow("an escape character") << QByteArray("can.id\n101\n\x1B"
                                                       "102\n")
                                         << "values.csv line 3: a control character (0x1B)";
    QTest::newRow("a byte that is not UTF-8") << QByteArray("can.id\n101\n10\xE9\n") << "values.csv line 3: not UTF-8";
    QTest::newRow("a quote followed by more of its field")
        << QByteArray("can.id\n\"10\"1\n") << "values.csv: line 2: text after the closing quote of a field";
    QTest::newRow("text after a quote that closes on a later line, with that line")
        << QByteArray("can.id;filter.list\n101;\"NDTF:1,\nNDTF:2\" x\n")
        << "values.csv: line 3: text after the closing quote";
    QTest::newRow("UTF-16 by its little-endian mark")
        << TestSupport::utf16("can.id\n101\n", true) << "values.csv: UTF-16 text; save it as UTF-8";
    QTest::newRow("UTF-16 by its big-endian mark")
        << TestSupport::utf16("can.id\n101\n", false) << "values.csv: UTF-16 text; save it as UTF-8";
}

void TstProduction::stationRefusesBadValues()
{
    QFETCH(QByteArray, csv);
    QFETCH(QString, message);
    sim::SimModule* const module = plug();
    const CliRun r = cli(
        {"station", TestSupport::exampleProfile(), "--port", module->portName(), "--values", file("values.csv", csv)});
    QCOMPARE(r.status, 2);
    QVERIFY2(r.err.contains(message.toUtf8()), r.err.constData());
    QVERIFY(module->frames().isEmpty()); // nothing sent
}

void TstProduction::stationReadsValuesAsSpreadsheetsSaveThem_data()
{
    QTest::addColumn<QByteArray>("csv");
    QTest::addColumn<QStringList>("filters"); // the list the module holds afterwards, "TYPE:ID" each
    QTest::newRow("commas, a quoted list with commas")
        << QByteArray("can.id,filter.list\n1A1,\"NDTF:7FF,EDTF:1ABC\"\n") << QStringList{"NDTF:7FF", "EDTF:1ABC"};
    QTest::newRow("semicolons in the header, a quoted list with commas")
        << QByteArray("can.id;filter.list\n1A1;\"NDTF:7FF,EDTF:1ABC\"\n") << QStringList{"NDTF:7FF", "EDTF:1ABC"};
    QTest::newRow("semicolons, a UTF-8 byte-order mark and CRLF line ends")
        << QByteArray("\xEF\xBB\xBF"
                      "can.id;filter.list\r\n1A1;NDTF:7FE\r\n")
        << QStringList{"NDTF:7FE"};
}

void TstProduction::stationReadsValuesAsSpreadsheetsSaveThem()
{
    QFETCH(QByteArray, csv);
    QFETCH(QStringList, filters);
    sim::SimModule* const module = plug();

    const CliRun r = cli({"station", TestSupport::exampleProfile(), "--port", module->portName(), "--values",
                          file("values.csv", csv), "--fast", "--quiet"});

    QCOMPARE(r.status, 0);
    QCOMPARE(module->state().canId, QStringLiteral("1A1"));
    QStringList held;
    for (const sim::Filter& f : module->state().filters)
        held << f.type + QLatin1Char(':') + f.id;
    QCOMPARE(held, filters);
}

void TstProduction::stationWarnsOfARepeatedCanId_data()
{
    QTest::addColumn<QByteArray>("lastRow");
    QTest::addColumn<int>("status");
    QTest::newRow("in a run that goes on") << QByteArray("103") << 0;
    QTest::newRow("before anything is sent, in a run refused for another row") << QByteArray("800") << 2;
}

void TstProduction::stationWarnsOfARepeatedCanId()
{
    QFETCH(QByteArray, lastRow);
    QFETCH(int, status);
    sim::SimModule* const module = plug();
    const QString values = file("values.csv", "can.id\n7ff\n01A\n7FF\n1a\n" + lastRow + "\n");

    const CliRun r = cli({"station", TestSupport::exampleProfile(), "--port", module->portName(), "--values", values,
                          "--count", "1", "--fast", "--quiet"});

    QVERIFY2(r.status == status, r.err.constData());
    // By value: leading zeros and the case of hex digits make no other ID.
    QVERIFY2(r.err.contains(values.toUtf8() + " line 4: can.id 7FF repeats line 2"), r.err.constData());
    QVERIFY2(r.err.contains(values.toUtf8() + " line 5: can.id 1a repeats line 3"), r.err.constData());
    QCOMPARE(r.err.count("repeats"), 2);
    QCOMPARE(module->frames().isEmpty(), status != 0);
}

void TstProduction::stationWithoutAnyPort()
{
    const QString profile = TestSupport::exampleProfile();
    const CliRun r = cli({"station", profile, "--port", m_dir.filePath("no-such-port")}, 1200);
    QCOMPARE(r.status, 4);
    QVERIFY2(r.err.contains("station: 0 ok, 0 failed"), r.err.constData());
}

void TstProduction::stationSignalledDuringAModule()
{
    // SIGTERM while the module takes its mode: the exchange ends, nothing
    // more goes out, the module is recorded as cut short, its row is not done.
    sim::SimModule* const module = plug();
    const QString values = file("values.csv", "can.id\n1A1\n1A2\n");
    const QString report = m_dir.filePath("signalled.jsonl");
    TestSupport::CliOptions options;
    options.timeoutMs = 120000;
    options.started = [&](QProcess& process) {
        connect(module, &sim::SimModule::frameReceived, &process, [&process](const QByteArray& frame) {
            if (frame.startsWith("AT+MODE="))
                ::kill(pid_t(process.processId()), SIGTERM);
        });
    };

    const CliRun r = TestSupport::runCli({"station", TestSupport::exampleProfile(), "--port", module->portName(),
                                          "--values", values, "--report", report, "--fast", "--quiet"},
                                         options);

    QCOMPARE(r.status, 128 + SIGTERM);
    QCOMPARE(module->frameData().last(), QByteArray("AT+MODE=TRANS\r\n"));
    const QList<QJsonObject> lines = reportLines(report);
    QCOMPARE(lines.size(), 1);
    QCOMPARE(lines.first().value("result").toString(), QStringLiteral("cut-short"));
    QCOMPARE(lines.first().value("status").toInt(), 128 + SIGTERM);
    QVERIFY2(r.err.contains("station: 0 ok, 1 failed, 2 rows left (stopped by SIGTERM)"), r.err.constData());
}

VELKO_TEST_MAIN(TstProduction)
#include "tst_production.moc"
