#pragma once

#include "core/session/operation.h"
#include "core/station/modulerecord.h"
#include "core/station/valuestable.h"

#include <QJsonObject>
#include <QSet>
#include <QString>
#include <QStringList>
#include <QVariantList>
#include <QVector>
#include <functional>

class QSqlDatabase;
class QSqlError;

// Where a ledger is: the values and the results of a line of stations in one
// database. "sqlite:PATH" serves any number of station processes on one PC;
// "postgresql://[user@]host[:port]/dbname[?keyword=value&...]" (or
// "postgres://") a line of stations, the URI as libpq reads it. A password is
// never part of it: libpq takes it from PGPASSWORD or ~/.pgpass.
struct LedgerAddress
{
    QString driver;   // "QSQLITE" or "QPSQL"
    QString database; // the SQLite file, or PostgreSQL's dbname (empty: libpq's default)
    QString host;     // a host name, an address or a socket folder; empty: libpq's default
    int port = -1;
    QString user;
    QString options; // further libpq keywords, "key='value';..." as the QPSQL driver takes them
    QString shown;   // the URL as given, for messages

    // Whether `values` names a ledger rather than a values file.
    static bool isLedger(const QString& values);
    // False with `error` saying what is wrong; a password in the URL is
    // refused without being repeated.
    static bool parse(const QString& url, LedgerAddress* address, QString* error);
};

// Why a ledger could not do what it was asked.
struct LedgerProblem
{
    enum class Kind { None, NoAnswer, Refused };

    LedgerProblem() = default;
    LedgerProblem(Kind kind, const QString& text, Operation::Problem::Kind about = Operation::Problem::Kind::Text,
                  const QString& subject = QString())
        : kind(kind), text(text), about(about), subject(subject)
    {}

    Kind kind = Kind::None;
    QString text;
    // What a face may word in its own way: no ledger yet, a database that is no ledger.
    Operation::Problem::Kind about = Operation::Problem::Kind::Text;
    QString subject; // the ledger's URL, or the station, that the problem concerns
    QStringList values;

    bool noAnswer() const { return kind == Kind::NoAnswer; }
    // The problem as data, for a result.
    Operation::Problem asProblem() const
    {
        return {about, about == Operation::Problem::Kind::Text ? text : subject, values, text};
    }
};

// One row of the ledger's values.
struct LedgerRow
{
    int id = 0; // the row's number in the ledger, from 1
    QString source;
    int line = 0;
    QVector<QPair<QString, QString>> values; // path and value, in the CSV's column order
    QString state;                           // free, claimed, used
    QString station;
    qint64 process = 0;
    QString port;
    int module = 0;
    QString changed; // when it was last claimed, used or given back

    QStringList overrides() const;
    QJsonObject valuesObject() const;
};

// A station's claim on a row: the claim's number tells a claim apart from
// the one another station made after this one's lease ran out.
struct LedgerClaim
{
    LedgerRow row;
    qint64 claim = 0;
};

// Who claims and records: the station's name, its process and the tool.
struct LedgerClaimant
{
    QString station;
    qint64 process = 0;
    QString version;
    QString profileSha256;
};

// The ledger's totals.
struct LedgerStatus
{
    struct Station
    {
        QString name;
        int claimed = 0;
        int ok = 0;
        int failed = 0;
        QString last; // the time of its last result
    };
    // One import: its source as the ledger names it and its rows.
    struct Import
    {
        QString source;
        int first = 0;
        int last = 0;
        int free = 0;
        int claimed = 0;
        int used = 0;
    };
    int rows = 0;
    int free = 0;
    int claimed = 0;
    int used = 0;
    int results = 0;
    QVector<Station> stations;
    QVector<Import> imports; // in the order they were imported
    // Rows whose values reached more than one module, with those modules (Ledger::duplicates()).
    QVector<QPair<int, QStringList>> duplicates;
};

// The ledger's database through Qt SQL's QSQLITE and QPSQL drivers. Every
// member may be called from any thread: each thread gets a connection of its
// own, opened at its first use and again after the database went away, and
// given up by dropConnection() before the thread ends.
//
// Tables (schema version 1):
//   ledger_schema  (version, lease_ms, created): one row
//   ledger_rows    (id, source, line, row_values, state, claim, station,
//                   process, port, module, lease_until, changed)
//   ledger_results (id, row_id, station, process, version, profile_sha256,
//                   port, module, result, status, time, duration_ms,
//                   row_values, written, partly_written, not_written, record)
class Ledger
{
public:
    static constexpr int kSchemaVersion = 1;
    static constexpr int kDefaultLeaseSeconds = 60;

    explicit Ledger(const LedgerAddress& address);
    ~Ledger();
    Ledger(const Ledger&) = delete;
    Ledger& operator=(const Ledger&) = delete;

    const LedgerAddress& address() const { return m_address; }
    // How long a claim holds without being renewed; known once check() or init() passed.
    int leaseMs() const { return m_leaseMs; }

    // Creates the schema; a ledger of this version is left as it is
    // (`created` false), one of another version refused with the reason.
    bool init(int leaseSeconds, bool* created, LedgerProblem* problem);
    // Whether the database holds a ledger this tool reads.
    bool check(LedgerProblem* problem);

    // Appends the rows of `table` (read from `source`) in one transaction;
    // `first` and `last` are the numbers they got. An import is named by its
    // source, "ids.csv", and a later import of a file of the same name
    // "ids.csv#2", and so on: `named` is the name it got.
    bool import(const ValuesTable& table, const QString& source, int* first, int* last, LedgerProblem* problem,
                QString* named = nullptr);
    // Takes back the free rows of the import named `source`: `withdrawn` of
    // them. The rows left are in `kept`: claimed and used ones, and free ones
    // that results of earlier modules name (kept with those records). A name
    // no import has is refused, naming those there are.
    bool withdraw(const QString& source, int* withdrawn, QVector<LedgerRow>* kept, LedgerProblem* problem);
    bool status(LedgerStatus* status, LedgerProblem* problem);
    // Every row in order, or those not used yet.
    bool rows(QVector<LedgerRow>* rows, bool unusedOnly, LedgerProblem* problem);
    // The same, each row handed to `row` as it is read instead of kept; a
    // false from `row` ends the reading early. `upTo` (when above 0) leaves
    // out rows imported after it.
    bool eachRow(bool unusedOnly, const std::function<bool(const LedgerRow& row)>& row, LedgerProblem* problem,
                 int upTo = 0);
    // Every result in order, each its report record with the ledger's fields added.
    bool results(QVector<QJsonObject>* results, LedgerProblem* problem);
    // The same, each handed to `result` as it is read; a false from it ends the reading early.
    bool eachResult(const std::function<bool(const QJsonObject& result)>& result, LedgerProblem* problem);
    // Gives the claims of `station` back. Refused: a station that renewed
    // its claims within the last lease (it is running; `force` releases
    // them all the same, and its modules then find their claims lost), and
    // a name that no claim and no result of the ledger has.
    bool release(const QString& station, bool force, int* released, LedgerProblem* problem);
    // The highest module number `station` recorded, 0 for none.
    bool lastModule(const QString& station, int* module, LedgerProblem* problem);

    // Claims the first row that is free, or whose claim's lease ran out (but
    // not this process's own), leaving out `skip`. False with `problem` set
    // when the database did not do it; true with `claim->row.id` 0 when no
    // row could be claimed.
    bool claim(const LedgerClaimant& who, const QSet<int>& skip, LedgerClaim* claim, LedgerProblem* problem);
    // Gives a claimed row back untouched.
    bool giveBack(const LedgerClaim& claim, LedgerProblem* problem);
    // Right before a row's values go out: whether `claim` is still this
    // station's (`own`), its lease then extended to last at least `budgetMs`
    // from now, so that it holds for the module's whole operation. A claim
    // whose lease ran out but that no other station took is still its own.
    bool confirm(const LedgerClaimant& who, const LedgerClaim& claim, int budgetMs, bool* own, LedgerProblem* problem);
    // Gives back the claims of this process that are not in `keep`: a claim
    // whose COMMIT reached the database but whose answer was lost is one the
    // station does not know it holds. `given` tells how many.
    bool giveBackStray(const LedgerClaimant& who, const QSet<int>& keep, int* given, LedgerProblem* problem);
    // Renews the lease of every claim of this process.
    bool renew(const LedgerClaimant& who, LedgerProblem* problem);
    // The module that held `claim` ended with `record`: its result recorded
    // and the row marked used (ok) or free again, in one transaction. A result already
    // recorded (a commit whose answer was lost) is not recorded twice.
    // `lost`: the claim was no longer this station's (its lease ran out and
    // another station claimed the row, or it was released); the result is
    // recorded all the same. A module that was ok then holds values that
    // another module may hold too: its record becomes a Duplicate naming
    // that module, and the row is listed by duplicates().
    bool settle(const LedgerClaimant& who, const LedgerClaim& claim, ModuleRecord* record, const QStringList& written,
                bool* lost, LedgerProblem* problem);
    // Rows free (but `skip`), claimed by anyone, claimed by other processes.
    bool counts(const LedgerClaimant& who, const QSet<int>& skip, int* free, int* claimed, int* claimedByOthers,
                LedgerProblem* problem);
    // The rows whose values reached more than one module, each with the
    // modules that hold them ("station port module N"), in row order.
    bool duplicates(QVector<QPair<int, QStringList>>* rows, LedgerProblem* problem);

    // Gives up the calling thread's connection.
    void dropConnection();

private:
    bool connection(QSqlDatabase* db, LedgerProblem* problem, bool creating = false);
    LedgerProblem failed(QSqlDatabase& db, const QSqlError& error, const QString& doing);
    bool begin(QSqlDatabase& db, LedgerProblem* problem);
    bool commit(QSqlDatabase& db, LedgerProblem* problem);
    // Runs one statement on its own; `changed`: the rows it changed.
    bool update(const QString& sql, const QVariantList& binds, const QString& doing, LedgerProblem* problem,
                int* changed = nullptr);
    QString nowMs() const;
    QString connectionName() const;
    bool postgres() const { return m_address.driver == QLatin1String("QPSQL"); }

    const LedgerAddress m_address;
    const QString m_name;
    // An SQLite ledger's file as check() found it: a file deleted or
    // replaced since would take results that no one sees.
    QString m_file;
    int m_leaseMs = kDefaultLeaseSeconds * 1000;
};
