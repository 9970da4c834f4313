#include "core/session/modulesession.h"

#include "core/config/configgroups.h"
#include "core/protocol/atprotocol.h"
#include "core/protocol/logformat.h"
#include "core/transport/common.h"
#include "core/transport/pacing.h"
#include "core/transport/serialsocket.h"

#include "core/diagnostics.h"

#include <QThread>

namespace {

constexpr int kCommandPause = 100; // before every query: spaces the commands of a sequence
constexpr int kMinQuietGap = 5;    // the fast pace's gap before a command, at the least
constexpr int kEscapePause = 150;  // after "+++" of the read-back
constexpr int16_t kConnectBudget = 500;
constexpr int16_t kSetBudget = 500;
constexpr int16_t kFilterModeBudget = 300;
constexpr int16_t kListClearBudget = 300;
constexpr int16_t kButtonClearBudget = 100;
constexpr int kStepPause = 300; // between the steps of the whole write
constexpr int kListPause = 100;
constexpr int kRestorePause = 500;
constexpr int16_t kSearchBudget = 100;
constexpr int kSearchEscapePause = 200;
constexpr int kSearchGuardPause = 200; // a quiet line after the search first opens the port

// 115200 and 9600 first, then the rest from the highest down: the rates of the serial panel.
constexpr int kCandidateRates[] = {115200, 9600,  460800, 256000, 230400, 128000, 57600,
                                   38400,  19200, 14400,  4800,   2400,   1200,   600};
constexpr QSerialPort::Parity kCandidateParities[] = {QSerialPort::NoParity, QSerialPort::EvenParity,
                                                      QSerialPort::OddParity};

QString parityName(QSerialPort::Parity parity)
{
    switch (parity) {
    case QSerialPort::EvenParity:
        return QStringLiteral("even parity");
    case QSerialPort::OddParity:
        return QStringLiteral("odd parity");
    default:
        return QStringLiteral("no parity");
    }
}

using Group = SequenceOutcome::Group;

// A group of the plan: its path and how many commands write it.
Group planned(const Groups::GroupInfo& g, const ModuleConfig& c)
{
    return {Groups::path(g.group), Groups::commandCount(g, c)};
}

// The mode and the sub-parameter group that follows it, if the mode has one.
QVector<Group> modePlan(const ModuleConfig& c)
{
    QVector<Group> plan{planned(Groups::info(ConfigGroup::Mode), c)};
    if (const Groups::GroupInfo* sub = Groups::subParameters(c.mode))
        plan.append(planned(*sub, c));
    return plan;
}

// The filter mode, then the emptying of the list and, in the list's filter mode, every entry.
QVector<Group> filterPlan(const ModuleConfig& c)
{
    return {planned(Groups::info(ConfigGroup::FilterMode), c), planned(Groups::info(ConfigGroup::FilterList), c)};
}

} // namespace

// Counts the steps of the outermost running sequence and starts its outcome
// afresh; sequences run by another one count as its steps.
class ModuleSession::Sequence
{
public:
    Sequence(ModuleSession* session, const Plan& plan) : Sequence(session, stepsOf(plan)) { adopt(plan); }
    Sequence(ModuleSession* session, int steps) : m_session(session)
    {
        if (m_session->m_depth++ > 0)
            return;
        m_session->m_outcome = SequenceOutcome();
        m_session->m_outcome.steps = steps;
        m_session->m_stopRequested = false;
        m_session->m_ended = false;
        m_session->m_needsPort = true;
    }
    ~Sequence()
    {
        if (m_session->m_depth > 1) {
            --m_session->m_depth;
            return;
        }
        // A last exchange that the port cut off ends the sequence as well.
        const SequenceOutcome::Command* const last = m_session->m_outcome.last();
        if (last && last->answer == SequenceOutcome::Answer::Cut)
            m_session->goOn();
        --m_session->m_depth;
        if (!m_session->m_ended)
            return;
        emit m_session->logEntry(m_session->m_outcome.end == SequenceOutcome::End::Stopped
                                     ? QByteArrayLiteral("operation stopped")
                                     : QByteArrayLiteral("operation stopped: the port closed"),
                                 LogFormat::Message);
    }
    Sequence(const Sequence&) = delete;
    Sequence& operator=(const Sequence&) = delete;

private:
    // The groups of the outermost sequence are the plan of the outcome.
    void adopt(const Plan& plan)
    {
        if (m_session->m_depth == 1)
            m_session->m_outcome.plan = plan;
    }

    ModuleSession* m_session;
};

int ModuleSession::stepsOf(const Plan& plan)
{
    int steps = 0;
    for (const Group& g : plan)
        steps += g.commands;
    return steps;
}

ModuleSession::ConfigSource ModuleSession::fixed(const ModuleConfig& config)
{
    return [config] { return config; };
}

ModuleSession::ModuleSession(SerialSocket* port, QObject* parent) : QObject(parent), m_port(port) {}

void ModuleSession::send(const QByteArray& command)
{
    emit logEntry(command, LogFormat::Sent);
    m_port->sendData(command);
}

void ModuleSession::stop()
{
    if (m_depth > 0)
        m_stopRequested = true;
}

bool ModuleSession::aborted() const
{
    return m_depth > 0 && (m_ended || m_stopRequested || (m_needsPort && !m_port->isOpen()));
}

bool ModuleSession::goOn()
{
    if (!aborted())
        return true;
    if (m_depth > 0 && !m_ended) {
        m_ended = true;
        m_outcome.end = m_stopRequested ? SequenceOutcome::End::Stopped : SequenceOutcome::End::PortClosed;
    }
    return false;
}

void ModuleSession::pause(int ms)
{
    if (!m_fast) {
        guard(Pacing::scaled(ms));
        return;
    }
    // A quiet gap since the last reply.
    guard(int(quietGap() - m_port->msSinceTraffic()));
}

int ModuleSession::quietGap() const
{
    // 10 character times, at least 5 ms.
    const int rate = m_port->baudRate(QSerialPort::AllDirections);
    return qMax(kMinQuietGap, rate > 0 ? 110000 / rate : 0);
}

void ModuleSession::guard(int ms)
{
    Common::delay(ms, [this] { return aborted(); });
}

void ModuleSession::setFastExchange(bool fast)
{
    m_fast = fast;
}

bool ModuleSession::query(const QByteArray& command, int16_t budget)
{
    // A stopped sequence's remaining exchanges neither pause nor wait.
    pause(kCommandPause);
    if (!goOn())
        return false;
    emit logEntry(command, LogFormat::Sent);
    return queryWithoutPause(command, budget);
}

bool ModuleSession::queryWithoutPause(const QByteArray& command, int16_t budget)
{
    const bool replied = m_port->sendAndWait(command, budget);
    if (replied)
        emit logEntry(m_port->getReply(), LogFormat::Received);
    return replied;
}

QByteArray ModuleSession::reply() const
{
    return m_port->getReply();
}

bool ModuleSession::goesOut(const QByteArray& command, const QString& group, bool judged)
{
    if (m_depth == 0)
        return true;
    if (!goOn())
        return false;
    SequenceOutcome::Command c;
    c.bytes = command;
    c.group = group;
    c.step = m_outcome.commands.size() + 1;
    c.answer = judged ? SequenceOutcome::Answer::None : SequenceOutcome::Answer::NotJudged;
    m_outcome.commands.append(c);
    emit progress(c.step, qMax(c.step, m_outcome.steps), c.text());
    return true;
}

bool ModuleSession::exchange(const QByteArray& command, int16_t budget, const QString& group, bool judged,
                             bool noticeEnds)
{
    // A stopped sequence's remaining exchanges neither pause nor wait.
    pause(kCommandPause);
    if (!goesOut(command, group, judged))
        return false;
    emit logEntry(command, LogFormat::Sent);
    const bool replied = m_fast ? m_port->sendAndWaitPaced(command, budget, quietGap(),
                                                           [noticeEnds](const QByteArray& reply) {
                                                               return At::replyFinished(reply, noticeEnds);
                                                           })
                                : m_port->sendAndWait(command, budget);
    if (replied)
        emit logEntry(reply(), LogFormat::Received);
    if (judged && m_depth > 0) {
        SequenceOutcome::Command& c = m_outcome.commands.last();
        if (replied) {
            c.refusal = At::refusal(reply());
            c.answer = c.refusal.isEmpty() ? SequenceOutcome::Answer::Accepted : SequenceOutcome::Answer::Refused;
        } else {
            c.answer = m_port->isOpen() ? SequenceOutcome::Answer::None : SequenceOutcome::Answer::Cut;
        }
    }
    return replied;
}

bool ModuleSession::write(const QByteArray& command, int16_t budget, const QString& group)
{
    return exchange(command, budget, group, true);
}

void ModuleSession::sendStep(const QByteArray& command)
{
    if (goesOut(command, QString(), false))
        send(command);
}

bool ModuleSession::enterConfiguration()
{
    const Sequence sequence(this, 3);
    // The notice only tells the log how the module answered: the echo-off
    // reply decides whether it listens.
    if (escapeAndAt()) {
        emit logEntry(At::hasConfigNotice(reply()) ? QByteArrayLiteral("connection is successful")
                                                   : QByteArrayLiteral("connection fails"),
                      LogFormat::Message);
    }

    if (!exchange(At::kEchoOff, kConnectBudget) || !At::echoOffAccepted(reply())) {
        if (goOn())
            emit failed(Failure::NoAnswer);
        return false;
    }
    emit logEntry(QByteArrayLiteral("Echo close"), LogFormat::Message);
    return true;
}

bool ModuleSession::probe()
{
    const Sequence sequence(this, 2);
    return escapeAndAt();
}

bool ModuleSession::escapeAndAt()
{
    if (!goOn())
        return false;
    m_port->clear(QSerialPort::AllDirections);
    sendStep(At::kEscape);
    guard(Pacing::scaled(kEscapePause));
    return exchange(At::kAt, kConnectBudget, QString(), false, true);
}

bool ModuleSession::readBack(ConfigReading* result)
{
    const Sequence sequence(this, 3 + Reading::groupQueries().size());
    return enterConfiguration() && readGroups(result);
}

bool ModuleSession::readGroups(ConfigReading* result)
{
    const QVector<Reading::GroupQuery>& groups = Reading::groupQueries();
    const Sequence sequence(this, groups.size());

    // A silent query skips its group; the others still come.
    ConfigReading all;
    for (const Reading::GroupQuery& g : groups) {
        if (!exchange(g.query.command, g.budget)) {
            if (!goOn())
                break;
            continue;
        }
        const ConfigReading reading = Reading::parse(g.group, reply());
        for (const QString& note : reading.notes)
            emit logEntry(note.toUtf8(), LogFormat::Message);
        emit groupRead(reading);
        all.merge(reading);
    }
    if (result)
        *result = all;
    return goOn();
}

void ModuleSession::writeGroup(ConfigGroup group, const ConfigSource& source)
{
    const Groups::GroupInfo& g = Groups::info(group);
    const QString path = Groups::path(group);
    const Sequence sequence(this, Plan{{path, 1}});
    write(g.command(source()), group == ConfigGroup::FilterMode ? kFilterModeBudget : kSetBudget, path);
}

void ModuleSession::writeSerialLine(const ConfigSource& source)
{
    writeGroup(ConfigGroup::SerialLine, source);
}

void ModuleSession::writeCan(const ConfigSource& source)
{
    writeGroup(ConfigGroup::Can, source);
}

void ModuleSession::writeDirection(const ConfigSource& source)
{
    writeGroup(ConfigGroup::Direction, source);
}

void ModuleSession::writeMode(const ConfigSource& source)
{
    const ModuleConfig c = source();
    const Sequence sequence(this, modePlan(c));
    // The sub-parameters follow whatever the module answered to the mode.
    write(Groups::info(ConfigGroup::Mode).command(c), kSetBudget, Groups::path(ConfigGroup::Mode));
    if (const Groups::GroupInfo* sub = Groups::subParameters(c.mode))
        writeGroup(sub->group, source);
}

void ModuleSession::writeFlags(const ConfigSource& source)
{
    writeGroup(ConfigGroup::Flags, source);
}

void ModuleSession::writeIdentifier(const ConfigSource& source)
{
    writeGroup(ConfigGroup::Identifier, source);
}

void ModuleSession::writeCustom(const ConfigSource& source)
{
    writeGroup(ConfigGroup::Custom, source);
}

void ModuleSession::writeFilterMode(const ConfigSource& source)
{
    writeGroup(ConfigGroup::FilterMode, source);
}

void ModuleSession::writeFilterList(const ConfigSource& source)
{
    const Sequence sequence(this, filterPlan(source()));
    writeFilterMode(source);
    pause(kListPause);
    // The module's list is emptied in every mode; only USER gets entries again.
    const QString list = Groups::path(ConfigGroup::FilterList);
    write(At::kDelFilter, kListClearBudget, list);
    pause(kListPause);
    if (!goOn() || source().filterMode != Groups::listFilterMode())
        return;

    const int rows = source().filters.size();
    if (rows == 0) {
        emit failed(Failure::EmptyFilterList);
        return;
    }
    qCDebug(lcSession) << "date_count" << rows;
    for (int row = 0; row < rows; ++row) {
        // Each entry as it stands when its turn comes; entries removed
        // meanwhile end the write at the first one that is gone.
        const ModuleConfig now = source();
        if (!goOn() || row >= now.filters.size())
            break;
        const At::FilterEntry& entry = now.filters.at(row);
        write(At::filterCommand(entry.type, entry.id), kSetBudget, list);
    }
}

void ModuleSession::clearFilterList()
{
    const QString list = Groups::path(ConfigGroup::FilterList);
    const Sequence sequence(this, Plan{{list, 1}});
    write(At::kDelFilter, kButtonClearBudget, list);
    pause(kListPause);
}

QVector<SequenceOutcome::Group> ModuleSession::writePlan(const ModuleConfig& c)
{
    Plan plan;
    for (const Groups::GroupInfo& g : Groups::writeOrder()) {
        if (Groups::written(g, c))
            plan.append(planned(g, c));
    }
    return plan;
}

void ModuleSession::writeAll(const ConfigSource& source)
{
    const Sequence sequence(this, writePlan(source()));
    // Every step runs whatever the module answered to the one before.
    writeSerialLine(source);
    pause(kStepPause);
    writeDirection(source);
    pause(kStepPause);
    writeMode(source);
    pause(kStepPause);
    writeFilterList(source);
    pause(kStepPause);
    writeCan(source);
}

void ModuleSession::leaveConfiguration()
{
    const Sequence sequence(this, 1);
    write(At::kExit, kSetBudget);
}

void ModuleSession::restart()
{
    const Sequence sequence(this, 1);
    write(At::kRestart, kSetBudget);
}

void ModuleSession::restore()
{
    const Sequence sequence(this, 2);
    write(At::kRestore, kSetBudget);
    if (!goOn())
        return;
    // The module needs the time to restore its settings before the restart;
    // this is the one wait that does not process events.
    QThread::msleep(ulong(Pacing::scaled(kRestorePause)));
    write(At::kRestart, kSetBudget);
}

QList<ModuleSession::Line> ModuleSession::searchSchedule()
{
    QList<Line> schedule;
    for (const int rate : kCandidateRates) {
        for (const QSerialPort::Parity parity : kCandidateParities)
            schedule.append({rate, parity});
    }
    return schedule;
}

int ModuleSession::searchBaudRate(const QString& portName, Line* found)
{
    const QList<Line> schedule = searchSchedule();
    const Sequence sequence(this, schedule.size());
    if (portName.isEmpty()) {
        emit failed(Failure::InvalidPort);
        return -1;
    }
    // The search opens and closes the port itself: only stop() ends it.
    m_needsPort = false;
    int lastRate = 0;
    int attempt = 0;
    for (const Line& line : schedule) {
        if (!goOn())
            break;
        if (line.baud != lastRate) {
            lastRate = line.baud;
            emit searchRateTried(line.baud);
        }
        ++attempt;
        emit progress(attempt, schedule.size(),
                      QStringLiteral("%1 baud, %2").arg(line.baud).arg(parityName(line.parity)));
        m_port->setPortConfig(portName, line.baud, QSerialPort::Data8, line.parity, QSerialPort::OneStop);
        qCDebug(lcSession) << "baud" << line.baud;
        if (m_port->isOpen())
            m_port->closePort();
        if (!m_port->openPort()) {
            emit failed(Failure::OpenFailed);
            return -1;
        }
        // A module may still be taking in what an earlier run sent last (the
        // bare "AT+EXAT" of a search found): a quiet line first lets it end
        // that frame, so that the first "+++" is a frame of its own.
        if (attempt == 1)
            guard(Pacing::scaled(kSearchGuardPause));
        // The escape is not logged; the "AT" exchange is.
        m_port->sendData(At::kEscape);
        guard(Pacing::scaled(kSearchEscapePause));
        if (!query(At::kAt, kSearchBudget) || !At::hasConfigNotice(reply()))
            continue;

        // Found: let the module leave its configuration state (1000 bit times).
        m_port->sendData(At::kExitBare);
        Common::delay(1000000 / line.baud);
        if (found)
            *found = line;
        emit searchFound(line);
        m_port->closePort();
        return 1;
    }
    m_port->closePort();
    return 0;
}
