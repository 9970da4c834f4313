#include "cli/station.h"

#include "cli/modulerun.h"
#include "cli/options.h"
#include "cli/output.h"
#include "cli/signalwatch.h"
#include "cli/valuestable.h"
#include "core/common.h"
#include "core/fileaccess.h"
#include "core/moduleconfig.h"
#include "core/modulesession.h"
#include "core/portaccess.h"
#include "core/profile.h"
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

    RowPool(QVector<Row> rows, bool fromValues, int count)
        : m_rows(std::move(rows)), m_fromValues(fromValues), m_count(count)
    {
        for (int i = 0; i < m_rows.size(); ++i)
            m_queue.append(i);
    }

    // Got: `row` and the module's number are set. Wait: every row left is
    // with a module in progress that may give it back. Over: nothing more.
    Take take(Row* row, int* module)
    {
        const QMutexLocker lock(&m_mutex);
        if (m_count >= 0 && m_started >= m_count)
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
        return (m_count >= 0 && m_started >= m_count) || (m_fromValues && m_queue.isEmpty() && m_inProgress == 0);
    }

    int rowsLeft() const
    {
        const QMutexLocker lock(&m_mutex);
        return m_queue.size();
    }

private:
    mutable QMutex m_mutex;
    const QVector<Row> m_rows;
    QList<int> m_queue;
    const bool m_fromValues;
    const int m_count;
    int m_started = 0;
    int m_inProgress = 0;
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
    // One module ended: its report record, and whether a signal cut it short.
    void moduleDone(int slot, const QJsonObject& record, bool interrupted);
    void finished(int slot);

public slots:
    void run()
    {
        SerialSocket* const port = SerialSocket::createPort(this);
        ModuleSession session(port);
        m_session = &session;
        session.setFastExchange(m_o.fast);
        connect(&session, &ModuleSession::progress, this, [this](int step, int steps, const QString& what) {
            if (m_module > 0)
                emit status(m_slot, m_phase, QStringLiteral("step %1 of %2, %3").arg(step).arg(steps).arg(what));
        });
        while (!m_stopping && !m_pool->over()) {
            emit status(m_slot, QStringLiteral("waiting"), QStringLiteral("for a module"));
            if (!waitForModule(port, session))
                break;
            Row row;
            RowPool::Take took = RowPool::Take::Wait;
            while (!m_stopping && (took = m_pool->take(&row, &m_module)) == RowPool::Take::Wait)
                idle(kRetryMs);
            if (took != RowPool::Take::Got)
                break;
            const bool ok = configure(session, row);
            m_pool->finish(row, ok);
            m_module = 0;
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
        Common::delay(ms, [this] { return m_stopping.load(); });
        return !m_stopping;
    }

    // Tries every half second, quietly, until the port exists and a module
    // answers on it; the port is then open, the module in its configuration
    // state. A port given as a link is resolved each time: a re-plugged
    // adapter may come back under another device name.
    bool waitForModule(SerialSocket* port, ModuleSession& session)
    {
        while (!m_stopping && !m_pool->over()) {
            if (PortAccess::notAPort(m_port).isEmpty()) {
                port->setPortConfig(m_port, m_o.baud, QSerialPort::Data8, m_o.parity, m_o.stopBits);
                if (port->openPort()) {
                    emit portOpened(m_slot);
                    if (session.enterConfiguration())
                        return true;
                    port->closePort();
                }
            }
            idle(kRetryMs);
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
    bool configure(ModuleSession& session, const Row& row)
    {
        const QDateTime started = QDateTime::currentDateTime();
        QElapsedTimer clock;
        clock.start();
        ModuleRun run(
            session, m_port, m_o.lineText(), [this] { return m_signal.load(); },
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
            {"time", timeWithOffset(started)},
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
        if (!r.error.isEmpty())
            record.insert(QStringLiteral("error"), r.error);
        emit moduleDone(m_slot, record, r.status > 128);
        return verdict == QLatin1String("ok");
    }

    const int m_slot;
    const QString m_port;
    const Options& m_o;
    RowPool* const m_pool;
    std::atomic<bool> m_stopping{false};
    std::atomic<int> m_signal{0};
    ModuleSession* m_session = nullptr; // while run() runs, on the slot's thread
    int m_module = 0;                   // the module in progress, 0 for none
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
        if (fromValues && rows.isEmpty()) {
            m_out.note(QStringLiteral("station: every row is done; nothing to do"));
            return Done;
        }
        RowPool pool(rows, fromValues, m_o.count);

        QEventLoop loop;
        QVector<QThread*> threads;
        int running = 0;
        for (int i = 0; i < m_o.ports.size(); ++i) {
            auto* const thread = new QThread;
            auto* const worker = new SlotWorker(i, m_o.ports.at(i), m_o, &pool);
            worker->moveToThread(thread);
            m_workers.append(worker);
            m_states.append(QStringLiteral("waiting for a module"));
            QObject::connect(thread, &QThread::started, worker, &SlotWorker::run);
            QObject::connect(
                worker, &SlotWorker::status, &loop,
                [this](int slot, const QString& state, const QString& detail) { showState(slot, state, detail); });
            QObject::connect(worker, &SlotWorker::portOpened, &loop, [this] { m_portOpened = true; });
            QObject::connect(worker, &SlotWorker::moduleDone, &loop,
                             [this](int slot, const QJsonObject& record, bool interrupted) {
                                 recordModule(slot, record, interrupted);
                             });
            QObject::connect(worker, &SlotWorker::finished, &loop, [&loop, &running, thread] {
                thread->quit();
                if (--running == 0)
                    loop.quit();
            });
            threads.append(thread);
            ++running;
        }
        SignalWatch::install([this](int signal) {
            if (m_signal == 0)
                m_signal = signal;
            for (SlotWorker* const worker : std::as_const(m_workers))
                worker->requestStop(signal);
        });
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
        m_out.clearStatus();

        QString summary = QStringLiteral("station: %1 ok, %2 failed").arg(m_ok).arg(m_failed);
        if (fromValues)
            summary += QStringLiteral(", %1 rows left").arg(pool.rowsLeft());
        if (m_signal != 0)
            summary += QStringLiteral(" (stopped by %1)").arg(QLatin1String(SignalWatch::name(m_signal)));
        m_out.note(summary);
        if (m_interrupted)
            return 128 + m_signal;
        if (!m_portOpened && m_ok + m_failed == 0)
            return PortFailed;
        if (!m_written)
            return BadUsage;
        return m_failed > 0 ? Differences : Done;
    }

private:
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
        const auto check = [&](const QString& where, const QStringList& overrides, Row* row) {
            QString why;
            warnings.clear();
            if (Profile::read(profileText.toUtf8(), &row->config, &why, overrides, &warnings))
                return;
            for (const QString& p : why.split(QLatin1Char('\n')))
                problems.append(QStringLiteral("%1: %2").arg(where, p));
        };

        if (m_o.values.isEmpty()) {
            Row row;
            row.index = 0;
            check(Files::shown(m_o.profile), m_o.overrides, &row);
            rows->append(row);
        } else {
            QString csv;
            if (!Files::readText(m_o.values, kMaxValuesBytes, &csv, &error)) {
                *refused = failure(BadUsage, error + QStringLiteral(" (nothing sent)"));
                return false;
            }
            ValuesTable table;
            if (!readValues(csv, Config::fieldPaths(), &table, &error)) {
                *refused = failure(BadUsage, QStringLiteral("%1: %2 (nothing sent)").arg(m_o.values, error));
                return false;
            }
            for (const QString& w : table.warnings)
                m_out.note(QStringLiteral("%1 %2").arg(m_o.values, w));
            const QSet<int> done = reportedRows(table);
            for (int i = 0; i < table.rows.size(); ++i) {
                Row row;
                row.number = i + 1;
                row.values = table.values(i);
                check(QStringLiteral("%1 line %2").arg(m_o.values).arg(table.lines.at(i)),
                      m_o.overrides + table.overrides(i), &row);
                if (done.contains(row.number)) {
                    ++m_skipped;
                    continue;
                }
                row.index = rows->size();
                rows->append(row);
            }
            if (m_skipped > 0)
                m_out.note(
                    QStringLiteral("%1: %2 rows already reported ok are skipped").arg(m_o.report).arg(m_skipped));
        }
        if (!problems.isEmpty()) {
            *refused = refusedInput(problems.join(QStringLiteral("; ")), problems);
            return false;
        }
        for (const QString& w : warnings)
            m_out.note(QStringLiteral("profile: ") + w);
        if (!m_o.report.isEmpty()) {
            const QString problem = Files::writeProblem(m_o.report);
            m_report.setFileName(m_o.report);
            if (!problem.isEmpty() || !m_report.open(QIODevice::WriteOnly | QIODevice::Append)) {
                *refused = failure(BadUsage,
                                   (problem.isEmpty() ? m_o.report + QStringLiteral(": cannot be written") : problem) +
                                       QStringLiteral(" (nothing sent)"));
                return false;
            }
        }
        return true;
    }

    // The rows an earlier run of this report wrote ok, with the same values.
    QSet<int> reportedRows(const ValuesTable& table) const
    {
        QSet<int> done;
        QFile file(m_o.report);
        if (m_o.report.isEmpty() || !file.open(QIODevice::ReadOnly))
            return done;
        while (!file.atEnd()) {
            const QJsonObject record = QJsonDocument::fromJson(file.readLine()).object();
            const int number = record.value(QStringLiteral("row")).toInt();
            if (record.value(QStringLiteral("result")).toString() != QLatin1String("ok") || number < 1 ||
                number > table.rows.size())
                continue;
            if (record.value(QStringLiteral("values")).toObject() == table.values(number - 1))
                done.insert(number);
        }
        return done;
    }

    void showState(int slot, const QString& state, const QString& detail)
    {
        const QString line =
            QStringLiteral("%1: %2%3")
                .arg(m_o.ports.at(slot), state, detail.isEmpty() ? QString() : QLatin1Char(' ') + detail);
        const bool changed = !m_states.at(slot).startsWith(m_o.ports.at(slot) + QStringLiteral(": ") + state);
        m_states[slot] = line;
        if (m_out.onTerminal())
            m_out.showStatus(m_states);
        else if (changed && !m_out.quiet())
            m_out.note(QStringLiteral("%1: %2").arg(m_o.ports.at(slot), state));
    }

    void recordModule(int slot, const QJsonObject& record, bool interrupted)
    {
        const bool ok = record.value(QStringLiteral("result")).toString() == QLatin1String("ok");
        (ok ? m_ok : m_failed)++;
        m_interrupted = m_interrupted || interrupted;
        const QByteArray line = QJsonDocument(record).toJson(QJsonDocument::Compact) + '\n';
        if (m_report.isOpen()) {
            m_written = m_report.write(line) == line.size() && m_report.flush() && m_written;
            if (!m_written)
                m_out.note(QStringLiteral("%1: %2").arg(m_o.report, m_report.errorString()));
        }
        if (m_out.json()) {
            QJsonObject object = record;
            object.insert(QStringLiteral("command"), QStringLiteral("station"));
            m_out.out(QJsonDocument(object).toJson(QJsonDocument::Compact) + '\n');
        } else if (!ok || !m_out.quiet()) {
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
            if (!ok)
                text += QStringLiteral(" (%1)").arg(record.value(QStringLiteral("error")).toString());
            m_out.out(text.toUtf8() + '\n');
        }
        if (m_out.onTerminal())
            m_out.showStatus(m_states);
    }

    const Options& m_o;
    Reporter& m_out;
    QVector<SlotWorker*> m_workers;
    QStringList m_states; // a status line per slot
    QFile m_report;
    bool m_written = true; // every record reached the report
    bool m_portOpened = false;
    bool m_interrupted = false;
    int m_signal = 0;
    int m_ok = 0;
    int m_failed = 0;
    int m_skipped = 0;
};

} // namespace

int runStation(const Options& options, Reporter& out)
{
    Station station(options, out);
    return station.exec();
}

} // namespace CommandLine

#include "station.moc"
