#include "modulesession.h"

#include "atprotocol.h"
#include "common.h"
#include "logformat.h"
#include "serialsocket.h"

#include <QDebug>
#include <QThread>

namespace {

constexpr int kCommandPause = 100; // before every query: spaces the commands of a sequence
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

// 115200 and 9600 first, then the rest from the highest down: the rates of the serial panel.
constexpr int kCandidateRates[] = {115200, 9600,  460800, 256000, 230400, 128000, 57600,
                                   38400,  19200, 14400,  4800,   2400,   1200,   600};
constexpr QSerialPort::Parity kCandidateParities[] = {QSerialPort::NoParity, QSerialPort::EvenParity,
                                                      QSerialPort::OddParity};

QString printable(const QByteArray& command)
{
    return QString::fromLatin1(command).trimmed();
}

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

// The sub-parameter command that follows "AT+MODE=" for `mode`: 1 when there is one.
int subParameterSteps(const QString& mode)
{
    return mode == QLatin1String("TRANS") || mode == QLatin1String("TPRTL") || mode == QLatin1String("USER") ? 1 : 0;
}

int filterListSteps(const ModuleConfig& c)
{
    return 2 + (c.filterMode == QLatin1String("USER") ? c.filters.size() : 0);
}

} // namespace

// Counts the steps of the outermost running sequence and starts the record of
// unanswered commands afresh; sequences run by another one count as its steps.
class ModuleSession::Sequence
{
public:
    Sequence(ModuleSession* session, int steps) : m_session(session)
    {
        if (m_session->m_depth++ > 0)
            return;
        m_session->m_step = 0;
        m_session->m_steps = steps;
        m_session->m_unanswered.clear();
        m_session->m_stopRequested = false;
        m_session->m_stopped = false;
        m_session->m_watchPort = m_session->m_port->isOpen();
    }
    ~Sequence()
    {
        const bool aborted = m_session->aborted();
        if (--m_session->m_depth > 0 || !aborted)
            return;
        m_session->m_stopped = true;
        emit m_session->logEntry(m_session->m_stopRequested ? QByteArrayLiteral("operation stopped")
                                                            : QByteArrayLiteral("operation stopped: the port closed"),
                                 LogFormat::Message);
    }
    Sequence(const Sequence&) = delete;
    Sequence& operator=(const Sequence&) = delete;

private:
    ModuleSession* m_session;
};

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
    return m_depth > 0 && (m_stopRequested || (m_watchPort && !m_port->isOpen()));
}

void ModuleSession::pause(int ms)
{
    Common::delay(ms, [this] { return aborted(); });
}

bool ModuleSession::query(const QByteArray& command, int16_t budget)
{
    // A stopped sequence's remaining exchanges neither pause nor wait.
    pause(kCommandPause);
    if (aborted())
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

void ModuleSession::step(const QString& what)
{
    if (m_depth == 0)
        return;
    ++m_step;
    emit progress(m_step, qMax(m_step, m_steps), what);
}

bool ModuleSession::write(const QByteArray& command, int16_t budget)
{
    step(printable(command));
    const bool replied = query(command, budget);
    if (!replied && !aborted())
        m_unanswered.append(command);
    return replied;
}

bool ModuleSession::enterConfiguration()
{
    const Sequence sequence(this, 3);
    m_port->clear(QSerialPort::AllDirections);
    step(printable(At::kEscape));
    send(At::kEscape);
    pause(kEscapePause);

    // The notice only tells the log how the module answered: the echo-off
    // reply decides whether it listens.
    step(printable(At::kAt));
    if (query(At::kAt, kConnectBudget)) {
        emit logEntry(At::hasConfigNotice(reply()) ? QByteArrayLiteral("connection is successful")
                                                   : QByteArrayLiteral("connection fails"),
                      LogFormat::Message);
    }

    step(printable(At::kEchoOff));
    if (!query(At::kEchoOff, kConnectBudget) || !At::echoOffAccepted(reply())) {
        if (!aborted())
            emit failed(Failure::NoAnswer);
        return false;
    }
    emit logEntry(QByteArrayLiteral("Echo close"), LogFormat::Message);
    return true;
}

bool ModuleSession::readBack(ConfigReading* result)
{
    const QVector<Reading::GroupQuery>& groups = Reading::groupQueries();
    const Sequence sequence(this, 3 + groups.size());
    if (!enterConfiguration())
        return false;

    // A silent query skips its group; the others still come.
    ConfigReading all;
    for (const Reading::GroupQuery& g : groups) {
        if (aborted())
            break;
        step(printable(g.query.command));
        if (!query(g.query.command, g.budget))
            continue;
        const ConfigReading reading = Reading::parse(g.group, reply());
        for (const QString& note : reading.notes)
            emit logEntry(note.toUtf8(), LogFormat::Message);
        emit groupRead(reading);
        all.merge(reading);
    }
    if (result)
        *result = all;
    return !aborted();
}

void ModuleSession::writeSerialLine(const ConfigSource& source)
{
    const Sequence sequence(this, 1);
    const ModuleConfig c = source();
    write(At::uartCommand(QString::number(c.baud), QString::number(c.stopBits), c.parity), kSetBudget);
}

void ModuleSession::writeCan(const ConfigSource& source)
{
    const Sequence sequence(this, 1);
    const ModuleConfig c = source();
    write(At::canCommand(uint16_t(c.canRateKbit), c.canId, At::frameTypeItemFromReport(c.frameType)), kSetBudget);
}

void ModuleSession::writeDirection(const ConfigSource& source)
{
    const Sequence sequence(this, 1);
    write(At::directionCommand(At::directionItemFromReport(source().direction)), kSetBudget);
}

void ModuleSession::writeMode(const ConfigSource& source)
{
    const QString mode = source().mode;
    const Sequence sequence(this, 1 + subParameterSteps(mode));
    // The sub-parameters follow whatever the module answered to the mode.
    write(At::modeCommand(At::modeItemFromReport(mode)), kSetBudget);
    if (mode == QLatin1String("TRANS"))
        writeFlags(source);
    else if (mode == QLatin1String("TPRTL"))
        writeIdentifier(source);
    else if (mode == QLatin1String("USER"))
        writeCustom(source);
}

void ModuleSession::writeFlags(const ConfigSource& source)
{
    const Sequence sequence(this, 1);
    const ModuleConfig c = source();
    write(At::msgCommand(c.frameId, c.frameInfo), kSetBudget);
}

void ModuleSession::writeIdentifier(const ConfigSource& source)
{
    const Sequence sequence(this, 1);
    const ModuleConfig c = source();
    write(At::randomCommand(c.idLength, c.idPosition), kSetBudget);
}

void ModuleSession::writeCustom(const ConfigSource& source)
{
    const Sequence sequence(this, 1);
    const ModuleConfig c = source();
    write(At::udmhtCommand(c.head, c.tail), kSetBudget);
}

void ModuleSession::writeFilterMode(const ConfigSource& source)
{
    const Sequence sequence(this, 1);
    write(At::canltCommand(At::filterModeItemFromReport(source().filterMode)), kFilterModeBudget);
}

void ModuleSession::writeFilterList(const ConfigSource& source)
{
    const Sequence sequence(this, filterListSteps(source()));
    writeFilterMode(source);
    pause(kListPause);
    // The module's list is emptied in every mode; only USER gets entries again.
    write(At::kDelFilter, kListClearBudget);
    pause(kListPause);
    if (aborted() || source().filterMode != QLatin1String("USER"))
        return;

    const int rows = source().filters.size();
    if (rows == 0) {
        emit failed(Failure::EmptyFilterList);
        return;
    }
    qDebug() << "date_count" << rows;
    for (int row = 0; row < rows; ++row) {
        // Each entry as it stands when its turn comes; entries removed
        // meanwhile end the write at the first one that is gone.
        const ModuleConfig now = source();
        if (aborted() || row >= now.filters.size())
            break;
        const At::FilterEntry& entry = now.filters.at(row);
        write(At::filterCommand(entry.type, entry.id), kSetBudget);
    }
}

void ModuleSession::clearFilterList()
{
    const Sequence sequence(this, 1);
    write(At::kDelFilter, kButtonClearBudget);
    pause(kListPause);
}

void ModuleSession::writeAll(const ConfigSource& source)
{
    const ModuleConfig c = source();
    const Sequence sequence(this, 3 + subParameterSteps(c.mode) + filterListSteps(c) + 1);
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
    // The module needs the time to restore its settings before the restart;
    // this is the one wait that does not process events.
    QThread::msleep(kRestorePause);
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
    if (portName.isEmpty()) {
        emit failed(Failure::InvalidPort);
        return -1;
    }
    const QList<Line> schedule = searchSchedule();
    const Sequence sequence(this, schedule.size());
    // The search opens and closes the port itself: only stop() ends it.
    m_watchPort = false;
    int lastRate = 0;
    for (const Line& line : schedule) {
        if (aborted())
            break;
        if (line.baud != lastRate) {
            lastRate = line.baud;
            emit searchRateTried(line.baud);
        }
        step(QStringLiteral("%1 baud, %2").arg(line.baud).arg(parityName(line.parity)));
        m_port->setPortConfig(portName, line.baud, QSerialPort::Data8, line.parity, QSerialPort::OneStop);
        qDebug() << "baud" << line.baud;
        if (m_port->isOpen())
            m_port->closePort();
        if (!m_port->openPort()) {
            emit failed(Failure::OpenFailed);
            return -1;
        }
        // The escape is not logged; the "AT" exchange is.
        m_port->sendData(At::kEscape);
        pause(kSearchEscapePause);
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

// Meta-object code in this unit: a program that links the session alone
// (velkocan-cli) then pulls in none of the window's code.
#include "moc_modulesession.cpp"
