// velkocan-ledger-bench: what a ledger costs a station, and what a second
// station on one ledger brings.
//
// It prints one `key=value` line per measurement (scripts/bench turns them
// into the table of docs/performance.md):
//   - the claim and the record of a module, as the station's slot does them
//     (take, then finish with the module's record), over a number of rows:
//     from a values CSV with its JSON Lines report (RowPool and ReportFile,
//     the report synced per record), from an SQLite ledger and from a
//     PostgreSQL ledger, in the same run; the mean per module of each and
//     the ledgers' cost over the CSV's;
//   - `station ... --values URL --restart --fast` on one PostgreSQL ledger:
//     one station with four ports, then two stations with four ports each
//     side by side, against simulated modules that are replugged after each
//     restart; the modules per minute of each run and their ratio.
//
// The PostgreSQL server is scripts/bench's (a Unix socket in a folder of its
// own): --postgres-socket DIR --postgres-user NAME, and the databases
// bench_claims, bench_one and bench_two made empty there.
#include "bench/report.h"
#include "bench/simprocess.h"
#include "core/config/moduleconfig.h"
#include "core/config/profile.h"
#include "core/station/ledger.h"
#include "core/station/ledgerrows.h"
#include "core/station/reportfile.h"
#include "core/station/rowsource.h"
#include "core/station/valuestable.h"

#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QTemporaryDir>
#include <QThread>
#include <QUrl>

#include <cstdio>
#include <memory>
#include <vector>

namespace {

int fail(const QString& why)
{
    std::fprintf(stderr, "velkocan-ledger-bench: %s\n", qPrintable(why));
    return 1;
}

QByteArray idsCsv(int rows)
{
    QByteArray csv = "can.id\n";
    for (int i = 0; i < rows; ++i)
        csv += QByteArray::number(0x100 + i, 16).toUpper() + '\n';
    return csv;
}

// A module's record as the station makes it, for `row`.
ModuleRecord recordOf(const StationRow& row, int module)
{
    ModuleRecord r;
    r.time = QStringLiteral("2026-12-08T10:15:03.363+01:00");
    r.port = QStringLiteral("/dev/ttyUSB1");
    r.adapter = QJsonObject{{"serialNumber", "A10K3X2B"}, {"vendorId", "0403"}, {"productId", "6001"}};
    r.module = module;
    r.row = row.number;
    r.values = row.values;
    r.verdict = ModuleRecord::Verdict::Ok;
    r.unanswered = QStringList();
    r.durationMs = 488;
    return r;
}

// The mean per module of `rows` claims and records from `source`, in ms;
// a negative value when a module got no row.
double claimAndRecord(RowSource& source, int rows, ReportFile* report)
{
    QElapsedTimer clock;
    clock.start();
    for (int i = 0; i < rows; ++i) {
        StationRow row;
        int module = 0;
        QString why;
        if (source.take(&row, &module, &why) != RowSource::Take::Got) {
            std::fprintf(stderr, "velkocan-ledger-bench: no row for module %d (%s)\n", i + 1, qPrintable(why));
            return -1;
        }
        // The claim is confirmed before the values would go out, as a station does.
        if (source.confirm(row) != RowSource::Hold::Own) {
            std::fprintf(stderr, "velkocan-ledger-bench: the claim of module %d was lost\n", i + 1);
            return -1;
        }
        ModuleRecord record = recordOf(row, module);
        QString error;
        if (!source.finish(row, &record, &error) || (report && !report->append(record.toLine(), &error))) {
            std::fprintf(stderr, "velkocan-ledger-bench: %s\n", qPrintable(error));
            return -1;
        }
    }
    return double(clock.nsecsElapsed()) / 1e6 / rows;
}

double onLedger(const QString& url, const ProfileFile& profile, const ValuesTable& table, int rows)
{
    LedgerRows::Settings s;
    QString error;
    if (!LedgerAddress::parse(url, &s.address, &error))
        return -1;
    Ledger ledger(s.address);
    LedgerProblem problem;
    bool created = false;
    int first = 0;
    int last = 0;
    if (!ledger.init(60, &created, &problem) ||
        !ledger.import(table, QStringLiteral("bench.csv"), &first, &last, &problem)) {
        std::fprintf(stderr, "velkocan-ledger-bench: %s\n", qPrintable(problem.text));
        return -1;
    }
    s.claimant = {QStringLiteral("bench"), QCoreApplication::applicationPid(), QStringLiteral("bench"),
                  QString(64, QLatin1Char('0'))};
    s.profile = profile;
    LedgerRows source(s);
    if (!source.start(&problem))
        return -1;
    const double ms = claimAndRecord(source, rows, nullptr);
    source.threadEnded();
    return ms;
}

// One line run: the stations side by side, each with its ports; the wall
// time until the last one ended.
struct LineRun
{
    int used = 0;
    double wallMs = 0;
    bool allEnded = true;
};

LineRun runLine(const QString& url, const QString& profile, const QList<QStringList>& stations, int rows,
                const QDir& folder, const QString& name)
{
    LineRun run;
    const QString cli = QStringLiteral(VELKO_CLI_PROGRAM);
    const QString csv = folder.filePath(name + QStringLiteral(".csv"));
    QFile file(csv);
    if (!file.open(QIODevice::WriteOnly) || file.write(idsCsv(rows)) < 0)
        return run;
    file.close();
    for (const QStringList& arguments :
         {QStringList{"ledger", "init", url}, QStringList{"ledger", "import", url, csv}}) {
        if (QProcess::execute(cli, arguments) != 0)
            return run;
    }
    std::vector<std::unique_ptr<QProcess>> processes;
    QElapsedTimer clock;
    clock.start();
    for (int i = 0; i < stations.size(); ++i) {
        QStringList arguments{QStringLiteral("station"),        profile,
                              QStringLiteral("--values"),       url,
                              QStringLiteral("--station-name"), QStringLiteral("%1-%2").arg(name).arg(i + 1),
                              QStringLiteral("--restart"),      QStringLiteral("--fast"),
                              QStringLiteral("--quiet")};
        for (const QString& port : stations.at(i))
            arguments << QStringLiteral("--port") << port;
        processes.push_back(std::make_unique<QProcess>());
        processes.back()->setStandardOutputFile(folder.filePath(QStringLiteral("%1-%2.out").arg(name).arg(i + 1)));
        processes.back()->setStandardErrorFile(folder.filePath(QStringLiteral("%1-%2.err").arg(name).arg(i + 1)));
        processes.back()->start(cli, arguments);
    }
    const int timeoutMs = 10000 + rows * 5000;
    for (auto& p : processes)
        run.allEnded = p->waitForFinished(int(std::max<qint64>(1, timeoutMs - clock.elapsed()))) && run.allEnded;
    run.wallMs = double(clock.nsecsElapsed()) / 1e6;
    for (auto& p : processes) {
        p->kill();
        p->waitForFinished(3000);
    }
    QProcess status;
    status.start(cli, {QStringLiteral("ledger"), QStringLiteral("status"), url, QStringLiteral("--json")});
    status.waitForFinished(30000);
    run.used = QJsonDocument::fromJson(status.readAllStandardOutput()).object().value(QStringLiteral("used")).toInt();
    return run;
}

} // namespace

int main(int argc, char** argv)
{
    QTemporaryDir runtime(QDir::tempPath() + QStringLiteral("/velkocan-ledger-bench-XXXXXX"));
    if (!runtime.isValid())
        return fail(QStringLiteral("cannot make a runtime folder"));
    qputenv("XDG_RUNTIME_DIR", runtime.path().toLocal8Bit());
    QCoreApplication app(argc, argv);
    QCoreApplication::setApplicationName(QStringLiteral("velkocan-ledger-bench"));
    QString socket;
    QString user;
    int rows = 200;
    int perPort = 6;
    int replugMs = 50;
    const QStringList args = QCoreApplication::arguments();
    for (int i = 1; i + 1 < args.size(); i += 2) {
        if (args.at(i) == QLatin1String("--postgres-socket"))
            socket = args.at(i + 1);
        else if (args.at(i) == QLatin1String("--postgres-user"))
            user = args.at(i + 1);
        else if (args.at(i) == QLatin1String("--rows"))
            rows = std::max(10, args.at(i + 1).toInt());
        else if (args.at(i) == QLatin1String("--modules-per-port"))
            perPort = std::max(2, args.at(i + 1).toInt());
        else if (args.at(i) == QLatin1String("--replug-ms"))
            replugMs = args.at(i + 1).toInt();
    }
    if (socket.isEmpty() || user.isEmpty())
        return fail(QStringLiteral("give --postgres-socket DIR --postgres-user NAME"));
    const auto postgres = [&](const char* database) {
        return QStringLiteral("postgresql://%1@%2/%3")
            .arg(user, QString::fromLatin1(QUrl::toPercentEncoding(socket)), QLatin1String(database));
    };
    const QDir folder(runtime.path());
    const QString profilePath = QStringLiteral(VELKO_SOURCE_DIR "/docs/example-profile.json");
    ProfileFile profile;
    QString error;
    ValuesTable table;
    QString csvText = QString::fromLatin1(idsCsv(rows));
    if (!profile.load(profilePath, &error) || !readValues(csvText, Config::fieldPaths(), &table, &error))
        return fail(error);

    // The claim and the record per module: the CSV and its report first, then each ledger.
    QVector<StationRow> stationRows;
    for (int i = 0; i < table.rows.size(); ++i) {
        StationRow row;
        row.number = i + 1;
        row.values = table.values(i);
        QStringList problems;
        profile.configure(table.overrides(i), &row.config, &problems);
        stationRows.append(row);
    }
    RowPool pool(stationRows, true, -1, 0);
    ReportFile report;
    if (!report.open(folder.filePath(QStringLiteral("claims.jsonl")), &error))
        return fail(error);
    const double csvMs = claimAndRecord(pool, rows, &report);
    const double sqliteMs =
        onLedger(QStringLiteral("sqlite:") + folder.filePath(QStringLiteral("claims.db")), profile, table, rows);
    const double postgresMs = onLedger(postgres("bench_claims"), profile, table, rows);
    if (csvMs < 0 || sqliteMs < 0 || postgresMs < 0)
        return fail(QStringLiteral("a claim or a record failed"));
    put("ledger_rows", rows, 0);
    put("ledger_csv_ms", csvMs, 2);
    put("ledger_sqlite_ms", sqliteMs, 2);
    put("ledger_postgres_ms", postgresMs, 2);
    put("ledger_sqlite_extra_ms", sqliteMs - csvMs, 2);
    put("ledger_postgres_extra_ms", postgresMs - csvMs, 2);

    // A line on one PostgreSQL ledger: one station of four ports, then two.
    std::vector<std::unique_ptr<QProcess>> modules;
    const QStringList ports = startReplugged(
        8, replugMs, [&](int i) { return folder.filePath(QStringLiteral("sim-%1.out").arg(i)); }, &modules, &error);
    if (ports.isEmpty())
        return fail(error);
    QThread::msleep(500);
    const LineRun one =
        runLine(postgres("bench_one"), profilePath, {ports.mid(0, 4)}, 4 * perPort, folder, QStringLiteral("one"));
    QThread::msleep(1000); // the last modules are replugged
    const LineRun two = runLine(postgres("bench_two"), profilePath, {ports.mid(0, 4), ports.mid(4, 4)}, 8 * perPort,
                                folder, QStringLiteral("two"));
    for (auto& m : modules)
        stopSimProcess(*m);
    const double perMinute1 = one.wallMs > 0 ? one.used * 60000.0 / one.wallMs : 0;
    const double perMinute2 = two.wallMs > 0 ? two.used * 60000.0 / two.wallMs : 0;
    put("line1_rows", 4 * perPort, 0);
    put("line1_used", one.used, 0);
    put("line1_wall_ms", one.wallMs, 0);
    put("line1_ended", one.allEnded ? 1 : 0, 0);
    put("line1_per_minute", perMinute1, 1);
    put("line2_rows", 8 * perPort, 0);
    put("line2_used", two.used, 0);
    put("line2_wall_ms", two.wallMs, 0);
    put("line2_ended", two.allEnded ? 1 : 0, 0);
    put("line2_per_minute", perMinute2, 1);
    put("line2_vs_1", perMinute1 > 0 ? perMinute2 / perMinute1 : 0, 2);
    if (one.used == 0 || two.used == 0)
        return fail(QStringLiteral("a line run configured no module"));
    return 0;
}
