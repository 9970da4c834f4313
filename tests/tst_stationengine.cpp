// The station's engine in this process, against simulated modules and SQLite
// ledgers of the test's own: the one row rule from each of its callers, the
// setups that a check and a run refuse alike, the values it refuses or warns
// of before anything is sent, and runs whose records it hands over typed.
#include "core/station/ledger.h"
#include "core/station/ledgerrows.h"
#include "core/station/station.h"
#include "core/station/stationsetup.h"
#include "core/station/valuestable.h"
#include "sim/simmodule.h"
#include "tests/support/cliprocess.h"
#include "tests/support/coresupport.h"

#include <QSignalSpy>
#include <QTemporaryDir>

using Operation::Problem;
using TestSupport::CliRun;

Q_DECLARE_METATYPE(Problem::Kind)

class TstStationEngine : public QObject
{
    Q_OBJECT

private slots:
    void cleanup();

    void rowRuleFromEveryCaller_data();
    void rowRuleFromEveryCaller();
    void setupsARunRefuses_data();
    void setupsARunRefuses();
    void badValuesAreRefusedBeforeAnythingIsSent_data();
    void badValuesAreRefusedBeforeAnythingIsSent();
    void repeatedCanIdsAreWarned_data();
    void repeatedCanIdsAreWarned();
    void ledgerRunRefusesARowBeforeWriting();
    void aClaimPastItsLeaseIsCheckedBeforeAndAfter();
    void releaseRefusesARunningStation();
    void csvRunHandsOverTypedRecords();

private:
    sim::SimModule* plug();
    QString file(const QString& name, const QByteArray& bytes);
    // The example profile to `module` with the rows of `csv`.
    StationSetup setupFor(const sim::SimModule* module, const QByteArray& csv);
    // A new SQLite ledger holding the rows of `csv`; its URL.
    QString ledgerWith(const QString& name, const QByteArray& csv, int leaseSeconds = Ledger::kDefaultLeaseSeconds);
    // Runs `station` until every slot has ended.
    static bool runToTheEnd(Station& station, Operation::Result* refused);

    QTemporaryDir m_dir;
    QList<sim::SimModule*> m_sims;
};

void TstStationEngine::cleanup()
{
    qDeleteAll(m_sims);
    m_sims.clear();
}

sim::SimModule* TstStationEngine::plug()
{
    auto* const module = new sim::SimModule;
    if (!module->start())
        qWarning("the simulated module did not start");
    m_sims.append(module);
    return module;
}

StationSetup TstStationEngine::setupFor(const sim::SimModule* module, const QByteArray& csv)
{
    StationSetup setup;
    setup.profile = TestSupport::exampleProfile();
    setup.values = file(QStringLiteral("values.csv"), csv);
    setup.ports = QStringList{module->portName()};
    return setup;
}

QString TstStationEngine::file(const QString& name, const QByteArray& bytes)
{
    return TestSupport::writeFile(m_dir.filePath(name), bytes);
}

QString TstStationEngine::ledgerWith(const QString& name, const QByteArray& csv, int leaseSeconds)
{
    const QString url = QStringLiteral("sqlite:") + m_dir.filePath(name + QStringLiteral(".db"));
    LedgerAddress address;
    QString error;
    if (!LedgerAddress::parse(url, &address, &error))
        return QString();
    Ledger ledger(address);
    bool created = false;
    LedgerProblem problem;
    ValuesTable table;
    int first = 0;
    int last = 0;
    const bool made = ledger.init(leaseSeconds, &created, &problem) &&
                      loadValues(file(name + QStringLiteral(".csv"), csv), &table, &error) &&
                      ledger.import(table, name + QStringLiteral(".csv"), &first, &last, &problem);
    ledger.dropConnection();
    return made ? url : QString();
}

bool TstStationEngine::runToTheEnd(Station& station, Operation::Result* refused)
{
    QSignalSpy finished(&station, &Station::finished);
    if (!station.prepare(refused) || !station.start(refused))
        return false;
    return finished.wait(60000);
}

void TstStationEngine::rowRuleFromEveryCaller_data()
{
    QTest::addColumn<QByteArray>("csv");
    QTest::addColumn<bool>("restart");
    QTest::addColumn<bool>("taken");
    QTest::addColumn<QString>("says"); // of a refusal, in the core's words

    QTest::newRow("a row the profile takes") << QByteArray("can.id\n1A1\n") << false << true << QString();
    QTest::newRow("a value the profile refuses")
        << QByteArray("can.id\n800\n") << false << false << QStringLiteral("can.id: 800 is above 7FF");
    QTest::newRow("a new serial line without a restart")
        << QByteArray("serial.baud\n9600\n") << false << false
        << QStringLiteral("the modules would take 9600 baud, parity none, while the station talks at 115200 baud");
    QTest::newRow("a new serial line with a restart") << QByteArray("serial.baud\n9600\n") << true << true << QString();
}

void TstStationEngine::rowRuleFromEveryCaller()
{
    QFETCH(QByteArray, csv);
    QFETCH(bool, restart);
    QFETCH(bool, taken);
    QFETCH(QString, says);
    const QString profile = TestSupport::exampleProfile();
    const QString values = file(QStringLiteral("values.csv"), csv);
    const auto saysIt = [&](const Operation::Result& r) {
        return std::any_of(r.problems.begin(), r.problems.end(),
                           [&](const Problem& p) { return p.text.contains(says); });
    };

    // The values file's rows, as a run and as a check take them.
    for (const bool check : {false, true}) {
        StationSetup setup;
        setup.profile = profile;
        setup.values = values;
        setup.ports = QStringList{m_dir.filePath(QStringLiteral("no-such-port"))};
        setup.restart = restart;
        Station::Run run;
        run.check = check;
        Station station(setup, run);
        Operation::Result refused;
        QCOMPARE(station.prepare(&refused), taken);
        if (!taken) {
            QCOMPARE(refused.status, int(Operation::BadUsage));
            QVERIFY2(saysIt(refused), qPrintable(refused.error));
        }
    }

    // A ledger's rows, as a check lists them and as a station claims them.
    static int ledgers = 0;
    const QString name = QStringLiteral("rule%1").arg(++ledgers);
    const QString url = ledgerWith(name, csv);
    QVERIFY(!url.isEmpty());
    {
        StationSetup setup;
        setup.profile = profile;
        setup.values = url;
        setup.restart = restart;
        Station::Run run;
        run.check = true;
        run.withoutPorts = true;
        Station station(setup, run);
        Operation::Result refused;
        QCOMPARE(station.prepare(&refused), taken);
        if (!taken)
            QVERIFY2(saysIt(refused), qPrintable(refused.error));
    }
    {
        LedgerRows::Settings s;
        QString error;
        QVERIFY(LedgerAddress::parse(url, &s.address, &error));
        QVERIFY(s.profile.load(profile, &error));
        s.rule.restart = restart;
        s.claimant = {QStringLiteral("engine"), QCoreApplication::applicationPid(), QStringLiteral("test"),
                      QStringLiteral("0")};
        QStringList notes;
        s.note = [&notes](const QString& line) { notes.append(line); };
        LedgerRows rows(s);
        LedgerProblem problem;
        QVERIFY(rows.start(&problem));
        StationRow row;
        int module = 0;
        QString why;
        QCOMPARE(rows.take(&row, &module, &why) == RowSource::Take::Got, taken);
        QCOMPARE(rows.rowsRefused(), taken ? 0 : 1);
        if (!taken)
            QVERIFY2(notes.join(QLatin1Char('\n')).contains(says), qPrintable(notes.join(QLatin1Char('\n'))));
        rows.close();
        rows.threadEnded();
    }

    // The command line's import takes what a station with its settings would.
    QStringList import{"ledger", "import",    ledgerWith(name + QStringLiteral("i"), "can.id\n1A0\n"),
                       values,   "--profile", profile};
    if (restart)
        import << "--restart";
    const CliRun r = TestSupport::runCli(import);
    QCOMPARE(r.status, taken ? 0 : 2);
    if (!taken)
        QVERIFY2(r.err.contains(says.toUtf8()) && r.err.contains("nothing imported"), r.err.constData());
    if (QTest::currentDataTag() == QByteArray("a new serial line without a restart"))
        QVERIFY2(r.err.contains("give --restart"), r.err.constData());
}

void TstStationEngine::setupsARunRefuses_data()
{
    QTest::addColumn<QByteArray>("keys");     // of the setup file, after its profile
    QTest::addColumn<QStringList>("options"); // given with the setup
    QTest::addColumn<QByteArray>("told");     // on the command line's standard error
    QTest::addColumn<Problem::Kind>("kind");

    QTest::newRow("a report that is a folder") << QByteArray(R"("ports": ["nosuch"], "report": ".")") << QStringList()
                                               << QByteArray(": a directory") << Problem::Kind::Text;
    QTest::newRow("no fixture") << QByteArray(R"("ports": [])") << QStringList()
                                << QByteArray("station needs at least one --port") << Problem::Kind::NoPorts;
    QTest::newRow("one port named twice") << QByteArray(R"("ports": ["nosuch", "nosuch"])") << QStringList()
                                          << QByteArray("--port nosuch is given twice") << Problem::Kind::SameName;
    QTest::newRow("a count of none among the options")
        << QByteArray(R"("ports": ["nosuch"])") << QStringList{"--count", "0"}
        << QByteArray("--count 0: allowed 1 to 1000000000") << Problem::Kind::OutOfLimits;
    QTest::newRow("a station name that is not one word")
        << QByteArray(R"("ports": ["nosuch"], "stationName": "line 2\nrows 9")") << QStringList()
        << QByteArray("--station-name \"line 2\nrows 9\": allowed one word") << Problem::Kind::BadStationName;
    QTest::newRow("one device under two names") << QByteArray(R"("ports": ["%link", "%device"])") << QStringList()
                                                << QByteArray("are one device") << Problem::Kind::SameDevice;
}

void TstStationEngine::setupsARunRefuses()
{
    QFETCH(QByteArray, keys);
    QFETCH(QStringList, options);
    QFETCH(QByteArray, told);
    QFETCH(Problem::Kind, kind);
    if (keys.contains("%link")) {
        const sim::SimModule* const module = plug();
        keys.replace("%link", module->portName().toUtf8()).replace("%device", module->slavePath().toUtf8());
    }
    const QString setup =
        file(QStringLiteral("setup.json"), R"({"format": "velkocan-station", "version": 1, "profile": ")" +
                                               TestSupport::exampleProfile().toUtf8() + "\", " + keys + "}");

    // The engine refuses it whole, as a check and as a run.
    StationSetup s;
    QStringList problems;
    QVERIFY2(Setup::load(setup, &s, &problems), qPrintable(problems.join(QLatin1Char('\n'))));
    if (options == QStringList{"--count", "0"})
        s.count = 0;
    for (const bool check : {true, false}) {
        Station::Run run;
        run.check = check;
        Station station(s, run);
        Operation::Result refused;
        QVERIFY(!station.prepare(&refused) || !station.start(&refused));
        QCOMPARE(refused.status, int(Operation::BadUsage));
        QCOMPARE(refused.problems.size(), 1);
        QCOMPARE(refused.problems.first().kind, kind);
    }

    // The command line says so in its words, and ends with the same status either way.
    for (const bool check : {true, false}) {
        QStringList arguments = QStringList{"station", "--setup", setup} + options;
        if (check)
            arguments << "--check";
        const CliRun r = TestSupport::runCli(arguments);
        QCOMPARE(r.status, 2);
        QVERIFY2(r.err.contains(told), r.err.constData());
    }
}

void TstStationEngine::badValuesAreRefusedBeforeAnythingIsSent_data()
{
    QTest::addColumn<QByteArray>("csv");
    QTest::addColumn<QString>("message");
    QTest::newRow("a column that is no profile path")
        << QByteArray("can.idd\n101\n") << "\"can.idd\" is not a profile path";
    QTest::newRow("a row short of a value") << QByteArray("can.id,mode\n101\n") << "line 2: 1 values for 2 columns";
    QTest::newRow("a quote left open") << QByteArray("can.id\n\"101\n") << "line 2: a quote is not closed";
    QTest::newRow("a value the profile's rules refuse, with its line")
        << QByteArray("can.id\n101\n\n800\n") << "line 4: can.id: 800 is above 7FF";
    QTest::newRow("a long value, cut in the message")
        << "can.id\n" + QByteArray(100000, '1') + "\n"
        << QString(80, QLatin1Char('1')) + QStringLiteral("… (100000 characters) has more than 3 digits");
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

void TstStationEngine::badValuesAreRefusedBeforeAnythingIsSent()
{
    QFETCH(QByteArray, csv);
    QFETCH(QString, message);
    sim::SimModule* const module = plug();
    Station station(setupFor(module, csv), Station::Run());
    Operation::Result refused;
    QVERIFY(!station.prepare(&refused));
    QCOMPARE(refused.status, int(Operation::BadUsage));
    QVERIFY2(refused.error.contains(message), qPrintable(refused.error.left(300)));
    QVERIFY(module->frames().isEmpty());
}

void TstStationEngine::repeatedCanIdsAreWarned_data()
{
    QTest::addColumn<QByteArray>("lastRow");
    QTest::addColumn<bool>("runs");
    QTest::newRow("in a run that goes on") << QByteArray("103") << true;
    QTest::newRow("before anything is sent, in a run refused for another row") << QByteArray("800") << false;
}

void TstStationEngine::repeatedCanIdsAreWarned()
{
    QFETCH(QByteArray, lastRow);
    QFETCH(bool, runs);
    sim::SimModule* const module = plug();
    StationSetup setup = setupFor(module, "can.id\n7ff\n01A\n7FF\n1a\n" + lastRow + "\n");
    setup.fast = true;
    setup.count = 1;
    Station station(setup, Station::Run());
    QStringList notes;
    connect(&station, &Station::note, this, [&notes](const QString& line) { notes.append(line); });
    Operation::Result refused;
    QCOMPARE(runToTheEnd(station, &refused), runs);

    // By value: leading zeros and the case of hex digits make no other ID.
    const QString told = notes.join(QLatin1Char('\n'));
    QVERIFY2(told.contains(setup.values + QStringLiteral(" line 4: can.id 7FF repeats line 2")), qPrintable(told));
    QVERIFY2(told.contains(setup.values + QStringLiteral(" line 5: can.id 1a repeats line 3")), qPrintable(told));
    QCOMPARE(told.count(QStringLiteral("repeats")), 2);
    QVERIFY2(told.contains(QStringLiteral("no report: nothing keeps which rows were used")), qPrintable(told));
    QCOMPARE(module->frames().isEmpty(), !runs);
    if (runs)
        QCOMPARE(station.summary().ok, 1);
}

void TstStationEngine::ledgerRunRefusesARowBeforeWriting()
{
    sim::SimModule* const module = plug();
    StationSetup setup;
    setup.profile = TestSupport::exampleProfile();
    setup.values = ledgerWith(QStringLiteral("line"), "serial.baud\n9600\n");
    setup.ports = QStringList{module->portName()};
    setup.fast = true;
    Station station(setup, Station::Run());
    QStringList notes;
    connect(&station, &Station::note, this, [&notes](const QString& line) { notes.append(line); });
    Operation::Result refused;
    QVERIFY2(runToTheEnd(station, &refused), qPrintable(refused.error));

    const Station::Summary s = station.summary();
    QCOMPARE(s.rowsRefused, 1);
    QCOMPARE(s.ok + s.failed, 0);
    QVERIFY2(notes.join(QLatin1Char('\n')).contains(QStringLiteral("not given to a module")),
             qPrintable(notes.join(QLatin1Char('\n'))));
    // The module was found and left as it was: nothing but the probe went out.
    for (const QByteArray& frame : module->frameData())
        QVERIFY2(frame == "+++" || frame == "AT\r\n" || frame == "AT+E=OFF\r\n", frame.constData());
    QCOMPARE(module->state().pendingBaud, 115200);
}

void TstStationEngine::aClaimPastItsLeaseIsCheckedBeforeAndAfter()
{
    // Two stations on one ledger whose lease is a second; the first one is
    // held up (it renews nothing) while its claims run out.
    LedgerAddress address;
    QString error;
    QVERIFY(LedgerAddress::parse(ledgerWith(QStringLiteral("two"), "can.id\n1A1\n1A2\n", 1), &address, &error));
    Ledger a(address);
    Ledger b(address);
    LedgerProblem problem;
    QVERIFY(a.check(&problem) && b.check(&problem));
    const LedgerClaimant stationA{QStringLiteral("a"), 1, QStringLiteral("test"), QStringLiteral("0")};
    const LedgerClaimant stationB{QStringLiteral("b"), 2, QStringLiteral("test"), QStringLiteral("0")};
    const auto record = [](const QString& port, int module) {
        ModuleRecord r;
        r.time = QStringLiteral("2026-12-08T10:15:03.363+01:00");
        r.port = port;
        r.module = module;
        r.verdict = ModuleRecord::Verdict::Ok;
        return r;
    };
    // Station b claims row `id` once a's lease on it ran out.
    LedgerClaim taken;
    const auto bTakes = [&](int id) {
        LedgerClaim c;
        const QSet<int> others{3 - id};
        if (taken.row.id != id && b.claim(stationB, others, &c, &problem) && c.row.id == id)
            taken = c;
        return taken.row.id == id;
    };

    // Row 1: its claim ran out and another station took it before the values
    // went out: the confirmation says so, and nothing need go to the module.
    LedgerClaim lostEarly;
    QVERIFY(a.claim(stationA, {2}, &lostEarly, &problem));
    QCOMPARE(lostEarly.row.id, 1);
    QTRY_VERIFY_WITH_TIMEOUT(bTakes(1), 10000);
    bool own = true;
    QVERIFY(a.confirm(stationA, lostEarly, 0, &own, &problem));
    QVERIFY(!own);
    QVERIFY(b.confirm(stationB, taken, 60000, &own, &problem));
    QVERIFY(own);
    ModuleRecord ofB = record(QStringLiteral("/dev/ttyUSB2"), 1);
    bool lost = true;
    QVERIFY2(b.settle(stationB, taken, &ofB, {}, &lost, &problem), qPrintable(problem.text));
    QVERIFY(!lost);
    QCOMPARE(ofB.verdict, ModuleRecord::Verdict::Ok);

    // Row 2: confirmed, then held up past the lease while another station
    // took and wrote the row: recorded as a duplicate that names the other module.
    LedgerClaim lostLate;
    QVERIFY(a.claim(stationA, {1}, &lostLate, &problem));
    QCOMPARE(lostLate.row.id, 2);
    QVERIFY(a.confirm(stationA, lostLate, 0, &own, &problem));
    QVERIFY(own);
    QTRY_VERIFY_WITH_TIMEOUT(bTakes(2), 10000);
    ModuleRecord other = record(QStringLiteral("/dev/ttyUSB2"), 2);
    QVERIFY(b.settle(stationB, taken, &other, {}, &lost, &problem));
    ModuleRecord late = record(QStringLiteral("/dev/ttyUSB1"), 1);
    QVERIFY(a.settle(stationA, lostLate, &late, {}, &lost, &problem));
    QVERIFY(lost);
    QCOMPARE(late.verdict, ModuleRecord::Verdict::Duplicate);
    QCOMPARE(late.duplicateOf.value_or(ModuleRecord::Holder()),
             (ModuleRecord::Holder{QStringLiteral("b"), QStringLiteral("/dev/ttyUSB2"), 2}));

    // Neither of the two counts as ok, and the ledger names the row.
    QVector<QJsonObject> results;
    QVERIFY(a.results(&results, &problem));
    QStringList verdicts;
    for (const QJsonObject& r : std::as_const(results))
        verdicts.append(QStringLiteral("%1 %2").arg(r.value("module").toInt()).arg(r.value("result").toString()));
    QCOMPARE(verdicts, (QStringList{"1 ok", "2 duplicate", "1 duplicate"}));
    QVector<QPair<int, QStringList>> twice;
    QVERIFY(a.duplicates(&twice, &problem));
    QCOMPARE(twice.size(), 1);
    QCOMPARE(twice.first().first, 2);
    QCOMPARE(twice.first().second,
             (QStringList{QStringLiteral("b /dev/ttyUSB2 module 2"), QStringLiteral("a /dev/ttyUSB1 module 1")}));
    a.dropConnection();
    b.dropConnection();
}

void TstStationEngine::releaseRefusesARunningStation()
{
    LedgerAddress address;
    QString error;
    QVERIFY(LedgerAddress::parse(ledgerWith(QStringLiteral("release"), "can.id\n1A1\n1A2\n"), &address, &error));
    Ledger ledger(address);
    LedgerProblem problem;
    QVERIFY(ledger.check(&problem));
    const LedgerClaimant running{QStringLiteral("bench-1"), 1, QStringLiteral("test"), QStringLiteral("0")};
    LedgerClaim claim;
    QVERIFY(ledger.claim(running, {}, &claim, &problem));

    int released = -1;
    QVERIFY(!ledger.release(QStringLiteral("bench-1"), false, &released, &problem));
    QCOMPARE(problem.about, Problem::Kind::StationRunning);
    QVERIFY2(problem.text.startsWith(QStringLiteral("station \"bench-1\" renewed its claims 0 s ago")),
             qPrintable(problem.text));
    QVERIFY(!ledger.release(QStringLiteral("nosuch"), false, &released, &problem));
    QCOMPARE(problem.text, QStringLiteral("no station \"nosuch\" in this ledger; stations: bench-1"));

    // Given back by force, the claim is no longer the station's: its module sends nothing.
    QVERIFY(ledger.release(QStringLiteral("bench-1"), true, &released, &problem));
    QCOMPARE(released, 1);
    bool own = true;
    QVERIFY(ledger.confirm(running, claim, 0, &own, &problem));
    QVERIFY(!own);
    ledger.dropConnection();
}

void TstStationEngine::csvRunHandsOverTypedRecords()
{
    sim::SimModule* const module = plug();
    StationSetup setup;
    setup.profile = TestSupport::exampleProfile();
    setup.values = file(QStringLiteral("ids.csv"), "can.id\n1A1\n1A2\n");
    setup.report = m_dir.filePath(QStringLiteral("line.jsonl"));
    setup.ports = QStringList{module->portName()};
    setup.fast = true;
    setup.count = 1;
    Station station(setup, Station::Run());
    QList<ModuleRecord> records;
    QList<Station::FixtureState> states;
    connect(&station, &Station::moduleDone, this,
            [&records](int, const ModuleRecord& record, const QString&, bool) { records.append(record); });
    connect(&station, &Station::slotState, this,
            [&states](int, Station::FixtureState state, const QString&) { states.append(state); });
    Operation::Result refused;
    QVERIFY2(runToTheEnd(station, &refused), qPrintable(refused.error));

    QCOMPARE(records.size(), 1);
    const ModuleRecord& r = records.first();
    QCOMPARE(r.verdict, ModuleRecord::Verdict::Ok);
    QCOMPARE(r.module, 1);
    QCOMPARE(r.row, 1);
    QCOMPARE(r.values.value(QStringLiteral("can.id")).toString(), QStringLiteral("1A1"));
    QVERIFY(r.durationMs > 0);
    QVERIFY(r.timeOfDay().isValid());
    QCOMPARE(module->state().canId, QStringLiteral("1A1"));
    // Written, then verified, in that order.
    QVERIFY(states.indexOf(Station::FixtureState::Writing) < states.indexOf(Station::FixtureState::Verifying));
    // The report holds the record the faces were given, byte for byte.
    QFile report(setup.report);
    QVERIFY(report.open(QIODevice::ReadOnly));
    QCOMPARE(report.readAll(), r.toLine());
    QCOMPARE(station.summary().rowsLeft, 1);
}

VELKO_CORE_TEST_MAIN_PACED(TstStationEngine, TestSupport::kQuickPace)
#include "tst_stationengine.moc"
