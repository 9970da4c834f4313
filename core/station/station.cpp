#include "core/station/station.h"

#include "core/config/fileaccess.h"
#include "core/config/moduleconfig.h"
#include "core/config/profile.h"
#include "core/protocol/atprotocol.h"
#include "core/session/modulerun.h"
#include "core/session/modulesession.h"
#include "core/station/ledger.h"
#include "core/station/ledgerrows.h"
#include "core/station/modulerecord.h"
#include "core/station/reportfile.h"
#include "core/station/rowrule.h"
#include "core/station/rowsource.h"
#include "core/station/stationsetup.h"
#include "core/station/valuestable.h"
#include "core/traffic/canbus.h"
#include "core/traffic/trafficcheck.h"
#include "core/traffic/vectors.h"
#include "core/transport/adapters.h"
#include "core/transport/common.h"
#include "core/transport/pacing.h"
#include "core/transport/portaccess.h"
#include "core/transport/serialsocket.h"

#include <QCoreApplication>
#include <QCryptographicHash>
#include <QDateTime>
#include <QElapsedTimer>
#include <QFile>
#include <QHash>
#include <QJsonArray>
#include <QJsonDocument>
#include <QMutex>
#include <QMutexLocker>
#include <QSerialPortInfo>
#include <QSet>
#include <QSysInfo>
#include <QThread>
#include <atomic>
#include <utility>

using namespace Operation;

namespace {

constexpr int kRetryMs = 500;       // between tries for a module, and between probes of one
constexpr int kPluggedPollMs = 100; // between looks at whether an adapter is still plugged in

// What a result line says of a module that was not ok: the error and each
// detail (the refused command with its reply, the differing fields with what
// was written and what the module has, where the operation stopped).
QString reasonOf(const Result& r, const QString& port)
{
    QStringList parts;
    QString error = r.error;
    if (error.startsWith(port + QStringLiteral(": ")))
        error = error.mid(port.size() + 2);
    if (!error.isEmpty() && !r.detailsSayAll)
        parts.append(error);
    parts += r.details;
    return parts.join(QStringLiteral("; "));
}

QString stationName(const Station::Settings& o)
{
    return o.stationName.isEmpty() ? QSysInfo::machineHostName() : o.stationName;
}

Result ledgerRefusal(const LedgerProblem& problem)
{
    Result r = failure(problem.noAnswer() ? NoAnswer : BadUsage, problem.text + QStringLiteral(" (nothing sent)"));
    r.problems = {problem.asProblem()};
    return r;
}

// What the row rule needs of the station's settings.
RowRule::Station ruleOf(const Station::Settings& o)
{
    return {o.overrides, o.line, o.restart};
}

// The rows of a ledger not used yet, as a run would see them now: with
// `check`, each through the row rule (a run applies it as each is taken)
// and handed to `row`; without it only counted, in `count`, for a run takes
// them from the ledger as it goes.
bool readLedger(const Station::Settings& o,
                const std::function<void(const QString&, const QStringList&, const LedgerRow&)>& check, int* count,
                int* lastModule, const std::function<void(const QString&)>& warn, Result* refused)
{
    LedgerAddress address;
    QString error;
    if (!LedgerAddress::parse(o.values, &address, &error)) {
        *refused = failure(BadUsage, error + QStringLiteral(" (nothing sent)"));
        return false;
    }
    Ledger ledger(address);
    LedgerProblem problem;
    if (!ledger.check(&problem) || !ledger.lastModule(stationName(o), lastModule, &problem)) {
        *refused = ledgerRefusal(problem);
        return false;
    }
    if (!check) {
        int free = 0;
        int claimed = 0;
        int others = 0;
        if (!ledger.counts(LedgerClaimant{stationName(o), 0, QString(), QString()}, {}, &free, &claimed, &others,
                           &problem)) {
            *refused = ledgerRefusal(problem);
            return false;
        }
        *count = free + claimed;
        return true;
    }
    // The rows a run would give; `last`, the last of them, bounds the
    // reading below to the same rows.
    int last = 0;
    const auto unused = [&](const LedgerRow& r) {
        check(LedgerRows::where(r), r.overrides(), r);
        ++*count;
        last = r.id;
        return true;
    };
    if (!ledger.eachRow(true, unused, &problem)) {
        *refused = ledgerRefusal(problem);
        return false;
    }
    // A check names each row whose CAN ID an earlier row of the ledger has,
    // used or not. The earlier row is kept by its place in the reading:
    // its number, its line and its source (few, kept once each).
    IdRepeats repeats;
    QVector<int> ids;
    QVector<int> lines;
    QVector<int> sourceOf;
    QStringList sources;
    QStringList told;
    const auto seen = [&](const LedgerRow& r) {
        const int at = int(ids.size());
        int source = sources.indexOf(r.source);
        if (source < 0) {
            source = int(sources.size());
            sources.append(r.source);
        }
        ids.append(r.id);
        lines.append(r.line);
        sourceOf.append(source);
        for (const auto& v : r.values) {
            if (v.first != QLatin1String("can.id"))
                continue;
            const int earlier = repeats.add(v.second, at);
            if (earlier >= 0 && r.state != QLatin1String("used"))
                told.append(QStringLiteral("%1: can.id %2 repeats ledger row %3 (%4 line %5)")
                                .arg(LedgerRows::where(r), v.second, QString::number(ids.at(earlier)),
                                     sources.at(sourceOf.at(earlier)), QString::number(lines.at(earlier))));
        }
        return true;
    };
    if (!ledger.eachRow(false, seen, &problem, last)) {
        *refused = ledgerRefusal(problem);
        return false;
    }
    for (const QString& line : std::as_const(told))
        warn(line);
    return true;
}

} // namespace

// One slot: a port and the thread that serves it.
class Station::Slot : public QObject
{
    Q_OBJECT

public:
    Slot(int slot, const Settings& settings, RowSource* rows, const Traffic::Vectors& vectors)
        : m_slot(slot), m_port(settings.ports.at(slot)), m_o(settings), m_rows(rows), m_vectors(vectors)
    {}

    // From any thread: the operator took the module off.
    void confirmRemoval() { m_confirmed = true; }

    // From any thread: ends the slot. A module in progress ends after the
    // exchange in progress, and is recorded as cut short.
    void requestStop(int signal)
    {
        m_signal = signal;
        m_stopping = true;
        QMetaObject::invokeMethod(
            this,
            [this] {
                if (m_session)
                    m_session->stop();
                if (m_check)
                    m_check->stop();
            },
            Qt::QueuedConnection);
    }

signals:
    void status(int slot, Station::FixtureState state, const QString& detail);
    void step(int slot, int step, int steps, const QString& what);
    void portOpened(int slot);
    void started(int slot, int module, int row, const QJsonObject& values);
    void removalAwaited(int slot);
    // One module ended: its report record, whether a signal cut it short,
    // for one that was not ok what went wrong, in words, and why the row
    // source could not keep its end (empty when it could).
    void moduleDone(int slot, const ModuleRecord& record, bool interrupted, const QString& reason,
                    const QString& notKept);
    void finished(int slot);

public slots:
    void run()
    {
        SerialSocket* const port = SerialSocket::createPort(this);
        connect(port, &QSerialPort::errorOccurred, this, [this](QSerialPort::SerialPortError code) {
            if (code != QSerialPort::NoError && m_openError == QSerialPort::NoError)
                m_openError = code;
        });
        ModuleSession session(port);
        m_session = &session;
        session.setFastExchange(m_o.fast);
        connect(&session, &ModuleSession::progress, this, [this](int step, int steps, const QString& what) {
            if (m_module <= 0)
                return;
            emit status(m_slot, m_phase, QStringLiteral("step %1 of %2, %3").arg(step).arg(steps).arg(what));
            emit this->step(m_slot, step, steps, what);
        });
        while (!m_stopping && !m_rows->over()) {
            if (!waitForModule(port, session))
                break;
            StationRow row;
            if (!takeRow(&row))
                break;
            Ended ended = configure(session, port, row);
            // The source keeps what happened before the module counts as done.
            QString kept;
            if (!m_rows->finish(row, &ended.record, &kept)) {
                if (kept.isEmpty())
                    kept = QStringLiteral("the values' source could not keep the module's end");
                // No module starts after one whose end was not kept, not even
                // before the station has heard of it.
                m_rows->close();
            }
            if (ended.record.verdict == ModuleRecord::Verdict::Duplicate)
                ended.reason = ended.record.error;
            emit moduleDone(m_slot, ended.record, ended.interrupted, ended.reason, kept);
            m_module = 0;
            // A module that took a new serial line is looked for at the
            // station's line again: it no longer answers there.
            port->setPortConfig(m_device, m_o.line.baud, QSerialPort::Data8, m_o.line.parity, m_o.line.stopBits);
            if (!m_stopping && !m_rows->over())
                waitUntilGone(port, session);
            port->closePort();
        }
        port->closePort();
        m_session = nullptr;
        m_rows->threadEnded();
        emit finished(m_slot);
    }

private:
    // Takes a row for the module on the fixture, and confirms it right
    // before its values would go out: a row that is no longer the
    // station's to give is recorded as such (nothing went to the module)
    // and another is taken. False once no row comes.
    bool takeRow(StationRow* row)
    {
        for (;;) {
            RowSource::Take took = RowSource::Take::Wait;
            QString why;
            while (!m_stopping && (took = m_rows->take(row, &m_module, &why)) == RowSource::Take::Wait) {
                if (!why.isEmpty())
                    emit status(m_slot, FixtureState::Waiting, QStringLiteral("(%1)").arg(why));
                why.clear();
                idle(kRetryMs);
            }
            if (took != RowSource::Take::Got)
                return false;
            emit started(m_slot, m_module, row->number, row->values);
            const RowSource::Hold hold = m_rows->confirm(*row);
            if (hold == RowSource::Hold::Own)
                return true;
            ModuleRecord record;
            describe(&record, *row, 0);
            QString reason;
            if (hold == RowSource::Hold::Lost) {
                record.verdict = ModuleRecord::Verdict::ClaimLost;
                reason = QStringLiteral("the row's claim was lost before its values went out (its lease ran out and "
                                        "another station took it, or it was released); nothing was written");
            } else {
                record.verdict = ModuleRecord::Verdict::CutShort;
                record.status = 128 + m_signal.load();
                reason = QStringLiteral("stopped before the row's values went out; nothing was written");
            }
            record.error = QStringLiteral("%1: %2").arg(m_port, reason);
            QString kept;
            if (!m_rows->finish(*row, &record, &kept) && kept.isEmpty())
                kept = QStringLiteral("the values' source could not keep the module's end");
            emit moduleDone(m_slot, record, hold == RowSource::Hold::Ending, reason, kept);
            m_module = 0;
            if (hold == RowSource::Hold::Ending)
                return false;
        }
    }

    // Where and when the module in progress ended, with `row`.
    void describe(ModuleRecord* record, const StationRow& row, qint64 durationMs) const
    {
        record->time = timeWithOffset(QDateTime::currentDateTime());
        record->port = m_port;
        record->adapter = adapterOf(QSerialPortInfo(PortAccess::deviceName(m_device)));
        record->module = m_module;
        record->row = row.number;
        record->values = row.values;
        record->durationMs = durationMs;
        if (Adapters::isUsbName(m_port))
            record->device = m_device;
    }

    // Sleeps `ms` (paced) while events are processed; false once the slot is to end.
    bool idle(int ms)
    {
        Common::delay(Pacing::scaled(ms), [this] { return m_stopping.load() || m_rows->over(); });
        return !m_stopping;
    }

    // Tries every half second, quietly, until the port exists and a module
    // answers on it; the port is then open, the module in its configuration
    // state. A port given as a link is resolved each time: a re-plugged
    // adapter may come back under another device name. The status says why
    // the slot is still waiting.
    bool waitForModule(SerialSocket* port, ModuleSession& session)
    {
        QString why = QStringLiteral("for a module");
        while (!m_stopping && !m_rows->over()) {
            emit status(m_slot, FixtureState::Waiting, why);
            // An adapter named by its serial number is looked up each time:
            // plugged in again, it may come back under another name.
            QString missing;
            m_device = Adapters::resolve(m_port, &missing);
            if (m_device.isEmpty() || !PortAccess::notAPort(m_device).isEmpty()) {
                why = QStringLiteral("(%1)").arg(m_device.isEmpty() ? missing : QStringLiteral("no such port yet"));
                idle(kRetryMs);
                continue;
            }
            port->setPortConfig(m_device, m_o.line.baud, QSerialPort::Data8, m_o.line.parity, m_o.line.stopBits);
            m_openError = QSerialPort::NoError;
            if (!port->openPort()) {
                why = QStringLiteral("(%1)").arg(PortAccess::openFailure(m_device, m_openError));
                idle(kRetryMs);
                continue;
            }
            emit portOpened(m_slot);
            if (session.enterConfiguration()) {
                m_moduleDevice = PortAccess::deviceName(m_device);
                return true;
            }
            // A reply still coming when the probe gave up, or one that comes
            // after it, is a module too slow for the probe.
            const QByteArray reply = session.reply();
            idle(kRetryMs);
            const bool slow =
                (!reply.isEmpty() && !At::replyFinished(reply)) || (port->isOpen() && port->bytesAvailable() > 0);
            why = slow ? QStringLiteral("(a module answers, but more slowly than the probe waits)")
                       : QStringLiteral("(no answer at %1)").arg(m_o.line.text());
            port->closePort();
        }
        return false;
    }

    // Until the module is gone, as the settings tell it: the probe (until
    // the port vanishes or the module stops answering for about a second;
    // each probe puts a module back into its configuration state), the port
    // (until the adapter goes away with the module) or the operator's word.
    // Once no module can start any more, the line is over: nothing to wait for.
    void waitUntilGone(SerialSocket* port, ModuleSession& session)
    {
        const auto going = [this] { return !m_stopping && !m_rows->over(); };
        switch (m_o.removal) {
        case Removal::Probe:
            emit status(m_slot, FixtureState::Removing, QStringLiteral("waiting for the module to be removed"));
            while (going() && port->isOpen() && session.probe())
                idle(kRetryMs);
            break;
        case Removal::Port:
            // Looked at often: an adapter plugged in again at once may come
            // back under the same name.
            port->closePort();
            emit status(m_slot, FixtureState::Removing, QStringLiteral("waiting for the adapter to be unplugged"));
            while (going() && stillPlugged())
                idle(kPluggedPollMs);
            break;
        case Removal::Operator:
            port->closePort();
            m_confirmed = false;
            emit status(m_slot, FixtureState::Removing, QStringLiteral("waiting for the operator"));
            emit removalAwaited(m_slot);
            while (going() && !m_confirmed)
                idle(kRetryMs);
            break;
        }
    }

    // Whether the module's adapter is still there: the same device behind
    // the port's name (a link such as /dev/serial/by-id/... points at the
    // device of the adapter plugged in last).
    bool stillPlugged() const
    {
        QString missing;
        const QString device = Adapters::resolve(m_port, &missing);
        return !device.isEmpty() && PortAccess::notAPort(device).isEmpty() &&
               PortAccess::deviceName(device) == m_moduleDevice;
    }

    // How a module ended: its record, whether it was ok, whether a stop cut
    // it short, and for one that was not ok what went wrong.
    struct Ended
    {
        ModuleRecord record;
        bool interrupted = false;
        QString reason;
    };

    // Writes, verifies and, when asked, restarts the module.
    Ended configure(ModuleSession& session, SerialSocket* port, const StationRow& row)
    {
        QElapsedTimer clock;
        clock.start();
        ModuleRun run(
            session, port, m_port, m_o.line, [this] { return m_signal.load(); }, m_o.stopName,
            [this](const QString& phase) {
                m_phase = phase == QLatin1String("verify")    ? FixtureState::Verifying
                          : phase == QLatin1String("restart") ? FixtureState::Restarting
                                                              : FixtureState::Writing;
                emit status(m_slot, m_phase, QString());
            });
        const Result r = run.write(row.config, true, m_o.restart);
        // Where a module cut short stopped, and what it holds of the write, come with the result.
        ModuleRecord record = ModuleRecord::of(r);
        QString reason = record.ok() ? QString() : reasonOf(r, m_port);
        if (record.ok() && !m_o.can.isEmpty())
            checkTraffic(run, port, row.config, &record, &reason);
        describe(&record, row, clock.elapsed());
        return {record, record.status > 128, reason};
    }

    // The last step: the traffic through the module, in its working state
    // (left by its restart, or by leaving the configuration state). The
    // fixtures of a station take turns on the bus, so that no check sees
    // another's frames; what a module passes of other fixtures' frames to
    // its serial line meanwhile is cleared before its own check.
    void checkTraffic(ModuleRun& run, SerialSocket* port, const ModuleConfig& config, ModuleRecord* record,
                      QString* reason)
    {
        m_phase = FixtureState::Checking;
        emit status(m_slot, m_phase, QString());
        const auto fail = [&](ModuleRecord::Verdict verdict, int status, const QString& why) {
            record->verdict = verdict;
            record->status = status;
            record->error = why;
            *reason = why;
        };
        if (!m_o.restart) {
            const Result left = run.command(QStringLiteral("leave"));
            if (left.status != Done) {
                fail(ModuleRecord::verdictOf(left), left.status, left.error);
                return;
            }
        }
        const Operation::PortLine line = Operation::lineOf(config);
        port->setPortConfig(m_device, line.baud, QSerialPort::Data8, line.parity, line.stopBits);
        Traffic::CheckSetup setup;
        setup.config = config;
        setup.vectors = m_vectors;
        setup.maxLatencyMs = m_o.maxLatencyMs;
        const QString problem = Traffic::setupProblem(setup);
        if (!problem.isEmpty()) {
            fail(ModuleRecord::Verdict::Traffic, Differences, problem);
            return;
        }
        // Waits for its turn on the bus, processing its events meanwhile.
        while (!m_stopping && !busTurn()->tryLock(20))
            QCoreApplication::processEvents();
        if (m_stopping) {
            fail(ModuleRecord::Verdict::CutShort, 128 + m_signal, QStringLiteral("stopped before the traffic check"));
            return;
        }
        struct Turn
        {
            ~Turn() { busTurn()->unlock(); }
        } turn;
        Traffic::CanBus bus;
        Traffic::CanName name;
        Traffic::CanName::parse(m_o.can, &name);
        Traffic::CanOpenFailure why;
        if (!bus.open(name, config.canRateKbit, &why)) {
            fail(ModuleRecord::Verdict::Traffic, Differences, why.text());
            return;
        }
        Traffic::TrafficCheck check(port, &bus, setup);
        connect(&check, &Traffic::TrafficCheck::progress, this, [this](int step, int steps, const QString& what) {
            emit status(m_slot, m_phase, QStringLiteral("%1 %2 of %3").arg(what).arg(step).arg(steps));
            emit this->step(m_slot, step, steps, what);
        });
        m_check = &check;
        if (m_stopping)
            check.stop();
        const Traffic::CheckReport report = check.run();
        m_check = nullptr;
        record->traffic = report.json();
        switch (report.verdict) {
        case Traffic::CheckReport::Verdict::Passed:
            break;
        case Traffic::CheckReport::Verdict::Failed:
            fail(ModuleRecord::Verdict::Traffic, Differences, report.failureTexts().join(QStringLiteral("; ")));
            break;
        case Traffic::CheckReport::Verdict::NothingThrough:
            fail(ModuleRecord::Verdict::Traffic, Differences,
                 QStringLiteral("nothing came through the module (no frame on %1, no byte on its serial line)")
                     .arg(m_o.can));
            break;
        case Traffic::CheckReport::Verdict::Stopped:
            fail(ModuleRecord::Verdict::CutShort, 128 + m_signal, QStringLiteral("stopped during the traffic check"));
            break;
        }
    }

    // The fixtures' turns on the station's one CAN interface.
    static QMutex* busTurn()
    {
        static QMutex turn;
        return &turn;
    }

    const int m_slot;
    const QString m_port;
    const Settings& m_o;
    RowSource* const m_rows;
    const Traffic::Vectors& m_vectors;
    Traffic::TrafficCheck* m_check = nullptr; // while a traffic check runs, on the slot's thread
    std::atomic<bool> m_stopping{false};
    std::atomic<int> m_signal{0};
    ModuleSession* m_session = nullptr; // while run() runs, on the slot's thread
    QSerialPort::SerialPortError m_openError = QSerialPort::NoError;
    QString m_device;       // what the port opens, a usb: name looked up
    QString m_moduleDevice; // the device the module in progress was found on, links followed
    std::atomic<bool> m_confirmed{false};
    int m_module = 0; // the module in progress, 0 for none
    FixtureState m_phase = FixtureState::Writing;
};

struct Station::Work
{
    ProfileFile profile;
    RowRule::Station rule;
    QString valuesName; // the values file, as rows are named by ("ids.csv line 3")
    // The rows a check or a run reads before anything is sent, as what each
    // needs: the values file's fields under `paths`, or, for a check of a
    // ledger, each row's paths and values in turn with its number in `numbers`.
    QStringList paths;
    ValueRows values;
    QVector<int> numbers;
    QVector<int> left;   // the rows a run gives, in order, by their place in `values`
    int ledgerLeft = 0;  // a run on a ledger: the rows not used yet, which it takes from the ledger
    bool ledger = false; // the rows come from a ledger
    StationRow single;   // without values: the profile's row for every module
    std::unique_ptr<RowSource> pool;
    ReportFile report;
    Traffic::Vectors vectors; // the profile's, for the traffic check

    int number(int index) const { return ledger ? numbers.at(index) : index + 1; }
    QStringList overrides(int index) const
    {
        const QStringList fields = values.fields(index);
        QStringList out;
        if (ledger) {
            for (int i = 0; i + 1 < fields.size(); i += 2)
                out.append(fields.at(i) + QLatin1Char('=') + fields.at(i + 1));
        } else {
            for (int i = 0; i < paths.size(); ++i)
                out.append(paths.at(i) + QLatin1Char('=') + fields.value(i));
        }
        return out;
    }
    // The values of a row by their paths, as a report records them.
    QJsonObject valuesOf(int index) const
    {
        const QStringList fields = values.fields(index);
        QJsonObject out;
        if (ledger) {
            for (int i = 0; i + 1 < fields.size(); i += 2)
                out.insert(fields.at(i), fields.at(i + 1));
        } else {
            for (int i = 0; i < paths.size(); ++i)
                out.insert(paths.at(i), fields.value(i));
        }
        return out;
    }
    // A row of the values file as a module takes it: its configuration made
    // again by the rule it passed before the run.
    StationRow row(int index) const
    {
        StationRow r;
        r.index = index;
        r.number = number(index);
        r.line = values.line(index);
        r.values = valuesOf(index);
        RowRule::check(profile, rule, overrides(index), QString(), &r.config);
        return r;
    }
};

namespace {

Station::Settings resolved(const StationSetup& setup, const Station::Run& run)
{
    Station::Settings s = Setup::settings(setup);
    s.check = run.check;
    s.stopName = run.stopName;
    return s;
}

} // namespace

Station::Station(const StationSetup& setup, const Run& run, QObject* parent)
    : QObject(parent), m_settings(resolved(setup, run)), m_setupProblems(Setup::check(setup)),
      m_work(std::make_unique<Work>())
{
    if (run.withoutPorts) {
        m_setupProblems.erase(std::remove_if(m_setupProblems.begin(), m_setupProblems.end(),
                                             [](const Problem& p) { return p.kind == Problem::Kind::NoPorts; }),
                              m_setupProblems.end());
    }
    // The slots' threads hand states and records over.
    qRegisterMetaType<Station::FixtureState>();
    qRegisterMetaType<ModuleRecord>();
    m_summary.fromValues = !m_settings.values.isEmpty();
}

Station::~Station()
{
    // A station is left only once its slots have ended: a face waits for finished().
    Q_ASSERT(m_running == 0);
}

bool Station::prepare(Result* refused)
{
    const Settings& o = m_settings;
    if (!m_setupProblems.isEmpty()) {
        *refused = Operation::refused(m_setupProblems);
        return false;
    }
    ProfileFile profile;
    QString error;
    if (!profile.load(o.profile, &error)) {
        *refused = failure(BadUsage, error + QStringLiteral(" (nothing sent)"));
        return false;
    }
    if (!o.can.isEmpty()) {
        QStringList vectorProblems;
        if (!Traffic::readVectors(profile.text(), &m_work->vectors, &vectorProblems)) {
            for (QString& p : vectorProblems)
                p = profile.name() + QStringLiteral(": ") + p;
            *refused = Operation::refusedInput(vectorProblems.join(QStringLiteral("; ")), vectorProblems);
            return false;
        }
        Traffic::CanName name;
        Traffic::CanName::parse(o.can, &name);
        if (!Traffic::canPluginExists(name.plugin)) {
            Traffic::CanOpenFailure why;
            why.name = name;
            why.reason = Traffic::CanOpenFailure::Reason::NoPlugin;
            why.detail = Traffic::canPluginNames().join(QStringLiteral(", "));
            *refused = failure(PortFailed, why.text() + QStringLiteral(" (nothing sent)"));
            return false;
        }
    }
    QVector<Problem> problems;
    QStringList warnings; // the profile's own, the same for every row
    bool newLineTold = false;
    const RowRule::Station station = ruleOf(o);
    // `named` names the row ("ids.csv line 3"), made only when a message needs it.
    const auto checkNamed = [&](const std::function<QString()>& named, const QStringList& rowOverrides,
                                ModuleConfig* config) {
        warnings.clear();
        RowRule::Verdict v = RowRule::check(profile, station, rowOverrides, QString(), config, &warnings);
        if (!v.ok() || !v.newLine.isEmpty()) {
            warnings.clear();
            v = RowRule::check(profile, station, rowOverrides, named(), config, &warnings);
        }
        // A new line is told once, for the first row that has one.
        for (const Problem& p : v.problems) {
            if (p.kind != Problem::Kind::LineNeedsRestart || !newLineTold)
                problems.append(p);
        }
        if (v.newLine.isEmpty() || newLineTold)
            return;
        newLineTold = true;
        if (o.restart)
            emit note(QStringLiteral("%1: serial: the modules take %2, which is checked after their restart, at "
                                     "that line")
                          .arg(named(), v.newLine));
    };
    const auto check = [&](const QString& where, const QStringList& rowOverrides, ModuleConfig* config) {
        checkNamed([&where] { return where; }, rowOverrides, config);
    };

    // Everything given is checked before the report is touched.
    Work& w = *m_work;
    w.profile = profile;
    w.rule = station;
    w.valuesName = o.values;
    if (o.values.isEmpty()) {
        check(profile.name(), {}, &w.single.config);
    } else if (LedgerAddress::isLedger(o.values)) {
        w.ledger = true;
        ModuleConfig config;
        check(profile.name(), {}, &config);
        std::function<void(const QString&, const QStringList&, const LedgerRow&)> checkRow;
        if (o.check) {
            checkRow = [&](const QString& where, const QStringList& rowOverrides, const LedgerRow& r) {
                ModuleConfig rowConfig;
                check(where, rowOverrides, &rowConfig);
                QStringList fields;
                for (const auto& v : r.values)
                    fields << v.first << v.second;
                w.values.append(fields, r.line);
                w.numbers.append(r.id);
            };
        }
        const auto warn = [this](const QString& line) { emit note(line); };
        if (!readLedger(o, checkRow, &w.ledgerLeft, &m_lastModule, warn, refused))
            return false;
        w.values.squeeze();
    } else {
        QStringList repeats;
        if (!loadValueRows(o.values, &w.paths, &w.values, &repeats, &error)) {
            *refused = failure(BadUsage, error + QStringLiteral(" (nothing sent)"));
            return false;
        }
        for (const QString& w : std::as_const(repeats))
            emit note(QStringLiteral("%1 %2").arg(o.values, w));
        if (o.report.isEmpty() && !o.check)
            emit note(QStringLiteral("%1: no report: nothing keeps which rows were used, and the next start gives the "
                                     "same values again")
                          .arg(o.values));
        // Each row's configuration is made to be checked, and then let go:
        // a module's row is made again when it is taken.
        for (int i = 0; i < w.values.size(); ++i) {
            ModuleConfig config;
            const auto named = [&] {
                return QStringLiteral("%1 line %2").arg(o.values, QString::number(w.values.line(i)));
            };
            checkNamed(named, w.overrides(i), &config);
        }
    }
    if (!problems.isEmpty()) {
        *refused = Operation::refused(problems);
        return false;
    }
    for (const QString& w : std::as_const(warnings))
        emit note(QStringLiteral("profile: ") + w);
    if (o.check && !checkPorts(refused))
        return false;

    if (!readReport(refused))
        return false;
    // The report is read as it comes, a record at a time: of each, only
    // its module number and, for a row an earlier run wrote ok with the
    // same values, that the row is done.
    const bool fromFile = !o.values.isEmpty() && !w.ledger;
    const int fileRows = fromFile ? w.values.size() : 0;
    QVector<bool> done(fileRows, false);
    QStringList reportProblems;
    ReportReader reader(
        [&](int, const ModuleRecord& record) {
            m_lastModule = qMax(m_lastModule, record.module);
            const int number = record.row;
            if (!fromFile || !record.ok() || number < 1 || number > fileRows || done.at(number - 1))
                return;
            if (record.values == w.valuesOf(number - 1))
                done[number - 1] = true;
        },
        [&](const QString& problem) { emit note(QStringLiteral("%1 %2; left as it is").arg(o.report, problem)); });
    const auto feed = [&reader](const char* data, int size) { reader.feed(data, size); };
    if (o.check && !o.report.isEmpty() && Files::kind(o.report) == QLatin1String("a regular file")) {
        QFile file(o.report);
        if (!file.open(QIODevice::ReadOnly)) {
            *refused = failure(BadUsage, QStringLiteral("%1: %2").arg(o.report, file.errorString()));
            return false;
        }
        char buffer[65536];
        for (qint64 n = 0; (n = file.read(buffer, sizeof buffer)) > 0;)
            feed(buffer, int(n));
    } else if (!w.report.read(feed, &error)) {
        *refused = failure(BadUsage, error + QStringLiteral(" (nothing sent)"));
        return false;
    }
    reader.finish();
    if (reader.cutLine() > 0) {
        emit note(QStringLiteral("%1 line %2 has no line end (cut short?); it is ended before the first new record")
                      .arg(o.report, QString::number(reader.cutLine())));
        m_endCutLine = !o.check;
    }

    if (o.values.isEmpty()) {
        w.left = {0};
    } else {
        for (int i = 0; i < w.values.size(); ++i) {
            if (i < fileRows && done.at(i))
                ++m_done;
            else
                w.left.append(i);
        }
    }
    if (m_done > 0)
        emit note(QStringLiteral("%1: %2 rows already reported ok are skipped").arg(o.report, QString::number(m_done)));
    return true;
}

// The report of an earlier run, held for this run: a second station on it
// is refused. With the settings' check it is not opened here.
bool Station::readReport(Result* refused)
{
    if (m_settings.report.isEmpty() || m_settings.check)
        return true;
    QString error;
    const QString problem = Files::writeProblem(m_settings.report);
    if (!problem.isEmpty() || !m_work->report.open(m_settings.report, &error)) {
        *refused = failure(BadUsage, (problem.isEmpty() ? error : problem) + QStringLiteral(" (nothing sent)"));
        return false;
    }
    return true;
}

QVector<Station::RowLeft> Station::rowsLeft() const
{
    QVector<RowLeft> left;
    eachRowLeft([&left](const RowLeft& row) {
        left.append(row);
        return true;
    });
    return left;
}

void Station::eachRowLeft(const std::function<bool(const RowLeft&)>& row) const
{
    if (m_settings.values.isEmpty())
        return;
    const Work& w = *m_work;
    for (const int index : w.left) {
        if (!row({w.number(index), w.values.line(index), w.valuesOf(index)}))
            return;
    }
}

int Station::rowsLeftCount() const
{
    if (m_settings.values.isEmpty())
        return 0;
    return m_work->ledger && !m_settings.check ? m_work->ledgerLeft : int(m_work->left.size());
}

int Station::rowsDone() const
{
    return m_done;
}

int Station::lastModule() const
{
    return m_lastModule;
}

// Ports that exist but can be no module's, and one device under two names,
// refused before any slot starts.
bool Station::checkPorts(Result* refused) const
{
    QStringList devices;
    for (const QString& port : m_settings.ports) {
        // An adapter that is not plugged in yet is waited for, as a port that is not there yet.
        QString missing;
        bool ambiguous = false;
        const QString resolved = Adapters::resolve(port, &missing, &ambiguous);
        if (resolved.isEmpty() && !ambiguous) {
            devices.append(port);
            continue;
        }
        const QString why = resolved.isEmpty() ? missing : PortAccess::notASerialDevice(resolved);
        if (!why.isEmpty()) {
            *refused = failure(PortFailed, QStringLiteral("%1: %2 (nothing sent)").arg(port, why));
            return false;
        }
        const QString device = PortAccess::deviceName(resolved);
        const int same = devices.indexOf(device);
        if (same >= 0) {
            const Problem p = problem(Problem::Kind::SameDevice, QString(), {m_settings.ports.at(same), port, device});
            *refused = failure(BadUsage, p.text + QStringLiteral(" (nothing sent)"));
            refused->problems = {p};
            return false;
        }
        devices.append(device);
    }
    return true;
}

bool Station::start(Result* refused)
{
    if (!checkPorts(refused))
        return false;
    QString error;
    if (m_endCutLine && !m_work->report.append("\n", &error)) {
        *refused = failure(BadUsage, error + QStringLiteral(" (nothing sent)"));
        return false;
    }
    m_endCutLine = false;
    if (LedgerAddress::isLedger(m_settings.values)) {
        LedgerRows::Settings s;
        LedgerAddress::parse(m_settings.values, &s.address, &error); // read in prepare()
        s.claimant = {
            stationName(m_settings), QCoreApplication::applicationPid(),
            QStringLiteral("%1 %2").arg(QCoreApplication::applicationName(), QCoreApplication::applicationVersion()),
            QString::fromLatin1(QCryptographicHash::hash(m_work->profile.text(), QCryptographicHash::Sha256).toHex())};
        s.profile = m_work->profile;
        s.rule = ruleOf(m_settings);
        s.count = m_settings.count;
        s.lastModule = m_lastModule;
        s.note = [this](const QString& line) { emit note(line); };
        auto ledger = std::make_unique<LedgerRows>(s);
        LedgerProblem problem;
        if (!ledger->start(&problem)) {
            *refused = ledgerRefusal(problem);
            return false;
        }
        m_work->pool = std::move(ledger);
    } else {
        const Work& w = *m_work;
        const auto make = [&w](int index) {
            if (w.valuesName.isEmpty()) {
                StationRow row = w.single;
                row.index = index;
                return row;
            }
            return w.row(index);
        };
        m_work->pool =
            std::make_unique<RowPool>(m_work->left, make, m_summary.fromValues, m_settings.count, m_lastModule);
    }
    for (int i = 0; i < m_settings.ports.size(); ++i) {
        auto* const thread = new QThread(this);
        auto* const slot = new Slot(i, m_settings, m_work->pool.get(), m_work->vectors);
        slot->moveToThread(thread);
        m_slots.append(slot);
        connect(thread, &QThread::started, slot, &Slot::run);
        connect(slot, &Slot::status, this, &Station::slotState);
        connect(slot, &Slot::step, this, &Station::slotStep);
        connect(slot, &Slot::started, this, &Station::moduleStarted);
        connect(slot, &Slot::removalAwaited, this, &Station::removalAwaited);
        connect(slot, &Slot::portOpened, this, [this] { m_summary.portOpened = true; });
        connect(slot, &Slot::moduleDone, this, &Station::record);
        connect(slot, &Slot::finished, this, [this, thread] {
            thread->quit();
            thread->wait();
            slotEnded();
        });
        ++m_running;
    }
    for (Slot* const slot : std::as_const(m_slots))
        slot->thread()->start();
    return true;
}

void Station::slotEnded()
{
    if (--m_running > 0)
        return;
    qDeleteAll(m_slots);
    m_slots.clear();
    m_summary.rowsLeft = m_work->pool->rowsLeft();
    m_summary.rowsRefused = m_work->pool->rowsRefused();
    if (m_summary.recordError.isEmpty())
        m_summary.recordError = m_work->pool->failure();
    m_summary.exhausted = m_work->pool->exhausted();
    emit finished();
}

void Station::stop(int stop)
{
    if (m_summary.stop == 0)
        m_summary.stop = stop;
    if (m_work->pool)
        m_work->pool->runEnding();
    for (Slot* const slot : std::as_const(m_slots))
        slot->requestStop(stop);
}

void Station::confirmRemoval(int slot)
{
    if (slot >= 0 && slot < m_slots.size())
        m_slots.at(slot)->confirmRemoval();
}

bool Station::isRunning() const
{
    return m_running > 0;
}

Station::Summary Station::summary() const
{
    return m_summary;
}

void Station::stopTaking(const QString& why)
{
    if (!m_summary.recordError.isEmpty())
        return;
    // No module starts without its record; those in progress finish.
    m_summary.recordError = why;
    m_work->pool->close();
    emit note(QStringLiteral("%1; no further module is taken").arg(why));
    emit lineStopped(why);
}

void Station::record(int slot, const ModuleRecord& record, bool interrupted, const QString& reason,
                     const QString& notKept)
{
    // A lost claim wrote nothing: its module went on with another row.
    if (record.verdict == ModuleRecord::Verdict::ClaimLost)
        ++m_summary.claimsLost;
    else
        (record.ok() ? m_summary.ok : m_summary.failed)++;
    m_summary.interrupted = m_summary.interrupted || interrupted;
    const QByteArray line = record.toLine();
    if (!notKept.isEmpty())
        stopTaking(notKept);
    bool inReport = true;
    if (m_work->report.isOpen()) {
        QString error;
        inReport = m_reportTakes && m_work->report.append(line, &error);
        if (inReport) {
            m_reported.append(line);
        } else if (m_reportTakes) {
            m_reportTakes = false;
            stopTaking(error);
            // The run's records that went with the file are told again.
            if (m_work->report.vanished()) {
                for (const QByteArray& gone : std::as_const(m_reported)) {
                    ++m_summary.unrecorded;
                    emit note(QStringLiteral("not in the report: ") + QString::fromUtf8(gone.trimmed()));
                }
            }
            m_reported.clear();
        }
    }
    const bool recorded = inReport && notKept.isEmpty();
    if (!recorded) {
        // Nothing is lost: the record, whole, where it can still be read.
        ++m_summary.unrecorded;
        emit note((notKept.isEmpty() ? QStringLiteral("not in the report: ") : QStringLiteral("not in the ledger: ")) +
                  QString::fromUtf8(line.trimmed()));
    }
    emit moduleDone(slot, record, reason, recorded);
}

#include "station.moc"
