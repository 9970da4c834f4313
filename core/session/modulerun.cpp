#include "core/session/modulerun.h"

#include "core/session/modulesession.h"
#include "core/transport/common.h"
#include "core/transport/pacing.h"
#include "core/transport/serialsocket.h"

#include <QJsonArray>
#include <QJsonObject>

namespace Operation {

namespace {

// The fields a read-back did not get, as a sentence; empty when it got them all.
QString missingFields(const ConfigReading& reading)
{
    QStringList missing;
    for (const ConfigField field : Config::allFields()) {
        if (!(reading.fields & field))
            missing.append(Config::fieldPath(field));
    }
    return missing.isEmpty() ? QString()
                             : QStringLiteral("the module did not report %1").arg(missing.join(QStringLiteral(", ")));
}

// What the read-back left out or cannot keep; empty when it is a whole, sound configuration.
QString readingProblem(const ConfigReading& reading)
{
    const QString missing = missingFields(reading);
    if (!missing.isEmpty())
        return missing;
    const QString problem = Config::check(reading.values);
    return problem.isEmpty() ? problem : QStringLiteral("the module reported %1").arg(problem);
}

// The module's own serial line.
ConfigFields serialFields()
{
    return ConfigField::SerialBaud | ConfigField::SerialStopBits | ConfigField::SerialParity;
}

QString listed(const QStringList& texts)
{
    return texts.isEmpty() ? QStringLiteral("nothing") : texts.join(QStringLiteral(", "));
}

// The judged commands of a sequence that the module refused or left
// unanswered: their lines for standard error, their lists for --json.
void addFailures(const SequenceOutcome& o, Result* r)
{
    QJsonArray refused;
    for (const SequenceOutcome::Command& c : o.refused()) {
        r->details.append(QStringLiteral("the module refused %1 (%2)").arg(c.text(), c.refusal));
        refused.append(QJsonObject{{"command", c.text()}, {"reply", c.refusal}});
    }
    QJsonArray unanswered;
    for (const SequenceOutcome::Command& c : o.unanswered()) {
        r->details.append(QStringLiteral("the module did not answer %1").arg(c.text()));
        unanswered.append(c.text());
    }
    r->fields.insert(QStringLiteral("refused"), refused);
    r->fields.insert(QStringLiteral("unanswered"), unanswered);
}

// Where a sequence stopped and what it did and did not write; `plan` names
// the groups when the sequence that stopped was not the write itself.
// Takes the fields of a later step of the same run, and its failure if it failed.
void adopt(const Result& later, Result* r)
{
    for (auto field = later.fields.begin(); field != later.fields.end(); ++field)
        r->fields.insert(field.key(), field.value());
    if (later.status == Done)
        return;
    r->status = later.status;
    r->error = later.error;
    r->details += later.details;
    r->detailsSayAll = later.detailsSayAll;
}

void addSummary(const SequenceOutcome& o, const ModuleRun::Plan& plan, Result* r)
{
    if (o.end != SequenceOutcome::End::Completed) {
        const SequenceOutcome::Command* const last = o.last();
        QJsonObject stopped{{"step", last ? last->step : 0}, {"steps", o.steps}};
        if (last) {
            r->details.append(
                QStringLiteral("stopped after step %1 of %2, %3").arg(last->step).arg(o.steps).arg(last->text()));
            stopped.insert(QStringLiteral("command"), last->text());
        } else {
            r->details.append(QStringLiteral("stopped before step 1 of %1").arg(o.steps));
        }
        r->fields.insert(QStringLiteral("stoppedAfter"), stopped);
    }
    SequenceOutcome groups = o;
    if (!plan.isEmpty()) {
        groups.plan = plan;
        groups.commands.clear(); // the write has not begun: none of its commands went out
    }
    if (groups.plan.isEmpty())
        return;
    const QStringList written = groups.groups(SequenceOutcome::GroupState::Written);
    const QStringList partly = groups.groups(SequenceOutcome::GroupState::Partly);
    const QStringList notWritten = groups.groups(SequenceOutcome::GroupState::NotWritten);
    r->details.append(QStringLiteral("written: %1").arg(listed(written)));
    if (!partly.isEmpty())
        r->details.append(QStringLiteral("partly written: %1 (the module may hold part of it)").arg(listed(partly)));
    r->details.append(QStringLiteral("not written: %1").arg(listed(notWritten)));
    r->fields.insert(QStringLiteral("written"), QJsonArray::fromStringList(written));
    r->fields.insert(QStringLiteral("partlyWritten"), QJsonArray::fromStringList(partly));
    r->fields.insert(QStringLiteral("notWritten"), QJsonArray::fromStringList(notWritten));
}

} // namespace

ModuleRun::ModuleRun(ModuleSession& session, SerialSocket* port, const QString& name, const PortLine& line,
                     std::function<int()> signal, std::function<QString(int)> signalName,
                     std::function<void(const QString&)> phase)
    : m_session(session), m_socket(port), m_port(name), m_line(line), m_signal(std::move(signal)),
      m_signalName(std::move(signalName)), m_phase(std::move(phase))
{}

Result ModuleRun::judged(const SequenceOutcome& o, const QString& what, const Plan& plan) const
{
    Result r;
    if (o.end == SequenceOutcome::End::PortClosed) {
        r.status = CutShort;
        r.error = QStringLiteral("%1: the port closed during the %2 (unplugged?)").arg(m_port, what);
    } else if (o.end == SequenceOutcome::End::Stopped) {
        r.status = 128 + m_signal();
        r.error = QStringLiteral("%1: stopped by %2 during the %3").arg(m_port, m_signalName(m_signal()), what);
    } else if (!o.refused().isEmpty() || !o.unanswered().isEmpty()) {
        r.status = NoAnswer;
        r.error = o.refused().isEmpty() ? QStringLiteral("%1: the module did not answer every command").arg(m_port)
                                        : QStringLiteral("%1: the module refused what was sent").arg(m_port);
    }
    addFailures(o, &r);
    if (r.status != Done)
        addSummary(o, plan, &r);
    return r;
}

Result ModuleRun::interrupted(SequenceOutcome o, const QString& what, const Plan& plan) const
{
    // A signal that came while no sequence ran: the last one counts as
    // stopped after its last step.
    o.end = SequenceOutcome::End::Stopped;
    return judged(o, what, plan);
}

Result ModuleRun::notListening() const
{
    const Problem p = problem(Problem::Kind::ModuleSilent, m_port, {m_line.text()});
    Result r = failure(NoAnswer, p.text);
    r.problems = {p};
    return r;
}

bool ModuleRun::connect(const QString& what, const Plan& plan, Result* r)
{
    m_phase(QStringLiteral("connect"));
    const bool listening = m_session.enterConfiguration();
    m_phase(what);
    if (listening && m_signal() == 0)
        return true;
    *r = listening ? interrupted(m_session.outcome(), what, plan) : judged(m_session.outcome(), what, plan);
    if (r->status == Done)
        *r = notListening();
    return false;
}

Result ModuleRun::read(ConfigReading* reading)
{
    if (!m_session.readBack(reading)) {
        const Result r = judged(m_session.outcome(), QStringLiteral("read"));
        return r.status == Done ? notListening() : r;
    }
    const QString problem = readingProblem(*reading);
    return problem.isEmpty() ? Result() : failure(NoAnswer, problem);
}

Result ModuleRun::write(const ModuleConfig& profile, bool verify, bool restart)
{
    m_phase(QStringLiteral("write"));
    m_session.writeAll(ModuleSession::fixed(profile));
    Result r = judged(m_session.outcome(), QStringLiteral("write"));
    if (r.status != Done)
        return r;
    r.fields.insert(QStringLiteral("verified"), verify);
    r.fields.insert(QStringLiteral("restarted"), false);
    if (m_signal() != 0)
        return interrupted(m_session.outcome(), QStringLiteral("write"));
    // A new serial line may be reported only once it is in effect: it is
    // checked after the restart, at that line.
    const bool newLine = verify && restart && changesLine(profile, m_line);
    if (verify) {
        const ConfigFields fields = newLine ? Config::everyField() & ~serialFields() : Config::everyField();
        const Result compared = this->verify(profile, true, fields);
        adopt(compared, &r);
        if (compared.status != Done)
            return r;
    }
    if (!restart)
        return r;
    m_phase(QStringLiteral("restart"));
    m_session.restart();
    const Result restarted = judged(m_session.outcome(), QStringLiteral("restart"));
    if (restarted.status != Done) {
        // What the write and the verify found still stands beside it.
        adopt(restarted, &r);
        return r;
    }
    r.fields.insert(QStringLiteral("restarted"), true);
    if (newLine)
        adopt(checkNewLine(profile), &r);
    return r;
}

Result ModuleRun::checkNewLine(const ModuleConfig& profile)
{
    constexpr int kBootTries = 3; // a restarting module answers again within these tries
    constexpr int kBootPauseMs = 300;
    const PortLine next = lineOf(profile);
    Result r;
    r.fields.insert(QStringLiteral("newLine"), next.text());
    m_phase(QStringLiteral("verify"));
    m_socket->closePort();
    m_socket->setPortConfig(m_socket->portName(), next.baud, QSerialPort::Data8, next.parity, next.stopBits);
    bool listening = false;
    for (int attempt = 0; attempt < kBootTries && !listening && m_signal() == 0; ++attempt) {
        if (attempt > 0)
            Common::delay(Pacing::scaled(kBootPauseMs), [this] { return m_signal() != 0; });
        if (!m_socket->isOpen() && !m_socket->openPort())
            continue;
        listening = m_session.enterConfiguration();
    }
    m_line = next;
    if (m_signal() != 0)
        return interrupted(m_session.outcome(), QStringLiteral("verify"));
    if (!listening) {
        Result silent =
            m_socket->isOpen()
                ? failure(NoAnswer, QStringLiteral("%1: the module does not answer at its new line, %2, "
                                                   "after the restart")
                                        .arg(m_port, next.text()))
                : failure(CutShort, QStringLiteral("%1: the port did not open again at %2 after the restart")
                                        .arg(m_port, next.text()));
        silent.fields = r.fields;
        return silent;
    }
    Result compared = verify(profile, true, serialFields());
    adopt(compared, &r);
    if (compared.status != Done)
        return r;
    m_phase(QStringLiteral("restart"));
    m_session.restart();
    adopt(judged(m_session.outcome(), QStringLiteral("restart")), &r);
    return r;
}

Result ModuleRun::verify(const ModuleConfig& profile, bool written, ConfigFields fields)
{
    if (m_signal() != 0)
        return interrupted(m_session.outcome(), QStringLiteral("verify"));
    m_phase(QStringLiteral("verify"));
    ConfigReading reading;
    if (!m_session.readGroups(&reading)) {
        const Result r = judged(m_session.outcome(), QStringLiteral("verify"));
        return r.status == Done ? notListening() : r;
    }
    const QString missing = missingFields(reading);
    if (!missing.isEmpty())
        return failure(NoAnswer, missing);
    Result r;
    QJsonArray differences;
    const QString expected = written ? QStringLiteral("wrote") : QStringLiteral("profile");
    for (const Config::Difference& d : Config::compare(profile, reading.values)) {
        if (!(fields & d.field))
            continue;
        r.details.append(d.text(written));
        differences.append(
            QJsonObject{{"field", Config::fieldPath(d.field)}, {expected, d.expected}, {"module", d.module}});
    }
    r.fields.insert(QStringLiteral("differences"), differences);
    if (!differences.isEmpty()) {
        r.status = Differences;
        r.error = written ? QStringLiteral("%1: the module differs from what was written").arg(m_port)
                          : QStringLiteral("%1: the module differs from the profile").arg(m_port);
    }
    return r;
}

Result ModuleRun::command(const QString& name)
{
    if (name == QLatin1String("leave"))
        m_session.leaveConfiguration();
    else if (name == QLatin1String("restart"))
        m_session.restart();
    else
        m_session.restore();
    return judged(m_session.outcome(), name);
}

} // namespace Operation
