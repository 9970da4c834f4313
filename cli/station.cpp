#include "cli/station.h"

#include "cli/inputlines.h"
#include "cli/options.h"
#include "cli/output.h"
#include "cli/signalwatch.h"
#include "core/station/station.h"

#include <QEventLoop>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>

namespace CommandLine {

namespace {

// The station on a terminal or in a script: the engine's notes and states on
// standard error, a result line (or the record, with --json) per module on
// standard output, and the exit status from how the line ended.
class StationFace
{
public:
    StationFace(const Options& options, Reporter& out)
        : m_o(options), m_ports(options.setup.ports), m_out(out), m_station(options.setup, run(options))
    {
        QObject::connect(&m_station, &Station::note, &m_station, [this](const QString& line) { m_out.note(line); });
        QObject::connect(
            &m_station, &Station::slotState, &m_station,
            [this](int slot, Station::FixtureState state, const QString& detail) { showState(slot, state, detail); });
        QObject::connect(&m_station, &Station::moduleDone, &m_station,
                         [this](int slot, const ModuleRecord& record, const QString& reason, bool) {
                             showModule(slot, record, reason);
                         });
        QObject::connect(&m_station, &Station::removalAwaited, &m_station, [this](int slot) {
            m_awaiting.append(slot);
            m_out.note(QStringLiteral("%1: take the module off, then type %2 and Enter (Enter alone when it is the "
                                      "only fixture waiting)")
                           .arg(m_ports.at(slot), QString::number(slot + 1)));
        });
    }

    int exec()
    {
        for (const QString& w : m_o.setupWarnings)
            m_out.note(w);
        Result refused;
        if (!m_station.prepare(&refused))
            return m_out.finish(refused);
        if (m_o.check)
            return showCheck();
        if (!m_o.setup.values.isEmpty() && m_station.rowsLeftCount() == 0) {
            m_out.note(QStringLiteral("station: every row is done; nothing to do"));
            return Done;
        }
        for (const QString& port : m_ports) {
            m_states.append(QStringLiteral("%1: waiting for a module").arg(port));
            m_shown.append(QString());
        }
        if (!m_station.start(&refused))
            return m_out.finish(refused);
        SignalWatch::install([this](int signal) { m_station.stop(signal); });
        SignalWatch::setArmed(true);
        if (m_o.setup.removal() == Station::Removal::Operator)
            readConfirmations();
        QEventLoop loop;
        QObject::connect(&m_station, &Station::finished, &loop, &QEventLoop::quit);
        if (m_station.isRunning())
            loop.exec();
        m_out.clearStatus();
        return ended(m_station.summary());
    }

private:
    static Station::Run run(const Options& o)
    {
        Station::Run r;
        r.check = o.check;
        // A check whose command line names no fixture checks the rows alone; a setup's fixtures are checked.
        r.withoutPorts = o.check && o.ports.isEmpty() && !o.fromSetup;
        r.stopName = [](int signal) { return QString::fromLatin1(SignalWatch::name(signal)); };
        return r;
    }

    // The summary, and the exit status.
    int ended(const Station::Summary& s)
    {
        QString summary = QStringLiteral("station: %1 ok, %2 failed").arg(s.ok).arg(s.failed);
        if (s.fromValues)
            summary += QStringLiteral(", %1 rows left").arg(s.rowsLeft);
        if (s.rowsRefused > 0)
            summary += QStringLiteral(", %1 refused by the profile").arg(s.rowsRefused);
        if (s.claimsLost > 0)
            summary += QStringLiteral(", %1 claims lost before anything was written").arg(s.claimsLost);
        if (!s.recordError.isEmpty())
            summary += QStringLiteral(" (stopped: a record could not be kept: %1; %2 of the records only on "
                                      "standard error)")
                           .arg(s.recordError, QString::number(s.unrecorded));
        else if (s.stop != 0)
            summary += QStringLiteral(" (stopped by %1)").arg(QLatin1String(SignalWatch::name(s.stop)));
        m_out.note(summary);
        if (!s.recordError.isEmpty() || s.rowsRefused > 0)
            return BadUsage;
        // A signal that came before the line's work was done: an interrupted
        // line, told apart from a finished one.
        if (s.stop != 0 && (s.interrupted || !s.exhausted))
            return 128 + s.stop;
        if (!s.portOpened && s.ok + s.failed == 0)
            return PortFailed;
        return s.failed > 0 ? Differences : Done;
    }

    // --check: what a run would do, without a port. The rows are written
    // as they are read, so that a big order is never held as text.
    int showCheck()
    {
        Result r;
        r.fields.insert(QStringLiteral("check"), true);
        r.fields.insert(QStringLiteral("lastModule"), m_station.lastModule());
        if (m_o.setup.values.isEmpty()) {
            m_out.note(QStringLiteral("station: check: no values; every module gets the profile; nothing sent"));
            return m_out.finish(r);
        }
        r.fields.insert(QStringLiteral("rowsDone"), m_station.rowsDone());
        m_out.note(QStringLiteral("station: check: %1 rows left, %2 already reported ok; nothing sent")
                       .arg(m_station.rowsLeftCount())
                       .arg(m_station.rowsDone()));
        return m_out.finish(r, QStringLiteral("rowsLeft"), [this](const Reporter::Put& put) {
            m_station.eachRowLeft([&put](const Station::RowLeft& row) {
                return put(
                    QJsonObject{{"row", row.row}, {"line", row.line}, {"values", row.values}},
                    QStringLiteral("row %1 (line %2): %3").arg(row.row).arg(row.line).arg(valuesText(row.values)));
            });
        });
    }

    static QString valuesText(const QJsonObject& v)
    {
        QStringList values;
        for (auto it = v.begin(); it != v.end(); ++it)
            values.append(it.key() + QLatin1Char('=') + it.value().toString());
        return values.join(QLatin1Char(' '));
    }

    static QString stateWord(Station::FixtureState state)
    {
        switch (state) {
        case Station::FixtureState::Waiting:
            return QStringLiteral("waiting");
        case Station::FixtureState::Writing:
            return QStringLiteral("writing");
        case Station::FixtureState::Verifying:
            return QStringLiteral("verifying");
        case Station::FixtureState::Restarting:
            return QStringLiteral("restarting");
        case Station::FixtureState::Checking:
            return QStringLiteral("checking traffic");
        case Station::FixtureState::Removing:
            break;
        }
        return QStringLiteral("removing");
    }

    void showState(int slot, Station::FixtureState state, const QString& detail)
    {
        const QString port = m_ports.at(slot);
        m_states[slot] = QStringLiteral("%1: %2%3")
                             .arg(port, stateWord(state), detail.isEmpty() ? QString() : QLatin1Char(' ') + detail);
        if (m_out.onTerminal()) {
            m_out.showStatus(m_states);
            return;
        }
        // Off a terminal, a line when the state changes, and when the reason
        // a slot is waiting changes.
        const QString shown = state == Station::FixtureState::Waiting ? m_states.at(slot)
                                                                      : port + QStringLiteral(": ") + stateWord(state);
        if (shown == m_shown.at(slot))
            return;
        m_shown[slot] = shown;
        if (!m_out.quiet())
            m_out.note(shown);
    }

    void showModule(int slot, const ModuleRecord& record, const QString& reason)
    {
        bool shown = true;
        if (m_out.json()) {
            QJsonObject object = record.toJson();
            object.insert(QStringLiteral("command"), QStringLiteral("station"));
            shown = m_out.out(QJsonDocument(object).toJson(QJsonDocument::Compact) + '\n');
        } else if (!record.ok() || !m_out.quiet()) {
            shown = m_out.out(resultLine(slot, record, reason).toUtf8() + '\n');
        }
        // Standard output closed by its reader ends the line as a signal does.
        if (!shown && m_out.outputClosed())
            m_station.stop(SignalWatch::kBrokenPipe);
        if (m_out.onTerminal())
            m_out.showStatus(m_states);
    }

    QString resultLine(int slot, const ModuleRecord& record, const QString& reason) const
    {
        QString text =
            QStringLiteral("%1 %2 module %3").arg(record.time, m_ports.at(slot), QString::number(record.module));
        if (record.row > 0)
            text += QStringLiteral(" row %1 %2").arg(record.row).arg(valuesText(record.values));
        text += QStringLiteral(": %1, %2 s")
                    .arg(record.result(), QString::number(double(record.durationMs) / 1000.0, 'f', 2));
        if (!reason.isEmpty())
            text += QStringLiteral(" (%1)").arg(reason);
        return text;
    }

    // The operator's word that a module was taken off: a line on standard
    // input with the fixture's number, or an empty one for the only fixture
    // waiting.
    void readConfirmations()
    {
        InputLines::watch(&m_station, [this](const QString& line) { confirm(line.trimmed()); });
    }

    void confirm(const QString& line)
    {
        bool ok = false;
        const int fixture = line.toInt(&ok);
        int slot = -1;
        if (line.isEmpty() && m_awaiting.size() == 1)
            slot = m_awaiting.first();
        else if (ok && m_awaiting.contains(fixture - 1))
            slot = fixture - 1;
        if (slot < 0) {
            QStringList waiting;
            for (const int s : std::as_const(m_awaiting))
                waiting.append(QString::number(s + 1));
            m_out.note(waiting.isEmpty() ? QStringLiteral("no fixture waits for its module to be taken off")
                                         : QStringLiteral("type the number of a fixture that waits: %1")
                                               .arg(waiting.join(QStringLiteral(", "))));
            return;
        }
        m_awaiting.removeAll(slot);
        m_station.confirmRemoval(slot);
    }

    const Options& m_o;
    const QStringList m_ports;
    Reporter& m_out;
    Station m_station;
    QVector<int> m_awaiting; // fixtures waiting for the operator, oldest first
    QStringList m_states;    // a status line per slot
    QStringList m_shown;     // the last line shown per slot, off a terminal
};

} // namespace

int runStation(const Options& options, Reporter& out)
{
    StationFace face(options, out);
    return face.exec();
}

} // namespace CommandLine
