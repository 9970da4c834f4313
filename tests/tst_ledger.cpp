// A line of stations on one ledger: each row to exactly one module, a killed
// station's row used once, the results of the modules in progress kept while
// the database is away, the CSV rules at import, and the password never
// shown. velkocan-cli runs as child processes against simulated modules of
// this process, on an SQLite file and on a PostgreSQL server of the test's own.
#include "core/station/ledger.h"
#include "sim/simmodule.h"
#include "tests/support/cliprocess.h"
#include "tests/support/coresupport.h"
#include "tests/support/postgresserver.h"

#include <QCryptographicHash>
#include <QDir>
#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QLocalServer>
#include <QLocalSocket>
#include <QProcess>
#include <QSqlDatabase>
#include <QSqlError>
#include <QSqlQuery>
#include <QTimer>
#include <QUrl>

#include <csignal>
#include <memory>

using TestSupport::CliRun;

class TstLedger : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void cleanup();

    void urlsAreReadAsLibpqReadsThem_data();
    void urlsAreReadAsLibpqReadsThem();
    void initCreatesTheSchemaOnceAndRefusesAnotherVersion_data();
    void initCreatesTheSchemaOnceAndRefusesAnotherVersion();
    void importRefusesWhatTheStationRefuses_data();
    void importRefusesWhatTheStationRefuses();
    void aSecondImportNamesTheIdsTheLedgerHolds();
    void anExportIsTheSameInAFileAsOnStandardOutput_data();
    void anExportIsTheSameInAFileAsOnStandardOutput();
    void twoStationsGiveEachRowToOneModule_data();
    void twoStationsGiveEachRowToOneModule();
    void aKilledStationsRowIsUsedOnce_data();
    void aKilledStationsRowIsUsedOnce();
    void aRowTheProfileRefusesIsNotGivenToAModule();
    void aResultTheLedgerRefusesStopsTheLine();
    void theLineOutlivesTheDatabaseGoingAway();
    void aClaimWhoseAnswerWasLostIsGivenBack();
    void aStationPausedPastItsLeaseIsTold_data();
    void aStationPausedPastItsLeaseIsTold();
    void anSqliteFileGoneStopsTheLine_data();
    void anSqliteFileGoneStopsTheLine();
    void thePasswordIsNeverShown();

private:
    void backends();
    // A new, initialised ledger; empty when it could not be made.
    QString newLedger(const QString& backend, const QByteArray& csv, int leaseSeconds = 0);
    sim::SimModule* plug();
    CliRun cli(const QStringList& arguments, const TestSupport::CliOptions& options = {});
    QStringList station(const QString& url, const QString& name, const QList<sim::SimModule*>& ports);
    QList<QJsonObject> exported(const QString& url, bool results);
    // Runs `statement` on the ledger's database, as another program would.
    bool sqlOn(const QString& url, const QString& statement);
    // The CAN IDs that reached the modules, each time one was written.
    QStringList canIdsWritten(const QList<sim::SimModule*>& modules) const;

    QList<sim::SimModule*> m_sims;
    QTemporaryDir m_dir;
    TestSupport::PostgresServer m_postgres;
    QString m_noPostgres; // why the PostgreSQL rows cannot run
    int m_ledgers = 0;
};

namespace {

QByteArray idsCsv(int rows)
{
    QByteArray csv = "can.id\n";
    for (int i = 1; i <= rows; ++i)
        csv += QByteArray::number(0x100 + i, 16).toUpper() + '\n';
    return csv;
}

QStringList idsOf(int rows)
{
    QStringList ids;
    for (int i = 1; i <= rows; ++i)
        ids.append(QString::number(0x100 + i, 16).toUpper());
    return ids;
}

// Passes a PostgreSQL server's Unix socket through a socket of its own, and
// cuts the connection that commits the first claim once the server has the
// COMMIT, before its answer reaches the station.
class CommitCutter : public QObject
{
public:
    bool listen(const QString& folder, const QString& serverFolder)
    {
        const QString name = QStringLiteral("/.s.PGSQL.5432");
        m_target = serverFolder + name;
        connect(&m_server, &QLocalServer::newConnection, this, [this] {
            while (QLocalSocket* client = m_server.nextPendingConnection())
                pass(client);
        });
        return m_server.listen(folder + name);
    }
    bool cut = false;

private:
    void pass(QLocalSocket* client)
    {
        auto* server = new QLocalSocket(client);
        server->connectToServer(m_target);
        if (!server->waitForConnected(5000)) {
            client->abort();
            return;
        }
        // 1: the claim's update went to the server; 2: then its COMMIT.
        auto step = std::make_shared<int>(0);
        connect(client, &QLocalSocket::readyRead, client, [this, client, server, step] {
            const QByteArray bytes = client->readAll();
            if (!cut && bytes.contains("SET state = 'claimed'"))
                *step = 1;
            else if (!cut && *step == 1 && bytes.contains("COMMIT"))
                *step = 2;
            server->write(bytes);
        });
        connect(server, &QLocalSocket::readyRead, client, [this, client, server, step] {
            const QByteArray bytes = server->readAll();
            if (*step == 2 && !cut) {
                cut = true;
                client->abort();
                server->abort();
                return;
            }
            client->write(bytes);
        });
        connect(client, &QLocalSocket::disconnected, client, [client, server] {
            server->abort();
            client->deleteLater();
        });
        connect(server, &QLocalSocket::disconnected, client, [client] { client->disconnectFromServer(); });
    }

    QLocalServer m_server;
    QString m_target;
};

QStringList sorted(QStringList list)
{
    list.sort();
    return list;
}

} // namespace

void TstLedger::initTestCase()
{
    QVERIFY(m_dir.isValid());
    if (m_postgres.start(&m_noPostgres))
        return;
    // scripts/test and scripts/sanitize install the server: run by them (and
    // in CI), a server that does not start fails instead of skipping.
    if (qgetenv("CI") == "true" || qEnvironmentVariableIsSet("VELKO_POSTGRES_REQUIRED"))
        QFAIL(qPrintable(QStringLiteral("PostgreSQL: ") + m_noPostgres));
    qWarning("PostgreSQL: %s; its tests are skipped", qPrintable(m_noPostgres));
}

void TstLedger::cleanup()
{
    qDeleteAll(m_sims);
    m_sims.clear();
    if (m_noPostgres.isEmpty() && !m_postgres.isRunning())
        QVERIFY(m_postgres.startAgain());
}

void TstLedger::backends()
{
    QTest::addColumn<QString>("backend");
    QTest::newRow("on an SQLite file") << "sqlite";
    QTest::newRow("on a PostgreSQL server") << "postgresql";
}

QString TstLedger::newLedger(const QString& backend, const QByteArray& csv, int leaseSeconds)
{
    const QString name = QStringLiteral("ledger%1").arg(++m_ledgers);
    QString url;
    if (backend == QLatin1String("sqlite")) {
        url = QStringLiteral("sqlite:") + m_dir.filePath(name + QStringLiteral(".db"));
    } else {
        if (!m_noPostgres.isEmpty())
            return QString();
        url = m_postgres.createDatabase(name);
    }
    QStringList init{"ledger", "init", url};
    if (leaseSeconds > 0)
        init << "--lease" << QString::number(leaseSeconds);
    if (url.isEmpty() || cli(init).status != 0)
        return QString();
    if (!csv.isEmpty() &&
        cli({"ledger", "import", url, TestSupport::writeFile(m_dir.filePath("ids.csv"), csv)}).status != 0)
        return QString();
    return url;
}

sim::SimModule* TstLedger::plug()
{
    auto* const module = new sim::SimModule;
    // Taken out after its restart, each module is followed by another on its port.
    module->faults().replugAfterRestartMs = 50;
    if (!module->start())
        qWarning("the simulated module did not start");
    m_sims.append(module);
    return module;
}

CliRun TstLedger::cli(const QStringList& arguments, const TestSupport::CliOptions& options)
{
    TestSupport::CliOptions o = options;
    o.timeoutMs = 120000;
    return TestSupport::runCli(arguments, o);
}

QStringList TstLedger::station(const QString& url, const QString& name, const QList<sim::SimModule*>& ports)
{
    QStringList arguments{
        "station", TestSupport::exampleProfile(), "--values", url, "--station-name", name, "--restart", "--fast"};
    for (const sim::SimModule* module : ports)
        arguments << "--port" << module->portName();
    return arguments;
}

QList<QJsonObject> TstLedger::exported(const QString& url, bool results)
{
    QList<QJsonObject> objects;
    const CliRun r = cli(results ? QStringList{"ledger", "export", url, "--results"}
                                 : QStringList{"ledger", "export", url, "--json"});
    if (r.status != 0) {
        qWarning("export: %s", r.err.constData());
        return objects;
    }
    if (results) {
        for (const QByteArray& line : r.out.split('\n')) {
            if (!line.isEmpty())
                objects.append(QJsonDocument::fromJson(line).object());
        }
    } else {
        for (const QJsonValue& row : r.json().value("rows").toArray())
            objects.append(row.toObject());
    }
    return objects;
}

bool TstLedger::sqlOn(const QString& url, const QString& statement)
{
    LedgerAddress address;
    QString error;
    if (!LedgerAddress::parse(url, &address, &error))
        return false;
    bool done = false;
    {
        QSqlDatabase db = QSqlDatabase::addDatabase(address.driver, "other");
        db.setDatabaseName(address.database);
        db.setHostName(address.host);
        db.setUserName(address.user);
        done = db.open() && QSqlQuery(db).exec(statement);
        if (!done)
            qWarning("%s: %s", qPrintable(statement), qPrintable(db.lastError().text()));
        db.close();
    }
    QSqlDatabase::removeDatabase("other");
    return done;
}

QStringList TstLedger::canIdsWritten(const QList<sim::SimModule*>& modules) const
{
    QStringList ids;
    for (const sim::SimModule* module : modules) {
        for (const QByteArray& frame : module->frameData()) {
            if (frame.startsWith("AT+CAN="))
                ids.append(QString::fromLatin1(frame.split(',').value(1)));
        }
    }
    return ids;
}

void TstLedger::urlsAreReadAsLibpqReadsThem_data()
{
    QTest::addColumn<QString>("url");
    QTest::addColumn<QString>("driver"); // empty: refused
    QTest::addColumn<QString>("database");
    QTest::addColumn<QString>("host");
    QTest::addColumn<int>("port");
    QTest::addColumn<QString>("user");
    QTest::addColumn<QString>("told"); // in the options, or in the refusal
    QTest::newRow("an SQLite file by a relative path") << "sqlite:line.db"
                                                       << "QSQLITE"
                                                       << "line.db"
                                                       << "" << -1 << ""
                                                       << "";
    QTest::newRow("an SQLite file after three slashes") << "sqlite:///var/lib/line.db"
                                                        << "QSQLITE"
                                                        << "/var/lib/line.db"
                                                        << "" << -1 << ""
                                                        << "";
    QTest::newRow("a server by user, host, port and database") << "postgresql://line@db.example:5433/orders"
                                                               << "QPSQL"
                                                               << "orders"
                                                               << "db.example" << 5433 << "line"
                                                               << "connect_timeout=5";
    QTest::newRow("a socket folder as a percent-encoded host") << "postgres://velko@%2Frun%2Fpg/line"
                                                               << "QPSQL"
                                                               << "line"
                                                               << "/run/pg" << -1 << "velko"
                                                               << "";
    QTest::newRow("keywords after the path, one passed on to libpq")
        << "postgresql:///line?host=/run/pg&port=5434&sslmode=require"
        << "QPSQL"
        << "line"
        << "/run/pg" << 5434 << ""
        << "sslmode='require'";
    QTest::newRow("an IPv6 address in brackets") << "postgresql://[::1]:5432/line"
                                                 << "QPSQL"
                                                 << "line"
                                                 << "::1" << 5432 << ""
                                                 << "";
    QTest::newRow("a password after the user is refused without being repeated")
        << "postgresql://line:hunter2@db/orders"
        << ""
        << ""
        << "" << -1 << ""
        << "PGPASSWORD or ~/.pgpass";
    QTest::newRow("a password keyword is refused too") << "postgresql://db/orders?password=hunter2"
                                                       << ""
                                                       << ""
                                                       << "" << -1 << ""
                                                       << "PGPASSWORD or ~/.pgpass";
    // Every spelling libpq would read as a password, refused without a trace of it.
    const auto secret = [](const char* name, const char* url) {
        QTest::newRow(name) << url << ""
                            << ""
                            << "" << -1 << ""
                            << "PGPASSWORD or ~/.pgpass";
    };
    secret("a password keyword in capitals", "postgresql://db/orders?PASSWORD=hunter2");
    secret("a password keyword with a blank", "postgresql://db/orders?password%20=hunter2");
    secret("an SSL key's password", "postgresql://db/orders?sslpassword=hunter2");
    secret("a password after the user, in a scheme in capitals", "POSTGRESQL://line:hunter2@db/orders");
    secret("a percent-encoded colon between user and password", "postgresql://postgres%3Ahunter2@db/orders");
    secret("a connection string as the database's keyword", "postgresql://db/?dbname=orders%20password%3Dhunter2");
    secret("a connection string as the path's database", "postgresql://db/dbname%3Dorders%20password%3Dhunter2");
    QTest::newRow("a keyword libpq does not know") << "postgresql://db/orders?bogus=1"
                                                   << ""
                                                   << ""
                                                   << "" << -1 << ""
                                                   << "\"bogus\" is not a libpq keyword";
    QTest::newRow("a port that is no number") << "postgresql://db:54x/orders"
                                              << ""
                                              << ""
                                              << "" << -1 << ""
                                              << "port 54x is not a port number";
    QTest::newRow("sqlite: without a file") << "sqlite:"
                                            << ""
                                            << ""
                                            << "" << -1 << ""
                                            << "no file after sqlite:";
}

void TstLedger::urlsAreReadAsLibpqReadsThem()
{
    QFETCH(QString, url);
    QFETCH(QString, driver);
    QFETCH(QString, database);
    QFETCH(QString, host);
    QFETCH(int, port);
    QFETCH(QString, user);
    QFETCH(QString, told);
    QVERIFY(LedgerAddress::isLedger(url));
    LedgerAddress a;
    QString error;
    const bool read = LedgerAddress::parse(url, &a, &error);
    QCOMPARE(read, !driver.isEmpty());
    if (!read) {
        QVERIFY2(error.contains(told), qPrintable(error));
        QVERIFY2(!error.contains("hunter2"), qPrintable(error));
        return;
    }
    QCOMPARE(a.driver, driver);
    QCOMPARE(a.database, database);
    QCOMPARE(a.host, host);
    QCOMPARE(a.port, port);
    QCOMPARE(a.user, user);
    QVERIFY2(a.options.contains(told), qPrintable(a.options));
}

void TstLedger::initCreatesTheSchemaOnceAndRefusesAnotherVersion_data()
{
    backends();
}

void TstLedger::initCreatesTheSchemaOnceAndRefusesAnotherVersion()
{
    QFETCH(QString, backend);
    const QString url = newLedger(backend, idsCsv(2), 7);
    if (url.isEmpty() && !m_noPostgres.isEmpty() && backend == "postgresql")
        QSKIP(qPrintable(m_noPostgres));
    QVERIFY(!url.isEmpty());

    const CliRun again = cli({"ledger", "init", url, "--json"});
    QCOMPARE(again.status, 0);
    QCOMPARE(again.json().value("created").toBool(true), false);
    QCOMPARE(again.json().value("leaseSeconds").toInt(), 7);
    const CliRun told = cli({"ledger", "init", url});
    QVERIFY2(told.out.startsWith(url.toUtf8() + ": already a ledger of schema version 1"), told.out.constData());
    QCOMPARE(cli({"ledger", "status", url, "--json"}).json().value("free").toInt(), 2); // the rows kept

    // A ledger of a later schema is refused by every command that reads it, with the reason.
    QVERIFY(sqlOn(url, "UPDATE ledger_schema SET version = 2"));
    sim::SimModule* const module = plug();
    for (const QStringList& arguments :
         {QStringList{"ledger", "init", url}, QStringList{"ledger", "status", url}, station(url, "s", {module})}) {
        const CliRun r = cli(arguments);
        QCOMPARE(r.status, 2);
        QVERIFY2(r.err.contains("holds a ledger of schema version 2; this tool reads version 1"), r.err.constData());
    }
    QVERIFY(module->frames().isEmpty());
}

void TstLedger::importRefusesWhatTheStationRefuses_data()
{
    QTest::addColumn<QByteArray>("csv");
    QTest::addColumn<bool>("withProfile");
    QTest::addColumn<QByteArray>("told");
    QTest::newRow("a column that is no profile path")
        << QByteArray("can.idd\n101\n") << false << QByteArray("\"can.idd\" is not a profile path");
    QTest::newRow("a quote left open") << QByteArray("can.id\n\"101\n") << false
                                       << QByteArray("line 2: a quote is not closed");
    QTest::newRow("a row the profile refuses")
        << QByteArray("can.id\n101\n800\n") << true << QByteArray("ids.csv line 3: can.id: 800 is above 7FF");
    QTest::newRow("a repeated CAN ID is warned of and imported")
        << QByteArray("can.id\n101\n101\n") << true << QByteArray("ids.csv line 3: can.id 101 repeats line 2");
}

void TstLedger::importRefusesWhatTheStationRefuses()
{
    QFETCH(QByteArray, csv);
    QFETCH(bool, withProfile);
    QFETCH(QByteArray, told);
    const QString url = newLedger("sqlite", QByteArray());
    QVERIFY(!url.isEmpty());
    QStringList arguments{"ledger", "import", url, TestSupport::writeFile(m_dir.filePath("ids.csv"), csv)};
    if (withProfile)
        arguments << "--profile" << TestSupport::exampleProfile();

    const CliRun r = cli(arguments);

    const bool imported = csv.endsWith("101\n101\n");
    QCOMPARE(r.status, imported ? 0 : 2);
    QVERIFY2(r.err.contains(told), r.err.constData());
    if (!imported)
        QVERIFY2(r.err.contains("nothing imported"), r.err.constData());
    QCOMPARE(cli({"ledger", "status", url, "--json"}).json().value("rows").toInt(-1), imported ? 2 : 0);
}

void TstLedger::aSecondImportNamesTheIdsTheLedgerHolds()
{
    // By value, as a repeat inside one file: the case of hex digits makes no other ID.
    const QString url = newLedger("sqlite", "can.id\n1a1\n1A2\n");
    QVERIFY(!url.isEmpty());
    const QString again = TestSupport::writeFile(m_dir.filePath("again.csv"), "can.id\n1A1\n1A3\n1a2\n");

    const CliRun r = cli({"ledger", "import", url, again});

    QCOMPARE(r.status, 0);
    QVERIFY2(r.err.contains(again.toUtf8() + " line 2: can.id 1A1 repeats ledger row 1 (ids.csv line 2)"),
             r.err.constData());
    QVERIFY2(r.err.contains(again.toUtf8() + " line 4: can.id 1a2 repeats ledger row 2 (ids.csv line 3)"),
             r.err.constData());
    QCOMPARE(r.err.count("repeats"), 2);

    // A station's check names them too, each with the row it repeats.
    const CliRun check = cli({"station", TestSupport::exampleProfile(), "--values", url, "--check"});
    QVERIFY2(check.status == 0, check.err.constData());
    QVERIFY2(check.err.contains("ledger row 3 (again.csv line 2): can.id 1A1 repeats ledger row 1 (ids.csv line 2)"),
             check.err.constData());
    QCOMPARE(check.err.count("repeats"), 2);

    // The same file once more is an import of its own, and is taken back
    // without the rows a station has used or claimed, or that results name.
    QCOMPARE(cli({"ledger", "import", url, again, "--json"}).json().value("source").toString(),
             QStringLiteral("again.csv#2"));
    QVERIFY(sqlOn(url, "UPDATE ledger_rows SET state = 'used', station = 's', port = 'p', module = 1 WHERE id = 6"));
    QVERIFY(sqlOn(url, "INSERT INTO ledger_results (row_id, station, process, version, profile_sha256, port, module, "
                       "result, status, time, duration_ms, row_values, written, partly_written, not_written, record) "
                       "VALUES (7, 's', 1, 'v', '', 'p', 2, 'differences', 3, 't', 0, '', '', '', '', '{}')"));
    const QJsonArray imports = cli({"ledger", "status", url, "--json"}).json().value("imports").toArray();
    QCOMPARE(imports.size(), 3);
    QCOMPARE(imports.at(2).toObject().value("first").toInt(), 6);

    const CliRun withdrawn = cli({"ledger", "withdraw", url, "again.csv#2"});

    QVERIFY2(withdrawn.status == 0, withdrawn.err.constData());
    QVERIFY2(withdrawn.out.contains("again.csv#2: 1 free rows withdrawn, 2 kept"), withdrawn.out.constData());
    QVERIFY2(withdrawn.out.contains("row 6 (line 2): used by station s p module 1"), withdrawn.out.constData());
    QVERIFY2(withdrawn.out.contains("row 7 (line 3): free, kept"), withdrawn.out.constData());
    QCOMPARE(cli({"ledger", "status", url, "--json"}).json().value("rows").toInt(), 7);
    const CliRun unknown = cli({"ledger", "withdraw", url, "again.csv#3"});
    QCOMPARE(unknown.status, 2);
    QVERIFY2(unknown.err.contains("no import \"again.csv#3\" in this ledger; imports: ids.csv, again.csv, again.csv#2"),
             unknown.err.constData());
}

void TstLedger::anExportIsTheSameInAFileAsOnStandardOutput_data()
{
    backends();
}

void TstLedger::anExportIsTheSameInAFileAsOnStandardOutput()
{
    // The export is read twice (the header's paths, then the rows) and
    // written as it is read: a path that only a later import has is in the
    // header, and -o FILE gets the same bytes as standard output.
    QFETCH(QString, backend);
    const QString url = newLedger(backend, "can.id,filter.list\n1A1,\"NDTF:1,EDTF:2\"\n1A2,\n");
    if (url.isEmpty() && !m_noPostgres.isEmpty() && backend == "postgresql")
        QSKIP(qPrintable(m_noPostgres));
    QVERIFY(!url.isEmpty());
    const QString more = TestSupport::writeFile(m_dir.filePath("more.csv"), "serial.baud;can.id\n9600;7\n");
    QCOMPARE(cli({"ledger", "import", url, more}).status, 0);
    const QString file = m_dir.filePath("export.csv");

    const CliRun out = cli({"ledger", "export", url});
    const CliRun written = cli({"ledger", "export", url, "-o", file});

    QCOMPARE(out.status, 0);
    QCOMPARE(written.status, 0);
    const QList<QByteArray> lines = out.out.split('\n');
    QCOMPARE(lines.first(),
             QByteArray("row,state,station,port,module,changed,source,line,can.id,filter.list,serial.baud"));
    QCOMPARE(lines.size(), 5); // the header, three rows and the last line end
    QVERIFY2(lines.at(1).endsWith(",2,1A1,\"NDTF:1,EDTF:2\","), lines.at(1).constData());
    QVERIFY2(lines.at(3).endsWith(",2,7,,9600"), lines.at(3).constData());
    QFile saved(file);
    QVERIFY(saved.open(QIODevice::ReadOnly));
    QCOMPARE(saved.readAll(), out.out);
    QVERIFY2(written.err.contains("3 rows written"), written.err.constData());
    QCOMPARE(exported(url, false).size(), 3);
}

void TstLedger::twoStationsGiveEachRowToOneModule_data()
{
    backends();
}

void TstLedger::twoStationsGiveEachRowToOneModule()
{
    QFETCH(QString, backend);
    const QString url = newLedger(backend, idsCsv(12));
    if (url.isEmpty() && !m_noPostgres.isEmpty() && backend == "postgresql")
        QSKIP(qPrintable(m_noPostgres));
    QVERIFY(!url.isEmpty());
    const QList<sim::SimModule*> first{plug(), plug()};
    const QList<sim::SimModule*> second{plug(), plug()};

    // The second station starts while the first one runs, and both run to the end of the rows.
    CliRun other;
    TestSupport::CliOptions options;
    options.started = [&](QProcess&) { other = cli(station(url, "line-2", second) << "--quiet"); };
    const CliRun one = cli(station(url, "line-1", first) << "--quiet", options);

    QCOMPARE(one.status, 0);
    QCOMPARE(other.status, 0);
    // Every row's values went to exactly one module.
    QCOMPARE(sorted(canIdsWritten(first + second)), idsOf(12));
    const QList<QJsonObject> rows = exported(url, false);
    const QList<QJsonObject> results = exported(url, true);
    QCOMPARE(rows.size(), 12);
    QCOMPARE(results.size(), 12);
    QMap<QString, int> usedBy;
    for (const QJsonObject& row : rows) {
        QCOMPARE(row.value("state").toString(), QStringLiteral("used"));
        usedBy[row.value("station").toString()]++;
    }
    QCOMPARE(usedBy.keys(), (QList<QString>{"line-1", "line-2"}));
    // Each result names the station, the tool and the profile, and the module on its port got its row's values.
    QFile profile(TestSupport::exampleProfile());
    QVERIFY(profile.open(QIODevice::ReadOnly));
    const QString sha = QCryptographicHash::hash(profile.readAll(), QCryptographicHash::Sha256).toHex();
    QSet<int> rowsRecorded;
    for (const QJsonObject& result : results) {
        QCOMPARE(result.value("result").toString(), QStringLiteral("ok"));
        QCOMPARE(result.value("profileSha256").toString(), sha);
        QVERIFY(result.value("version").toString().startsWith("velkocan-cli "));
        QVERIFY(result.value("written").toArray().contains(QStringLiteral("can")));
        const int row = result.value("row").toInt();
        rowsRecorded.insert(row);
        QCOMPARE(result.value("values").toObject().value("can.id").toString(), idsOf(12).at(row - 1));
        const QList<sim::SimModule*>& modules = result.value("station").toString() == "line-1" ? first : second;
        const auto module = std::find_if(modules.begin(), modules.end(), [&](const sim::SimModule* m) {
            return m->portName() == result.value("port").toString();
        });
        QVERIFY(module != modules.end());
        QVERIFY(canIdsWritten({*module}).contains(idsOf(12).at(row - 1)));
    }
    QCOMPARE(rowsRecorded.size(), 12);
    // The totals agree with the rows and the results.
    const QJsonObject status = cli({"ledger", "status", url, "--json"}).json();
    QCOMPARE(status.value("used").toInt(), 12);
    QCOMPARE(status.value("free").toInt(-1), 0);
    QCOMPARE(status.value("claimed").toInt(-1), 0);
    for (const QJsonValue& s : status.value("stations").toArray()) {
        const QJsonObject st = s.toObject();
        QCOMPARE(st.value("ok").toInt(), usedBy.value(st.value("station").toString()));
        QCOMPARE(st.value("failed").toInt(-1), 0);
    }
}

void TstLedger::aKilledStationsRowIsUsedOnce_data()
{
    QTest::addColumn<QString>("backend");
    QTest::addColumn<bool>("released"); // given back by hand rather than by its lease
    QTest::newRow("on an SQLite file, once its lease ran out") << "sqlite" << false;
    QTest::newRow("on an SQLite file, given back by hand") << "sqlite" << true;
    QTest::newRow("on a PostgreSQL server, once its lease ran out") << "postgresql" << false;
    QTest::newRow("on a PostgreSQL server, given back by hand") << "postgresql" << true;
}

void TstLedger::aKilledStationsRowIsUsedOnce()
{
    QFETCH(QString, backend);
    QFETCH(bool, released);
    const QString url = newLedger(backend, idsCsv(4), 3);
    if (url.isEmpty() && !m_noPostgres.isEmpty() && backend == "postgresql")
        QSKIP(qPrintable(m_noPostgres));
    QVERIFY(!url.isEmpty());
    sim::SimModule* const killedOn = plug();
    // SIGKILL in the middle of the first module, on row 1: its CAN settings never went out.
    TestSupport::CliOptions options;
    options.started = [&](QProcess& process) {
        connect(killedOn, &sim::SimModule::frameReceived, &process, [&process](const QByteArray& frame) {
            if (frame.startsWith("AT+MODE="))
                ::kill(pid_t(process.processId()), SIGKILL);
        });
    };
    QCOMPARE(cli(station(url, "gone", {killedOn}), options).status, -1);
    const QJsonObject held = cli({"ledger", "status", url, "--json"}).json();
    QCOMPARE(held.value("claimed").toInt(), 1);
    QCOMPARE(held.value("stations").toArray().first().toObject().value("station").toString(), QStringLiteral("gone"));
    if (released) {
        // Its lease has not run out: only --force gives its claims back before.
        const CliRun refused = cli({"ledger", "release", url, "--station", "gone"});
        QCOMPARE(refused.status, 2);
        QVERIFY2(refused.err.contains("station \"gone\" renewed its claims") && refused.err.contains("--force"),
                 refused.err.constData());
        const CliRun release = cli({"ledger", "release", url, "--station", "gone", "--force", "--json"});
        QCOMPARE(release.status, 0);
        QCOMPARE(release.json().value("released").toInt(), 1);
    }

    sim::SimModule* const next = plug();
    const CliRun r = cli(station(url, "next", {next}) << "--quiet");

    QCOMPARE(r.status, 0);
    QCOMPARE(canIdsWritten({killedOn}), QStringList());
    QCOMPARE(sorted(canIdsWritten({next})), idsOf(4));
    for (const QJsonObject& row : exported(url, false))
        QCOMPARE(row.value("station").toString(), QStringLiteral("next"));
    // Row 1 came first when given back, and later when its lease had to run
    // out (the lease outlasts the next station's start); once each time.
    QList<int> order;
    for (const QJsonObject& result : exported(url, true))
        order.append(result.value("row").toInt());
    QCOMPARE(order.size(), 4);
    QCOMPARE(order.first() == 1, released);
    std::sort(order.begin(), order.end());
    QCOMPARE(order, (QList<int>{1, 2, 3, 4}));
}

void TstLedger::aRowTheProfileRefusesIsNotGivenToAModule()
{
    // Imported without a profile; the station's profile takes standard frames only.
    const QString url = newLedger("sqlite", "can.id\n101\n800\n102\n");
    QVERIFY(!url.isEmpty());
    sim::SimModule* const module = plug();

    const CliRun r = cli(station(url, "s", {module}) << "--quiet");

    QCOMPARE(r.status, 2);
    QVERIFY2(r.err.contains("ledger row 2 (ids.csv line 3): can.id: 800 is above 7FF"), r.err.constData());
    QVERIFY2(r.err.contains("station: 2 ok, 0 failed, 1 rows left, 1 refused by the profile"), r.err.constData());
    QCOMPARE(canIdsWritten({module}), (QStringList{"101", "102"}));
    QCOMPARE(exported(url, false).at(1).value("state").toString(), QStringLiteral("free"));
}

void TstLedger::aResultTheLedgerRefusesStopsTheLine()
{
    // The database refuses every result (a trigger of its own): no module
    // starts after the first, whose record is printed whole.
    const QString url = newLedger("sqlite", idsCsv(3));
    QVERIFY(!url.isEmpty());
    QVERIFY(sqlOn(url, "CREATE TRIGGER refuse BEFORE INSERT ON ledger_results BEGIN SELECT RAISE(ABORT, 'no results "
                       "today'); END"));
    sim::SimModule* const module = plug();

    const CliRun r = cli(station(url, "s", {module}) << "--quiet");

    QCOMPARE(r.status, 2);
    QVERIFY2(r.err.contains("no results today; no further module is taken"), r.err.constData());
    QVERIFY2(r.err.contains("not in the ledger: {"), r.err.constData());
    QCOMPARE(module->frameData().count("AT+E=OFF\r\n"), 1);
    // The row is neither used nor free: its claim holds until its lease runs out.
    const QJsonObject status = cli({"ledger", "status", url, "--json"}).json();
    QCOMPARE(status.value("claimed").toInt(), 1);
    QCOMPARE(status.value("used").toInt(-1), 0);
}

void TstLedger::theLineOutlivesTheDatabaseGoingAway()
{
    if (!m_noPostgres.isEmpty())
        QSKIP(qPrintable(m_noPostgres));
    const QString url = newLedger("postgresql", idsCsv(6));
    QVERIFY(!url.isEmpty());
    const QList<sim::SimModule*> modules{plug(), plug()};
    // The server stops while the first module takes its mode, and starts
    // again once the station said that a module's result waits for it.
    QByteArray err;
    bool stopped = false;
    bool restarted = false;
    TestSupport::CliOptions options;
    options.started = [&](QProcess& process) {
        connect(modules.first(), &sim::SimModule::frameReceived, &process, [&](const QByteArray& frame) {
            if (!stopped && frame.startsWith("AT+MODE=")) {
                stopped = true;
                QTimer::singleShot(0, &process, [&] { QVERIFY(m_postgres.stop()); });
            }
        });
        connect(&process, &QProcess::readyReadStandardError, &process, [&] {
            err += process.readAllStandardError();
            if (!restarted && err.contains("waits for the ledger")) {
                restarted = true;
                QTimer::singleShot(0, &process, [&] { QVERIFY(m_postgres.startAgain()); });
            }
        });
    };

    const CliRun r = cli(station(url, "s", modules), options);

    err += r.err;
    QCOMPARE(r.status, 0);
    QVERIFY(restarted);
    QVERIFY2(err.contains("ledger: the ledger does not answer ("), err.constData());
    QVERIFY2(err.contains("ledger: the ledger answers again"), err.constData());
    QVERIFY2(err.contains("station: 6 ok, 0 failed, 0 rows left"), err.constData());
    // The results of the modules in progress arrived, and no row went to two modules.
    QCOMPARE(sorted(canIdsWritten(modules)), idsOf(6));
    QCOMPARE(exported(url, true).size(), 6);
    QCOMPARE(cli({"ledger", "status", url, "--json"}).json().value("used").toInt(), 6);
}

void TstLedger::aClaimWhoseAnswerWasLostIsGivenBack()
{
    if (!m_noPostgres.isEmpty())
        QSKIP(qPrintable(m_noPostgres));
    const QString url = newLedger("postgresql", idsCsv(3));
    QVERIFY(!url.isEmpty());
    const QString proxy = m_dir.filePath(QStringLiteral("proxy"));
    QVERIFY(QDir().mkpath(proxy));
    CommitCutter cutter;
    QVERIFY(cutter.listen(proxy, m_postgres.socketFolder()));
    const QString viaProxy = QStringLiteral("postgresql://velko@%1/%2")
                                 .arg(QString::fromLatin1(QUrl::toPercentEncoding(proxy)), url.section('/', -1));
    const QList<sim::SimModule*> modules{plug()};

    const CliRun r = cli(station(viaProxy, "s", modules));

    // The claim reached the ledger though the station never heard so: it is
    // given back and claimed again, and the station ends with its rows.
    QVERIFY(cutter.cut);
    QVERIFY2(r.status == 0, r.err.constData());
    QVERIFY2(r.err.contains("claim(s) of this station whose answer was lost given back"), r.err.constData());
    QVERIFY2(r.err.contains("station: 3 ok, 0 failed, 0 rows left"), r.err.constData());
    QCOMPARE(sorted(canIdsWritten(modules)), idsOf(3));
    QCOMPARE(cli({"ledger", "status", url, "--json"}).json().value("used").toInt(), 3);
}

void TstLedger::aStationPausedPastItsLeaseIsTold_data()
{
    backends();
}

void TstLedger::aStationPausedPastItsLeaseIsTold()
{
    QFETCH(QString, backend);
    const QString url = newLedger(backend, idsCsv(2), 1);
    if (url.isEmpty() && !m_noPostgres.isEmpty() && backend == "postgresql")
        QSKIP(qPrintable(m_noPostgres));
    QVERIFY(!url.isEmpty());
    sim::SimModule* const pausedOn = plug();
    sim::SimModule* const otherOn = plug();
    // The first station stops (SIGSTOP) while it writes row 1, and goes on
    // once another station has taken the row past its lease and written it.
    CliRun other;
    bool stopped = false;
    TestSupport::CliOptions options;
    options.started = [&](QProcess& process) {
        connect(pausedOn, &sim::SimModule::frameReceived, &process, [&](const QByteArray& frame) {
            if (!frame.startsWith("AT+MODE=") || stopped)
                return;
            stopped = true;
            ::kill(pid_t(process.processId()), SIGSTOP);
            QTimer::singleShot(0, &process, [&] {
                other = cli(station(url, "other", {otherOn}) << "--quiet");
                ::kill(pid_t(process.processId()), SIGCONT);
            });
        });
    };

    const CliRun paused = cli(station(url, "paused", {pausedOn}), options);

    // Row 1's values are on both modules: both results say so, the paused
    // station does not end with 0, and the ledger names the row.
    QCOMPARE(other.status, 0);
    QVERIFY2(paused.status != 0, paused.err.constData());
    QCOMPARE(canIdsWritten({pausedOn}), QStringList{idsOf(2).first()});
    QCOMPARE(sorted(canIdsWritten({otherOn})), idsOf(2));
    QVERIFY2(paused.out.contains("the row's values are on another module too (other"), paused.out.constData());
    const QJsonArray twice = cli({"ledger", "status", url, "--json"}).json().value("duplicates").toArray();
    QCOMPARE(twice.size(), 1);
    QCOMPARE(twice.first().toObject().value("row").toInt(), 1);
    QCOMPARE(twice.first().toObject().value("modules").toArray().size(), 2);
    for (const QJsonObject& result : exported(url, true)) {
        if (result.value("row").toInt() == 1)
            QCOMPARE(result.value("result").toString(), QStringLiteral("duplicate"));
    }
}

void TstLedger::anSqliteFileGoneStopsTheLine_data()
{
    QTest::addColumn<bool>("replaced");
    QTest::addColumn<QByteArray>("told");
    QTest::newRow("deleted") << false << QByteArray("the ledger's file was deleted during the run");
    QTest::newRow("replaced") << true << QByteArray("the ledger's file was replaced by another file during the run");
}

void TstLedger::anSqliteFileGoneStopsTheLine()
{
    QFETCH(bool, replaced);
    QFETCH(QByteArray, told);
    const QString url = newLedger("sqlite", idsCsv(6));
    QVERIFY(!url.isEmpty());
    const QString file = url.mid(int(qstrlen("sqlite:")));
    const QList<sim::SimModule*> modules{plug()};
    // The file goes while the second module is written.
    int modes = 0;
    TestSupport::CliOptions options;
    options.started = [&](QProcess& process) {
        connect(modules.first(), &sim::SimModule::frameReceived, &process, [&](const QByteArray& frame) {
            if (frame.startsWith("AT+MODE=") && ++modes == 2) {
                if (replaced)
                    QVERIFY(QFile::copy(file, file + ".copy") &&
                            ::rename(qPrintable(file + ".copy"), qPrintable(file)) == 0);
                else
                    QVERIFY(QFile::remove(file));
            }
        });
    };

    const CliRun r = cli(station(url, "s", modules), options);

    // The module in progress is recorded where it can be read, and no module follows it.
    QCOMPARE(r.status, 2);
    QVERIFY2(r.err.contains(told + "; no further module is taken"), r.err.constData());
    QVERIFY2(r.err.contains("not in the ledger: {"), r.err.constData());
    QCOMPARE(canIdsWritten(modules).size(), 2);
}

void TstLedger::thePasswordIsNeverShown()
{
    if (!m_noPostgres.isEmpty())
        QSKIP(qPrintable(m_noPostgres));
    const QString url = newLedger("postgresql", idsCsv(1));
    QVERIFY(!url.isEmpty());
    const QString withPassword = QString(url).replace("velko@", "velko:hunter2@");
    sim::SimModule* const module = plug();
    for (const QStringList& arguments :
         {QStringList{"ledger", "status", withPassword, "--json"},
          QStringList{"ledger", "export", url + "?password=hunter2"}, station(withPassword, "s", {module})}) {
        const CliRun r = cli(arguments);
        QCOMPARE(r.status, 2);
        QVERIFY2(r.err.contains("PGPASSWORD or ~/.pgpass"), r.err.constData());
        QVERIFY(!(r.out + r.err).contains("hunter2"));
    }
    QVERIFY(module->frames().isEmpty());
    // libpq takes it from the environment; the tool never repeats it, even when the server refuses.
    qputenv("PGPASSWORD", "hunter2");
    const CliRun fine = cli({"ledger", "status", url});
    const CliRun refused = cli({"ledger", "status", QString(url).replace("/ledger", "/nosuch")});
    qunsetenv("PGPASSWORD");
    QCOMPARE(fine.status, 0);
    QCOMPARE(refused.status, 1);
    QVERIFY2(refused.err.contains("nosuch"), refused.err.constData());
    QVERIFY(!(fine.out + fine.err + refused.out + refused.err).contains("hunter2"));
}

VELKO_CORE_TEST_MAIN_PACED(TstLedger, TestSupport::kQuickPace)
#include "tst_ledger.moc"
