#include "cli/commandline.h"

#include "cli/ledger.h"
#include "cli/options.h"
#include "cli/output.h"
#include "cli/signalwatch.h"
#include "cli/station.h"
#include "core/config/fileaccess.h"
#include "core/config/moduleconfig.h"
#include "core/config/profile.h"
#include "core/diagnostics.h"
#include "core/protocol/logformat.h"
#include "core/session/modulerun.h"
#include "core/session/modulesession.h"
#include "core/station/stationsetup.h"
#include "core/traffic/canbus.h"
#include "core/traffic/trace.h"
#include "core/traffic/trafficcheck.h"
#include "core/traffic/vectors.h"
#include "core/transport/portaccess.h"
#include "core/transport/portdiscovery.h"
#include "core/transport/serialsocket.h"

#include <QCommandLineParser>
#include <QCoreApplication>
#include <QDateTime>
#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QSerialPortInfo>

#include <tuple>

namespace CommandLine {

namespace {

// The usage text before and after the commands' lines.
const char kUsageHead[] = "Usage: velkocan-cli COMMAND [PORT] [ARGUMENTS] [OPTIONS]\n"
                          "\n"
                          "Configures a VelkoCAN serial-to-CAN converter module without the window.\n"
                          "\n"
                          "Commands:\n";
// The options of every command that talks to a module, then those of every
// command, then the exit statuses; the usage text is the head, the commands and these.
const char kLineOptions[] = "\n"
                            "Options:\n"
                            "  --baud N                       the PC side's baud rate (default 115200)\n"
                            "  --parity none|odd|even         the PC side's parity (default none)\n"
                            "  --stop 1|2                     the PC side's stop bits (default 1)\n"
                            "  --fast                         pace the exchange by the module's replies, not by\n"
                            "                                 fixed pauses and polls (read, write, verify,\n"
                            "                                 leave, restart, restore, station)\n"
                            "  --log FILE                     append the traffic to FILE (a regular file),\n"
                            "                                 time-stamped; a write that fails is told at\n"
                            "                                 once and makes the exit status at least 2\n";
const char kCommonOptions[] = "  --json                         machine-readable results on standard output: one\n"
                              "                                 object per result (per module for the station),\n"
                              "                                 with \"status\", \"port\", \"command\" (station: the\n"
                              "                                 report's objects, \"result\" among them)\n"
                              "  --quiet                        no progress on standard error (station: only\n"
                              "                                 the modules that failed on standard output)\n"
                              "  -h, --help                     this text\n"
                              "  --version                      the version\n";
const char kExitStatus[] = "\n"
                           "Exit status:\n"
                           "  0       done: every command went out and the module accepted it (station:\n"
                           "          every module was ok)\n"
                           "  1       the module did not answer, or refused a command (each one named);\n"
                           "          the ledger's database did not answer; traffic: nothing came through\n"
                           "          the module\n"
                           "  2       bad usage, a refused profile or values, or an output that cannot be\n"
                           "          written, the log included (nothing sent when found before the\n"
                           "          traffic); station: a report held by another station, or a record\n"
                           "          that could not be written; a ledger row the profile refused; ledger:\n"
                           "          a URL with a password, a ledger of another schema version; traffic:\n"
                           "          refused vectors, MODBUS without vectors\n"
                           "  3       the module differs from what was written or from the profile (each\n"
                           "          difference named); station: a module was not ok; traffic: not within\n"
                           "          the limits (each failure named)\n"
                           "  4       the port could not be opened (station: a port that is not a serial\n"
                           "          device; traffic: also the CAN interface, with the plugin's error)\n"
                           "  5       cut short: the port closed under the operation; the module may hold\n"
                           "          part of what was sent\n"
                           "  128+N   ended by signal N (130 Ctrl+C, 143 SIGTERM, 129 SIGHUP, 141 standard\n"
                           "          output closed by its reader): the exchange in progress finished,\n"
                           "          nothing more was sent; station: whenever a signal ended the line\n"
                           "          before its rows or --count ran out, also while every slot waited\n"
                           "An operation that ends early says where it stopped and which groups were and\n"
                           "were not written.\n";

// The tool's diagnostics are for developers: shown with VELKO_DEBUG=1 only,
// so that standard error carries progress and errors alone.
void quietDiagnostics(QtMsgType type, const QMessageLogContext&, const QString& message)
{
    if (type == QtDebugMsg || type == QtInfoMsg || type == QtWarningMsg)
        return;
    std::fprintf(stderr, "%s\n", qPrintable(message));
}

// The traffic in the log view's format: a time-stamp line above each entry.
// A file that already holds a run gets a blank line before this one. A write
// that fails is told at once and ends the log, not the operation.
class TrafficLog
{
public:
    explicit TrafficLog(Reporter& out) : m_out(out) {}

    // False with `error` when the file cannot take the log; looked at before
    // anything is sent.
    bool open(const QString& path, QString* error)
    {
        if (!Files::openToAppend(&m_file, path, error))
            return false;
        if (m_file.size() == 0 || Files::writeAll(&m_file, "\n"))
            return true;
        *error = QStringLiteral("%1: %2").arg(Files::shown(path), m_file.errorString());
        m_file.close();
        return false;
    }
    void entry(const QByteArray& data, int flag)
    {
        if (!m_file.isOpen())
            return;
        const QString text = LogFormat::timeStamp(QDateTime::currentDateTime()) + QLatin1Char('\n') +
                             LogFormat::entryText(data, flag) + QLatin1Char('\n');
        if (Files::writeAll(&m_file, text.toUtf8()))
            return;
        m_failure = QStringLiteral("LOG: the log cannot be written (%1); it stops here").arg(m_file.errorString());
        m_file.close();
        m_out.note(m_failure);
    }
    // What stopped the log during the operation; empty when nothing did.
    QString failure() const { return m_failure; }

private:
    Reporter& m_out;
    QFile m_file;
    QString m_failure;
};

// A command of the tool: what it takes, its lines of the usage text, and what runs it.
struct Command
{
    const char* name;
    int arguments;       // positional arguments after the name; -1: the command checks them
    const char* shape;   // of the arguments, for a message
    bool takesPort;      // the first argument is the port
    const char* usage;   // its lines of the usage text
    QStringList options; // of the options only some commands take, those it takes
    int (*run)(const Options& options, Reporter& out);
};
// Every command, in the order of the usage text.
const QVector<Command>& commands();

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
    const QCommandLineOption restartOption("restart");
    const QCommandLineOption portOption("port", QString(), "PORT");
    const QCommandLineOption valuesOption("values", QString(), "CSV");
    const QCommandLineOption countOption("count", QString(), "N");
    const QCommandLineOption reportOption("report", QString(), "FILE");
    const QCommandLineOption baudOption("baud", QString(), "N");
    const QCommandLineOption parityOption("parity", QString(), "PARITY");
    const QCommandLineOption stopOption("stop", QString(), "BITS");
    const QCommandLineOption logOption("log", QString(), "FILE");
    const QCommandLineOption jsonOption("json");
    const QCommandLineOption quietOption("quiet");
    const QCommandLineOption fastOption("fast");
    const QCommandLineOption checkOption("check");
    const QCommandLineOption setupOption("setup", QString(), "FILE");
    const QCommandLineOption removalOption("removal", QString(), "WHEN");
    const QCommandLineOption stationNameOption("station-name", QString(), "NAME");
    const QCommandLineOption stationOption("station", QString(), "NAME");
    const QCommandLineOption resultsOption("results");
    const QCommandLineOption profileOption("profile", QString(), "FILE");
    const QCommandLineOption leaseOption("lease", QString(), "SECONDS");
    const QCommandLineOption forceOption("force");
    const QCommandLineOption canOption("can", QString(), "PLUGIN:INTERFACE");
    const QCommandLineOption canBitrateOption("can-bitrate", QString(), "KBIT");
    const QCommandLineOption maxLatencyOption("max-latency", QString(), "MS");
    const QCommandLineOption traceOption("trace", QString(), "FILE");
    parser.addOptions({canOption, canBitrateOption, maxLatencyOption, traceOption});
    parser.addOptions({helpOption,  versionOption, outputOption,      setOption,     verifyOption,  restartOption,
                       portOption,  valuesOption,  countOption,       reportOption,  baudOption,    parityOption,
                       stopOption,  logOption,     jsonOption,        quietOption,   fastOption,    checkOption,
                       setupOption, removalOption, stationNameOption, stationOption, resultsOption, profileOption,
                       leaseOption, forceOption});
    // `ports --can` takes no value: a --can without one is given an empty one.
    QStringList given = arguments;
    for (int i = 1; i < given.size(); ++i) {
        if (given.at(i) == QLatin1String("--can") && (i + 1 == given.size() || given.at(i + 1).startsWith('-')))
            given[i] = QStringLiteral("--can=");
    }
    if (!parser.parse(given)) {
        *error = parser.errorText();
        return false;
    }
    o->json = parser.isSet(jsonOption);
    *help = parser.isSet(helpOption);
    *version = parser.isSet(versionOption);
    if (*help || *version) {
        o->command = parser.positionalArguments().value(0);
        return true;
    }

    const QStringList args = parser.positionalArguments();
    if (args.isEmpty()) {
        *error = QStringLiteral("no command given");
        return false;
    }
    o->command = args.at(0);
    const QVector<Command>& all = commands();
    const auto command =
        std::find_if(all.begin(), all.end(), [&](const Command& c) { return o->command == QLatin1String(c.name); });
    if (command == all.end()) {
        *error = QStringLiteral("unknown command %1").arg(o->command);
        return false;
    }
    if (command->takesPort && args.size() > 1)
        o->port = args.at(1);
    o->arguments = args.mid(1);
    // A station's setup may name its profile.
    const bool fromSetup = parser.isSet(setupOption) && o->command == QLatin1String("station") && args.size() == 1;
    if (command->arguments >= 0 && args.size() != command->arguments + 1 && !fromSetup) {
        *error = QStringLiteral("%1 takes %2").arg(o->command, QLatin1String(command->shape));
        return false;
    }
    const int profileAt = command->takesPort ? 2 : 1;
    if (command->arguments >= profileAt && args.size() > profileAt)
        o->profile = args.at(profileAt);
    // traffic: the profile is optional.
    if (o->command == QLatin1String("traffic")) {
        if (args.size() < 2 || args.size() > 3) {
            *error = QStringLiteral("traffic takes PORT [FILE]");
            return false;
        }
        if (args.size() == 3)
            o->profile = args.at(2);
    }

    // An option that only some commands take, given to another.
    for (const QCommandLineOption& option :
         {outputOption,  setOption,         verifyOption,     restartOption,    portOption,    valuesOption,
          countOption,   reportOption,      checkOption,      fastOption,       logOption,     setupOption,
          removalOption, stationNameOption, stationOption,    resultsOption,    profileOption, leaseOption,
          forceOption,   canOption,         canBitrateOption, maxLatencyOption, traceOption}) {
        const QString name = option.names().constLast();
        if (!parser.isSet(option) || command->options.contains(name))
            continue;
        QStringList takers;
        for (const Command& c : all) {
            if (c.options.contains(name))
                takers.append(QLatin1String(c.name));
        }
        *error = QStringLiteral("--%1 is an option of %2 only").arg(name, takers.join(QStringLiteral(", ")));
        return false;
    }
    o->output = parser.value(outputOption);
    o->overrides = parser.values(setOption);
    for (const QString& override : std::as_const(o->overrides)) {
        const QString problem = Profile::overrideProblem(override);
        if (!problem.isEmpty()) {
            *error = QStringLiteral("--set ") + problem;
            return false;
        }
    }
    o->verify = parser.isSet(verifyOption);
    o->restart = parser.isSet(restartOption);
    o->fast = parser.isSet(fastOption);
    o->quiet = parser.isSet(quietOption);
    o->logFile = parser.value(logOption);
    o->ports = parser.values(portOption);
    o->values = parser.value(valuesOption);
    o->report = parser.value(reportOption);
    o->check = parser.isSet(checkOption);
    o->stationName = parser.value(stationNameOption);
    o->station = parser.value(stationOption);
    o->results = parser.isSet(resultsOption);
    o->force = parser.isSet(forceOption);
    if (parser.isSet(profileOption))
        o->profile = parser.value(profileOption);
    o->listCan = parser.isSet(canOption);
    o->can = parser.value(canOption);
    o->trace = parser.value(traceOption);
    if (o->command == QLatin1String("traffic")) {
        Traffic::CanName name;
        if (!Traffic::CanName::parse(o->can, &name)) {
            *error = o->can.isEmpty() ? QStringLiteral("traffic needs --can PLUGIN:INTERFACE (virtualcan:can0, "
                                                       "socketcan:can0, ...)")
                                      : QStringLiteral("--can %1: expected PLUGIN:INTERFACE").arg(o->can);
            return false;
        }
        if (o->trace == QLatin1String("-")) {
            *error = QStringLiteral("--trace -: a trace goes to a file");
            return false;
        }
    }
    for (const auto& [option, value, lowest, highest] :
         {std::tuple{&canBitrateOption, &o->canBitrate, 1, 1000},
          std::tuple{&maxLatencyOption, &o->maxLatencyMs, Setup::kMinLatency, Setup::kMaxLatency}}) {
        if (!parser.isSet(*option))
            continue;
        bool ok = false;
        *value = parser.value(*option).toInt(&ok);
        if (!ok || *value < lowest || *value > highest) {
            *error = QStringLiteral("--%1 %2: allowed %3 to %4")
                         .arg(option->names().constFirst(), parser.value(*option))
                         .arg(lowest)
                         .arg(highest);
            return false;
        }
    }
    if (parser.isSet(leaseOption)) {
        bool ok = false;
        o->lease = parser.value(leaseOption).toInt(&ok);
        if (!ok || o->lease <= 0) {
            *error = QStringLiteral("--lease %1: not a number of seconds").arg(parser.value(leaseOption));
            return false;
        }
    }
    Station::Removal removal = Station::Removal::Probe;
    if (parser.isSet(removalOption) && !Setup::removalNamed(parser.value(removalOption), &removal)) {
        *error = QStringLiteral("--removal %1: allowed %2")
                     .arg(parser.value(removalOption), Setup::removals().join(QStringLiteral(", ")));
        return false;
    }
    // The limits of a count are the setup's, checked with the rest of it.
    if (parser.isSet(countOption)) {
        bool ok = false;
        o->count = parser.value(countOption).toInt(&ok);
        if (!ok) {
            *error =
                QStringLiteral("--count %1: not a number of %2")
                    .arg(parser.value(countOption), o->command == QLatin1String("traffic") ? QStringLiteral("messages")
                                                                                           : QStringLiteral("modules"));
            return false;
        }
    }
    if (parser.isSet(baudOption)) {
        bool ok = false;
        o->baud = parser.value(baudOption).toInt(&ok);
        if (!ok) {
            *error = QStringLiteral("--baud %1: not a baud rate").arg(parser.value(baudOption));
            return false;
        }
        if (o->baud < Setup::kMinBaud || o->baud > Setup::kMaxBaud) {
            *error =
                QStringLiteral("--baud %1: allowed %2 to %3").arg(o->baud).arg(Setup::kMinBaud).arg(Setup::kMaxBaud);
            return false;
        }
    }
    const QString parity = parser.value(parityOption);
    if (!parity.isEmpty() && !Operation::parityNamed(parity, &o->parity)) {
        *error =
            QStringLiteral("--parity %1: allowed %2").arg(parity, Operation::parityWords().join(QStringLiteral(", ")));
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
    if (o->command != QLatin1String("station"))
        return true;

    // The station's setup: its file, then the options given over it.
    StationSetup& s = o->setup;
    o->fromSetup = parser.isSet(setupOption);
    if (o->fromSetup) {
        QStringList problems;
        if (!Setup::load(parser.value(setupOption), &s, &problems, &o->setupWarnings)) {
            *error = problems.join(QStringLiteral("; "));
            return false;
        }
    }
    if (!o->profile.isEmpty())
        s.profile = o->profile;
    s.overrides = o->overrides;
    if (parser.isSet(valuesOption))
        s.values = o->values;
    if (parser.isSet(reportOption))
        s.report = o->report;
    if (parser.isSet(portOption))
        s.ports = o->ports;
    if (parser.isSet(baudOption))
        s.baud = o->baud;
    if (parser.isSet(parityOption))
        s.parity = o->parity;
    if (parser.isSet(stopOption))
        s.stopBits = o->stopBits == QSerialPort::TwoStop ? 2 : 1;
    s.fast = s.fast || o->fast;
    s.restart = s.restart || o->restart;
    if (parser.isSet(countOption))
        s.count = o->count;
    if (parser.isSet(removalOption))
        s.removalGiven = removal;
    if (parser.isSet(stationNameOption))
        s.stationName = o->stationName;
    if (parser.isSet(canOption)) {
        if (o->can.isEmpty()) {
            *error = QStringLiteral("--can needs PLUGIN:INTERFACE (virtualcan:can0, socketcan:can0, ...)");
            return false;
        }
        s.can = o->can;
    }
    if (parser.isSet(maxLatencyOption))
        s.maxLatency = o->maxLatencyMs;
    return true;
}

// The CAN plugins of Qt SerialBus and the interfaces each finds.
int listCanInterfaces(Reporter& out)
{
    Result r;
    QJsonArray plugins;
    for (const Traffic::CanPlugin& p : Traffic::canPlugins()) {
        QJsonArray interfaces;
        for (const QString& name : p.names()) {
            r.text += name + QLatin1Char('\n');
            interfaces.append(name);
        }
        if (p.interfaces.isEmpty())
            r.text += QStringLiteral("%1: no interface found%2\n")
                          .arg(p.name, p.error.isEmpty() ? QString() : QStringLiteral(" (%1)").arg(p.error));
        plugins.append(QJsonObject{{"plugin", p.name}, {"interfaces", interfaces}, {"error", textOrNull(p.error)}});
    }
    r.fields.insert(QStringLiteral("canPlugins"), plugins);
    return out.finish(r);
}

// The ports the window lists; with --json, what the system knows of each.
int listPorts(Reporter& out)
{
    const QStringList ports = PortDiscovery::portList();
    Result r;
    QJsonArray details;
    for (const QString& port : ports) {
        r.text += port + QLatin1Char('\n');
        const QString device = PortAccess::deviceName(port);
        const QSerialPortInfo info(device);
        QJsonObject described = Operation::adapterOf(info);
        described.insert(QStringLiteral("name"), port);
        described.insert(QStringLiteral("systemLocation"), info.isNull() ? device : info.systemLocation());
        described.insert(QStringLiteral("description"), textOrNull(info.description()));
        described.insert(QStringLiteral("manufacturer"), textOrNull(info.manufacturer()));
        details.append(described);
    }
    r.fields.insert(QStringLiteral("ports"), details);
    return out.finish(r);
}

// One command on one module.
class Run
{
public:
    Run(const Options& options, Reporter& out) : m_o(options), m_out(out)
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
            if (m_check)
                m_check->stop();
        });
        QObject::connect(&m_bus, &Traffic::CanBus::problem, &m_session,
                         [this](const QString& text) { m_out.note(QStringLiteral("CAN: ") + text); });
    }

    int exec()
    {
        Result r = perform();
        // A log that stopped fails the run, after the operation went to its
        // end; a signal's status stays.
        if (!m_log.failure().isEmpty() && r.status < 128) {
            r.status = std::max(r.status, int(BadUsage));
            if (r.error.isEmpty()) {
                r.error = m_log.failure();
                r.detailsSayAll = true; // told when it happened
            }
        }
        return m_out.finish(r);
    }

private:
    Result perform()
    {
        // Everything that can be refused is refused before the port is opened.
        ModuleConfig profile;
        if (!m_o.profile.isEmpty()) {
            Result refused;
            if (!readProfile(&profile, &refused))
                return refused;
        }
        if (!m_o.output.isEmpty()) {
            const QString problem = Files::outputProblem(m_o.output);
            if (!problem.isEmpty())
                return failure(BadUsage, problem + QStringLiteral(" (nothing sent)"));
        }
        if (!m_o.trace.isEmpty()) {
            for (const QString& path : {m_o.trace, Traffic::Trace::serialPath(m_o.trace)}) {
                const QString problem = Files::outputProblem(path);
                if (!problem.isEmpty())
                    return failure(BadUsage, problem + QStringLiteral(" (nothing sent)"));
            }
        }
        if (!m_o.logFile.isEmpty()) {
            QString error;
            if (!m_log.open(m_o.logFile, &error))
                return failure(BadUsage, error + QStringLiteral(" (nothing sent)"));
        }
        if (m_o.command == QLatin1String("traffic")) {
            Result refused;
            if (!trafficSetup(profile, &refused))
                return refused;
        }

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
        m_session.setFastExchange(m_o.fast);
        Result r = onModule(profile);
        m_port->closePort();
        return r;
    }

    bool readProfile(ModuleConfig* profile, Result* refused)
    {
        ProfileFile file;
        QString error;
        if (!file.load(m_o.profile, &error)) {
            *refused = failure(BadUsage, error + QStringLiteral(" (nothing sent)"));
            return false;
        }
        QStringList problems;
        QStringList warnings;
        if (m_o.command == QLatin1String("traffic") && !Traffic::readVectors(file.text(), &m_vectors, &problems)) {
            for (QString& p : problems)
                p = file.name() + QStringLiteral(": ") + p;
            *refused = refusedInput(problems.join(QStringLiteral("; ")), problems);
            return false;
        }
        if (!file.configure(m_o.overrides, profile, &problems, &warnings, file.name())) {
            // Every problem, each on a line of its own.
            *refused = refusedInput(problems.join(QStringLiteral("; ")), problems);
            return false;
        }
        for (const QString& w : warnings)
            m_out.note(QStringLiteral("profile: ") + w);
        return true;
    }

    Result onModule(const ModuleConfig& profile)
    {
        Operation::ModuleRun run(
            m_session, m_port, m_o.port, m_o.portLine(), [this] { return m_signal; },
            [](int signal) { return QString::fromLatin1(SignalWatch::name(signal)); },
            [this](const QString& phase) { m_out.setPhase(phase); });
        if (m_o.command == QLatin1String("read"))
            return read(run);
        if (m_o.command == QLatin1String("traffic"))
            return traffic(run, profile);
        const bool write = m_o.command == QLatin1String("write");
        Result r;
        if (!run.connect(m_o.command, write ? ModuleSession::writePlan(profile) : Operation::ModuleRun::Plan(), &r))
            return r;
        if (write) {
            bool emptyList = false;
            const QMetaObject::Connection noEntries =
                QObject::connect(&m_session, &ModuleSession::failed, &m_session, [&](ModuleSession::Failure failure) {
                    emptyList = emptyList || failure == ModuleSession::Failure::EmptyFilterList;
                });
            r = run.write(profile, m_o.verify, m_o.restart);
            QObject::disconnect(noEntries);
            if (r.status == Done && emptyList)
                m_out.note(QStringLiteral("filter.list: no entries in USER mode; the module's list is empty"));
            return r;
        }
        if (m_o.command == QLatin1String("verify"))
            return run.verify(profile, false);
        return run.command(m_o.command);
    }

    Result read(Operation::ModuleRun& run)
    {
        ConfigReading reading;
        const Result r = run.read(&reading);
        if (r.status != Done)
            return r;
        const QByteArray text = Profile::write(reading.values);
        Result done;
        if (!m_o.output.isEmpty()) {
            QString error;
            if (!Files::writeWhole(m_o.output, text, &error))
                return failure(BadUsage, error);
            done.fields.insert(QStringLiteral("file"), m_o.output);
            return done;
        }
        done.text = QString::fromUtf8(text);
        done.fields.insert(QStringLiteral("config"), QJsonDocument::fromJson(text).object());
        return done;
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
        const QString parity = Operation::parityWord(line.parity);
        Result r;
        r.text = QStringLiteral("%1 baud, parity %2 (--baud %1 --parity %2)\n").arg(line.baud).arg(parity);
        r.fields = {{"baud", line.baud}, {"parity", parity.toUpper()}, {"stopBits", 1}};
        return r;
    }

    // The traffic's setup, checked before anything is sent: a profile's
    // vectors and limits, and the CAN bus opened when its bit rate is known
    // (given, from the profile, or one the plugin does not take).
    bool trafficSetup(const ModuleConfig& profile, Result* refused)
    {
        m_setup.count = m_o.count < 0 ? 8 : m_o.count;
        m_setup.maxLatencyMs = m_o.maxLatencyMs;
        m_setup.vectors = m_vectors;
        if (!m_o.profile.isEmpty()) {
            m_setup.config = profile;
            const QString problem = Traffic::setupProblem(m_setup);
            if (!problem.isEmpty()) {
                *refused = failure(BadUsage, problem + QStringLiteral(" (nothing sent)"));
                return false;
            }
        } else if (m_setup.count < 1 || m_setup.count > Traffic::CheckSetup::kMaxCount) {
            *refused = failure(BadUsage, QStringLiteral("--count %1: allowed 1 to %2 (nothing sent)")
                                             .arg(m_setup.count)
                                             .arg(Traffic::CheckSetup::kMaxCount));
            return false;
        }
        Traffic::CanName::parse(m_o.can, &m_canName);
        // A plugin that does not exist is told before the module is touched,
        // whatever its bit rate.
        if (!Traffic::canPluginExists(m_canName.plugin))
            return openBus(0, refused, QStringLiteral("nothing sent"));
        if (m_o.canBitrate > 0 || !m_o.profile.isEmpty() || !Traffic::CanBus::takesBitRate(m_canName.plugin))
            return openBus(m_o.canBitrate > 0 ? m_o.canBitrate : profile.canRateKbit, refused,
                           QStringLiteral("nothing sent"));
        return true;
    }

    bool openBus(int bitRateKbit, Result* r, const QString& sofar)
    {
        Traffic::CanOpenFailure why;
        if (m_bus.open(m_canName, bitRateKbit, &why))
            return true;
        *r = failure(PortFailed, QStringLiteral("%1 (%2)").arg(why.text(), sofar));
        return false;
    }

    Result traffic(Operation::ModuleRun& run, const ModuleConfig& profile)
    {
        Result r;
        if (!m_o.profile.isEmpty()) {
            // The module must hold the profile: what it converts by is checked first.
            if (!run.connect(m_o.command, {}, &r))
                return r;
            m_out.setPhase(QStringLiteral("verify"));
            r = run.verify(profile, false);
            if (r.status != Done)
                return r;
        } else {
            ConfigReading reading;
            m_out.setPhase(QStringLiteral("read"));
            r = run.read(&reading);
            if (r.status != Done)
                return r;
            m_setup.config = reading.values;
            const QString problem = Traffic::setupProblem(m_setup);
            if (!problem.isEmpty())
                return failure(BadUsage, problem + QStringLiteral(" (nothing sent through the module; it stays in its "
                                                                  "configuration state)"));
        }
        const QString stays = QStringLiteral("nothing sent through the module; it stays in its configuration state");
        if (!m_bus.isOpen() && !openBus(m_o.canBitrate > 0 ? m_o.canBitrate : m_setup.config.canRateKbit, &r, stays))
            return r;
        if (m_signal != 0)
            return failure(128 + m_signal, QStringLiteral("%1: stopped by %2; %3")
                                               .arg(m_o.port, QLatin1String(SignalWatch::name(m_signal)), stays));
        m_out.setPhase(QStringLiteral("leave"));
        r = run.command(QStringLiteral("leave"));
        if (r.status != Done)
            return r;
        // The working state talks at the module's own serial line.
        const Operation::PortLine line = Operation::lineOf(m_setup.config);
        if (Operation::changesLine(m_setup.config, m_o.portLine()))
            m_port->setPortConfig(m_o.port, line.baud, QSerialPort::Data8, line.parity, line.stopBits);

        m_out.setPhase(QStringLiteral("traffic"));
        Traffic::TrafficCheck check(m_port, &m_bus, m_setup);
        QObject::connect(&check, &Traffic::TrafficCheck::progress, &check,
                         [this](int step, int steps, const QString& what) { m_out.progress(step, steps, what); });
        Traffic::Trace trace;
        trace.setNames(m_canName.shortName(), m_o.port);
        QObject::connect(&check, &Traffic::TrafficCheck::canTraffic, &check,
                         [&](const Traffic::CanFrame& f, bool, qint64 usecs) { trace.addFrame(usecs, f); });
        QObject::connect(&check, &Traffic::TrafficCheck::serialTraffic, &check,
                         [&](const QByteArray& data, bool sent, qint64 usecs) { trace.addSerial(usecs, data, sent); });
        m_check = &check;
        const Traffic::CheckReport report = check.run();
        m_check = nullptr;

        Result done;
        const QJsonObject json = report.json();
        for (auto it = json.begin(); it != json.end(); ++it)
            done.fields.insert(it.key(), it.value());
        done.fields.insert(QStringLiteral("mode"), m_setup.config.mode);
        done.fields.insert(QStringLiteral("direction"), m_setup.config.direction);
        done.fields.insert(QStringLiteral("can"), m_canName.text());
        done.text = report.table();
        switch (report.verdict) {
        case Traffic::CheckReport::Verdict::Passed:
            done.text += QStringLiteral("within the limits (nothing lost, corrupted or unexpected; latency at most %1 "
                                        "ms)\n")
                             .arg(m_setup.maxLatencyMs);
            break;
        case Traffic::CheckReport::Verdict::Failed:
            done.status = Differences;
            done.error = QStringLiteral("%1: the traffic through the module is not within the limits").arg(m_o.port);
            done.details = report.failureTexts();
            break;
        case Traffic::CheckReport::Verdict::NothingThrough:
            done.status = NoAnswer;
            done.error = QStringLiteral("%1: nothing came through the module (no frame on %2, no byte on its serial "
                                        "line)")
                             .arg(m_o.port, m_canName.text());
            break;
        case Traffic::CheckReport::Verdict::Stopped:
            done.status = 128 + m_signal;
            done.error = QStringLiteral("%1: stopped by %2 during the traffic check; the module is in its working "
                                        "state")
                             .arg(m_o.port, QLatin1String(SignalWatch::name(m_signal)));
            break;
        }
        if (!m_o.trace.isEmpty()) {
            QString error;
            if (!trace.write(m_o.trace, &error)) {
                done.status = std::max(done.status, int(BadUsage));
                done.details.append(error);
                if (done.error.isEmpty())
                    done.error = error;
            }
        }
        return done;
    }

    const Options& m_o;
    Reporter& m_out;
    Traffic::CanName m_canName;
    Traffic::CanBus m_bus;
    Traffic::Vectors m_vectors;
    Traffic::CheckSetup m_setup;
    Traffic::TrafficCheck* m_check = nullptr;
    // A port of its own: the command line needs no process-wide one.
    QObject m_owner;
    SerialSocket* const m_port = SerialSocket::createPort(&m_owner);
    ModuleSession m_session{m_port};
    TrafficLog m_log{m_out};
    QSerialPort::SerialPortError m_openError = QSerialPort::NoError;
    int m_signal = 0; // the signal that stopped the operation
};

int runOnModule(const Options& options, Reporter& out)
{
    Run run(options, out);
    return run.exec();
}

int runPorts(const Options& options, Reporter& out)
{
    return options.listCan ? listCanInterfaces(out) : listPorts(out);
}

const QVector<Command>& commands()
{
    static const QStringList module{"fast", "log"};
    static const QVector<Command> all{
        {"ports",
         0,
         "no argument",
         false,
         "  ports [--can]                  list the serial ports the window would list\n"
         "                                 (--json: with their adapters' details); --can:\n"
         "                                 the CAN plugins and their interfaces instead\n",
         {"can"},
         runPorts},
        {"read", 1, "PORT", true,
         "  read PORT [-o FILE]            read the whole configuration; print it as a\n"
         "                                 profile, or write it to FILE\n",
         module + QStringList{"output"}, runOnModule},
        {"write", 2, "PORT FILE", true,
         "  write PORT FILE [--set KEY=VALUE]... [--verify] [--restart]\n"
         "                                 check the profile FILE (- for standard input),\n"
         "                                 then write it all; --set overrides a field by\n"
         "                                 its dotted path (can.id=1A0) before the check;\n"
         "                                 --verify reads back and compares every field\n"
         "                                 the write sent; --restart restarts the module\n"
         "                                 afterwards, in the same session\n",
         module + QStringList{"set", "verify", "restart"}, runOnModule},
        {"verify", 2, "PORT FILE", true,
         "  verify PORT FILE [--set KEY=VALUE]...\n"
         "                                 read back and compare with the profile; sends\n"
         "                                 no set command\n",
         module + QStringList{"set"}, runOnModule},
        {"search",
         1,
         "PORT",
         true,
         "  search PORT                    find the module's baud rate and parity\n",
         {"log"},
         runOnModule},
        {"leave", 1, "PORT", true, "  leave PORT                     leave the configuration state\n", module,
         runOnModule},
        {"restart", 1, "PORT", true,
         "  restart PORT                   restart the module (a new serial line takes effect)\n", module, runOnModule},
        {"restore", 1, "PORT", true, "  restore PORT                   restore the factory settings and restart\n",
         module, runOnModule},
        {"traffic", -1, "PORT [FILE]", true,
         "  traffic PORT --can PLUGIN:INTERFACE [FILE] [--count N] [--max-latency MS]\n"
         "          [--can-bitrate KBIT] [--trace FILE]\n"
         "                                 read the module's configuration (or check that\n"
         "                                 it holds the profile FILE), leave the\n"
         "                                 configuration state and send a known pattern\n"
         "                                 through the module each way its direction\n"
         "                                 passes: N messages each way (default 8), one at\n"
         "                                 a time, judged by the conversions of its mode\n"
         "                                 or the profile's \"traffic\" vectors (MODBUS:\n"
         "                                 vectors only). Measures sent, received, lost,\n"
         "                                 corrupted, out of order, unexpected and the\n"
         "                                 latency (limit --max-latency, default 100 ms).\n"
         "                                 PLUGIN:INTERFACE as Qt SerialBus names it:\n"
         "                                 socketcan:can0, peakcan:usb0, virtualcan:can0,\n"
         "                                 virtualcan:tcp://127.0.0.1:35468/can0; the bit\n"
         "                                 rate (default the module's can.rateKbit) is set\n"
         "                                 where the plugin takes one. --trace writes the\n"
         "                                 CAN side in candump's -L format to FILE and the\n"
         "                                 serial side as time-stamped hex lines to\n"
         "                                 FILE.serial. Exit 0 within the limits, 3 not\n"
         "                                 (each failure named), 1 nothing came through, 2\n"
         "                                 refused vectors or usage, 4 a port or CAN\n"
         "                                 interface that cannot be opened\n",
         module + QStringList{"set", "can", "can-bitrate", "count", "max-latency", "trace"}, runOnModule},
        {"station",
         1,
         "FILE",
         false,
         "  station FILE --port PORT [--port PORT]... [--values CSV|URL] [--set KEY=VALUE]...\n"
         "          [--count N] [--report FILE] [--restart] [--check] [--removal WHEN]\n"
         "          [--station-name NAME] [--can PLUGIN:INTERFACE] [--max-latency MS]\n"
         "  station --setup SETUP [FILE] [OPTIONS]\n"
         "                                 the unattended line: on each port, wait for a\n"
         "                                 module, write the profile with its own values\n"
         "                                 (a row of CSV each), verify it, restart it when\n"
         "                                 asked, record it, wait until it is gone; the\n"
         "                                 ports side by side. --report is held for the\n"
         "                                 run, one synced line per module; a record that\n"
         "                                 cannot be written stops the line. --check reads\n"
         "                                 the profile, the rows and the report, prints the\n"
         "                                 rows left and opens no port. A PORT may be\n"
         "                                 usb:SERIAL, the adapter with that USB serial\n"
         "                                 number. --removal tells how a module's removal\n"
         "                                 is known: probe (the default; each probe puts a\n"
         "                                 restarted module back into its configuration\n"
         "                                 state), port (the adapter goes away with it) or\n"
         "                                 operator (a line on standard input: the\n"
         "                                 fixture's number, or nothing for the only one\n"
         "                                 waiting). --setup runs a station setup file;\n"
         "                                 the options given override it. --values URL\n"
         "                                 takes the rows from a ledger that other\n"
         "                                 stations share, each row to one module, and\n"
         "                                 records each module there, as --station-name\n"
         "                                 (default: the host's name). --can checks\n"
         "                                 each module's traffic as traffic does, as\n"
         "                                 its last step (after the restart); the\n"
         "                                 fixtures take turns on the one CAN\n"
         "                                 interface; a module whose traffic fails is\n"
         "                                 recorded as \"traffic\" (status 3); its latency\n"
         "                                 limit is --max-latency (default 100 ms)\n",
         {"set", "restart", "port", "values", "count", "report", "check", "fast", "setup", "removal", "station-name",
          "can", "max-latency"},
         runStation},
        {"ledger",
         -1,
         "SUB-COMMAND URL",
         false,
         "  ledger init URL [--lease SECONDS]\n"
         "  ledger import URL CSV [--profile FILE] [--set KEY=VALUE]... [--restart]\n"
         "  ledger status URL\n"
         "  ledger export URL [--results] [-o FILE]\n"
         "  ledger release URL --station NAME [--force]\n"
         "  ledger withdraw URL SOURCE\n"
         "                                 a line's values and results in one database,\n"
         "                                 URL sqlite:PATH (the stations of one PC) or\n"
         "                                 postgresql://[user@]host[:port]/dbname (the\n"
         "                                 password from PGPASSWORD or ~/.pgpass only):\n"
         "                                 init creates the schema (a claim's lease,\n"
         "                                 default 60 s); import adds the rows of CSV as\n"
         "                                 --values reads them, checked against the\n"
         "                                 profile when given as a station with the same\n"
         "                                 --set, line and --restart takes them (a row\n"
         "                                 that changes the serial line needs --restart);\n"
         "                                 status counts the rows\n"
         "                                 free, claimed and used and the results per\n"
         "                                 station; export writes the rows with their\n"
         "                                 state as CSV, or with --results the results\n"
         "                                 as JSON Lines; release gives back the claims\n"
         "                                 of a station that is gone (one that renewed\n"
         "                                 them within the last lease is running: only\n"
         "                                 with --force); withdraw takes back the free\n"
         "                                 rows of one import, by its SOURCE as status\n"
         "                                 lists it (\"ids.csv\", a later import of the\n"
         "                                 same file name \"ids.csv#2\")\n",
         {"output", "set", "station", "results", "profile", "lease", "restart", "force"},
         runLedger},
    };
    return all;
}

QByteArray usageText()
{
    QByteArray text = kUsageHead;
    for (const Command& c : commands())
        text += c.usage;
    return text + kLineOptions + kCommonOptions + "\nvelkocan-cli COMMAND --help gives the usage of one command.\n" +
           kExitStatus;
}

// One command's usage: its lines, the options it takes and the exit statuses.
QByteArray usageText(const Command& c)
{
    QByteArray text = QByteArray("Usage: velkocan-cli ") + c.name + ' ' + c.shape + " [OPTIONS]\n\n" + c.usage;
    // The ledger talks to a database, not to a module.
    if (qstrcmp(c.name, "ledger") == 0)
        text += "\nOptions:\n";
    else
        text += kLineOptions;
    return text + kCommonOptions + kExitStatus;
}

} // namespace

int run(const QStringList& arguments)
{
    Diagnostics::applyEnvironment();
    if (qEnvironmentVariableIsEmpty("VELKO_DEBUG"))
        qInstallMessageHandler(quietDiagnostics);
    Options options;
    QString error;
    bool help = false;
    bool version = false;
    if (!parse(arguments, &options, &error, &help, &version)) {
        // Looked for by hand too when the parse failed before it, so that a
        // usage error is a result object as well.
        Reporter out(options.port, options.command, options.json || arguments.contains(QStringLiteral("--json")),
                     false);
        Result r = failure(BadUsage, error);
        r.details.append(QStringLiteral("Try \"velkocan-cli --help\"."));
        return out.finish(r);
    }
    if (help) {
        for (const Command& c : commands()) {
            if (options.command == QLatin1String(c.name))
                return writeTo(stdout, usageText(c)) ? Done : BadUsage;
        }
        return writeTo(stdout, usageText()) ? Done : BadUsage;
    }
    if (version) {
        const QString text = QCoreApplication::applicationName() + QLatin1Char(' ') +
                             QCoreApplication::applicationVersion() + QLatin1Char('\n');
        return writeTo(stdout, text.toUtf8()) ? Done : BadUsage;
    }

    Reporter out(options.port, options.command, options.json, options.quiet);
    // A file size limit that no lock file fits in is the user's setting, not the port's fault.
    const QString limit = PortAccess::lockWriteProblem();
    if (!limit.isEmpty() &&
        (!options.port.isEmpty() || (options.command == QLatin1String("station") && !options.check)))
        return out.finish(
            failure(BadUsage, QStringLiteral("the serial port: ") + limit + QStringLiteral("; nothing sent")));
    for (const Command& c : commands()) {
        if (options.command == QLatin1String(c.name))
            return c.run(options, out);
    }
    return BadUsage; // parse() knows every command
}

} // namespace CommandLine
