#include "cli/station.h"

#include "cli/modulerun.h"
#include "cli/options.h"
#include "cli/output.h"
#include "cli/signalwatch.h"
#include "cli/valuestable.h"
#include "core/atprotocol.h"
#include "core/common.h"
#include "core/fileaccess.h"
#include "core/moduleconfig.h"
#include "core/modulesession.h"
#include "core/portaccess.h"
#include "core/profile.h"
#include "core/reportfile.h"
#include "core/serialsocket.h"

#include <QDateTime>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QFile>
#include <QFileInfo>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QLocale>
#include <QMutex>
#include <QMutexLocker>
#include <QSerialPortInfo>
#include <QThread>
#include <QVector>
#include <atomic>
#include <memory>
#include <utility>

namespace CommandLine {

namespace {

constexpr int kRetryMs = 500; // between tries for a module, and between probes of one
constexpr qint64 kMaxValuesBytes = 16 * 1024 * 1024;

// One module's values: the row of the CSV it came from (1-based, 0 without
// values), the configuration to write and the values as the report shows them.
struct Row
{
    int index = -1; // in the pool
    int number = 0;
    int line = 0; // of the values file
    ModuleConfig config;
    QJsonObject values;
};

// Hands the rows to the slots: each row once, in order, to the next module
// that starts; a module that fails gives its row back to the next one. With
// --count, at most that many modules in all. Shared by the slots' threads.
class RowPool
{
public:
    enum class Take { Got, Wait, Over };

    // Module numbers continue after `firstModule`.
    RowPool(QVector<Row> rows, bool fromValues, int count, int firstModule)
        : m_rows(std::move(rows)), m_fromValues(fromValues), m_count(count), m_base(firstModule), m_started(firstModule)
    {
        for (int i = 0; i < m_rows.size(); ++i)
            m_queue.append(i);
    }

    // Got: `row` and the module's number are set. Wait: every row left is
    // with a module in progress that may give it back. Over: nothing more.
    Take take(Row* row, int* module)
    {
        const QMutexLocker lock(&m_mutex);
        if (m_closed || countReached())
            return Take::Over;
        if (m_fromValues) {
            if (m_queue.isEmpty())
                return m_inProgress > 0 ? Take::Wait : Take::Over;
            *row = m_rows.at(m_queue.takeFirst());
        } else {
            *row = m_rows.first();
        }
        ++m_inProgress;
        *module = ++m_started;
        return Take::Got;
    }

    void finish(const Row& row, bool ok)
    {
        const QMutexLocker lock(&m_mutex);
        --m_inProgress;
        if (m_fromValues && !ok)
            m_queue.prepend(row.index);
    }

    // No module can start any more.
    bool over() const
    {
        const QMutexLocker lock(&m_mutex);
        return m_closed || exhaustedLocked();
    }

    // The rows or the count ran out: the line's work is done.
    bool exhausted() const
    {
        const QMutexLocker lock(&m_mutex);
        return exhaustedLocked();
    }

    // From now on no module starts; those in progress finish.
    void close()
    {
        const QMutexLocker lock(&m_mutex);
        m_closed = true;
    }

    int rowsLeft() const
    {
        const QMutexLocker lock(&m_mutex);
        return m_queue.size();
    }

private:
    bool countReached() const { return m_count >= 0 && m_started - m_base >= m_count; }
    bool exhaustedLocked() const { return countReached() || (m_fromValues && m_queue.isEmpty() && m_inProgress == 0); }

    mutable QMutex m_mutex;
    const QVector<Row> m_rows;
    QList<int> m_queue;
    const bool m_fromValues;
    const int m_count;
    const int m_base;
    int m_started = 0;
    int m_inProgress = 0;
    bool m_closed = false;
};

// "2026-12-07T10:15:02.123+01:00": local time with its offset.
QString timeWithOffset(const QDateTime& when)
{
    const int offset = when.offsetFromUtc();
    const int minutes = qAbs(offset) / 60;
    return QLocale::c().toString(when, QStringLiteral("yyyy-MM-ddTHH:mm:ss.zzz")) +
           QStringLiteral("%1%2:%3")
               .arg(offset < 0 ? QLatin1Char('-') : QLatin1Char('+'))
               .arg(minutes / 60, 2, 10, QLatin1Char('0'))
               .arg(minutes % 60, 2, 10, QLatin1Char('0'));
}

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

// One slot: a port and the thread that serves it.
class SlotWorker : public QObject
{
    Q_OBJECT

public:
    SlotWorker(int slot, const QString& port, const Options& options, RowPool* pool)
        : m_slot(slot), m_port(port), m_o(options), m_pool(pool)
    {}

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
            },
            Qt::QueuedConnection);
    }

signals:
    // `state`: waiting, writing, verifying, restarting, removing; `detail` more of it.
    void status(int slot, const QString& state, const QString& detail);
    void portOpened(int slot);
    // One module ended: its report record, whether a signal cut it short,
    // and for one that was not ok what went wrong, in words.
    void moduleDone(int slot, const QJsonObject& record, bool interrupted, const QString& reason);
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
            if (m_module > 0)
                emit status(m_slot, m_phase, QStringLiteral("step %1 of %2, %3").arg(step).arg(steps).arg(what));
        });
        while (!m_stopping && !m_pool->over()) {
            if (!waitForModule(port, session))
                break;
            Row row;
            RowPool::Take took = RowPool::Take::Wait;
            while (!m_stopping && (took = m_pool->take(&row, &m_module)) == RowPool::Take::Wait)
                idle(kRetryMs);
            if (took != RowPool::Take::Got)
                break;
            const bool ok = configure(session, port, row);
            m_pool->finish(row, ok);
            m_module = 0;
            // A module that took a new serial line is looked for at the
            // station's line again: it no longer answers there.
            port->setPortConfig(m_port, m_o.baud, QSerialPort::Data8, m_o.parity, m_o.stopBits);
            if (!m_stopping && !m_pool->over())
                waitUntilGone(port, session);
            port->closePort();
        }
        port->closePort();
        m_session = nullptr;
        emit finished(m_slot);
    }

private:
    // Sleeps `ms` while events are processed; false once the slot is to end.
    bool idle(int ms)
    {
        Common::delay(ms, [this] { return m_stopping.load() || m_pool->over(); });
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
        while (!m_stopping && !m_pool->over()) {
            emit status(m_slot, QStringLiteral("waiting"), why);
            if (!PortAccess::notAPort(m_port).isEmpty()) {
                why = QStringLiteral("(no such port yet)");
                idle(kRetryMs);
                continue;
            }
            port->setPortConfig(m_port, m_o.baud, QSerialPort::Data8, m_o.parity, m_o.stopBits);
            m_openError = QSerialPort::NoError;
            if (!port->openPort()) {
                why = QStringLiteral("(%1)").arg(PortAccess::openFailure(m_port, m_openError));
                idle(kRetryMs);
                continue;
            }
            emit portOpened(m_slot);
            if (session.enterConfiguration())
                return true;
            // A reply still coming when the probe gave up, or one that comes
            // after it, is a module too slow for the probe.
            const QByteArray reply = session.reply();
            idle(kRetryMs);
            const bool slow =
                (!reply.isEmpty() && !At::replyFinished(reply)) || (port->isOpen() && port->bytesAvailable() > 0);
            why = slow ? QStringLiteral("(a module answers, but more slowly than the probe waits)")
                       : QStringLiteral("(no answer at %1)").arg(m_o.portLine().text());
            port->closePort();
        }
        return false;
    }

    // Until the port vanishes or the module stops answering (a probe that
    // gets nothing for about a second).
    void waitUntilGone(SerialSocket* port, ModuleSession& session)
    {
        emit status(m_slot, QStringLiteral("removing"), QStringLiteral("waiting for the module to be removed"));
        // Once no module can start any more, the line is over: nothing to wait for.
        while (!m_stopping && !m_pool->over() && port->isOpen() && session.probe())
            idle(kRetryMs);
    }

    // Writes, verifies and, when asked, restarts the module; records it.
    bool configure(ModuleSession& session, SerialSocket* port, const Row& row)
    {
        QElapsedTimer clock;
        clock.start();
        ModuleRun run(
            session, port, m_port, m_o.portLine(), [this] { return m_signal.load(); },
            [this](const QString& phase) {
                m_phase = phase == QLatin1String("write")     ? QStringLiteral("writing")
                          : phase == QLatin1String("verify")  ? QStringLiteral("verifying")
                          : phase == QLatin1String("restart") ? QStringLiteral("restarting")
                                                              : phase;
                emit status(m_slot, m_phase, QString());
            });
        const Result r = run.write(row.config, true, m_o.restart);
        const QString verdict = CommandLine::verdict(r);
        QJsonObject record{
            {"time", timeWithOffset(QDateTime::currentDateTime())},
            {"port", m_port},
            {"adapter", adapterOf(QSerialPortInfo(PortAccess::deviceName(m_port)))},
            {"module", m_module},
            {"row", row.number > 0 ? QJsonValue(row.number) : QJsonValue()},
            {"values", row.values},
            {"result", verdict},
            {"status", r.status},
            {"differences", r.fields.value(QStringLiteral("differences")).toArray()},
            {"refused", r.fields.value(QStringLiteral("refused")).toArray()},
            {"durationMs", clock.elapsed()},
        };
        // Where a module cut short stopped, and what it holds of the write.
        for (const char* key : {"unanswered", "stoppedAfter", "written", "partlyWritten", "notWritten", "newLine"}) {
            const QString name = QLatin1String(key);
            if (r.fields.contains(name))
                record.insert(name, r.fields.value(name));
        }
        if (!r.error.isEmpty())
            record.insert(QStringLiteral("error"), r.error);
        emit moduleDone(m_slot, record, r.status > 128,
                        verdict == QLatin1String("ok") ? QString() : reasonOf(r, m_port));
        return verdict == QLatin1String("ok");
    }

    const int m_slot;
    const QString m_port;
    const Options& m_o;
    RowPool* const m_pool;
    std::atomic<bool> m_stopping{false};
    std::atomic<int> m_signal{0};
    ModuleSession* m_session = nullptr; // while run() runs, on the slot's thread
    QSerialPort::SerialPortError m_openError = QSerialPort::NoError;
    int m_module = 0; // the module in progress, 0 for none
    QString m_phase;
};

// The station on the main thread: prepares the rows and the report, runs the
// slots, shows their state and records each module.
class Station
{
public:
    Station(const Options& options, Reporter& out) : m_o(options), m_out(out) {}

    int exec()
    {
        Result refused;
        QVector<Row> rows;
        if (!prepare(&rows, &refused))
            return m_out.finish(refused);
        const bool fromValues = !m_o.values.isEmpty();
        if (m_o.check)
            return showCheck(rows);
        if (fromValues && rows.isEmpty()) {
            m_out.note(QStringLiteral("station: every row is done; nothing to do"));
            return Done;
        }
        if (!checkPorts(&refused))
            return m_out.finish(refused);
        QString error;
        if (m_endCutLine && !m_report.append("\n", &error))
            return m_out.finish(failure(BadUsage, error + QStringLiteral(" (nothing sent)")));
        RowPool pool(rows, fromValues, m_o.count, m_lastModule);
        m_pool = &pool;

        QEventLoop loop;
        QVector<QThread*> threads;
        int running = 0;
        for (int i = 0; i < m_o.ports.size(); ++i) {
            auto* const thread = new QThread;
            auto* const worker = new SlotWorker(i, m_o.ports.at(i), m_o, &pool);
            worker->moveToThread(thread);
            m_workers.append(worker);
            m_states.append(QStringLiteral("waiting for a module"));
            m_shown.append(QString());
            QObject::connect(thread, &QThread::started, worker, &SlotWorker::run);
            QObject::connect(
                worker, &SlotWorker::status, &loop,
                [this](int slot, const QString& state, const QString& detail) { showState(slot, state, detail); });
            QObject::connect(worker, &SlotWorker::portOpened, &loop, [this] { m_portOpened = true; });
            QObject::connect(worker, &SlotWorker::moduleDone, &loop,
                             [this](int slot, const QJsonObject& record, bool interrupted, const QString& reason) {
                                 recordModule(slot, record, interrupted, reason);
                             });
            QObject::connect(worker, &SlotWorker::finished, &loop, [&loop, &running, thread] {
                thread->quit();
                if (--running == 0)
                    loop.quit();
            });
            threads.append(thread);
            ++running;
        }
        SignalWatch::install([this](int signal) { stop(signal); });
        SignalWatch::setArmed(true);
        for (QThread* const thread : std::as_const(threads))
            thread->start();
        if (running > 0)
            loop.exec();
        for (QThread* const thread : std::as_const(threads)) {
            thread->wait();
            delete thread;
        }
        qDeleteAll(m_workers);
        m_workers.clear();
        m_pool = nullptr;
        m_out.clearStatus();

        QString summary = QStringLiteral("station: %1 ok, %2 failed").arg(m_ok).arg(m_failed);
        if (fromValues)
            summary += QStringLiteral(", %1 rows left").arg(pool.rowsLeft());
        if (!m_reportError.isEmpty())
            summary += QStringLiteral(" (stopped: the report cannot be written: %1; %2 of the records only on "
                                      "standard error)")
                           .arg(m_reportError)
                           .arg(m_unrecorded);
        else if (m_signal != 0)
            summary += QStringLiteral(" (stopped by %1)").arg(QLatin1String(SignalWatch::name(m_signal)));
        m_out.note(summary);
        if (!m_reportError.isEmpty())
            return BadUsage;
        // A signal that came before the line's work was done: an interrupted
        // line, told apart from a finished one.
        if (m_signal != 0 && (m_interrupted || !pool.exhausted()))
            return 128 + m_signal;
        if (!m_portOpened && m_ok + m_failed == 0)
            return PortFailed;
        return m_failed > 0 ? Differences : Done;
    }

private:
    // Every slot ends: a module in progress after the exchange in progress.
    void stop(int signal)
    {
        if (m_signal == 0)
            m_signal = signal;
        for (SlotWorker* const worker : std::as_const(m_workers))
            worker->requestStop(signal);
    }

    // The profile with --set, the rows of --values with each row checked,
    // and the report with the rows it already holds as done. False with
    // `refused` set when something is wrong; nothing is sent then.
    bool prepare(QVector<Row>* rows, Result* refused)
    {
        QString profileText;
        QString error;
        if (!Files::readText(m_o.profile, Files::kMaxProfileBytes, &profileText, &error)) {
            *refused = failure(BadUsage, error + QStringLiteral(" (nothing sent)"));
            return false;
        }
        QStringList problems;
        QStringList warnings; // the profile's own, the same for every row
        bool newLineTold = false;
        const auto check = [&](const QString& where, const QStringList& overrides, Row* row) {
            QString why;
            warnings.clear();
            if (!Profile::read(profileText.toUtf8(), &row->config, &why, overrides, &warnings)) {
                for (const QString& p : why.split(QLatin1Char('\n')))
                    problems.append(QStringLiteral("%1: %2").arg(where, p));
                return;
            }
            if (!changesLine(row->config, m_o.portLine()) || newLineTold)
                return;
            newLineTold = true;
            const QString line = lineOf(row->config).text();
            if (m_o.restart) {
                m_out.note(QStringLiteral("%1: serial: the modules take %2, which is checked after their restart, "
                                          "at that line")
                               .arg(where, line));
            } else {
                problems.append(QStringLiteral("%1: serial: the modules would take %2, while the station talks at "
                                               "%3; a module may report a new line only once it restarted, so the "
                                               "station checks it after a restart: give --restart")
                                    .arg(where, line, m_o.portLine().text()));
            }
        };

        // Everything given is checked before the report is touched.
        QVector<Row> all;
        ValuesTable table;
        if (m_o.values.isEmpty()) {
            Row row;
            check(Files::shown(m_o.profile), m_o.overrides, &row);
            all.append(row);
        } else {
            QString csv;
            if (!Files::readText(m_o.values, kMaxValuesBytes, &csv, &error)) {
                *refused = failure(BadUsage, error + QStringLiteral(" (nothing sent)"));
                return false;
            }
            if (!readValues(csv, Config::fieldPaths(), &table, &error)) {
                *refused = failure(BadUsage, QStringLiteral("%1: %2 (nothing sent)").arg(m_o.values, error));
                return false;
            }
            for (const QString& w : table.warnings)
                m_out.note(QStringLiteral("%1 %2").arg(m_o.values, w));
            for (int i = 0; i < table.rows.size(); ++i) {
                Row row;
                row.number = i + 1;
                row.line = table.lines.at(i);
                row.values = table.values(i);
                check(QStringLiteral("%1 line %2").arg(m_o.values).arg(table.lines.at(i)),
                      m_o.overrides + table.overrides(i), &row);
                all.append(row);
            }
        }
        if (!problems.isEmpty()) {
            *refused = refusedInput(problems.join(QStringLiteral("; ")), problems);
            return false;
        }
        for (const QString& w : warnings)
            m_out.note(QStringLiteral("profile: ") + w);

        ReportContents report;
        if (!readReport(&report, refused))
            return false;
        const QSet<int> done = m_o.values.isEmpty() ? QSet<int>() : reportedRows(report, table);
        for (Row& row : all) {
            if (done.contains(row.number)) {
                ++m_skipped;
                continue;
            }
            row.index = rows->size();
            rows->append(row);
        }
        if (m_skipped > 0)
            m_out.note(QStringLiteral("%1: %2 rows already reported ok are skipped").arg(m_o.report).arg(m_skipped));
        return true;
    }

    // The report of an earlier run, read as a resume reads it: held for this
    // run (a second station on it is refused), every line that is not a
    // record named, a cut last line ended before anything is appended. With
    // --check it is only read.
    bool readReport(ReportContents* contents, Result* refused)
    {
        if (m_o.report.isEmpty())
            return true;
        QByteArray bytes;
        QString error;
        if (m_o.check) {
            if (Files::kind(m_o.report) == QLatin1String("a regular file")) {
                QFile file(m_o.report);
                if (!file.open(QIODevice::ReadOnly)) {
                    *refused = failure(BadUsage, QStringLiteral("%1: %2").arg(m_o.report, file.errorString()));
                    return false;
                }
                bytes = file.readAll();
            }
        } else {
            const QString problem = Files::writeProblem(m_o.report);
            if (!problem.isEmpty() || !m_report.open(m_o.report, &error)) {
                *refused = failure(BadUsage, (problem.isEmpty() ? error : problem) + QStringLiteral(" (nothing sent)"));
                return false;
            }
            bytes = m_report.contents();
        }
        *contents = ReportContents::parse(bytes);
        for (const QString& problem : contents->problems)
            m_out.note(QStringLiteral("%1 %2; left as it is").arg(m_o.report, problem));
        if (contents->cutLine > 0) {
            m_out.note(QStringLiteral("%1 line %2 has no line end (cut short?); it is ended before the first new "
                                      "record")
                           .arg(m_o.report)
                           .arg(contents->cutLine));
            m_endCutLine = !m_o.check;
        }
        for (const ReportContents::Record& record : std::as_const(contents->records))
            m_lastModule = qMax(m_lastModule, record.object.value(QStringLiteral("module")).toInt());
        return true;
    }

    // The rows an earlier run of this report wrote ok, with the same values.
    static QSet<int> reportedRows(const ReportContents& report, const ValuesTable& table)
    {
        QSet<int> done;
        for (const ReportContents::Record& r : report.records) {
            const QJsonObject& record = r.object;
            const int number = record.value(QStringLiteral("row")).toInt();
            if (record.value(QStringLiteral("result")).toString() != QLatin1String("ok") || number < 1 ||
                number > table.rows.size())
                continue;
            if (record.value(QStringLiteral("values")).toObject() == table.values(number - 1))
                done.insert(number);
        }
        return done;
    }

    // Ports that exist but can be no module's, and one device under two
    // names, refused before any slot starts.
    bool checkPorts(Result* refused) const
    {
        QStringList devices;
        for (const QString& port : m_o.ports) {
            const QString why = PortAccess::notASerialDevice(port);
            if (!why.isEmpty()) {
                *refused = failure(PortFailed, QStringLiteral("%1: %2 (nothing sent)").arg(port, why));
                return false;
            }
            const QString device = PortAccess::deviceName(port);
            const int same = devices.indexOf(device);
            if (same >= 0) {
                *refused = failure(BadUsage, QStringLiteral("--port %1 and --port %2 are one device, %3 (nothing sent)")
                                                 .arg(m_o.ports.at(same), port, device));
                return false;
            }
            devices.append(device);
        }
        return true;
    }

    // --check: what a run would do, without a port.
    int showCheck(const QVector<Row>& rows)
    {
        Result r;
        QJsonArray left;
        if (!m_o.values.isEmpty()) {
            for (const Row& row : rows) {
                QStringList values;
                for (auto it = row.values.begin(); it != row.values.end(); ++it)
                    values.append(it.key() + QLatin1Char('=') + it.value().toString());
                r.text += QStringLiteral("row %1 (line %2): %3\n")
                              .arg(row.number)
                              .arg(row.line)
                              .arg(values.join(QLatin1Char(' ')));
                left.append(QJsonObject{{"row", row.number}, {"line", row.line}, {"values", row.values}});
            }
            r.fields.insert(QStringLiteral("rowsLeft"), left);
            r.fields.insert(QStringLiteral("rowsDone"), m_skipped);
            m_out.note(QStringLiteral("station: check: %1 rows left, %2 already reported ok; nothing sent")
                           .arg(rows.size())
                           .arg(m_skipped));
        } else {
            m_out.note(QStringLiteral("station: check: no values; every module gets the profile; nothing sent"));
        }
        r.fields.insert(QStringLiteral("check"), true);
        r.fields.insert(QStringLiteral("lastModule"), m_lastModule);
        return m_out.finish(r);
    }

    void showState(int slot, const QString& state, const QString& detail)
    {
        const QString port = m_o.ports.at(slot);
        m_states[slot] =
            QStringLiteral("%1: %2%3").arg(port, state, detail.isEmpty() ? QString() : QLatin1Char(' ') + detail);
        if (m_out.onTerminal()) {
            m_out.showStatus(m_states);
            return;
        }
        // Off a terminal, a line when the state changes, and when the reason
        // a slot is waiting changes.
        const QString shown =
            state == QLatin1String("waiting") ? m_states.at(slot) : port + QStringLiteral(": ") + state;
        if (shown == m_shown.at(slot))
            return;
        m_shown[slot] = shown;
        if (!m_out.quiet())
            m_out.note(shown);
    }

    void recordModule(int slot, const QJsonObject& record, bool interrupted, const QString& reason)
    {
        const bool ok = record.value(QStringLiteral("result")).toString() == QLatin1String("ok");
        (ok ? m_ok : m_failed)++;
        m_interrupted = m_interrupted || interrupted;
        const QByteArray line = QJsonDocument(record).toJson(QJsonDocument::Compact) + '\n';
        if (m_report.isOpen() && m_reportError.isEmpty()) {
            QString error;
            if (!m_report.append(line, &error)) {
                // No module starts without its record; those in progress finish.
                m_reportError = error;
                if (m_pool)
                    m_pool->close();
                m_out.note(QStringLiteral("%1; no further module is taken").arg(error));
            }
        }
        if (!m_reportError.isEmpty()) {
            // Nothing is lost: the record, whole, where it can still be read.
            ++m_unrecorded;
            m_out.note(QStringLiteral("not in the report: ") + QString::fromUtf8(line.trimmed()));
        }
        bool shown = true;
        if (m_out.json()) {
            QJsonObject object = record;
            object.insert(QStringLiteral("command"), QStringLiteral("station"));
            shown = m_out.out(QJsonDocument(object).toJson(QJsonDocument::Compact) + '\n');
        } else if (!ok || !m_out.quiet()) {
            shown = m_out.out(resultLine(slot, record, reason).toUtf8() + '\n');
        }
        // Standard output closed by its reader ends the line as a signal does.
        if (!shown && m_out.outputClosed())
            stop(SignalWatch::kBrokenPipe);
        if (m_out.onTerminal())
            m_out.showStatus(m_states);
    }

    QString resultLine(int slot, const QJsonObject& record, const QString& reason) const
    {
        QStringList values;
        const QJsonObject v = record.value(QStringLiteral("values")).toObject();
        for (auto it = v.begin(); it != v.end(); ++it)
            values.append(it.key() + QLatin1Char('=') + it.value().toString());
        QString text = QStringLiteral("%1 %2 module %3")
                           .arg(record.value(QStringLiteral("time")).toString(), m_o.ports.at(slot))
                           .arg(record.value(QStringLiteral("module")).toInt());
        if (record.value(QStringLiteral("row")).isDouble())
            text += QStringLiteral(" row %1 %2")
                        .arg(record.value(QStringLiteral("row")).toInt())
                        .arg(values.join(QLatin1Char(' ')));
        text += QStringLiteral(": %1, %2 s")
                    .arg(record.value(QStringLiteral("result")).toString())
                    .arg(double(record.value(QStringLiteral("durationMs")).toInt()) / 1000.0, 0, 'f', 2);
        if (!reason.isEmpty())
            text += QStringLiteral(" (%1)").arg(reason);
        return text;
    }

    const Options& m_o;
    Reporter& m_out;
    QVector<SlotWorker*> m_workers;
    RowPool* m_pool = nullptr; // while the slots run
    QStringList m_states;      // a status line per slot
    QStringList m_shown;       // the last line shown per slot, off a terminal
    ReportFile m_report;
    QString m_reportError; // why the report took no more records; empty while it takes them
    int m_unrecorded = 0;  // records only on standard error
    bool m_portOpened = false;
    bool m_interrupted = false;
    int m_signal = 0;
    int m_ok = 0;
    int m_failed = 0;
    int m_skipped = 0;
    int m_lastModule = 0;      // the highest module number of the report
    bool m_endCutLine = false; // the report's last line has no line end yet
};

} // namespace

int runStation(const Options& options, Reporter& out)
{
    Station station(options, out);
    return station.exec();
}

} // namespace CommandLine

#include "station.moc"
