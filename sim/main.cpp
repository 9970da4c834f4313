// velkocan-sim: a simulated converter module on a pseudo-terminal, for trying
// the configuration tool without hardware. It publishes a link to its port in
// the virtual-port folder and logs the traffic until SIGINT or SIGTERM.
#include "sim/canbridge.h"
#include "sim/faultoptions.h"
#include "sim/simmodule.h"

#include <QCommandLineParser>
#include <QCoreApplication>
#include <QSocketNotifier>

#include <csignal>
#include <cstdio>
#include <fcntl.h>
#include <unistd.h>

namespace {

int signalPipe[2] = {-1, -1};

void onSignal(int)
{
    const char c = 1;
    const ssize_t r = ::write(signalPipe[1], &c, 1);
    (void)r;
}

QByteArray escaped(const QByteArray& data)
{
    QByteArray out;
    for (char ch : data) {
        const auto c = static_cast<unsigned char>(ch);
        if (c == '\r')
            out += "\\r";
        else if (c == '\n')
            out += "\\n";
        else if (c == '\\' || c == '"')
            out += QByteArray("\\") + ch;
        else if (c >= 0x20 && c < 0x7F)
            out += ch;
        else
            out += "\\x" + QByteArray::number(c, 16).rightJustified(2, '0');
    }
    return out;
}

const char* parityName(sim::Parity p)
{
    return p == sim::Parity::Odd ? "odd" : p == sim::Parity::Even ? "even" : "none";
}

char parityLetter(sim::Parity p)
{
    return p == sim::Parity::Odd ? 'O' : p == sim::Parity::Even ? 'E' : 'N';
}

void say(const QByteArray& line)
{
    std::fwrite(line.constData(), 1, static_cast<size_t>(line.size()), stdout);
    std::fputc('\n', stdout);
    std::fflush(stdout);
}

} // namespace

int main(int argc, char** argv)
{
    QCoreApplication app(argc, argv);
    QCoreApplication::setApplicationName(QStringLiteral("velkocan-sim"));
    QCoreApplication::setApplicationVersion(QStringLiteral(VELKO_VERSION));

    QCommandLineParser parser;
    parser.setApplicationDescription(
        QStringLiteral("Simulated serial-to-CAN converter module on a pseudo-terminal.\n"
                       "Prints the port to open (a link in the virtual-port folder) on its first line,\n"
                       "then logs every frame received and every reply, until SIGINT or SIGTERM.\n"
                       "The module answers only while the port's line settings match its own. On a\n"
                       "pseudo-terminal even parity cannot be told from no parity (the kernel drops\n"
                       "the parity-enable bit), so a module at even parity also answers a port\n"
                       "without parity and the other way round; odd parity is told apart."));
    parser.addHelpOption();
    parser.addVersionOption();
    const QCommandLineOption baudOption(QStringLiteral("baud"), QStringLiteral("Module baud rate (default 115200)."),
                                        QStringLiteral("N"), QStringLiteral("115200"));
    const QCommandLineOption parityOption(QStringLiteral("parity"),
                                          QStringLiteral("Module parity: none, even or odd (default none; even "
                                                         "looks like none on a pseudo-terminal)."),
                                          QStringLiteral("none|even|odd"), QStringLiteral("none"));
    const QCommandLineOption stopOption(QStringLiteral("stop"), QStringLiteral("Module stop bits, 1 or 2 (default 1)."),
                                        QStringLiteral("1|2"), QStringLiteral("1"));
    const QCommandLineOption filtersOption(QStringLiteral("filters"),
                                           QStringLiteral("Capacity of the module's filter list (default 20)."),
                                           QStringLiteral("N"), QStringLiteral("20"));
    const QCommandLineOption quietOption(QStringLiteral("quiet"), QStringLiteral("Do not print the traffic."));
    const QCommandLineOption canOption(
        QStringLiteral("can"),
        QStringLiteral("In its working state the module converts between its serial line and this CAN bus: a "
                       "virtualcan bus as tcp://127.0.0.1:PORT/can0 (or can0, can1 on the default port), or "
                       "PLUGIN:INTERFACE. Without it nothing comes out on a bus."),
        QStringLiteral("BUS"));
    const QCommandLineOption dropOption(QStringLiteral("drop-every"),
                                        QStringLiteral("With --can: every N-th message or frame is lost."),
                                        QStringLiteral("N"));
    const QCommandLineOption corruptOption(
        QStringLiteral("corrupt-every"),
        QStringLiteral("With --can: every N-th message or frame has a data byte changed."), QStringLiteral("N"));
    const QCommandLineOption wrongIdOption(QStringLiteral("wrong-id"),
                                           QStringLiteral("With --can: frames go out with the ID plus one."));
    const QCommandLineOption latencyOption(QStringLiteral("latency"),
                                           QStringLiteral("With --can: every conversion comes out MS ms later."),
                                           QStringLiteral("MS"));
    parser.addOptions({baudOption, parityOption, stopOption, filtersOption, quietOption, canOption, dropOption,
                       corruptOption, wrongIdOption, latencyOption});
    const sim::FaultOptions faultOptions;
    faultOptions.addTo(parser);
    parser.process(app);

    auto usage = [&](const QString& message) {
        std::fprintf(stderr, "velkocan-sim: %s\n", qPrintable(message));
        return 2;
    };
    static const QList<int> rates = {600,   1200,  2400,   4800,   9600,   14400,  19200,
                                     38400, 57600, 115200, 128000, 230400, 256000, 460800};
    bool ok = false;
    const int baud = parser.value(baudOption).toInt(&ok);
    if (!ok || !rates.contains(baud))
        return usage(QStringLiteral("unsupported baud rate %1").arg(parser.value(baudOption)));
    const QString parityText = parser.value(parityOption).toLower();
    sim::Parity parity;
    if (parityText == QLatin1String("none"))
        parity = sim::Parity::None;
    else if (parityText == QLatin1String("even"))
        parity = sim::Parity::Even;
    else if (parityText == QLatin1String("odd"))
        parity = sim::Parity::Odd;
    else
        return usage(QStringLiteral("parity must be none, even or odd"));
    const int stopBits = parser.value(stopOption).toInt(&ok);
    if (!ok || (stopBits != 1 && stopBits != 2))
        return usage(QStringLiteral("stop bits must be 1 or 2"));
    const int capacity = parser.value(filtersOption).toInt(&ok);
    if (!ok || capacity < 0)
        return usage(QStringLiteral("the filter capacity must be a number from 0"));
    const bool quiet = parser.isSet(quietOption);
    sim::SimModule::Faults faults;
    QString error;
    if (!faultOptions.read(parser, &faults, &error))
        return usage(error);
    sim::CanBridge::Faults canFaults;
    for (const auto& [option, value] :
         {std::pair{&dropOption, &canFaults.dropEvery}, std::pair{&corruptOption, &canFaults.corruptEvery},
          std::pair{&latencyOption, &canFaults.latencyMs}}) {
        if (!parser.isSet(*option))
            continue;
        *value = parser.value(*option).toInt(&ok);
        if (!ok || *value < 1)
            return usage(
                QStringLiteral("--%1 %2: a number from 1").arg(option->names().constFirst(), parser.value(*option)));
    }
    canFaults.wrongId = parser.isSet(wrongIdOption);
    QString canName = parser.value(canOption);
    if (canName.startsWith(QLatin1String("tcp://")) || canName == QLatin1String("can0") ||
        canName == QLatin1String("can1"))
        canName.prepend(QLatin1String("virtualcan:"));

    if (::pipe2(signalPipe, O_CLOEXEC | O_NONBLOCK) != 0) {
        std::perror("velkocan-sim: pipe2");
        return 1;
    }
    QSocketNotifier signalNotifier(signalPipe[0], QSocketNotifier::Read);
    QObject::connect(&signalNotifier, &QSocketNotifier::activated, &app, [] {
        char c;
        while (::read(signalPipe[0], &c, 1) > 0) {
        }
        QCoreApplication::quit();
    });
    struct sigaction action = {};
    action.sa_handler = onSignal;
    sigemptyset(&action.sa_mask);
    action.sa_flags = SA_RESTART;
    ::sigaction(SIGINT, &action, nullptr);
    ::sigaction(SIGTERM, &action, nullptr);

    sim::SimModule module;
    module.setLine(baud, parity, stopBits);
    module.state().filterCapacity = capacity;
    module.faults() = faults;
    if (!module.start(&error)) {
        std::fprintf(stderr, "velkocan-sim: %s\n", qPrintable(error));
        return 1;
    }

    sim::CanBridge bridge(&module);
    if (!canName.isEmpty()) {
        if (!bridge.open(canName, &error)) {
            std::fprintf(stderr, "velkocan-sim: %s\n", qPrintable(error));
            return 1;
        }
        bridge.faults() = canFaults;
    } else {
        module.setConverting(false); // no CAN side: nothing comes out on a bus
    }

    QElapsedTimer clock;
    clock.start();
    auto stamp = [&clock] { return QByteArray::number(clock.elapsed() / 1000.0, 'f', 3).rightJustified(10); };
    say("velkocan-sim: port " + module.portName().toLocal8Bit());
    say("velkocan-sim: slave " + module.slavePath().toLocal8Bit() + ", line " + QByteArray::number(baud) + " 8" +
        parityLetter(parity) + QByteArray::number(stopBits) + " (parity " + parityName(parity) + "), filter capacity " +
        QByteArray::number(capacity));
    const QStringList faultsGiven = faultOptions.given(parser);
    if (!faultsGiven.isEmpty())
        say("velkocan-sim: faults " + faultsGiven.join(QLatin1Char(' ')).toLocal8Bit());
    if (!canName.isEmpty())
        say("velkocan-sim: CAN " + canName.toLocal8Bit());

    if (!quiet) {
        QObject::connect(&module, &sim::SimModule::frameReceived, &app, [&](const QByteArray& data) {
            const sim::Frame& f = module.frames().constLast();
            say(stamp() + " RX \"" + escaped(data) + "\" at " + QByteArray::number(f.baud) +
                (f.oddParity ? " odd" : " none/even") + (f.matched ? "" : " (line does not match: ignored)"));
        });
        QObject::connect(&module, &sim::SimModule::replyQueued, &app,
                         [&](const QByteArray& data) { say(stamp() + " TX \"" + escaped(data) + "\""); });
        QObject::connect(&bridge, &sim::CanBridge::frameSent, &app,
                         [&](const Traffic::CanFrame& frame) { say(stamp() + " CAN TX " + frame.text().toLatin1()); });
        QObject::connect(&bridge, &sim::CanBridge::frameTaken, &app,
                         [&](const Traffic::CanFrame& frame) { say(stamp() + " CAN RX " + frame.text().toLatin1()); });
    }
    QObject::connect(&module, &sim::SimModule::replugged, &app,
                     [&] { say("velkocan-sim: replugged, slave " + module.slavePath().toLocal8Bit()); });
    QObject::connect(&module, &sim::SimModule::unplugged, &app, [] {
        say("velkocan-sim: unplugged");
        QCoreApplication::quit();
    });

    const int rc = app.exec();
    module.stop();
    say("velkocan-sim: stopped");
    return rc;
}
