// The production line end to end: the reply-paced exchange gives what the
// default pace gives, verify compares without writing, and the station takes
// module after module on its ports. velkocan-cli runs as a child process
// against simulated modules of this process.
#include "core/config/profile.h"
#include "core/station/modulerecord.h"
#include "sim/simmodule.h"
#include "tests/support/cliprocess.h"
#include "tests/support/coresupport.h"
#include "tests/support/simsupport.h"

#include <QElapsedTimer>
#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QSignalSpy>

#include <csignal>

using TestSupport::CliRun;

namespace {

// Whether every line of the report ends in a line end and, but for the
// lines named in `damaged` (1-based), is a record.
bool wholeRecords(const QString& path, const QList<int>& damaged = {})
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return false;
    const QByteArray bytes = file.readAll();
    if (!bytes.endsWith('\n'))
        return false;
    const QList<QByteArray> lines = bytes.left(bytes.size() - 1).split('\n');
    for (int i = 0; i < lines.size(); ++i) {
        const bool record = QJsonDocument::fromJson(lines.at(i)).isObject();
        if (record == damaged.contains(i + 1))
            return false;
    }
    return true;
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
    void stationStoppedWhileItWaits_data();
    void stationStoppedWhileItWaits();
    void stationReadsValuesAsSpreadsheetsSaveThem_data();
    void stationReadsValuesAsSpreadsheetsSaveThem();
    void stationSignalledDuringAModule();
    void stationWaitsForTheOperatorsWord_data();
    void stationWaitsForTheOperatorsWord();
    void reportFaults_data();
    void reportFaults();
    void secondStationOnOneReportIsRefused();
    void portsThatCannotBeAModulesAreRefused_data();
    void portsThatCannotBeAModulesAreRefused();
    void aSlowModuleIsNamedWhileTheSlotWaits();
    void closedOutputEndsAsASignal_data();
    void closedOutputEndsAsASignal();
    void checkReadsWhatARunWouldAndSendsNothing();
    void newSerialLineCheckedAfterTheRestart_data();
    void newSerialLineCheckedAfterTheRestart();
    void stationRunsASetup_data();
    void stationRunsASetup();

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
    const QList<QJsonObject> lines = TestSupport::reportLines(report);
    QCOMPARE(lines.size(), 2);
    QList<int> rows;
    for (const QJsonObject& line : lines) {
        QCOMPARE(line.value("result").toString(), QStringLiteral("ok"));
        QVERIFY(line.value("time").toString().contains(
            QRegularExpression(QStringLiteral("T\\d\\d:\\d\\d:\\d\\d\\.\\d{3}[+-]\\d\\d:\\d\\d$"))));
        QVERIFY(ModuleRecord::fromJson(line).durationMs > 0);
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
    const QList<QJsonObject> lines = TestSupport::reportLines(report);
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
    const QString report =
        file("resumed.jsonl", QByteArray(R"({"row":1,"module":7,"values":{"can.id":"101"},"result":"ok"})"
                                         "\n"
                                         R"({"row":2,"module":6,"values":{"can.id":"102"},"result":"refused"})"
                                         "\n"));
    const QString profile = TestSupport::exampleProfile();

    const CliRun r = cli({"station", profile, "--port", module->portName(), "--values", values, "--report", report,
                          "--fast", "--quiet"});

    QCOMPARE(r.status, 0);
    const QList<QJsonObject> lines = TestSupport::reportLines(report);
    QCOMPARE(lines.size(), 3); // appended
    QCOMPARE(lines.last().value("row").toInt(), 2);
    QCOMPARE(lines.last().value("module").toInt(), 8); // after the report's highest
    QCOMPARE(module->state().canId, QStringLiteral("102"));
    QCOMPARE(module->frameData().count("+++"), 1);
}

void TstProduction::stationGivesAFailedModulesRowToTheNext()
{
    // The first module refuses its CAN settings and is taken out; the next one gets its row again.
    sim::SimModule* const slot = plug(50);
    slot->faults().refuse = QStringList{"CAN"};
    bool refused = false;
    QObject context;
    connect(slot, &sim::SimModule::frameReceived, &context, [&](const QByteArray& frame) {
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
    const QList<QJsonObject> lines = TestSupport::reportLines(report);
    QCOMPARE(lines.size(), 3);
    QCOMPARE(lines.at(0).value("result").toString(), QStringLiteral("refused"));
    QCOMPARE(lines.at(0).value("refused").toArray().first().toObject().value("command").toString(),
             QStringLiteral("AT+CAN=250,1A1,NDTF"));
    QCOMPARE(lines.at(1).value("row").toInt(), 1);
    QCOMPARE(lines.at(1).value("result").toString(), QStringLiteral("ok"));
    QCOMPARE(lines.at(2).value("row").toInt(), 2);
    // --quiet still shows failures, each with the command refused and the module's reply.
    QVERIFY2(r.out.contains("(the module refused what was sent; the module refused AT+CAN=250,1A1,NDTF (ERROR);"),
             r.out.constData());
    QVERIFY2(r.err.contains("station: 2 ok, 1 failed, 0 rows left"), r.err.constData());
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

void TstProduction::stationStoppedWhileItWaits_data()
{
    QTest::addColumn<bool>("portExists");
    QTest::addColumn<QByteArray>("why");
    QTest::newRow("for a port that is not there yet") << false << QByteArray("waiting (no such port yet)");
    QTest::newRow("for a module that does not answer") << true << QByteArray("waiting (no answer at 115200 baud");
}

void TstProduction::stationStoppedWhileItWaits()
{
    // A supervisor tells an interrupted line from a finished one: 128 + N
    // although no module was in progress.
    QFETCH(bool, portExists);
    QFETCH(QByteArray, why);
    const QString profile = TestSupport::exampleProfile();
    CliRun r;
    if (!portExists) {
        r = cli({"station", profile, "--port", m_dir.filePath("no-such-port"), "--fast"}, 3000);
    } else {
        // The station's pauses at their real length: signalled once its
        // second try for the module has begun, it tried no sooner than its
        // first try's guard time, two unanswered budgets of ten polls of
        // 100 ms and the half second between tries allow.
        const TestSupport::Pace real(1);
        sim::SimModule* const module = plug();
        module->faults().silent = true;
        TestSupport::CliOptions options;
        options.timeoutMs = 120000;
        options.started = [module](QProcess& process) {
            QTRY_VERIFY_WITH_TIMEOUT(module->frameData().count("+++") >= 2, 60000);
            ::kill(pid_t(process.processId()), SIGTERM);
        };
        r = TestSupport::runCli({"station", profile, "--port", module->portName(), "--fast"}, options);
        QVector<qint64> tries;
        for (const sim::Frame& frame : module->frames()) {
            if (frame.data == "+++")
                tries.append(frame.msecs);
        }
        QVERIFY(tries.size() >= 2);
        QVERIFY2(tries.at(1) - tries.at(0) >= 150 + 1000 + 1000 + 500,
                 qPrintable(QString::number(tries.at(1) - tries.at(0))));
    }
    QCOMPARE(r.status, 128 + SIGTERM);
    QVERIFY2(r.err.contains(why), r.err.constData());
    QVERIFY2(r.err.contains("station: 0 ok, 0 failed (stopped by SIGTERM)"), r.err.constData());
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
    const QList<QJsonObject> lines = TestSupport::reportLines(report);
    QCOMPARE(lines.size(), 1);
    QCOMPARE(lines.first().value("result").toString(), QStringLiteral("cut-short"));
    QCOMPARE(lines.first().value("status").toInt(), 128 + SIGTERM);
    // Where it stopped and what the module holds of the write.
    QCOMPARE(lines.first().value("written").toArray(), (QJsonArray{"serial", "direction", "mode"}));
    QCOMPARE(lines.first().value("notWritten").toArray().first().toString(), QStringLiteral("transparent"));
    QCOMPARE(lines.first().value("stoppedAfter").toObject().value("command").toString(),
             QStringLiteral("AT+MODE=TRANS"));
    QVERIFY2(r.err.contains("station: 0 ok, 1 failed, 2 rows left (stopped by SIGTERM)"), r.err.constData());
}

void TstProduction::stationWaitsForTheOperatorsWord_data()
{
    QTest::addColumn<QByteArray>("early");  // typed as the station starts, before any fixture waits
    QTest::addColumn<QByteArray>("answer"); // typed once the fixture waits for its module to be taken off
    QTest::addColumn<QByteArray>("told");
    QTest::newRow("Enter alone for the only fixture waiting") << QByteArray() << QByteArray("\n") << QByteArray();
    QTest::newRow("the fixture's number") << QByteArray() << QByteArray("1\n") << QByteArray();
    QTest::newRow("Enter before any fixture waits releases nothing")
        << QByteArray("\n") << QByteArray("1\n") << QByteArray("no fixture waits for its module to be taken off");
    QTest::newRow("a fixture that does not wait is named")
        << QByteArray() << QByteArray("2\n1\n") << QByteArray("type the number of a fixture that waits: 1");
}

void TstProduction::stationWaitsForTheOperatorsWord()
{
    // A restarted module is not probed: the next module is taken only on
    // the operator's word, typed on standard input.
    QFETCH(QByteArray, early);
    QFETCH(QByteArray, answer);
    QFETCH(QByteArray, told);
    sim::SimModule* const module = plug();
    const QString values = file("values.csv", "can.id\n1A1\n1A2\n");
    const QString report = m_dir.filePath("operator.jsonl");
    QFile::remove(report);
    TestSupport::CliOptions options;
    options.timeoutMs = 120000;
    options.input = early;
    options.inputStaysOpen = true;
    QByteArray err;
    int modulesBeforeTheWord = -1;
    options.started = [&](QProcess& process) {
        QTRY_VERIFY_WITH_TIMEOUT((err += process.readAllStandardError()).contains("take the module off"), 60000);
        modulesBeforeTheWord = int(module->frameData().count("AT+CAN=250,1A1,NDTF\r\n"));
        process.write(answer);
    };

    const CliRun r =
        TestSupport::runCli({"station", TestSupport::exampleProfile(), "--port", module->portName(), "--values", values,
                             "--report", report, "--restart", "--fast", "--removal", "operator"},
                            options);

    err += r.err;
    QCOMPARE(r.status, 0);
    QCOMPARE(modulesBeforeTheWord, 1);
    QVERIFY2(err.contains(told), err.constData());
    QCOMPARE(module->frameData().count("AT+REBT\r\n"), 2);
    const QList<QJsonObject> lines = TestSupport::reportLines(report);
    QCOMPARE(lines.size(), 2);
    QCOMPARE(lines.last().value("values").toObject().value("can.id").toString(), QStringLiteral("1A2"));
    QCOMPARE(lines.last().value("result").toString(), QStringLiteral("ok"));
}

void TstProduction::reportFaults_data()
{
    QTest::addColumn<QByteArray>("before"); // the report before the run
    // "device": the report is /dev/full; "delete", "truncate": deleted or emptied during the run
    QTest::addColumn<QString>("fault");
    QTest::addColumn<int>("status");
    QTest::addColumn<QByteArray>("told");
    QTest::addColumn<QList<int>>("damaged"); // the lines of the report after the run that are no record
    QTest::addColumn<int>("rowsLeft");       // after the run, as a resume sees them

    const QByteArray first = R"({"row":1,"module":1,"values":{"can.id":"1A1"},"result":"ok"})";
    QTest::newRow("a cut last line is ended before the first new record")
        << first + "\n" + R"({"row":2,"modu)" << QString() << 0 << QByteArray("line 2 has no line end (cut short?)")
        << QList<int>{2} << 0;
    QTest::newRow("a line that is not a record is named by its number")
        << "garbage\n" + first + "\n"
        << QString() << 0 << QByteArray("line 1: not a record") << QList<int>{1} << 0;
    QTest::newRow("a report that cannot be written stops the line before the next module")
        << QByteArray() << "device" << 2 << QByteArray("/dev/full: No space left on device; no further module")
        << QList<int>() << -1;
    QTest::newRow("a report deleted during the run takes no more records")
        << QByteArray() << "delete" << 2 << QByteArray("the report was deleted during the run") << QList<int>() << -1;
    QTest::newRow("a report cut short during the run takes no more records")
        << QByteArray() << "truncate" << 2 << QByteArray("the report was cut short during the run (0 bytes, ")
        << QList<int>() << -1;
}

void TstProduction::reportFaults()
{
    QFETCH(QByteArray, before);
    QFETCH(QString, fault);
    QFETCH(int, status);
    QFETCH(QByteArray, told);
    QFETCH(QList<int>, damaged);
    QFETCH(int, rowsLeft);
    // Each module taken out after its restart is followed by the next one.
    sim::SimModule* const slot = plug(50);
    const QString values = file("values.csv", "can.id\n1A1\n1A2\n1A3\n");
    const QString report = fault == "device" ? QStringLiteral("/dev/full") : file("faults.jsonl", before);
    // The second module begins once the first one's record is in the report:
    // the report goes while the second module is written, however often the
    // first one was probed before it was taken off.
    int connects = 0;
    QObject context;
    if (fault == "delete" || fault == "truncate") {
        connect(slot, &sim::SimModule::frameReceived, &context, [&](const QByteArray& frame) {
            if (frame == "AT+E=OFF\r\n" && ++connects == 2)
                QVERIFY(fault == "delete" ? QFile::remove(report) : QFile::resize(report, 0));
        });
    }

    const CliRun r = cli({"station", TestSupport::exampleProfile(), "--port", slot->portName(), "--values", values,
                          "--report", report, "--restart", "--fast", "--quiet"});

    QCOMPARE(r.status, status);
    QVERIFY2(r.err.contains(told), r.err.constData());
    if (status == 2) {
        // The record that could not be written is on standard error, whole,
        // and no module started after it.
        QVERIFY2(r.err.contains("not in the report: {"), r.err.constData());
        const int modules = fault == "device" ? 1 : 2;
        QCOMPARE(slot->frameData().count("AT+E=OFF\r\n"), modules);
        QVERIFY2(r.err.contains(QStringLiteral("\"row\":%1,\"status\":0").arg(modules).toUtf8()), r.err.constData());
        // The records that went with the file are told again.
        QCOMPARE(r.err.count("not in the report: {"), modules);
        return;
    }
    QVERIFY(wholeRecords(report, damaged));
    const CliRun resume =
        cli({"station", TestSupport::exampleProfile(), "--values", values, "--report", report, "--check", "--json"});
    QCOMPARE(resume.status, 0);
    QCOMPARE(resume.json().value("rowsLeft").toArray().size(), rowsLeft);
}

void TstProduction::secondStationOnOneReportIsRefused()
{
    const QString report = m_dir.filePath("held.jsonl");
    const QString profile = TestSupport::exampleProfile();
    // The first station holds its report while it waits for a module.
    TestSupport::CliOptions options;
    QProcess* holder = nullptr;
    bool refusedAtOnce = false;
    CliRun second;
    options.started = [&](QProcess& process) {
        holder = &process;
        QByteArray told;
        QTRY_VERIFY_WITH_TIMEOUT((told += process.readAllStandardError()).contains("waiting"), 10000);
        QElapsedTimer clock;
        clock.start();
        second = TestSupport::runCli({"station", profile, "--port", m_dir.filePath("nothing"), "--report", report});
        refusedAtOnce = clock.elapsed() < 5000;
        ::kill(pid_t(process.processId()), SIGTERM);
    };
    const CliRun firstRun =
        TestSupport::runCli({"station", profile, "--port", m_dir.filePath("none"), "--report", report}, options);
    QVERIFY(holder);
    QCOMPARE(firstRun.status, 128 + SIGTERM);
    QCOMPARE(second.status, 2);
    QVERIFY(refusedAtOnce);
    QVERIFY2(second.err.contains("held.jsonl: held by another program (PID "), second.err.constData());
}

void TstProduction::portsThatCannotBeAModulesAreRefused_data()
{
    QTest::addColumn<QString>("port");
    QTest::addColumn<int>("status");
    QTest::addColumn<QByteArray>("told");
    QTest::newRow("a regular file") << "file" << 4 << QByteArray("not a serial device (a regular file)");
    QTest::newRow("a folder") << "folder" << 4 << QByteArray("not a serial device (a directory)");
    QTest::newRow("a device that is no terminal") << "/dev/null" << 4 << QByteArray("/dev/null is no terminal");
    QTest::newRow("one device under two names") << "twice" << 2 << QByteArray("are one device");
}

void TstProduction::portsThatCannotBeAModulesAreRefused()
{
    QFETCH(QString, port);
    QFETCH(int, status);
    QFETCH(QByteArray, told);
    sim::SimModule* const module = plug();
    QStringList ports{"--port", module->portName()};
    if (port == "file")
        ports << "--port" << file("not-a-port", "");
    else if (port == "folder")
        ports << "--port" << m_dir.path();
    else if (port == "twice")
        ports << "--port" << module->slavePath();
    else
        ports << "--port" << port;
    QElapsedTimer clock;
    clock.start();
    const CliRun r = cli(QStringList{"station", TestSupport::exampleProfile()} + ports);
    QCOMPARE(r.status, status);
    QVERIFY2(r.err.contains(told), r.err.constData());
    QVERIFY(module->frames().isEmpty()); // refused at start: nothing sent
}

void TstProduction::aSlowModuleIsNamedWhileTheSlotWaits()
{
    // Its replies come well after the probe's budget: never taken, and told
    // so. At the real pace: what the probe finds of the halves of its replies
    // depends on the simulated module's own frame gap, which is not paced.
    const TestSupport::Pace real(1);
    sim::SimModule* const module = plug();
    module->faults().splitGapMs = 1500;
    const CliRun r = cli({"station", TestSupport::exampleProfile(), "--port", module->portName()}, 6000);
    QCOMPARE(r.status, 128 + SIGTERM);
    QVERIFY2(r.err.contains("waiting (a module answers, but more slowly than the probe waits)"), r.err.constData());
}

void TstProduction::closedOutputEndsAsASignal_data()
{
    QTest::addColumn<QString>("command");
    QTest::newRow("a station whose results are read by head") << "station";
    QTest::newRow("a read whose result nobody reads") << "read";
}

void TstProduction::closedOutputEndsAsASignal()
{
    QFETCH(QString, command);
    sim::SimModule* const first = plug(50);
    sim::SimModule* const second = plug(50);
    const QString report = m_dir.filePath("closed.jsonl");
    TestSupport::CliOptions options;
    options.timeoutMs = 120000;
    QStringList arguments{"read", first->portName(), "--json"};
    if (command == "station") {
        options.wrapper = QStringList{"bash", "-c", "\"$0\" \"$@\" | head -1 >/dev/null; exit ${PIPESTATUS[0]}"};
        arguments = QStringList{"station",   TestSupport::exampleProfile(),
                                "--port",    first->portName(),
                                "--port",    second->portName(),
                                "--values",  file("values.csv", "can.id\n1\n2\n3\n4\n5\n6\n"),
                                "--report",  report,
                                "--restart", "--json"};
    } else {
        options.wrapper = QStringList{"bash", "-c", "\"$0\" \"$@\" | exec 0<&-; exit ${PIPESTATUS[0]}"};
    }

    const CliRun r = TestSupport::runCli(arguments, options);

    QCOMPARE(r.status, 141);
    if (command == "read") {
        QVERIFY2(r.err.contains("standard output was closed by its reader"), r.err.constData());
        return;
    }
    // Every module that began has its record: those cut short too.
    QVERIFY2(r.err.contains("(stopped by SIGPIPE)"), r.err.constData());
    const int begun = first->frameData().count("AT+E=OFF\r\n") + second->frameData().count("AT+E=OFF\r\n");
    QVERIFY(wholeRecords(report));
    QCOMPARE(TestSupport::reportLines(report).size(), begun);
    QVERIFY(begun >= 2);
}

void TstProduction::checkReadsWhatARunWouldAndSendsNothing()
{
    sim::SimModule* const module = plug();
    const QString values = file("values.csv", "can.id\n1A1\n1A2\n1A3\n");
    const QByteArray before = R"({"row":2,"module":4,"values":{"can.id":"1A2"},"result":"ok"})"
                              "\n"
                              R"({"row":3,"mo)";
    const QString report = file("check.jsonl", before);

    const CliRun r = cli({"station", TestSupport::exampleProfile(), "--port", module->portName(), "--values", values,
                          "--report", report, "--check"});

    QCOMPARE(r.status, 0);
    QCOMPARE(r.out, QByteArray("row 1 (line 2): can.id=1A1\nrow 3 (line 4): can.id=1A3\n"));
    QVERIFY2(r.err.contains("check.jsonl line 2 has no line end"), r.err.constData());
    QVERIFY2(r.err.contains("station: check: 2 rows left, 1 already reported ok; nothing sent"), r.err.constData());
    QVERIFY(module->frames().isEmpty());
    QFile kept(report);
    QVERIFY(kept.open(QIODevice::ReadOnly));
    QCOMPARE(kept.readAll(), before); // only read

    const CliRun refused =
        cli({"station", TestSupport::exampleProfile(), "--values", file("bad.csv", "can.id\n1A1\n800\n"), "--check"});
    QCOMPARE(refused.status, 2);
    QVERIFY2(refused.err.contains("bad.csv line 3: can.id: 800 is above 7FF"), refused.err.constData());
}

void TstProduction::newSerialLineCheckedAfterTheRestart_data()
{
    QTest::addColumn<QString>("command");
    QTest::addColumn<QStringList>("faults");
    QTest::addColumn<bool>("restart");
    QTest::addColumn<int>("status");
    QTest::newRow("a station, on a module that reports the new line once it is in effect")
        << "station" << QStringList{"--line-report", "after-restart"} << true << 0;
    QTest::newRow("a station, on a module that reports the new line at once")
        << "station" << QStringList{"--line-report", "at-once"} << true << 0;
    QTest::newRow("a write, on a module that reports the new line once it is in effect")
        << "write" << QStringList{"--line-report", "after-restart"} << true << 0;
    QTest::newRow("a write, on a module that reports the new line at once")
        << "write" << QStringList{"--line-report", "at-once"} << true << 0;
    QTest::newRow("a write, on a module that keeps its old line")
        << "write" << QStringList{"--keep-settings", "UART"} << true << 1;
    QTest::newRow("a station without --restart is refused at start") << "station" << QStringList() << false << 2;
}

void TstProduction::newSerialLineCheckedAfterTheRestart()
{
    QFETCH(QString, command);
    QFETCH(QStringList, faults);
    QFETCH(bool, restart);
    QFETCH(int, status);
    sim::SimModule* const module = plug();
    TestSupport::setFaults(module, faults);
    ModuleConfig profile;
    profile.baud = 57600;
    profile.parity = "ODD";
    const QString path = file("line.json", Profile::write(profile));
    QStringList arguments = command == "station"
                                ? QStringList{"station", path, "--port", module->portName(), "--count", "1"}
                                : QStringList{"write", module->portName(), path, "--verify"};
    if (restart)
        arguments << "--restart";

    const CliRun r = cli(arguments << "--fast");

    QCOMPARE(r.status, status);
    if (status == 2) {
        QVERIFY2(r.err.contains("give --restart"), r.err.constData());
        QVERIFY(module->frames().isEmpty());
        return;
    }
    const QVector<sim::Frame>& frames = module->frames();
    const int restarted = module->frameData().indexOf("AT+REBT\r\n");
    QVERIFY(restarted > 0);
    // After the restart, the tool talks at the new line. (A busy machine may
    // read the "AT" after it before the module's gap has passed.)
    QVERIFY(frames.at(restarted + 1).data.startsWith("+++"));
    QCOMPARE(frames.at(restarted + 1).baud, 57600);
    QVERIFY(frames.at(restarted + 1).oddParity);
    if (status != 0) {
        QVERIFY2(r.err.contains("does not answer at its new line, 57600 baud, parity odd"), r.err.constData());
        return;
    }
    // The serial line checked there, and the module restarted once more to run.
    QCOMPARE(module->frameData().count("AT+UART?\r\n"), 2);
    QCOMPARE(module->frameData().count("AT+REBT\r\n"), 2);
    QCOMPARE(module->frameData().last(), QByteArray("AT+REBT\r\n"));
    QCOMPARE(module->state().baud, 57600);
    QVERIFY(!module->state().configMode);
}

void TstProduction::stationRunsASetup_data()
{
    QTest::addColumn<QByteArray>("extra"); // keys after the setup's own, with their commas
    QTest::addColumn<QStringList>("options");
    QTest::addColumn<int>("status");
    QTest::addColumn<QByteArray>("told");
    QTest::newRow("the setup as it is") << QByteArray() << QStringList() << 0 << QByteArray();
    QTest::newRow("a key it does not know is named") << QByteArray(",\n    \"colour\": 1") << QStringList() << 0
                                                     << QByteArray("station.json: unknown key \"colour\" ignored");
    QTest::newRow("an option given overrides the setup")
        << QByteArray() << QStringList{"--report", "override.jsonl"} << 0 << QByteArray();
    QTest::newRow("a parity it does not know")
        << QByteArray(",\n    \"parity\": \"space\"") << QStringList() << 2
        << QByteArray("station.json: parity: \"space\"; allowed none, odd, even");
    QTest::newRow("ports that are no list") << QByteArray(",\n    \"ports\": \"ttyUSB0\"") << QStringList() << 2
                                            << QByteArray("station.json: ports: a text; allowed a list of ports");
    QTest::newRow("a removal it does not know")
        << QByteArray(",\n    \"removal\": \"never\"") << QStringList() << 2
        << QByteArray("station.json: removal: \"never\"; allowed probe, port, operator");
}

void TstProduction::stationRunsASetup()
{
    QFETCH(QByteArray, extra);
    QFETCH(QStringList, options);
    QFETCH(int, status);
    QFETCH(QByteArray, told);
    sim::SimModule* const first = plug();
    sim::SimModule* const second = plug();
    // Paths relative to the setup's folder.
    QFile::remove(m_dir.filePath("setup-profile.json"));
    QVERIFY(QFile::copy(TestSupport::exampleProfile(), m_dir.filePath("setup-profile.json")));
    file("ids.csv", "can.id\n1A1\n1A2\n");
    QFile::remove(m_dir.filePath("line.jsonl"));
    QFile::remove(m_dir.filePath("override.jsonl"));
    QByteArray setup = "{\n"
                       "    \"format\": \"velkocan-station\",\n"
                       "    \"version\": 1,\n"
                       "    \"profile\": \"setup-profile.json\",\n"
                       "    \"values\": \"ids.csv\",\n"
                       "    \"report\": \"line.jsonl\",\n"
                       "    \"ports\": [\"" +
                       first->portName().toUtf8() + "\", \"" + second->portName().toUtf8() +
                       "\"],\n"
                       "    \"fast\": true,\n"
                       "    \"removal\": \"port\"";
    if (extra.contains("\"ports\""))
        setup.replace(setup.indexOf("    \"ports\""),
                      setup.indexOf("\n    \"fast\"") - setup.indexOf("    \"ports\"") + 1, "");
    setup += extra + "\n}\n";
    const QString path = file("station.json", setup);
    // Run from elsewhere: the setup's paths are its folder's.
    QStringList arguments{"station", "--setup", path, "--quiet"};
    for (const QString& o : options)
        arguments << (o.endsWith(".jsonl") ? m_dir.filePath(o) : o);

    const CliRun r = cli(arguments);

    QCOMPARE(r.status, status);
    if (!told.isEmpty())
        QVERIFY2(r.err.contains(told), r.err.constData());
    if (status != 0) {
        QVERIFY(first->frames().isEmpty() && second->frames().isEmpty());
        return;
    }
    const QString report = m_dir.filePath(options.isEmpty() ? "line.jsonl" : "override.jsonl");
    const QList<QJsonObject> lines = TestSupport::reportLines(report);
    QCOMPARE(lines.size(), 2);
    QStringList ids;
    for (const QJsonObject& line : lines)
        ids << line.value("values").toObject().value("can.id").toString() + QLatin1Char(' ') +
                   line.value("result").toString();
    std::sort(ids.begin(), ids.end());
    QCOMPARE(ids, (QStringList{"1A1 ok", "1A2 ok"}));
}

VELKO_CORE_TEST_MAIN_PACED(TstProduction, TestSupport::kQuickPace)
#include "tst_production.moc"
