// velkocan-bench: measures the window against a simulated module that runs as
// a process of its own, so that the CPU time of this process is the tool's.
//
// It prints one `key=value` line per measurement (scripts/bench turns them
// into the table of docs/performance.md):
//   - read-back ("连接设备") and whole-configuration write ("写入配置"): wall
//     time of each run next to the floor that the tool's own pauses, transmit
//     waits and polls imply for the same traffic;
//   - the read-back with "快速通信" checked, next to the default read-back and
//     to the floor of the fast pace (bench/fastfloor.h);
//   - CPU time of this process over wall time during a read-back, during a
//     2-second Common::delay and while idle in the event loop;
//   - the cost of one more log entry in a log of 100 and of 10,000 entries,
//     next to the same for a bare text browser.
#include "bench/fastfloor.h"
#include "bench/quotedlength.h"
#include "bench/report.h"
#include "bench/simprocess.h"
#include "core/protocol/logformat.h"
#include "core/transport/common.h"
#include "core/transport/serialsocket.h"
#include "window/kx47main.h"

#include <QAction>
#include <QApplication>
#include <QComboBox>
#include <QDateTime>
#include <QDir>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QFile>
#include <QLoggingCategory>
#include <QProcess>
#include <QPushButton>
#include <QTemporaryDir>
#include <QTextBrowser>
#include <QTimer>
#include <QWindow>

#include <algorithm>
#include <cstdio>
#include <functional>
#include <sys/resource.h>
#include <vector>

namespace {

// What the tool's own waits add up to for one operation, collected from the
// exchanges it makes: the reply wait writes one "S>>> " line per exchange,
// after the command's transmit wait.
struct ExchangeTally
{
    int exchanges = 0;
    int silent = 0;        // exchanges that ended without a reply
    qint64 transmitMs = 0; // sum of the transmit waits, bytes * 11000 / baud each
    qint64 commandBytes = 0;
    qint64 replyBytes = 0;
    qint64 bytesWritten = 0; // what the port reports written, as a check of the count above
};

ExchangeTally g_tally;
QtMessageHandler g_previousHandler = nullptr;

// Counts the exchanges from the tool's diagnostic lines and drops those
// lines; warnings and worse go on to the default handler.
void tallyMessages(QtMsgType type, const QMessageLogContext& context, const QString& message)
{
    if (type != QtDebugMsg && type != QtInfoMsg) {
        g_previousHandler(type, context, message);
        return;
    }
    if (!message.startsWith(QLatin1String("[SerialSocket]")))
        return;
    const int sent = message.indexOf(QLatin1String("S>>> "));
    if (sent >= 0) {
        const int open = message.indexOf(QLatin1Char('"'), sent);
        const int bytes = open >= 0 ? quotedLength(message, open) : 0;
        const int baud = std::max(1, int(SerialSocket::getInstance()->baudRate(QSerialPort::AllDirections)));
        ++g_tally.exchanges;
        g_tally.commandBytes += bytes;
        g_tally.transmitMs += qint64(bytes) * 11000 / baud;
    } else if (message.contains(QLatin1String("R<<< No Respone"))) {
        ++g_tally.silent;
    } else {
        const int received = message.indexOf(QLatin1String("R<<< "));
        const int open = received >= 0 ? message.indexOf(QLatin1Char('"'), received) : -1;
        if (open >= 0)
            g_tally.replyBytes += quotedLength(message, open);
    }
}

qint64 cpuMicros()
{
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    return qint64(usage.ru_utime.tv_sec + usage.ru_stime.tv_sec) * 1000000 + usage.ru_utime.tv_usec +
           usage.ru_stime.tv_usec;
}

// Closes a modal box that an operation left open (a module that did not
// answer), so that a failed run ends instead of waiting for a click.
class BoxCloser : public QObject
{
public:
    explicit BoxCloser(QObject* parent) : QObject(parent)
    {
        m_timer.setInterval(500);
        connect(&m_timer, &QTimer::timeout, this, [this] {
            if (QWidget* const box = QApplication::activeModalWidget()) {
                ++m_closed;
                box->close();
            }
        });
    }
    void arm() { m_timer.start(); }
    void disarm() { m_timer.stop(); }
    int closed() const { return m_closed; }

private:
    QTimer m_timer;
    int m_closed = 0;
};

// One timed operation: wall, CPU, polls and the tally of its exchanges.
struct Run
{
    double wallMs = 0;
    double cpuMs = 0;
    qint64 polls = 0;
    ExchangeTally tally;
};

Run timeClick(QPushButton* button, BoxCloser* closer)
{
    SerialSocket* const port = SerialSocket::getInstance();
    g_tally = ExchangeTally();
    const qint64 polls = port->totalPollCount();
    closer->arm();
    const qint64 cpu = cpuMicros();
    QElapsedTimer wall;
    wall.start();
    button->click(); // returns when the operation is done
    Run run;
    run.wallMs = wall.nsecsElapsed() / 1e6;
    run.cpuMs = (cpuMicros() - cpu) / 1e3;
    closer->disarm();
    run.polls = port->totalPollCount() - polls;
    run.tally = g_tally;
    return run;
}

int lineBaud()
{
    return std::max(1, int(SerialSocket::getInstance()->baudRate(QSerialPort::AllDirections)));
}

int pollIntervalMs()
{
    return std::max(100, 550000 / lineBaud());
}

// Reports the runs of one operation; `fixedMs` is the part of its floor that
// does not depend on the exchanges (pauses between steps), `unawaitedBytes`
// what it writes outside the exchanges ("+++" of the read-back).
void reportRuns(const char* name, const std::vector<Run>& runs, double fixedMs, qint64 unawaitedBytes)
{
    bool counted = true;
    std::vector<double> walls, floors, ratios, exchanges, polls, silent;
    double cpu = 0, wall = 0;
    for (const Run& r : runs) {
        const double floor = fixedMs + 100.0 * r.tally.exchanges + r.tally.transmitMs + r.polls * pollIntervalMs();
        walls.push_back(r.wallMs);
        floors.push_back(floor);
        ratios.push_back(r.wallMs / floor);
        exchanges.push_back(r.tally.exchanges);
        polls.push_back(r.polls);
        silent.push_back(r.tally.silent);
        cpu += r.cpuMs;
        wall += r.wallMs;
        counted = counted && r.tally.commandBytes + unawaitedBytes == r.tally.bytesWritten;
        std::printf("%s_run wall_ms=%.1f floor_ms=%.0f exchanges=%d polls=%lld transmit_ms=%lld command_bytes=%lld "
                    "bytes_written=%lld silent=%d cpu_ms=%.1f\n",
                    name, r.wallMs, floor, r.tally.exchanges, static_cast<long long>(r.polls),
                    static_cast<long long>(r.tally.transmitMs), static_cast<long long>(r.tally.commandBytes),
                    static_cast<long long>(r.tally.bytesWritten), r.tally.silent, r.cpuMs);
    }
    const QByteArray prefix(name);
    put(prefix + "_runs", runs.size(), 0);
    put(prefix + "_wall_ms", median(walls));
    put(prefix + "_floor_ms", median(floors), 0);
    put(prefix + "_ratio", median(ratios), 3);
    put(prefix + "_exchanges", median(exchanges), 0);
    put(prefix + "_polls", median(polls), 0);
    put(prefix + "_silent_max", *std::max_element(silent.begin(), silent.end()), 0);
    put(prefix + "_cpu_pct", wall > 0 ? 100.0 * cpu / wall : 0, 2);
    putText(prefix + "_bytes_check", counted ? QStringLiteral("ok") : QStringLiteral("mismatch"));
}

// Reports the runs of an operation at the fast pace: wall time next to the
// fast pace's floor (bench/fastfloor.h) and, as `NAME_vs_default`, the
// median wall time over the median of `defaults`, the same operation at the
// default pace in the same run.
void reportFastRuns(const char* name, const std::vector<Run>& runs, const std::vector<Run>& defaults,
                    qint64 unawaitedBytes)
{
    bool counted = true;
    std::vector<double> walls, floors, ratios, silent, defaultWalls;
    FastFloorParts parts;
    for (const Run& r : runs) {
        const FastFloor f = fastFloor(r.tally.exchanges, r.tally.commandBytes, r.tally.replyBytes, lineBaud());
        walls.push_back(r.wallMs);
        floors.push_back(f.totalMs());
        ratios.push_back(r.wallMs / f.totalMs());
        parts.add(f, r.tally.exchanges, r.tally.commandBytes, r.tally.replyBytes);
        silent.push_back(r.tally.silent);
        counted = counted && r.tally.commandBytes + unawaitedBytes == r.tally.bytesWritten;
        std::printf("%s_run wall_ms=%.1f floor_ms=%.1f pace_ms=%.1f module_ms=%.0f exchanges=%d command_bytes=%lld "
                    "reply_bytes=%lld bytes_written=%lld silent=%d cpu_ms=%.1f\n",
                    name, r.wallMs, f.totalMs(), f.paceMs(), f.moduleMs, r.tally.exchanges,
                    static_cast<long long>(r.tally.commandBytes), static_cast<long long>(r.tally.replyBytes),
                    static_cast<long long>(r.tally.bytesWritten), r.tally.silent, r.cpuMs);
    }
    for (const Run& r : defaults)
        defaultWalls.push_back(r.wallMs);
    const QByteArray prefix(name);
    put(prefix + "_runs", runs.size(), 0);
    put(prefix + "_wall_ms", median(walls));
    put(prefix + "_floor_ms", median(floors), 0);
    put(prefix + "_ratio", median(ratios), 3);
    parts.put(prefix);
    put(prefix + "_silent_max", *std::max_element(silent.begin(), silent.end()), 0);
    put(prefix + "_vs_default", median(walls) / median(defaultWalls), 3);
    putText(prefix + "_bytes_check", counted ? QStringLiteral("ok") : QStringLiteral("mismatch"));
}

// CPU share of `wait` over its wall time.
template <typename Wait> void reportCpu(const char* key, Wait wait)
{
    const qint64 cpu = cpuMicros();
    QElapsedTimer wall;
    wall.start();
    wait();
    const double wallUs = wall.nsecsElapsed() / 1e3;
    put(key, 100.0 * (cpuMicros() - cpu) / wallUs, 2);
}

// A log view: how to empty it and how to add one entry (data, flag).
struct LogTarget
{
    QByteArray name;
    std::function<void()> clear;
    std::function<void(const QByteArray&, int)> add;
};

// Fills the log with `entries` entries of ordinary traffic (a command, its
// reply, a message, in turn) and 20 replies more, then times `calls` further
// replies: the call itself and the processing of the events it leaves
// (layout, repaint).
void reportLog(const LogTarget& log, int entries, int calls)
{
    log.clear();
    for (int i = 0; i < entries; ++i) {
        switch (i % 3) {
        case 0:
            log.add(QByteArrayLiteral("AT+CAN_BAUD?\r\n"), LogFormat::Sent);
            break;
        case 1:
            log.add(QByteArrayLiteral("\r\n+CAN_BAUD:250,0,NDTF\r\n\r\n+OK\r\n\r\n"), LogFormat::Received);
            break;
        default:
            log.add(QByteArrayLiteral("connection is successful"), LogFormat::Message);
            break;
        }
        if (i % 500 == 0)
            QCoreApplication::processEvents();
    }
    Common::delay(500); // lets a deferred layout and the repaint finish

    // A few unmeasured entries first, so that the first timed ones do not pay
    // for caches that the fill did not warm (glyphs, layout of the view's end).
    const QByteArray reply = QByteArrayLiteral("\r\n+OK\r\n\r\n");
    for (int i = 0; i < 20; ++i) {
        log.add(reply, LogFormat::Received);
        QCoreApplication::processEvents();
    }
    qint64 callNs = 0, eventsNs = 0;
    QElapsedTimer clock;
    for (int i = 0; i < calls; ++i) {
        clock.start();
        log.add(reply, LogFormat::Received);
        callNs += clock.nsecsElapsed();
        clock.start();
        QCoreApplication::processEvents();
        eventsNs += clock.nsecsElapsed();
    }
    const QByteArray prefix = log.name + "_" + QByteArray::number(entries);
    put(prefix + "_call_us", callNs / 1e3 / calls, 1);
    put(prefix + "_events_us", eventsNs / 1e3 / calls, 1);
}

int fail(const char* message)
{
    std::fprintf(stderr, "velkocan-bench: %s\n", message);
    return 1;
}

} // namespace

int main(int argc, char** argv)
{
    // A private runtime folder: the simulated module publishes its port there,
    // apart from modules that other programs may be running.
    QTemporaryDir runtime(QDir::tempPath() + QStringLiteral("/velkocan-bench-XXXXXX"));
    if (!runtime.isValid())
        return fail("cannot make a runtime folder");
    qputenv("XDG_RUNTIME_DIR", runtime.path().toLocal8Bit());

    QApplication app(argc, argv);
    int runs = 5;
    int logCalls = 200;
    QList<int> logSizes = {100, 10000};
    const QStringList args = QCoreApplication::arguments();
    for (int i = 1; i + 1 < args.size(); ++i) {
        if (args.at(i) == QLatin1String("--runs")) {
            runs = std::max(0, args.at(i + 1).toInt());
        } else if (args.at(i) == QLatin1String("--log-calls")) {
            logCalls = std::max(1, args.at(i + 1).toInt());
        } else if (args.at(i) == QLatin1String("--log-sizes")) {
            logSizes.clear();
            for (const QString& size : args.at(i + 1).split(QLatin1Char(',')))
                logSizes.append(std::max(0, size.toInt()));
        }
    }
    // The window finds its catalogues relative to the working directory.
    QDir::setCurrent(QStringLiteral(VELKO_BUILD_DIR));

    // The module, as a process of its own, its output in a file.
    const QString simOutput = runtime.filePath(QStringLiteral("sim.out"));
    QProcess sim;
    QString error;
    const QString portName = startSimProcess(
        sim, simOutput, [](int ms) { Common::delay(ms); }, &error);
    if (portName.isEmpty())
        return fail(qPrintable(error));
    putText("sim_port", portName);

    // The exchanges are counted from the transport's diagnostics, which are
    // off by default.
    QLoggingCategory::setFilterRules(QStringLiteral("velkocan.transport.debug=true"));
    g_previousHandler = qInstallMessageHandler(tallyMessages);

    KX47main window;
    window.show();
    QElapsedTimer started;
    started.start();
    while (!(window.windowHandle() && window.windowHandle()->isExposed()) && started.elapsed() < 5000)
        Common::delay(20);
    Common::delay(300);
    putText("platform", QGuiApplication::platformName());

    // Opens the module's port from the panel, as a user does.
    window.slot_portListClicked();
    auto* const ports = window.findChild<QComboBox*>(QStringLiteral("my_serial_number_box"));
    auto* const openButton = window.findChild<QPushButton*>(QStringLiteral("my_serial_open_btn"));
    auto* const connectButton = window.findChild<QPushButton*>(QStringLiteral("device_connet"));
    auto* const writeButton = window.findChild<QPushButton*>(QStringLiteral("all_set"));
    if (!ports || !openButton || !connectButton || !writeButton)
        return fail("a widget of the form is missing");
    const int item = ports->findText(portName);
    if (item < 0)
        return fail("the module's port is not in the port list");
    ports->setCurrentIndex(item);
    openButton->click();
    if (!SerialSocket::getInstance()->isOpen())
        return fail("the port did not open");
    Common::delay(300);

    auto* const closer = new BoxCloser(&app);
    QObject::connect(SerialSocket::getInstance(), &QIODevice::bytesWritten, &app,
                     [](qint64 bytes) { g_tally.bytesWritten += bytes; });

    // 1. Read-back: 150 ms after "+++", then per exchange 100 ms, the transmit wait and the polls.
    std::vector<Run> readBacks;
    for (int i = 0; i < runs; ++i)
        readBacks.push_back(timeClick(connectButton, closer));
    if (runs > 0)
        reportRuns("readback", readBacks, 150, 3);

    // 2. Whole-configuration write: four 300 ms pauses between its steps and
    // two 100 ms pauses in the list write, then per exchange as above.
    Common::delay(300);
    std::vector<Run> writes;
    for (int i = 0; i < runs; ++i)
        writes.push_back(timeClick(writeButton, closer));
    if (runs > 0)
        reportRuns("allset", writes, 4 * 300 + 2 * 100, 0);

    // 11. The read-back at the fast pace ("快速通信" checked), against the
    // read-backs of 1 and the floor of the fast pace.
    auto* const fastExchange = window.findChild<QAction*>(QStringLiteral("action_fast_exchange"));
    if (!fastExchange)
        return fail("the action of the fast pace is missing");
    Common::delay(300);
    fastExchange->setChecked(true);
    std::vector<Run> fastReadBacks;
    for (int i = 0; i < runs; ++i)
        fastReadBacks.push_back(timeClick(connectButton, closer));
    fastExchange->setChecked(false);
    if (runs > 0)
        reportFastRuns("readback_fast", fastReadBacks, readBacks, 3);
    put("boxes_closed", closer->closed(), 0);

    // 3. CPU while waiting and while idle, the window shown and the port open.
    Common::delay(300);
    reportCpu("cpu_delay_pct", [] { Common::delay(2000); });
    reportCpu("cpu_idle_pct", [] {
        QEventLoop idle;
        QTimer::singleShot(3000, &idle, &QEventLoop::quit);
        idle.exec();
    });

    // 5. One more log entry in a short and in a long log.
    // The tool's log view, and for comparison a bare text browser of the same
    // size that takes each entry as two plain append() calls: how much of the
    // cost is Qt's text document.
    const LogTarget toolLog{"log", [&window] { window.on_clean_log_btn_clicked(); },
                            [&window](const QByteArray& data, int flag) { window.show_log(data, flag); }};
    for (const int size : logSizes)
        reportLog(toolLog, size, logCalls);
    QTextBrowser reference;
    if (auto* const view = window.findChild<QTextBrowser*>(QStringLiteral("logBrower")))
        reference.resize(view->size());
    reference.show();
    Common::delay(300);
    const LogTarget referenceLog{"reference", [&reference] { reference.clear(); },
                                 [&reference](const QByteArray& data, int flag) {
                                     reference.append(LogFormat::timeStamp(QDateTime::currentDateTime()));
                                     reference.append(LogFormat::entryText(data, flag));
                                 }};
    for (const int size : logSizes)
        reportLog(referenceLog, size, logCalls);
    reference.hide();

    window.on_my_serial_open_btn_clicked(); // closes the port
    sim.terminate();
    if (!sim.waitForFinished(3000)) {
        sim.kill();
        sim.waitForFinished(1000);
    }
    qInstallMessageHandler(g_previousHandler);
    return 0;
}
