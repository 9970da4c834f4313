#include "commandline.h"

#include "configreading.h"
#include "logformat.h"
#include "moduleconfig.h"
#include "modulesession.h"
#include "serialsocket.h"

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
                      "  search PORT                    find the module's baud rate and parity\n"
                      "  leave PORT                     leave the configuration state\n"
                      "  restart PORT                   restart the module (a new serial line takes effect)\n"
                      "  restore PORT                   restore the factory settings and restart\n"
                      "\n"
                      "Options:\n"
                      "  --baud N                       the PC side's baud rate (default 115200)\n"
                      "  --parity none|odd|even         the PC side's parity (default none)\n"
                      "  --stop 1|2                     the PC side's stop bits (default 1)\n"
                      "  --log FILE                     write the traffic to FILE, time-stamped\n"
                      "  --json                         machine-readable results on standard output\n"
                      "  --quiet                        no progress on standard error\n"
                      "  -h, --help                     this text\n"
                      "  --version                      the version\n"
                      "\n"
                      "Exit status: 0 done; 1 the module did not answer or refused the connection;\n"
                      "2 bad usage or a refused profile (nothing sent); 3 --verify found differences;\n"
                      "4 the port could not be opened.\n";

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

// The tool's diagnostics are for developers: shown with VELKO_DEBUG=1 only,
// so that standard error carries progress and errors alone.
void quietDiagnostics(QtMsgType type, const QMessageLogContext&, const QString& message)
{
    if (type == QtDebugMsg || type == QtInfoMsg || type == QtWarningMsg)
        return;
    std::fprintf(stderr, "%s\n", qPrintable(message));
}

void writeTo(FILE* stream, const QByteArray& bytes)
{
    std::fwrite(bytes.constData(), 1, size_t(bytes.size()), stream);
    std::fflush(stream);
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

    // The result: `text` for people, `object` with --json (status added).
    int finish(int status, const QString& text, QJsonObject object = {})
    {
        endBar();
        if (m_options.json) {
            object.insert(QStringLiteral("status"), status);
            writeTo(stdout, QJsonDocument(object).toJson(QJsonDocument::Compact) + '\n');
        } else if (!text.isEmpty()) {
            writeTo(stdout, text.toUtf8());
        }
        return status;
    }

    // A failure: one line on standard error naming what is wrong.
    int fail(int status, const QString& message)
    {
        note(message);
        if (m_options.json)
            writeTo(stdout,
                    QJsonDocument(QJsonObject{{"status", status}, {"error", message}}).toJson(QJsonDocument::Compact) +
                        '\n');
        return status;
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
class TrafficLog
{
public:
    bool open(const QString& path)
    {
        m_file.setFileName(path);
        return m_file.open(QIODevice::WriteOnly | QIODevice::Truncate);
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
    if (args.size() != wanted) {
        *error = QStringLiteral("%1 takes %2")
                     .arg(o->command, wanted == 1   ? QStringLiteral("no argument")
                                      : wanted == 2 ? QStringLiteral("PORT")
                                                    : QStringLiteral("PORT FILE"));
        return false;
    }
    if (wanted > 1)
        o->port = args.at(1);
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
    o->json = parser.isSet(jsonOption);
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

QString openError(QSerialPort::SerialPortError code)
{
    switch (code) {
    case QSerialPort::DeviceNotFoundError:
        return QStringLiteral("no such port");
    case QSerialPort::PermissionError:
        return QStringLiteral("permission denied, or another program holds the port");
    default:
        return QStringLiteral("cannot be opened (error %1)").arg(int(code));
    }
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

int listPorts(Reporter& out)
{
    const QStringList ports = SerialSocket::getInstance()->getPortList();
    QString text;
    for (const QString& port : ports)
        text += port + QLatin1Char('\n');
    return out.finish(Done, text, {{"ports", QJsonArray::fromStringList(ports)}});
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
    }

    int exec()
    {
        ModuleConfig profile;
        if (m_o.command == QLatin1String("write")) {
            // The profile is checked whole before the port is even opened.
            QString error;
            if (!readProfile(&profile, &error))
                return m_out.fail(BadUsage, error);
        }
        if (!m_o.logFile.isEmpty() && !m_log.open(m_o.logFile))
            return m_out.fail(BadUsage, QStringLiteral("%1: cannot be written").arg(m_o.logFile));

        if (m_o.command == QLatin1String("search"))
            return search();

        m_port->setPortConfig(m_o.port, m_o.baud, QSerialPort::Data8, m_o.parity, m_o.stopBits);
        m_openError = QSerialPort::NoError;
        if (!m_port->openPort())
            return m_out.fail(PortFailed, QStringLiteral("%1: %2").arg(m_o.port, openError(m_openError)));
        const int status = onModule(profile);
        m_port->closePort();
        return status;
    }

private:
    bool readProfile(ModuleConfig* profile, QString* error)
    {
        QFile file;
        const bool standardInput = m_o.profile == QLatin1String("-");
        const bool opened = standardInput ? file.open(stdin, QIODevice::ReadOnly)
                                          : (file.setFileName(m_o.profile), file.open(QIODevice::ReadOnly));
        if (!opened) {
            *error = QStringLiteral("%1: cannot be read").arg(m_o.profile);
            return false;
        }
        if (!Profile::read(file.readAll(), profile, error, m_o.overrides)) {
            *error =
                QStringLiteral("%1: %2").arg(standardInput ? QStringLiteral("standard input") : m_o.profile, *error);
            return false;
        }
        return true;
    }

    int notListening()
    {
        return m_out.fail(NoAnswer,
                          QStringLiteral("%1: the module does not answer at %2 baud, parity %3 (is it powered? "
                                         "\"velkocan-cli search %1\" finds its line)")
                              .arg(m_o.port)
                              .arg(m_o.baud)
                              .arg(parityWord(m_o.parity)));
    }

    int unanswered()
    {
        QStringList commands;
        for (const QByteArray& c : m_session.unanswered())
            commands.append(QString::fromLatin1(c).trimmed());
        return m_out.fail(NoAnswer,
                          QStringLiteral("the module did not answer %1").arg(commands.join(QStringLiteral(", "))));
    }

    int onModule(const ModuleConfig& profile)
    {
        if (m_o.command == QLatin1String("read"))
            return read();
        m_out.setPhase(QStringLiteral("connect"));
        const bool listening = m_session.enterConfiguration();
        m_out.setPhase(m_o.command);
        if (!listening)
            return notListening();
        if (m_o.command == QLatin1String("write"))
            return write(profile);
        if (m_o.command == QLatin1String("leave"))
            m_session.leaveConfiguration();
        else if (m_o.command == QLatin1String("restart"))
            m_session.restart();
        else
            m_session.restore();
        if (!m_session.unanswered().isEmpty())
            return unanswered();
        return m_out.finish(Done, QString());
    }

    int read()
    {
        ConfigReading reading;
        if (!m_session.readBack(&reading))
            return notListening();
        const QString problem = readingProblem(reading);
        if (!problem.isEmpty())
            return m_out.fail(NoAnswer, problem);
        const QByteArray text = Profile::write(reading.values);
        if (!m_o.output.isEmpty()) {
            QFile file(m_o.output);
            if (!file.open(QIODevice::WriteOnly | QIODevice::Truncate) || file.write(text) != text.size())
                return m_out.fail(BadUsage, QStringLiteral("%1: cannot be written").arg(m_o.output));
            return m_out.finish(Done, QString(), {{"file", m_o.output}});
        }
        return m_out.finish(Done, QString::fromUtf8(text), {{"config", QJsonDocument::fromJson(text).object()}});
    }

    int write(const ModuleConfig& profile)
    {
        m_session.writeAll(ModuleSession::fixed(profile));
        if (!m_session.unanswered().isEmpty())
            return unanswered();
        if (profile.filterMode == QLatin1String("USER") && profile.filters.isEmpty())
            m_out.note(QStringLiteral("filter.list: no entries in USER mode; the module's list is empty"));
        if (!m_o.verify)
            return m_out.finish(Done, QString(), {{"verified", false}});

        ConfigReading reading;
        m_out.setPhase(QStringLiteral("verify"));
        if (!m_session.readBack(&reading))
            return notListening();
        const QString missing = missingFields(reading);
        if (!missing.isEmpty())
            return m_out.fail(NoAnswer, missing);
        const QStringList differences = Config::differences(profile, reading.values);
        for (const QString& d : differences)
            m_out.note(d);
        return m_out.finish(differences.isEmpty() ? Done : Differences, QString(),
                            {{"verified", true}, {"differences", QJsonArray::fromStringList(differences)}});
    }

    int search()
    {
        ModuleSession::Line line;
        m_openError = QSerialPort::NoError;
        bool openFailed = false;
        const QObject scope; // the connection ends with the search
        QObject::connect(&m_session, &ModuleSession::failed, &scope,
                         [&](ModuleSession::Failure f) { openFailed = f == ModuleSession::Failure::OpenFailed; });
        const int found = m_session.searchBaudRate(m_o.port, &line);
        if (found < 0)
            return openFailed ? m_out.fail(PortFailed, QStringLiteral("%1: %2").arg(m_o.port, openError(m_openError)))
                              : m_out.fail(BadUsage, QStringLiteral("no port given"));
        if (found == 0)
            return m_out.fail(NoAnswer, QStringLiteral("%1: no baud rate and parity got an answer").arg(m_o.port));
        const QString parity = parityWord(line.parity);
        return m_out.finish(Done,
                            QStringLiteral("%1 baud, parity %2 (--baud %1 --parity %2)\n").arg(line.baud).arg(parity),
                            {{"baud", line.baud}, {"parity", parity}, {"stopBits", 1}});
    }

    const Options& m_o;
    Reporter& m_out;
    SerialSocket* const m_port;
    ModuleSession m_session{SerialSocket::getInstance()};
    TrafficLog m_log;
    QSerialPort::SerialPortError m_openError = QSerialPort::NoError;
};

} // namespace

int run(const QStringList& arguments)
{
    if (qEnvironmentVariableIsEmpty("VELKO_DEBUG"))
        qInstallMessageHandler(quietDiagnostics);
    Options options;
    QString error;
    bool help = false;
    bool version = false;
    if (!parse(arguments, &options, &error, &help, &version)) {
        writeTo(stderr, ("velkocan-cli: " + error + "\nTry \"velkocan-cli --help\".\n").toUtf8());
        return BadUsage;
    }
    if (help) {
        writeTo(stdout, kUsage);
        return Done;
    }
    if (version) {
        writeTo(stdout, (QCoreApplication::applicationName() + QLatin1Char(' ') +
                         QCoreApplication::applicationVersion() + QLatin1Char('\n'))
                            .toUtf8());
        return Done;
    }

    Reporter out(options);
    if (options.command == QLatin1String("ports"))
        return listPorts(out);
    Run run(options, out);
    return run.exec();
}

} // namespace CommandLine
