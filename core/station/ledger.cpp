#include "core/station/ledger.h"

#include "core/config/fileaccess.h"
#include "core/session/operation.h"

#include <QAtomicInt>
#include <QDateTime>
#include <QDir>
#include <QFileInfo>
#include <QJsonArray>
#include <QJsonDocument>
#include <QMap>
#include <QSqlDatabase>
#include <QSqlError>
#include <QSqlQuery>
#include <QThread>
#include <QUrl>
#include <QVariant>
#include <algorithm>

namespace {

const char kSqlitePrefix[] = "sqlite:";

// The Debian package that brings a driver of the Qt this tool was built with.
QString driverPackage(const QString& driver)
{
    const QString kind = driver == QLatin1String("QPSQL") ? QStringLiteral("psql") : QStringLiteral("sqlite");
#if QT_VERSION_MAJOR >= 6
    return QStringLiteral("libqt6sql6-") + kind;
#else
    return QStringLiteral("libqt5sql5-") + kind;
#endif
}

// A libpq keyword's value, quoted as a conninfo string takes it.
QString conninfoValue(const QString& value)
{
    QString quoted = value;
    quoted.replace(QLatin1Char('\\'), QStringLiteral("\\\\")).replace(QLatin1Char('\''), QStringLiteral("\\'"));
    return QLatin1Char('\'') + quoted + QLatin1Char('\'');
}

QString decoded(const QString& part)
{
    return QUrl::fromPercentEncoding(part.toUtf8());
}

// The keywords of libpq's connection strings that a ledger's URL may give,
// but those that carry a secret (password, sslpassword): they are refused.
const QStringList& libpqKeywords()
{
    static const QStringList k{"host",
                               "hostaddr",
                               "port",
                               "dbname",
                               "user",
                               "passfile",
                               "channel_binding",
                               "connect_timeout",
                               "client_encoding",
                               "options",
                               "application_name",
                               "fallback_application_name",
                               "keepalives",
                               "keepalives_idle",
                               "keepalives_interval",
                               "keepalives_count",
                               "tcp_user_timeout",
                               "replication",
                               "gssencmode",
                               "sslmode",
                               "requiressl",
                               "sslcompression",
                               "sslcert",
                               "sslkey",
                               "sslrootcert",
                               "sslcrl",
                               "sslcrldir",
                               "sslsni",
                               "requirepeer",
                               "ssl_min_protocol_version",
                               "ssl_max_protocol_version",
                               "krbsrvname",
                               "gsslib",
                               "service",
                               "target_session_attrs",
                               "load_balance_hosts"};
    return k;
}

// A text for a message: at most 80 characters, a longer one cut with its length.
QString clipped(const QString& text)
{
    constexpr int kShown = 80;
    // One arg() for both: a "%2F" in the text is not a place for the length.
    return text.size() <= kShown
               ? text
               : QStringLiteral("%1… (%2 characters)").arg(text.left(kShown), QString::number(text.size()));
}

// A PostgreSQL URL as messages show it: scheme://user@host:port/dbname, no
// password and no query; what is not plainly a host is left out.
QString shownUrl(const QString& url)
{
    const int schemeEnd = url.indexOf(QLatin1String("://"));
    QString rest = url.mid(schemeEnd + 3);
    rest = rest.left(rest.indexOf(QLatin1Char('?')) >= 0 ? rest.indexOf(QLatin1Char('?')) : rest.size());
    const int slash = rest.indexOf(QLatin1Char('/'));
    QString authority = slash >= 0 ? rest.left(slash) : rest;
    const QString path = slash >= 0 ? rest.mid(slash) : QString();
    const int at = authority.lastIndexOf(QLatin1Char('@'));
    if (at >= 0) {
        const QString user = authority.left(at);
        // A user with a password, plain or percent-encoded, is not shown at all.
        authority =
            (decoded(user).contains(QLatin1Char(':')) ? QString() : user + QLatin1Char('@')) + authority.mid(at + 1);
    }
    // A database name that is a connection string may hold anything.
    const QString database = decoded(path).contains(QLatin1Char('=')) ? QStringLiteral("/…") : path;
    return clipped(url.left(schemeEnd).toLower() + QStringLiteral("://") + authority + database);
}

// The database's words: their first line, without libpq's severity.
QString errorText(const QSqlError& error)
{
    QString text = error.databaseText().trimmed();
    if (text.isEmpty())
        text = error.driverText().trimmed();
    text = text.section(QLatin1Char('\n'), 0, 0).simplified();
    for (const char* severity : {"FATAL:", "ERROR:", "PANIC:"}) {
        if (text.startsWith(QLatin1String(severity)))
            text = text.mid(int(qstrlen(severity))).trimmed();
    }
    return text.isEmpty() ? QStringLiteral("no reason given") : text;
}

QString now()
{
    return Operation::timeWithOffset(QDateTime::currentDateTime());
}

QString valuesText(const QVector<QPair<QString, QString>>& values)
{
    QJsonArray pairs;
    for (const auto& v : values)
        pairs.append(QJsonArray{v.first, v.second});
    return QString::fromUtf8(QJsonDocument(pairs).toJson(QJsonDocument::Compact));
}

QVector<QPair<QString, QString>> valuesOf(const QString& text)
{
    QVector<QPair<QString, QString>> values;
    const QJsonArray pairs = QJsonDocument::fromJson(text.toUtf8()).array();
    for (const QJsonValue& pair : pairs)
        values.append({pair.toArray().at(0).toString(), pair.toArray().at(1).toString()});
    return values;
}

QString listText(const QStringList& list)
{
    return QString::fromUtf8(QJsonDocument(QJsonArray::fromStringList(list)).toJson(QJsonDocument::Compact));
}

QJsonArray arrayOf(const QString& text)
{
    return QJsonDocument::fromJson(text.toUtf8()).array();
}

// "AND id NOT IN (...)" for rows to leave out; numbers only, never a user's text.
QString leavingOut(const QSet<int>& skip)
{
    if (skip.isEmpty())
        return QString();
    QStringList ids;
    for (const int id : skip)
        ids.append(QString::number(id));
    return QStringLiteral(" AND id NOT IN (%1)").arg(ids.join(QLatin1Char(',')));
}

QAtomicInt g_ledgers;

} // namespace

QStringList LedgerRow::overrides() const
{
    QStringList list;
    for (const auto& v : values)
        list.append(v.first + QLatin1Char('=') + v.second);
    return list;
}

QJsonObject LedgerRow::valuesObject() const
{
    QJsonObject object;
    for (const auto& v : values)
        object.insert(v.first, v.second);
    return object;
}

bool LedgerAddress::isLedger(const QString& values)
{
    // Schemes are read in any letter case, as libpq reads them.
    return values.startsWith(QLatin1String(kSqlitePrefix)) ||
           values.startsWith(QLatin1String("postgresql://"), Qt::CaseInsensitive) ||
           values.startsWith(QLatin1String("postgres://"), Qt::CaseInsensitive);
}

bool LedgerAddress::parse(const QString& url, LedgerAddress* address, QString* error)
{
    LedgerAddress a;
    a.shown = url;
    if (url.startsWith(QLatin1String(kSqlitePrefix))) {
        QString path = url.mid(int(sizeof(kSqlitePrefix)) - 1);
        if (path.startsWith(QLatin1String("//")))
            path = path.mid(2); // sqlite:///var/lib/line.db
        if (path.isEmpty()) {
            *error = QStringLiteral("%1: no file after sqlite:").arg(url);
            return false;
        }
        a.driver = QStringLiteral("QSQLITE");
        a.database = path;
        *address = a;
        return true;
    }
    const int schemeEnd = url.indexOf(QLatin1String("://"));
    if (schemeEnd < 0 || !isLedger(url)) {
        *error = QStringLiteral("%1: not a ledger URL (sqlite:PATH or postgresql://[user@]host[:port]/dbname)")
                     .arg(clipped(url));
        return false;
    }
    a.driver = QStringLiteral("QPSQL");
    // The URL as every message shows it: what a password may hide in is left out.
    a.shown = shownUrl(url);
    const QString shown = a.shown;
    // The password is never repeated: the URL is named without it.
    const QString noPassword = QStringLiteral(
        "a ledger URL with a password is refused (it would be seen in the process list and in the shell's "
        "history): give it in PGPASSWORD or ~/.pgpass");
    QString rest = url.mid(schemeEnd + 3);
    QString query;
    const int q = rest.indexOf(QLatin1Char('?'));
    if (q >= 0) {
        query = rest.mid(q + 1);
        rest = rest.left(q);
    }
    const int slash = rest.indexOf(QLatin1Char('/'));
    QString authority = slash >= 0 ? rest.left(slash) : rest;
    if (slash >= 0)
        a.database = decoded(rest.mid(slash + 1));
    const int at = authority.lastIndexOf(QLatin1Char('@'));
    if (at >= 0) {
        const QString user = authority.left(at);
        if (decoded(user).contains(QLatin1Char(':'))) {
            *error = noPassword;
            return false;
        }
        a.user = decoded(user);
        authority = authority.mid(at + 1);
    }
    // Hosts and ports: [v6]:port or host:port, several separated by commas.
    QStringList hosts;
    QStringList ports;
    for (const QString& spec : authority.split(QLatin1Char(','), Qt::KeepEmptyParts)) {
        QString host = spec;
        QString port;
        const int close = spec.startsWith(QLatin1Char('[')) ? spec.indexOf(QLatin1Char(']')) : -1;
        const int colon = spec.indexOf(QLatin1Char(':'), close >= 0 ? close : 0);
        if (colon >= 0 && (close < 0 || colon > close)) {
            host = spec.left(colon);
            port = spec.mid(colon + 1);
        }
        if (close >= 0)
            host = host.mid(1, close - 1);
        hosts.append(decoded(host));
        ports.append(port);
    }
    QStringList options;
    const auto setPort = [&](const QString& text) {
        bool ok = false;
        const int port = text.toInt(&ok);
        if (!ok || port <= 0 || port > 65535) {
            *error = QStringLiteral("%1: port %2 is not a port number").arg(shown, clipped(text));
            return false;
        }
        a.port = port;
        return true;
    };
    if (hosts.size() > 1) {
        // libpq tries them in turn; its conninfo takes the lists as they are.
        a.host = hosts.join(QLatin1Char(','));
        if (std::any_of(ports.begin(), ports.end(), [](const QString& p) { return !p.isEmpty(); }))
            options.append(QStringLiteral("port=") + conninfoValue(ports.join(QLatin1Char(','))));
    } else {
        a.host = hosts.value(0);
        if (!ports.value(0).isEmpty() && !setPort(ports.value(0)))
            return false;
    }
    for (const QString& pair : query.split(QLatin1Char('&'), Qt::SkipEmptyParts)) {
        const int eq = pair.indexOf(QLatin1Char('='));
        const QString given = decoded(eq >= 0 ? pair.left(eq) : pair);
        const QString key = given.trimmed().toLower();
        const QString value = eq >= 0 ? decoded(pair.mid(eq + 1)) : QString();
        // password, sslpassword, in any spelling libpq might take.
        if (key.contains(QLatin1String("password"))) {
            *error = noPassword;
            return false;
        }
        if (!libpqKeywords().contains(key)) {
            *error = QStringLiteral("%1: \"%2\" is not a libpq keyword").arg(shown, clipped(given));
            return false;
        }
        if (key == QLatin1String("host"))
            a.host = value;
        else if (key == QLatin1String("port")) {
            if (!setPort(value))
                return false;
        } else if (key == QLatin1String("user"))
            a.user = value;
        else if (key == QLatin1String("dbname"))
            a.database = value;
        else
            options.append(key + QLatin1Char('=') + conninfoValue(value));
    }
    // libpq reads a database name with "=" as a whole connection string,
    // which may carry a password: refused, its keywords go in the query.
    if (a.database.contains(QLatin1Char('='))) {
        *error = QStringLiteral("%1: a connection string as the database name is refused; give its keywords after "
                                "\"?\" (a password in PGPASSWORD or ~/.pgpass)")
                     .arg(shown);
        return false;
    }
    // A line whose database is away must not hold a station for minutes.
    if (!query.contains(QLatin1String("connect_timeout=")))
        options.append(QStringLiteral("connect_timeout=5"));
    a.options = options.join(QLatin1Char(';'));
    *address = a;
    return true;
}

Ledger::Ledger(const LedgerAddress& address)
    : m_address(address), m_name(QStringLiteral("velkocan-ledger-%1").arg(g_ledgers.fetchAndAddRelaxed(1)))
{}

Ledger::~Ledger()
{
    dropConnection();
}

QString Ledger::connectionName() const
{
    return m_name + QLatin1Char('-') + QString::number(quintptr(QThread::currentThread()), 16);
}

void Ledger::dropConnection()
{
    const QString name = connectionName();
    if (!QSqlDatabase::contains(name))
        return;
    {
        QSqlDatabase db = QSqlDatabase::database(name, false);
        db.close();
    }
    QSqlDatabase::removeDatabase(name);
}

bool Ledger::connection(QSqlDatabase* out, LedgerProblem* problem, bool creating)
{
    const QString name = connectionName();
    QSqlDatabase db;
    if (QSqlDatabase::contains(name)) {
        db = QSqlDatabase::database(name, false);
    } else {
        if (!QSqlDatabase::isDriverAvailable(m_address.driver)) {
            *problem = {LedgerProblem::Kind::Refused, QStringLiteral("Qt SQL's %1 driver is not installed (Debian: %2)")
                                                          .arg(m_address.driver, driverPackage(m_address.driver))};
            return false;
        }
        db = QSqlDatabase::addDatabase(m_address.driver, name);
        db.setDatabaseName(m_address.database);
        if (postgres()) {
            db.setHostName(m_address.host);
            db.setPort(m_address.port);
            db.setUserName(m_address.user);
            db.setConnectOptions(m_address.options);
        } else {
            db.setConnectOptions(QStringLiteral("QSQLITE_BUSY_TIMEOUT=10000"));
        }
    }
    if (!postgres() && !m_file.isEmpty()) {
        const QString file = Files::identity(m_address.database);
        if (file != m_file) {
            db.close();
            *problem = {LedgerProblem::Kind::Refused,
                        file.isEmpty()
                            ? QStringLiteral("%1: the ledger's file was deleted during the run").arg(m_address.shown)
                            : QStringLiteral("%1: the ledger's file was replaced by another file during the run")
                                  .arg(m_address.shown)};
            return false;
        }
    }
    if (db.isOpen()) {
        *out = db;
        return true;
    }
    // A file in a folder that is not there: no init() makes it.
    const QFileInfo file(m_address.database);
    if (!postgres() && !file.absoluteDir().exists()) {
        *problem = {LedgerProblem::Kind::Refused,
                    QStringLiteral("%1: the folder %2 does not exist")
                        .arg(m_address.shown, QDir::toNativeSeparators(file.absoluteDir().path()))};
        return false;
    }
    // SQLite would make a new, empty file: only init() does.
    if (!postgres() && !creating && !file.exists()) {
        *problem = {LedgerProblem::Kind::Refused,
                    Operation::problem(Operation::Problem::Kind::NoLedger, m_address.shown).text,
                    Operation::Problem::Kind::NoLedger, m_address.shown};
        return false;
    }
    if (!db.open()) {
        *problem = {postgres() ? LedgerProblem::Kind::NoAnswer : LedgerProblem::Kind::Refused,
                    QStringLiteral("%1: %2").arg(m_address.shown, errorText(db.lastError()))};
        db.close();
        return false;
    }
    *out = db;
    return true;
}

LedgerProblem Ledger::failed(QSqlDatabase& db, const QSqlError& error, const QString& doing)
{
    const QString text = QStringLiteral("%1: %2: %3").arg(m_address.shown, doing, errorText(error));
    QSqlQuery(db).exec(QStringLiteral("ROLLBACK"));
    // SQLite's file held by another process past the busy timeout is away for now, as is a server
    // that no longer answers; anything else is the database's refusal. (The SQLite driver calls
    // every failed step a connection error: only its busy and locked codes say so.)
    const int sqliteCode = error.nativeErrorCode().toInt() & 0xff;
    bool away = postgres() ? error.type() == QSqlError::ConnectionError : sqliteCode == 5 || sqliteCode == 6;
    if (!away) {
        QSqlQuery ping(db);
        away = !ping.exec(QStringLiteral("SELECT 1"));
    }
    if (away)
        db.close(); // opened again at the next use
    return {away ? LedgerProblem::Kind::NoAnswer : LedgerProblem::Kind::Refused, text};
}

bool Ledger::begin(QSqlDatabase& db, LedgerProblem* problem)
{
    QSqlQuery q(db);
    // SQLite: the write lock first, so that two processes never both read a row as free.
    if (q.exec(postgres() ? QStringLiteral("BEGIN") : QStringLiteral("BEGIN IMMEDIATE")))
        return true;
    *problem = failed(db, q.lastError(), QStringLiteral("begin"));
    return false;
}

bool Ledger::commit(QSqlDatabase& db, LedgerProblem* problem)
{
    QSqlQuery q(db);
    if (q.exec(QStringLiteral("COMMIT")))
        return true;
    *problem = failed(db, q.lastError(), QStringLiteral("commit"));
    return false;
}

QString Ledger::nowMs() const
{
    return postgres() ? QStringLiteral("CAST(EXTRACT(EPOCH FROM clock_timestamp()) * 1000 AS BIGINT)")
                      : QStringLiteral("CAST((julianday('now') - 2440587.5) * 86400000.0 AS INTEGER)");
}

namespace {

// A module that was written ok while another module holds the same row's
// values: not ok, naming that module.
void markDuplicate(ModuleRecord* record, const ModuleRecord::Holder& holder)
{
    record->verdict = ModuleRecord::Verdict::Duplicate;
    record->duplicateOf = holder;
    record->error = QStringLiteral("%1: the row's values are on another module too (%2 %3 module %4)")
                        .arg(record->port, holder.station.isEmpty() ? QStringLiteral("-") : holder.station,
                             holder.port.isEmpty() ? QStringLiteral("-") : holder.port,
                             holder.module > 0 ? QString::number(holder.module) : QStringLiteral("in progress"));
}

// Runs `sql` with `binds`; false leaves the error in the query.
bool run(QSqlQuery& q, const QString& sql, const QVariantList& binds = {})
{
    if (!q.prepare(sql))
        return false;
    for (const QVariant& b : binds)
        q.addBindValue(b);
    return q.exec();
}

} // namespace

bool Ledger::init(int leaseSeconds, bool* created, LedgerProblem* problem)
{
    QSqlDatabase db;
    if (!connection(&db, problem, true))
        return false;
    *created = false;
    if (db.tables().contains(QStringLiteral("ledger_schema")))
        return check(problem);
    for (const QString& table : db.tables()) {
        if (table.startsWith(QLatin1String("ledger_"))) {
            *problem = {LedgerProblem::Kind::Refused,
                        QStringLiteral("%1 holds a table %2 but no ledger_schema: not a ledger of this tool; "
                                       "nothing was changed")
                            .arg(m_address.shown, table)};
            return false;
        }
    }
    QSqlQuery q(db);
    // Several processes read and write one SQLite file side by side.
    if (!postgres() && !q.exec(QStringLiteral("PRAGMA journal_mode=WAL"))) {
        *problem = failed(db, q.lastError(), QStringLiteral("init"));
        return false;
    }
    const QString serial = postgres() ? QStringLiteral("BIGINT GENERATED BY DEFAULT AS IDENTITY PRIMARY KEY")
                                      : QStringLiteral("INTEGER PRIMARY KEY");
    const QStringList statements{
        QStringLiteral("CREATE TABLE ledger_schema (version INTEGER NOT NULL, lease_ms BIGINT NOT NULL, "
                       "created TEXT NOT NULL)"),
        QStringLiteral("CREATE TABLE ledger_rows (id INTEGER PRIMARY KEY, source TEXT NOT NULL, line INTEGER NOT NULL, "
                       "row_values TEXT NOT NULL, state TEXT NOT NULL CHECK (state IN ('free', 'claimed', 'used')), "
                       "claim BIGINT NOT NULL DEFAULT 0, station TEXT, process BIGINT, port TEXT, module INTEGER, "
                       "lease_until BIGINT, changed TEXT)"),
        QStringLiteral("CREATE INDEX ledger_rows_state ON ledger_rows (state, id)"),
        QStringLiteral("CREATE TABLE ledger_results (id %1, row_id INTEGER REFERENCES ledger_rows (id), "
                       "station TEXT NOT NULL, process BIGINT NOT NULL, version TEXT NOT NULL, "
                       "profile_sha256 TEXT NOT NULL, port TEXT NOT NULL, module INTEGER NOT NULL, "
                       "result TEXT NOT NULL, status INTEGER NOT NULL, time TEXT NOT NULL, "
                       "duration_ms BIGINT NOT NULL, row_values TEXT NOT NULL, written TEXT NOT NULL, "
                       "partly_written TEXT NOT NULL, not_written TEXT NOT NULL, record TEXT NOT NULL, "
                       "UNIQUE (station, process, module))")
            .arg(serial),
    };
    if (!begin(db, problem))
        return false;
    for (const QString& sql : statements) {
        if (!q.exec(sql)) {
            *problem = failed(db, q.lastError(), QStringLiteral("init"));
            return false;
        }
    }
    m_leaseMs = std::max(1, leaseSeconds) * 1000;
    if (!run(q, QStringLiteral("INSERT INTO ledger_schema (version, lease_ms, created) VALUES (?, ?, ?)"),
             {kSchemaVersion, qint64(m_leaseMs), now()})) {
        *problem = failed(db, q.lastError(), QStringLiteral("init"));
        return false;
    }
    q.finish();
    if (!commit(db, problem))
        return false;
    *created = true;
    return true;
}

bool Ledger::check(LedgerProblem* problem)
{
    QSqlDatabase db;
    if (!connection(&db, problem))
        return false;
    QSqlQuery q(db);
    if (!q.exec(QStringLiteral("SELECT version, lease_ms FROM ledger_schema"))) {
        *problem = failed(db, q.lastError(), QStringLiteral("schema"));
        if (!problem->noAnswer())
            *problem = {LedgerProblem::Kind::Refused,
                        Operation::problem(Operation::Problem::Kind::NotALedger, m_address.shown).text,
                        Operation::Problem::Kind::NotALedger, m_address.shown};
        return false;
    }
    if (!q.next()) {
        *problem = {LedgerProblem::Kind::Refused,
                    QStringLiteral("%1: ledger_schema is empty: not a ledger of this tool").arg(m_address.shown)};
        return false;
    }
    const int version = q.value(0).toInt();
    if (version != kSchemaVersion) {
        *problem = {LedgerProblem::Kind::Refused,
                    QStringLiteral("%1 holds a ledger of schema version %2; this tool reads version %3 only "
                                   "(nothing was changed)")
                        .arg(m_address.shown, QString::number(version), QString::number(kSchemaVersion))};
        return false;
    }
    m_leaseMs = int(std::max<qint64>(1000, q.value(1).toLongLong()));
    if (!postgres() && m_file.isEmpty())
        m_file = Files::identity(m_address.database);
    return true;
}

bool Ledger::import(const ValuesTable& table, const QString& source, int* first, int* last, LedgerProblem* problem,
                    QString* named)
{
    QSqlDatabase db;
    if (!connection(&db, problem) || !begin(db, problem))
        return false;
    QSqlQuery q(db);
    // Imports side by side would number their rows alike.
    if (postgres() && !q.exec(QStringLiteral("LOCK TABLE ledger_rows IN SHARE ROW EXCLUSIVE MODE"))) {
        *problem = failed(db, q.lastError(), QStringLiteral("import"));
        return false;
    }
    if (!q.exec(QStringLiteral("SELECT COALESCE(MAX(id), 0) FROM ledger_rows")) || !q.next()) {
        *problem = failed(db, q.lastError(), QStringLiteral("import"));
        return false;
    }
    const int base = q.value(0).toInt();
    q.finish();
    // A file of a name imported before is an import of its own: "ids.csv#2".
    if (!q.exec(QStringLiteral("SELECT DISTINCT source FROM ledger_rows"))) {
        *problem = failed(db, q.lastError(), QStringLiteral("import"));
        return false;
    }
    QSet<QString> sources;
    while (q.next())
        sources.insert(q.value(0).toString());
    q.finish();
    QString stored = source;
    for (int n = 2; sources.contains(stored); ++n)
        stored = source + QLatin1Char('#') + QString::number(n);
    if (!q.prepare(QStringLiteral("INSERT INTO ledger_rows (id, source, line, row_values, state, claim, changed) "
                                  "VALUES (?, ?, ?, ?, 'free', 0, ?)"))) {
        *problem = failed(db, q.lastError(), QStringLiteral("import"));
        return false;
    }
    const QString when = now();
    for (int i = 0; i < table.rows.size(); ++i) {
        QVector<QPair<QString, QString>> values;
        for (int c = 0; c < table.paths.size(); ++c)
            values.append({table.paths.at(c), table.rows.at(i).at(c)});
        q.addBindValue(base + i + 1);
        q.addBindValue(stored);
        q.addBindValue(table.lines.at(i));
        q.addBindValue(valuesText(values));
        q.addBindValue(when);
        if (!q.exec()) {
            *problem = failed(db, q.lastError(), QStringLiteral("import, line %1").arg(table.lines.at(i)));
            return false;
        }
    }
    q.finish();
    if (!commit(db, problem))
        return false;
    *first = base + 1;
    *last = base + int(table.rows.size());
    if (named)
        *named = stored;
    return true;
}

bool Ledger::withdraw(const QString& source, int* withdrawn, QVector<LedgerRow>* kept, LedgerProblem* problem)
{
    QSqlDatabase db;
    if (!connection(&db, problem) || !begin(db, problem))
        return false;
    QSqlQuery q(db);
    if (!run(q, QStringLiteral("SELECT COUNT(*) FROM ledger_rows WHERE source = ?"), {source}) || !q.next()) {
        *problem = failed(db, q.lastError(), QStringLiteral("withdraw"));
        return false;
    }
    const int rows = q.value(0).toInt();
    q.finish();
    if (rows == 0) {
        QStringList known;
        if (!q.exec(QStringLiteral("SELECT source FROM ledger_rows GROUP BY source ORDER BY MIN(id)"))) {
            *problem = failed(db, q.lastError(), QStringLiteral("withdraw"));
            return false;
        }
        while (q.next())
            known.append(q.value(0).toString());
        q.finish();
        commit(db, problem);
        *problem = {LedgerProblem::Kind::Refused,
                    QStringLiteral("%1: no import \"%2\" in this ledger; imports: %3")
                        .arg(m_address.shown, clipped(source),
                             known.isEmpty() ? QStringLiteral("none yet") : known.join(QStringLiteral(", ")))};
        return false;
    }
    // A free row that a result names stays, with the records of the modules that failed on it.
    if (!run(q,
             QStringLiteral("DELETE FROM ledger_rows WHERE source = ? AND state = 'free' AND NOT EXISTS (SELECT 1 "
                            "FROM ledger_results r WHERE r.row_id = ledger_rows.id)"),
             {source})) {
        *problem = failed(db, q.lastError(), QStringLiteral("withdraw"));
        return false;
    }
    const int taken = q.numRowsAffected();
    q.finish();
    QVector<LedgerRow> left;
    if (!run(q,
             QStringLiteral("SELECT id, line, state, station, port, module FROM ledger_rows WHERE source = ? ORDER BY "
                            "id"),
             {source})) {
        *problem = failed(db, q.lastError(), QStringLiteral("withdraw"));
        return false;
    }
    while (q.next()) {
        LedgerRow r;
        r.id = q.value(0).toInt();
        r.source = source;
        r.line = q.value(1).toInt();
        r.state = q.value(2).toString();
        r.station = q.value(3).toString();
        r.port = q.value(4).toString();
        r.module = q.value(5).toInt();
        left.append(r);
    }
    q.finish();
    if (!commit(db, problem))
        return false;
    *withdrawn = taken;
    *kept = left;
    return true;
}

bool Ledger::status(LedgerStatus* status, LedgerProblem* problem)
{
    QSqlDatabase db;
    if (!connection(&db, problem))
        return false;
    LedgerStatus s;
    QSqlQuery q(db);
    QMap<QString, LedgerStatus::Station> stations;
    if (!q.exec(QStringLiteral("SELECT state, COUNT(*) FROM ledger_rows GROUP BY state"))) {
        *problem = failed(db, q.lastError(), QStringLiteral("status"));
        return false;
    }
    while (q.next()) {
        const QString state = q.value(0).toString();
        const int n = q.value(1).toInt();
        s.rows += n;
        (state == QLatin1String("free") ? s.free : state == QLatin1String("claimed") ? s.claimed : s.used) += n;
    }
    if (!q.exec(QStringLiteral("SELECT station, COUNT(*) FROM ledger_rows WHERE state = 'claimed' GROUP BY station"))) {
        *problem = failed(db, q.lastError(), QStringLiteral("status"));
        return false;
    }
    while (q.next()) {
        LedgerStatus::Station& station = stations[q.value(0).toString()];
        station.claimed = q.value(1).toInt();
    }
    const QString ok = ModuleRecord::word(ModuleRecord::Verdict::Ok);
    if (!run(q,
             QStringLiteral("SELECT r.station, SUM(CASE WHEN r.result = ? THEN 1 ELSE 0 END), "
                            "SUM(CASE WHEN r.result = ? THEN 0 ELSE 1 END), "
                            "(SELECT l.time FROM ledger_results l WHERE l.id = (SELECT MAX(m.id) FROM ledger_results m "
                            "WHERE m.station = r.station)) "
                            "FROM ledger_results r GROUP BY r.station"),
             {ok, ok})) {
        *problem = failed(db, q.lastError(), QStringLiteral("status"));
        return false;
    }
    while (q.next()) {
        LedgerStatus::Station& station = stations[q.value(0).toString()];
        station.ok = q.value(1).toInt();
        station.failed = q.value(2).toInt();
        station.last = q.value(3).toString();
        s.results += station.ok + station.failed;
    }
    for (auto it = stations.begin(); it != stations.end(); ++it) {
        it->name = it.key();
        s.stations.append(*it);
    }
    q.finish();
    if (!q.exec(QStringLiteral("SELECT source, MIN(id), MAX(id), SUM(CASE WHEN state = 'free' THEN 1 ELSE 0 END), "
                               "SUM(CASE WHEN state = 'claimed' THEN 1 ELSE 0 END), SUM(CASE WHEN state = 'used' "
                               "THEN 1 ELSE 0 END) FROM ledger_rows GROUP BY source ORDER BY MIN(id)"))) {
        *problem = failed(db, q.lastError(), QStringLiteral("status"));
        return false;
    }
    while (q.next()) {
        s.imports.append({q.value(0).toString(), q.value(1).toInt(), q.value(2).toInt(), q.value(3).toInt(),
                          q.value(4).toInt(), q.value(5).toInt()});
    }
    q.finish();
    if (!duplicates(&s.duplicates, problem))
        return false;
    *status = s;
    return true;
}

bool Ledger::rows(QVector<LedgerRow>* rows, bool unusedOnly, LedgerProblem* problem)
{
    QVector<LedgerRow> read;
    const auto row = [&read](const LedgerRow& r) {
        read.append(r);
        return true;
    };
    if (!eachRow(unusedOnly, row, problem))
        return false;
    *rows = read;
    return true;
}

bool Ledger::eachRow(bool unusedOnly, const std::function<bool(const LedgerRow&)>& row, LedgerProblem* problem,
                     int upTo)
{
    QSqlDatabase db;
    if (!connection(&db, problem))
        return false;
    QSqlQuery q(db);
    q.setForwardOnly(true);
    QStringList where;
    if (unusedOnly)
        where.append(QStringLiteral("state <> 'used'"));
    if (upTo > 0)
        where.append(QStringLiteral("id <= %1").arg(upTo));
    if (!q.exec(
            QStringLiteral("SELECT id, source, line, row_values, state, station, process, port, module, changed "
                           "FROM ledger_rows%1 ORDER BY id")
                .arg(where.isEmpty() ? QString() : QStringLiteral(" WHERE ") + where.join(QStringLiteral(" AND "))))) {
        *problem = failed(db, q.lastError(), QStringLiteral("rows"));
        return false;
    }
    while (q.next()) {
        LedgerRow r;
        r.id = q.value(0).toInt();
        r.source = q.value(1).toString();
        r.line = q.value(2).toInt();
        r.values = valuesOf(q.value(3).toString());
        r.state = q.value(4).toString();
        r.station = q.value(5).toString();
        r.process = q.value(6).toLongLong();
        r.port = q.value(7).toString();
        r.module = q.value(8).toInt();
        r.changed = q.value(9).toString();
        if (!row(r))
            break;
    }
    if (q.lastError().isValid()) {
        *problem = failed(db, q.lastError(), QStringLiteral("rows"));
        return false;
    }
    return true;
}

bool Ledger::results(QVector<QJsonObject>* results, LedgerProblem* problem)
{
    QVector<QJsonObject> read;
    const auto result = [&read](const QJsonObject& r) {
        read.append(r);
        return true;
    };
    if (!eachResult(result, problem))
        return false;
    *results = read;
    return true;
}

bool Ledger::eachResult(const std::function<bool(const QJsonObject&)>& result, LedgerProblem* problem)
{
    QSqlDatabase db;
    if (!connection(&db, problem))
        return false;
    QSqlQuery q(db);
    q.setForwardOnly(true);
    if (!q.exec(QStringLiteral("SELECT record, station, process, version, profile_sha256, written, partly_written, "
                               "not_written FROM ledger_results ORDER BY id"))) {
        *problem = failed(db, q.lastError(), QStringLiteral("results"));
        return false;
    }
    while (q.next()) {
        QJsonObject r = QJsonDocument::fromJson(q.value(0).toString().toUtf8()).object();
        r.insert(QStringLiteral("station"), q.value(1).toString());
        r.insert(QStringLiteral("process"), q.value(2).toLongLong());
        r.insert(QStringLiteral("version"), q.value(3).toString());
        r.insert(QStringLiteral("profileSha256"), q.value(4).toString());
        r.insert(QStringLiteral("written"), arrayOf(q.value(5).toString()));
        r.insert(QStringLiteral("partlyWritten"), arrayOf(q.value(6).toString()));
        r.insert(QStringLiteral("notWritten"), arrayOf(q.value(7).toString()));
        if (!result(r))
            break;
    }
    if (q.lastError().isValid()) {
        *problem = failed(db, q.lastError(), QStringLiteral("results"));
        return false;
    }
    return true;
}

bool Ledger::release(const QString& station, bool force, int* released, LedgerProblem* problem)
{
    QSqlDatabase db;
    if (!connection(&db, problem) || !begin(db, problem))
        return false;
    QSqlQuery q(db);
    // A station that renewed its claims within the last lease is running.
    if (!run(q,
             QStringLiteral("SELECT MAX(lease_until), %1, COUNT(*) FROM ledger_rows WHERE state = 'claimed' AND "
                            "station = ?")
                 .arg(nowMs()),
             {station}) ||
        !q.next()) {
        *problem = failed(db, q.lastError(), QStringLiteral("release"));
        return false;
    }
    const qint64 until = q.value(0).toLongLong();
    const qint64 nowValue = q.value(1).toLongLong();
    const int claims = q.value(2).toInt();
    q.finish();
    if (!force && claims > 0 && until > nowValue) {
        const qint64 ago = qMax<qint64>(0, nowValue - (until - m_leaseMs)) / 1000;
        const Operation::Problem p =
            Operation::problem(Operation::Problem::Kind::StationRunning, station, {QString::number(ago)});
        *problem = {LedgerProblem::Kind::Refused, p.text, p.kind, station};
        problem->values = p.values;
        commit(db, problem);
        return false;
    }
    if (claims == 0) {
        // Nothing to give back: a name no station ever had is told, with those the ledger knows.
        if (!run(q, QStringLiteral("SELECT name FROM (SELECT station AS name FROM ledger_results UNION SELECT station "
                                   "FROM ledger_rows WHERE station IS NOT NULL) AS s ORDER BY name"))) {
            *problem = failed(db, q.lastError(), QStringLiteral("release"));
            return false;
        }
        QStringList known;
        while (q.next())
            known.append(q.value(0).toString());
        q.finish();
        commit(db, problem);
        if (!known.contains(station)) {
            const Operation::Problem p = Operation::problem(Operation::Problem::Kind::NoSuchStation, station,
                                                            {known.join(QStringLiteral(", "))});
            *problem = {LedgerProblem::Kind::Refused, p.text, p.kind, station};
            problem->values = p.values;
            return false;
        }
        *released = 0;
        return true;
    }
    if (!run(q,
             QStringLiteral("UPDATE ledger_rows SET state = 'free', station = NULL, process = NULL, port = NULL, "
                            "module = NULL, lease_until = NULL, changed = ? WHERE state = 'claimed' AND station = ?"),
             {now(), station})) {
        *problem = failed(db, q.lastError(), QStringLiteral("release"));
        return false;
    }
    *released = q.numRowsAffected();
    q.finish();
    return commit(db, problem);
}

bool Ledger::lastModule(const QString& station, int* module, LedgerProblem* problem)
{
    QSqlDatabase db;
    if (!connection(&db, problem))
        return false;
    QSqlQuery q(db);
    if (!run(q, QStringLiteral("SELECT COALESCE(MAX(module), 0) FROM ledger_results WHERE station = ?"), {station}) ||
        !q.next()) {
        *problem = failed(db, q.lastError(), QStringLiteral("modules"));
        return false;
    }
    *module = q.value(0).toInt();
    return true;
}

bool Ledger::claim(const LedgerClaimant& who, const QSet<int>& skip, LedgerClaim* claim, LedgerProblem* problem)
{
    QSqlDatabase db;
    if (!connection(&db, problem) || !begin(db, problem))
        return false;
    // A claim whose lease ran out is free again, but a server that just
    // started gives every station a whole lease to renew its claims first.
    const QString started =
        postgres() ? QStringLiteral("CAST(EXTRACT(EPOCH FROM pg_postmaster_start_time()) * 1000 AS BIGINT)")
                   : QStringLiteral("0");
    const QString sql =
        QStringLiteral("SELECT id, source, line, row_values, claim FROM ledger_rows WHERE (state = 'free' OR "
                       "(state = 'claimed' AND lease_until < %1 AND %2 + %3 < %1 AND NOT (station = ? AND process = "
                       "?)))%4 ORDER BY id LIMIT 1%5")
            .arg(nowMs(), started)
            .arg(m_leaseMs)
            .arg(leavingOut(skip), postgres() ? QStringLiteral(" FOR UPDATE SKIP LOCKED") : QString());
    QSqlQuery q(db);
    if (!run(q, sql, {who.station, who.process})) {
        *problem = failed(db, q.lastError(), QStringLiteral("claim"));
        return false;
    }
    LedgerClaim c;
    if (q.next()) {
        c.row.id = q.value(0).toInt();
        c.row.source = q.value(1).toString();
        c.row.line = q.value(2).toInt();
        c.row.values = valuesOf(q.value(3).toString());
        c.claim = q.value(4).toLongLong() + 1;
        c.row.state = QStringLiteral("claimed");
        c.row.station = who.station;
        c.row.process = who.process;
    }
    q.finish();
    if (c.row.id > 0 &&
        !run(q,
             QStringLiteral("UPDATE ledger_rows SET state = 'claimed', claim = ?, station = ?, process = ?, port = "
                            "NULL, module = NULL, lease_until = %1 + %2, changed = ? WHERE id = ?")
                 .arg(nowMs())
                 .arg(m_leaseMs),
             {c.claim, who.station, who.process, now(), c.row.id})) {
        *problem = failed(db, q.lastError(), QStringLiteral("claim"));
        return false;
    }
    q.finish();
    if (!commit(db, problem))
        return false;
    *claim = c;
    return true;
}

bool Ledger::update(const QString& sql, const QVariantList& binds, const QString& doing, LedgerProblem* problem,
                    int* changed)
{
    QSqlDatabase db;
    if (!connection(&db, problem))
        return false;
    QSqlQuery q(db);
    if (!run(q, sql, binds)) {
        *problem = failed(db, q.lastError(), doing);
        return false;
    }
    if (changed)
        *changed = q.numRowsAffected();
    return true;
}

bool Ledger::giveBack(const LedgerClaim& claim, LedgerProblem* problem)
{
    return update(QStringLiteral("UPDATE ledger_rows SET state = 'free', station = NULL, process = NULL, lease_until = "
                                 "NULL, changed = ? WHERE id = ? AND claim = ? AND state = 'claimed'"),
                  {now(), claim.row.id, claim.claim}, QStringLiteral("give back"), problem);
}

bool Ledger::giveBackStray(const LedgerClaimant& who, const QSet<int>& keep, int* given, LedgerProblem* problem)
{
    return update(QStringLiteral("UPDATE ledger_rows SET state = 'free', station = NULL, process = NULL, lease_until = "
                                 "NULL, changed = ? WHERE state = 'claimed' AND station = ? AND process = ?%1")
                      .arg(leavingOut(keep)),
                  {now(), who.station, who.process}, QStringLiteral("give back"), problem, given);
}

bool Ledger::confirm(const LedgerClaimant& who, const LedgerClaim& claim, int budgetMs, bool* own,
                     LedgerProblem* problem)
{
    QSqlDatabase db;
    if (!connection(&db, problem))
        return false;
    QSqlQuery q(db);
    const QString until = QStringLiteral("%1 + %2").arg(nowMs()).arg(qMax(budgetMs, m_leaseMs));
    if (!run(q,
             QStringLiteral("UPDATE ledger_rows SET lease_until = CASE WHEN lease_until > %1 THEN lease_until ELSE %1 "
                            "END WHERE id = ? AND claim = ? AND state = 'claimed' AND station = ? AND process = ?")
                 .arg(until),
             {claim.row.id, claim.claim, who.station, who.process})) {
        *problem = failed(db, q.lastError(), QStringLiteral("confirm"));
        return false;
    }
    *own = q.numRowsAffected() == 1;
    return true;
}

bool Ledger::duplicates(QVector<QPair<int, QStringList>>* rows, LedgerProblem* problem)
{
    QSqlDatabase db;
    if (!connection(&db, problem))
        return false;
    QSqlQuery q(db);
    q.setForwardOnly(true);
    // Every module that holds a row's values: its result was ok, or it was
    // written ok after its claim was lost.
    const QString ok = ModuleRecord::word(ModuleRecord::Verdict::Ok);
    const QString duplicate = ModuleRecord::word(ModuleRecord::Verdict::Duplicate);
    if (!run(q,
             QStringLiteral("SELECT row_id, station, port, module FROM ledger_results WHERE row_id IN (SELECT row_id "
                            "FROM ledger_results WHERE result IN (?, ?) GROUP BY row_id HAVING COUNT(*) > 1) AND "
                            "result IN (?, ?) ORDER BY row_id, id"),
             {ok, duplicate, ok, duplicate})) {
        *problem = failed(db, q.lastError(), QStringLiteral("duplicates"));
        return false;
    }
    rows->clear();
    while (q.next()) {
        const int row = q.value(0).toInt();
        if (rows->isEmpty() || rows->constLast().first != row)
            rows->append(qMakePair(row, QStringList()));
        rows->last().second.append(
            QStringLiteral("%1 %2 module %3").arg(q.value(1).toString(), q.value(2).toString(), q.value(3).toString()));
    }
    return true;
}

bool Ledger::renew(const LedgerClaimant& who, LedgerProblem* problem)
{
    // A lease that confirm() extended for a module keeps its length.
    return update(
        QStringLiteral("UPDATE ledger_rows SET lease_until = CASE WHEN lease_until > %1 + %2 THEN lease_until "
                       "ELSE %1 + %2 END WHERE state = 'claimed' AND station = ? AND process = ?")
            .arg(nowMs(), QString::number(m_leaseMs)),
        {who.station, who.process}, QStringLiteral("renew"), problem);
}

bool Ledger::settle(const LedgerClaimant& who, const LedgerClaim& claim, ModuleRecord* settled,
                    const QStringList& written, bool* lost, LedgerProblem* problem)
{
    QSqlDatabase db;
    if (!connection(&db, problem) || !begin(db, problem))
        return false;
    *lost = false;
    ModuleRecord record = *settled;
    const int module = record.module;
    QSqlQuery q(db);
    if (!run(q, QStringLiteral("SELECT COUNT(*) FROM ledger_results WHERE station = ? AND process = ? AND module = ?"),
             {who.station, who.process, module}) ||
        !q.next()) {
        *problem = failed(db, q.lastError(), QStringLiteral("record"));
        return false;
    }
    const bool recorded = q.value(0).toInt() > 0;
    q.finish();
    if (recorded) // an earlier commit of this result went through, its answer lost on the way
        return commit(db, problem);
    // Whether the claim is still this station's: its lease may have run out
    // while the station was held up, and another station taken the row.
    if (!run(q,
             QStringLiteral("SELECT state, claim, station, port, module FROM ledger_rows WHERE id = ?%1")
                 .arg(postgres() ? QStringLiteral(" FOR UPDATE") : QString()),
             {claim.row.id}) ||
        !q.next()) {
        *problem = failed(db, q.lastError(), QStringLiteral("record"));
        return false;
    }
    const QString state = q.value(0).toString();
    *lost = !(state == QLatin1String("claimed") && q.value(1).toLongLong() == claim.claim);
    // A claim given back (released by hand) that no one took since: the row is still this module's to keep.
    const bool free = *lost && state == QLatin1String("free");
    ModuleRecord::Holder holder{q.value(2).toString(), q.value(3).toString(), q.value(4).toInt()};
    q.finish();
    if (record.ok()) {
        // Another module that holds this row's values: the last one recorded
        // with them. There is one when this claim was lost, or when this
        // station took the row over from one that was held up past its lease.
        if (!run(q,
                 QStringLiteral("SELECT id, station, port, module, record FROM ledger_results WHERE row_id = ? AND "
                                "result IN (?, ?) ORDER BY id DESC LIMIT 1"),
                 {claim.row.id, ModuleRecord::word(ModuleRecord::Verdict::Ok),
                  ModuleRecord::word(ModuleRecord::Verdict::Duplicate)})) {
            *problem = failed(db, q.lastError(), QStringLiteral("record"));
            return false;
        }
        const bool other = q.next();
        const qint64 otherId = other ? q.value(0).toLongLong() : 0;
        if (other)
            holder = {q.value(1).toString(), q.value(2).toString(), q.value(3).toInt()};
        ModuleRecord otherRecord =
            other ? ModuleRecord::fromJson(QJsonDocument::fromJson(q.value(4).toString().toUtf8()).object())
                  : ModuleRecord();
        q.finish();
        if ((*lost && !free) || other) {
            markDuplicate(&record, holder);
            // Someone has to take one of the two off the line: neither counts as ok.
            if (other && otherRecord.ok()) {
                markDuplicate(&otherRecord, {who.station, record.port, record.module});
                if (!run(q, QStringLiteral("UPDATE ledger_results SET result = ?, record = ? WHERE id = ?"),
                         {otherRecord.result(), QString::fromUtf8(otherRecord.toLine().trimmed()), otherId})) {
                    *problem = failed(db, q.lastError(), QStringLiteral("record"));
                    return false;
                }
                q.finish();
            }
        }
    }
    // A duplicate's values went out all the same: its row is used.
    const bool ok = record.ok() || record.verdict == ModuleRecord::Verdict::Duplicate;
    const QString port = record.port;
    const QString line = QString::fromUtf8(record.toLine().trimmed());
    if (!run(q,
             QStringLiteral("INSERT INTO ledger_results (row_id, station, process, version, profile_sha256, port, "
                            "module, result, status, time, duration_ms, row_values, written, partly_written, "
                            "not_written, record) VALUES (?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?)"),
             {claim.row.id, who.station, who.process, who.version, who.profileSha256, port, module, record.result(),
              record.status, record.time, record.durationMs, valuesText(claim.row.values),
              listText(record.written.value_or(written)), listText(record.partlyWritten.value_or(QStringList())),
              listText(record.notWritten.value_or(QStringList())), line})) {
        *problem = failed(db, q.lastError(), QStringLiteral("record"));
        return false;
    }
    q.finish();
    const QString sql =
        free ? QStringLiteral("UPDATE ledger_rows SET state = 'used', station = ?, process = ?, port = ?, module = ?, "
                              "lease_until = NULL, changed = ? WHERE id = ? AND claim = ? AND state = 'free'")
        : ok ? QStringLiteral("UPDATE ledger_rows SET state = 'used', station = ?, process = ?, port = ?, module = ?, "
                              "lease_until = NULL, changed = ? WHERE id = ? AND claim = ? AND state = 'claimed'")
             : QStringLiteral("UPDATE ledger_rows SET state = 'free', station = NULL, process = NULL, port = NULL, "
                              "module = NULL, lease_until = NULL, changed = ? WHERE id = ? AND claim = ? AND state = "
                              "'claimed'");
    const QVariantList binds =
        ok ? QVariantList{who.station, who.process, port, module, now(), claim.row.id, claim.claim}
           : QVariantList{now(), claim.row.id, claim.claim};
    if ((!*lost || (free && ok)) && !run(q, sql, binds)) {
        *problem = failed(db, q.lastError(), QStringLiteral("record"));
        return false;
    }
    *lost = *lost && !(free && ok);
    q.finish();
    if (!commit(db, problem))
        return false;
    *settled = record;
    return true;
}

bool Ledger::counts(const LedgerClaimant& who, const QSet<int>& skip, int* free, int* claimed, int* claimedByOthers,
                    LedgerProblem* problem)
{
    QSqlDatabase db;
    if (!connection(&db, problem))
        return false;
    QSqlQuery q(db);
    const QString sql = QStringLiteral("SELECT COALESCE(SUM(CASE WHEN state = 'free'%1 THEN 1 ELSE 0 END), 0), "
                                       "COALESCE(SUM(CASE WHEN state = 'claimed' THEN 1 ELSE 0 END), 0), "
                                       "COALESCE(SUM(CASE WHEN state = 'claimed' AND NOT (station = ? AND process = "
                                       "?) THEN 1 ELSE 0 END), 0) FROM ledger_rows")
                            .arg(leavingOut(skip));
    if (!run(q, sql, {who.station, who.process}) || !q.next()) {
        *problem = failed(db, q.lastError(), QStringLiteral("count"));
        return false;
    }
    *free = q.value(0).toInt();
    *claimed = q.value(1).toInt();
    *claimedByOthers = q.value(2).toInt();
    return true;
}
