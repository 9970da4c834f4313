#include "cli/commandline.h"

#include "cli/signalwatch.h"
#include "core/configreading.h"
#include "core/diagnostics.h"
#include "core/fileaccess.h"
#include "core/logformat.h"
#include "core/moduleconfig.h"
#include "core/modulesession.h"
#include "core/portaccess.h"
#include "core/serialsocket.h"

#include <QCommandLineParser>
#include <QCoreApplication>
#include <QDateTime>
#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <cstdio>
#ifdef Q_OS_WIN
#include <io.h>
#define isatty _isatty
#define STDERR_FILENO 2
#else
#include <unistd.h>
#endif

namespace CommandLine {

namespace {

const char kUsage[] = "Usage: velkocan-cli COMMAND [PORT] [ARGUMENTS] [OPTIONS]\n"
                      "\n"
                      "Configures a VelkoCAN serial-to-CAN converter module without the window.\n"
                      "\n"
                      "Commands:\n"
                      "  ports                          list the serial ports the window would list\n"
                      "  read PORT [-o FILE]            read the whole configuration; print it as a\n"
                      "                                 profile, or write it to FILE\n"
                      "  write PORT FILE [--set KEY=VALUE]... [--verify]\n"
                      "                                 check the profile FILE (- for standard input),\n"
                      "                                 then write it all; --set overrides a field by\n"
                      "                                 its dotted path (can.id=1A0) before the check;\n"
                      "                                 --verify reads back and compares every field\n"
                      "                                 the write sent\n"
                      "  search PORT                    find the module's baud rate and parity\n"
                      "  leave PORT                     leave the configuration state\n"
                      "  restart PORT                   restart the module (a new serial line takes effect)\n"
                      "  restore PORT                   restore the factory settings and restart\n"
                      "\n"
                      "Options:\n"
                      "  --baud N                       the PC side's baud rate (default 115200)\n"
                      "  --parity none|odd|even         the PC side's parity (default none)\n"
                      "  --stop 1|2                     the PC side's stop bits (default 1)\n"
                      "  --log FILE                     append the traffic to FILE, time-stamped\n"
                      "  --json                         one machine-readable result object on standard\n"
                      "                                 output, with \"status\", \"port\", \"command\"\n"
                      "  --quiet                        no progress on standard error\n"
                      "  -h, --help                     this text\n"
                      "  --version                      the version\n"
                      "\n"
                      "Exit status:\n"
                      "  0       done: every command went out and the module accepted it\n"
                      "  1       the module did not answer, or refused a command (each one named)\n"
                      "  2       bad usage, a refused profile, or an output that cannot be written\n"
                      "          (nothing sent when found before the traffic)\n"
                      "  3       --verify found differences (each one named)\n"
                      "  4       the port could not be opened\n"
                      "  5       cut short: the port closed under the operation; the module may hold\n"
                      "          part of what was sent\n"
                      "  128+N   ended by signal N (130 Ctrl+C, 143 SIGTERM, 129 SIGHUP): the exchange\n"
                      "          in progress finished, nothing more was sent\n"
                      "An operation that ends early says where it stopped and which groups were and\n"
                      "were not written.\n";

struct Options
{
    QString command;
    QString port;
    QString profile; // write: the profile file, "-" for standard input
    QString output;  // read: -o
    QStringList overrides;
    bool verify = false;
    bool json = false;
    bool quiet = false;
    QString logFile;
    int baud = 115200;
    QSerialPort::Parity parity = QSerialPort::NoParity;
    QSerialPort::StopBits stopBits = QSerialPort::OneStop;
};

// What a command ends with: its exit status and everything its result says.
struct Result
{
    int status = Done;
    QString error;              // the one line that says what went wrong; empty when done
    QStringList details;        // further lines on standard error: each refusal, the summary
    bool detailsSayAll = false; // the details say the error line by line: it is not repeated
    QJsonObject fields;         // the result object's own fields, for --json
    QString text;               // the result for people, on standard output
};

// The tool's diagnostics are for developers: shown with VELKO_DEBUG=1 only,
// so that standard error carries progress and errors alone.
void quietDiagnostics(QtMsgType type, const QMessageLogContext&, const QString& message)
{
    if (type == QtDebugMsg || type == QtInfoMsg || type == QtWarningMsg)
        return;
    std::fprintf(stderr, "%s\n", qPrintable(message));
}

// False when the stream did not take every byte (a full disk, a closed pipe).
bool writeTo(FILE* stream, const QByteArray& bytes)
{
    const size_t written = std::fwrite(bytes.constData(), 1, size_t(bytes.size()), stream);
    return std::fflush(stream) == 0 && written == size_t(bytes.size()) && !std::ferror(stream);
}

QJsonValue orNull(const QString& text)
{
    return text.isNull() ? QJsonValue() : QJsonValue(text);
}

// Results on standard output, progress and errors on standard error.
class Reporter
{
public:
    explicit Reporter(const Options& options)
        : m_options(options), m_bar(isatty(STDERR_FILENO) == 1), m_phase(options.command)
    {}

    // What the progress lines that follow are part of ("connect", "verify", ...).
    void setPhase(const QString& phase)
    {
        endBar();
        m_phase = phase;
    }

    void progress(int step, int steps, const QString& what)
    {
        if (m_options.quiet)
            return;
        const QString count = QStringLiteral("%1/%2").arg(step).arg(steps);
        if (!m_bar) {
            writeTo(stderr, QStringLiteral("%1 %2 %3\n").arg(m_phase, count, what).toUtf8());
            return;
        }
        constexpr int kWidth = 24;
        const int done = steps > 0 ? step * kWidth / steps : 0;
        const QString bar = QString(done, QLatin1Char('#')) + QString(kWidth - done, QLatin1Char('.'));
        writeTo(stderr, QStringLiteral("\r\033[K%1 [%2] %3 %4").arg(m_phase, bar, count, what).toUtf8());
        m_barShown = true;
    }

    void note(const QString& message)
    {
        endBar();
        writeTo(stderr, (QStringLiteral("velkocan-cli: ") + message + QLatin1Char('\n')).toUtf8());
    }

    // Tells the result: its lines on standard error, then the text or, with
    // --json, the object on standard output. Returns the exit status: a
    // result that could not be written makes a success a failure (2).
    int finish(const Result& r)
    {
        if (!r.error.isEmpty() && !r.detailsSayAll)
            note(r.error);
        for (const QString& line : r.details)
            note(line);
        bool written = true;
        if (m_options.json) {
            QJsonObject object = r.fields;
            object.insert(QStringLiteral("status"), r.status);
            object.insert(QStringLiteral("port"), orNull(m_options.port.isEmpty() ? QString() : m_options.port));
            object.insert(QStringLiteral("command"),
                          orNull(m_options.command.isEmpty() ? QString() : m_options.command));
            if (!r.error.isEmpty())
                object.insert(QStringLiteral("error"), r.error);
            written = writeTo(stdout, QJsonDocument(object).toJson(QJsonDocument::Compact) + '\n');
        } else if (!r.text.isEmpty()) {
            written = writeTo(stdout, r.text.toUtf8());
        }
        if (written)
            return r.status;
        note(QStringLiteral("standard output: the result cannot be written"));
        return r.status == Done ? int(BadUsage) : r.status;
    }

private:
    void endBar()
    {
        if (m_barShown)
            writeTo(stderr, "\n");
        m_barShown = false;
    }

    const Options& m_options;
    const bool m_bar;
    QString m_phase;
    bool m_barShown = false;
};

// The traffic in the log view's format: a time-stamp line above each entry.
// A file that already holds a run gets a blank line before this one.
class TrafficLog
{
public:
    bool open(const QString& path)
    {
        m_file.setFileName(path);
        if (!m_file.open(QIODevice::WriteOnly | QIODevice::Append))
            return false;
        if (m_file.size() > 0)
            m_file.write("\n");
        return m_file.flush();
    }
    void entry(const QByteArray& data, int flag)
    {
        if (!m_file.isOpen())
            return;
        const QString text = LogFormat::timeStamp(QDateTime::currentDateTime()) + QLatin1Char('\n') +
                             LogFormat::entryText(data, flag) + QLatin1Char('\n');
        m_file.write(text.toUtf8());
        m_file.flush();
    }

private:
    QFile m_file;
};

// Parses the arguments; false with `error` set on bad usage.
bool parse(const QStringList& arguments, Options* o, QString* error, bool* help, bool* version)
{
    QCommandLineParser parser;
    parser.setSingleDashWordOptionMode(QCommandLineParser::ParseAsLongOptions);
    const QCommandLineOption helpOption(QStringList{"h", "help"});
    const QCommandLineOption versionOption("version");
    const QCommandLineOption outputOption(QStringList{"o", "output"}, QString(), "FILE");
    const QCommandLineOption setOption("set", QString(), "KEY=VALUE");
    const QCommandLineOption verifyOption("verify");
    const QCommandLineOption baudOption("baud", QString(), "N");
    const QCommandLineOption parityOption("parity", QString(), "PARITY");
    const QCommandLineOption stopOption("stop", QString(), "BITS");
    const QCommandLineOption logOption("log", QString(), "FILE");
    const QCommandLineOption jsonOption("json");
    const QCommandLineOption quietOption("quiet");
    parser.addOptions({helpOption, versionOption, outputOption, setOption, verifyOption, baudOption, parityOption,
                       stopOption, logOption, jsonOption, quietOption});
    if (!parser.parse(arguments)) {
        *error = parser.errorText();
        return false;
    }
    *help = parser.isSet(helpOption);
    *version = parser.isSet(versionOption);
    if (*help || *version)
        return true;

    const QStringList args = parser.positionalArguments();
    if (args.isEmpty()) {
        *error = QStringLiteral("no command given");
        return false;
    }
    o->command = args.at(0);
    static const QStringList kPortCommands{"read", "write", "search", "leave", "restart", "restore"};
    const int wanted = o->command == QLatin1String("ports")   ? 1
                       : o->command == QLatin1String("write") ? 3
                       : kPortCommands.contains(o->command)   ? 2
                                                              : 0;
    if (wanted == 0) {
        *error = QStringLiteral("unknown command %1").arg(o->command);
        return false;
    }
    if (wanted > 1 && args.size() > 1)
        o->port = args.at(1);
    if (args.size() != wanted) {
        *error = QStringLiteral("%1 takes %2")
                     .arg(o->command, wanted == 1   ? QStringLiteral("no argument")
                                      : wanted == 2 ? QStringLiteral("PORT")
                                                    : QStringLiteral("PORT FILE"));
        return false;
    }
    if (wanted > 2)
        o->profile = args.at(2);

    auto onlyFor = [&](const QCommandLineOption& option, const char* command) {
        if (parser.isSet(option) && o->command != QLatin1String(command)) {
            *error = QStringLiteral("--%1 is an option of %2 only").arg(option.names().constLast(), command);
            return false;
        }
        return true;
    };
    if (!onlyFor(outputOption, "read") || !onlyFor(setOption, "write") || !onlyFor(verifyOption, "write"))
        return false;
    o->output = parser.value(outputOption);
    o->overrides = parser.values(setOption);
    o->verify = parser.isSet(verifyOption);
    o->quiet = parser.isSet(quietOption);
    o->logFile = parser.value(logOption);

    if (parser.isSet(baudOption)) {
        bool ok = false;
        o->baud = parser.value(baudOption).toInt(&ok);
        if (!ok || o->baud <= 0) {
            *error = QStringLiteral("--baud %1: not a baud rate").arg(parser.value(baudOption));
            return false;
        }
    }
    const QString parity = parser.value(parityOption);
    if (parity.isEmpty() || parity == QLatin1String("none"))
        o->parity = QSerialPort::NoParity;
    else if (parity == QLatin1String("odd"))
        o->parity = QSerialPort::OddParity;
    else if (parity == QLatin1String("even"))
        o->parity = QSerialPort::EvenParity;
    else {
        *error = QStringLiteral("--parity %1: allowed none, odd, even").arg(parity);
        return false;
    }
    const QString stop = parser.value(stopOption);
    if (stop.isEmpty() || stop == QLatin1String("1"))
        o->stopBits = QSerialPort::OneStop;
    else if (stop == QLatin1String("2"))
        o->stopBits = QSerialPort::TwoStop;
    else {
        *error = QStringLiteral("--stop %1: allowed 1 or 2").arg(stop);
        return false;
    }
    return true;
}

QString parityWord(QSerialPort::Parity parity)
{
    return parity == QSerialPort::OddParity    ? QStringLiteral("odd")
           : parity == QSerialPort::EvenParity ? QStringLiteral("even")
                                               : QStringLiteral("none");
}

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

QJsonArray jsonList(const QStringList& texts)
{
    return QJsonArray::fromStringList(texts);
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
    QStringList unanswered;
    for (const SequenceOutcome::Command& c : o.unanswered()) {
        r->details.append(QStringLiteral("the module did not answer %1").arg(c.text()));
        unanswered.append(c.text());
    }
    r->fields.insert(QStringLiteral("refused"), refused);
    r->fields.insert(QStringLiteral("unanswered"), jsonList(unanswered));
}

// Where a sequence stopped and what it did and did not write; `plan` names
// the groups when the sequence that stopped was not the write itself.
void addSummary(const SequenceOutcome& o, const QVector<SequenceOutcome::Group>& plan, Result* r)
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
    r->fields.insert(QStringLiteral("written"), jsonList(written));
    r->fields.insert(QStringLiteral("partlyWritten"), jsonList(partly));
    r->fields.insert(QStringLiteral("notWritten"), jsonList(notWritten));
}

int listPorts(Reporter& out)
{
    const QStringList ports = SerialSocket::getInstance()->getPortList();
    Result r;
    for (const QString& port : ports)
        r.text += port + QLatin1Char('\n');
    r.fields.insert(QStringLiteral("ports"), jsonList(ports));
    return out.finish(r);
}

class Run
{
public:
    Run(const Options& options, Reporter& out) : m_o(options), m_out(out), m_port(SerialSocket::getInstance())
    {
        QObject::connect(&m_session, &ModuleSession::progress, &m_session,
                         [this](int step, int steps, const QString& what) { m_out.progress(step, steps, what); });
        QObject::connect(&m_session, &ModuleSession::logEntry, &m_session,
                         [this](const QByteArray& data, int flag) { m_log.entry(data, flag); });
        QObject::connect(m_port, &QSerialPort::errorOccurred, &m_session, [this](QSerialPort::SerialPortError code) {
            if (code != QSerialPort::NoError && m_openError == QSerialPort::NoError)
                m_openError = code;
        });
        // A signal ends the running sequence after its exchange in progress.
        SignalWatch::install([this](int signal) {
            if (m_signal == 0)
                m_signal = signal;
            m_session.stop();
        });
    }

    int exec() { return m_out.finish(perform()); }

private:
    static Result failure(int status, const QString& error)
    {
        Result r;
        r.status = status;
        r.error = error;
        return r;
    }

    Result perform()
    {
        // Everything that can be refused is refused before the port is opened.
        ModuleConfig profile;
        if (m_o.command == QLatin1String("write")) {
            Result refused;
            if (!readProfile(&profile, &refused))
                return refused;
        }
        if (!m_o.output.isEmpty()) {
            const QString problem = Files::writeProblem(m_o.output);
            if (!problem.isEmpty())
                return failure(BadUsage, problem + QStringLiteral(" (nothing sent)"));
        }
        if (!m_o.logFile.isEmpty() && !m_log.open(m_o.logFile))
            return failure(BadUsage, QStringLiteral("%1: cannot be written (nothing sent)").arg(m_o.logFile));

        if (m_o.command == QLatin1String("search"))
            return search();

        const QString notAPort = PortAccess::notAPort(m_o.port);
        if (!notAPort.isEmpty())
            return failure(PortFailed, QStringLiteral("%1: %2").arg(m_o.port, notAPort));
        m_port->setPortConfig(m_o.port, m_o.baud, QSerialPort::Data8, m_o.parity, m_o.stopBits);
        m_openError = QSerialPort::NoError;
        if (!m_port->openPort())
            return failure(PortFailed,
                           QStringLiteral("%1: %2").arg(m_o.port, PortAccess::openFailure(m_o.port, m_openError)));
        SignalWatch::setArmed(true);
        Result r = onModule(profile);
        m_port->closePort();
        return r;
    }

    bool readProfile(ModuleConfig* profile, Result* refused)
    {
        const QString name = m_o.profile == QLatin1String("-") ? QStringLiteral("standard input") : m_o.profile;
        QByteArray text;
        QString error;
        if (!Files::readLimited(m_o.profile, Files::kMaxProfileBytes, &text, &error)) {
            *refused = failure(BadUsage, error + QStringLiteral(" (nothing sent)"));
            return false;
        }
        QStringList warnings;
        if (!Profile::read(text, profile, &error, m_o.overrides, &warnings)) {
            // Every problem, each on a line of its own.
            const QStringList problems = error.split(QLatin1Char('\n'));
            *refused = failure(BadUsage, QStringLiteral("%1: %2 (nothing sent)").arg(name, problems.join("; ")));
            for (const QString& p : problems)
                refused->details.append(QStringLiteral("%1: %2").arg(name, p));
            refused->details.append(QStringLiteral("nothing sent"));
            refused->detailsSayAll = true;
            return false;
        }
        for (const QString& w : warnings)
            m_out.note(QStringLiteral("profile: ") + w);
        return true;
    }

    // The result of a sequence that ended early or that the module did not
    // go along with; status Done when it went cleanly. `what` names the
    // operation ("write"); `plan` the groups a write that has not begun
    // would have written.
    Result judged(const SequenceOutcome& o, const QString& what, const QVector<SequenceOutcome::Group>& plan = {})
    {
        Result r;
        if (o.end == SequenceOutcome::End::PortClosed) {
            r.status = CutShort;
            r.error = QStringLiteral("%1: the port closed during the %2 (unplugged?)").arg(m_o.port, what);
        } else if (o.end == SequenceOutcome::End::Stopped) {
            r.status = 128 + m_signal;
            r.error = QStringLiteral("%1: stopped by %2 during the %3")
                          .arg(m_o.port, QLatin1String(SignalWatch::name(m_signal)), what);
        } else if (!o.refused().isEmpty() || !o.unanswered().isEmpty()) {
            r.status = NoAnswer;
            r.error = o.refused().isEmpty()
                          ? QStringLiteral("%1: the module did not answer every command").arg(m_o.port)
                          : QStringLiteral("%1: the module refused what was sent").arg(m_o.port);
        }
        if (r.status == Done)
            return r;
        addFailures(o, &r);
        addSummary(o, plan, &r);
        return r;
    }

    // The result of a signal that came while no sequence ran: the last one
    // counts as stopped after its last step.
    Result interrupted(SequenceOutcome o, const QString& what, const QVector<SequenceOutcome::Group>& plan = {})
    {
        o.end = SequenceOutcome::End::Stopped;
        return judged(o, what, plan);
    }

    Result notListening()
    {
        return failure(NoAnswer, QStringLiteral("%1: the module does not answer at %2 baud, parity %3 (is it "
                                                "powered? \"velkocan-cli search %1\" finds its line)")
                                     .arg(m_o.port)
                                     .arg(m_o.baud)
                                     .arg(parityWord(m_o.parity)));
    }

    // Brings the module into its configuration state; false with `r` set when it is not.
    bool connect(const QString& what, const QVector<SequenceOutcome::Group>& plan, Result* r)
    {
        m_out.setPhase(QStringLiteral("connect"));
        const bool listening = m_session.enterConfiguration();
        m_out.setPhase(m_o.command);
        if (listening)
            return true;
        *r = judged(m_session.outcome(), what, plan);
        if (r->status == Done)
            *r = notListening();
        return false;
    }

    Result onModule(const ModuleConfig& profile)
    {
        if (m_o.command == QLatin1String("read"))
            return read();
        if (m_o.command == QLatin1String("write"))
            return write(profile);
        Result r;
        if (!connect(m_o.command, {}, &r))
            return r;
        if (m_signal != 0)
            return interrupted(m_session.outcome(), m_o.command);
        if (m_o.command == QLatin1String("leave"))
            m_session.leaveConfiguration();
        else if (m_o.command == QLatin1String("restart"))
            m_session.restart();
        else
            m_session.restore();
        r = judged(m_session.outcome(), m_o.command);
        if (r.status == Done)
            addFailures(m_session.outcome(), &r);
        return r;
    }

    Result read()
    {
        ConfigReading reading;
        if (!m_session.readBack(&reading)) {
            const Result r = judged(m_session.outcome(), QStringLiteral("read"));
            return r.status == Done ? notListening() : r;
        }
        const QString problem = readingProblem(reading);
        if (!problem.isEmpty())
            return failure(NoAnswer, problem);
        const QByteArray text = Profile::write(reading.values);
        Result r;
        if (!m_o.output.isEmpty()) {
            QString error;
            if (!Files::writeWhole(m_o.output, text, &error))
                return failure(BadUsage, error);
            r.fields.insert(QStringLiteral("file"), m_o.output);
            return r;
        }
        r.text = QString::fromUtf8(text);
        r.fields.insert(QStringLiteral("config"), QJsonDocument::fromJson(text).object());
        return r;
    }

    Result write(const ModuleConfig& profile)
    {
        const QVector<SequenceOutcome::Group> plan = ModuleSession::writePlan(profile);
        Result r;
        if (!connect(QStringLiteral("write"), plan, &r))
            return r;
        if (m_signal != 0)
            return interrupted(m_session.outcome(), QStringLiteral("write"), plan);
        m_session.writeAll(ModuleSession::fixed(profile));
        r = judged(m_session.outcome(), QStringLiteral("write"));
        if (r.status != Done)
            return r;
        addFailures(m_session.outcome(), &r);
        if (profile.filterMode == QLatin1String("USER") && profile.filters.isEmpty())
            m_out.note(QStringLiteral("filter.list: no entries in USER mode; the module's list is empty"));
        r.fields.insert(QStringLiteral("verified"), m_o.verify);
        if (!m_o.verify)
            return r;
        if (m_signal != 0)
            return interrupted(m_session.outcome(), QStringLiteral("write"));

        ConfigReading reading;
        m_out.setPhase(QStringLiteral("verify"));
        if (!m_session.readBack(&reading)) {
            const Result cut = judged(m_session.outcome(), QStringLiteral("verify"));
            return cut.status == Done ? notListening() : cut;
        }
        const QString missing = missingFields(reading);
        if (!missing.isEmpty())
            return failure(NoAnswer, missing);
        QJsonArray differences;
        for (const Config::Difference& d : Config::compare(profile, reading.values)) {
            r.details.append(d.text());
            differences.append(
                QJsonObject{{"field", Config::fieldPath(d.field)}, {"wrote", d.expected}, {"module", d.module}});
        }
        r.fields.insert(QStringLiteral("differences"), differences);
        if (!differences.isEmpty()) {
            r.status = Differences;
            r.error = QStringLiteral("%1: the module differs from what was written").arg(m_o.port);
        }
        return r;
    }

    Result search()
    {
        ModuleSession::Line line;
        m_openError = QSerialPort::NoError;
        bool openFailed = false;
        const QObject scope; // the connection ends with the search
        QObject::connect(&m_session, &ModuleSession::failed, &scope,
                         [&](ModuleSession::Failure f) { openFailed = f == ModuleSession::Failure::OpenFailed; });
        SignalWatch::setArmed(true);
        const int found = m_session.searchBaudRate(m_o.port, &line);
        if (found < 0)
            return openFailed
                       ? failure(PortFailed,
                                 QStringLiteral("%1: %2").arg(m_o.port, PortAccess::openFailure(m_o.port, m_openError)))
                       : failure(BadUsage, QStringLiteral("no port given"));
        if (m_session.outcome().end == SequenceOutcome::End::Stopped)
            return failure(128 + m_signal, QStringLiteral("%1: stopped by %2 during the search; nothing was written")
                                               .arg(m_o.port, QLatin1String(SignalWatch::name(m_signal))));
        if (found == 0)
            return failure(NoAnswer, QStringLiteral("%1: no baud rate and parity got an answer").arg(m_o.port));
        const QString parity = parityWord(line.parity);
        Result r;
        r.text = QStringLiteral("%1 baud, parity %2 (--baud %1 --parity %2)\n").arg(line.baud).arg(parity);
        r.fields = {{"baud", line.baud}, {"parity", parity.toUpper()}, {"stopBits", 1}};
        return r;
    }

    const Options& m_o;
    Reporter& m_out;
    SerialSocket* const m_port;
    ModuleSession m_session{SerialSocket::getInstance()};
    TrafficLog m_log;
    QSerialPort::SerialPortError m_openError = QSerialPort::NoError;
    int m_signal = 0; // the signal that stopped the operation
};

} // namespace

int run(const QStringList& arguments)
{
    Diagnostics::applyEnvironment();
    if (qEnvironmentVariableIsEmpty("VELKO_DEBUG"))
        qInstallMessageHandler(quietDiagnostics);
    Options options;
    // Known before the parse, so that a usage error is a result object too.
    options.json = arguments.contains(QStringLiteral("--json"));
    QString error;
    bool help = false;
    bool version = false;
    if (!parse(arguments, &options, &error, &help, &version)) {
        Reporter out(options);
        Result r;
        r.status = BadUsage;
        r.error = error;
        r.details.append(QStringLiteral("Try \"velkocan-cli --help\"."));
        return out.finish(r);
    }
    if (help)
        return writeTo(stdout, kUsage) ? Done : BadUsage;
    if (version) {
        const QString text = QCoreApplication::applicationName() + QLatin1Char(' ') +
                             QCoreApplication::applicationVersion() + QLatin1Char('\n');
        return writeTo(stdout, text.toUtf8()) ? Done : BadUsage;
    }

    Reporter out(options);
    if (options.command == QLatin1String("ports"))
        return listPorts(out);
    Run run(options, out);
    return run.exec();
}

} // namespace CommandLine
