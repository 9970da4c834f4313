// velkocan-cli-bench: measures velkocan-cli, each run a process of its own,
// against a simulated module that runs as a process of its own too.
//
// It prints one `key=value` line per measurement (scripts/bench turns them
// into the table of docs/performance.md):
//   - `read PORT` and `write PORT FILE`: the time from the first command to
//     the last reply, from the command line's own time-stamped diagnostics,
//     next to the floor that its pauses, transmit waits and polls imply for
//     the same traffic; and the wall time of the whole process, fork to exit;
//   - the same with --fast, next to the default runs and to the floor of the
//     fast pace (bench/fastfloor.h);
//   - the cost of a process that only starts and exits (`--version`);
//   - the peak resident memory of each run (ru_maxrss from wait4);
//   - `station ... --restart --fast` against simulated modules that are
//     replugged after each restart (velkocan-sim --replug): one port, then
//     four ports with a module each, each run a number of modules long; the
//     time per module, the modules per minute and the station's peak memory.
//
// The runs of read and write get VELKO_DEBUG=1, so that the command line
// shows the transport's diagnostics, a message pattern that stamps each line
// with the monotonic clock (the clock of this process's own fork and wait
// times), and the opt-in poll count of each exchange ("velkocan.polls"). The
// station runs as on a production line, without diagnostics; what it did
// comes from its report.
#include "bench/fastfloor.h"
#include "bench/quotedlength.h"
#include "bench/report.h"
#include "bench/simprocess.h"
#include "bench/trafficfloor.h"
#include "core/station/modulerecord.h"

#include <QCoreApplication>
#include <QDateTime>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QHash>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QRegularExpression>
#include <QStringList>
#include <QTcpServer>
#include <QTemporaryDir>
#include <QThread>

#include <algorithm>
#include <cerrno>
#include <csignal>
#include <cstdio>
#include <ctime>
#include <fcntl.h>
#include <functional>
#include <memory>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>
#include <vector>

extern char** environ;

namespace {

// The command line's default serial line, which the runs use.
constexpr int kBaud = 115200;
constexpr int kPollIntervalMs = std::max(100, 550000 / kBaud);

double monotonicMs()
{
    timespec ts{};
    clock_gettime(CLOCK_MONOTONIC, &ts);
    return ts.tv_sec * 1e3 + ts.tv_nsec / 1e6;
}

int fail(const QString& message)
{
    std::fprintf(stderr, "velkocan-cli-bench: %s\n", qPrintable(message));
    return 1;
}

// One finished process.
struct Process
{
    int status = -1; // exit status, -1 when it did not exit normally
    bool timedOut = false;
    double forkMs = 0; // monotonic clock at the fork
    double wallMs = 0; // fork to reaped
    long maxrssKb = 0;
    double cpuMs = 0;
};

// Runs `program` with `arguments`, the environment of this process plus
// `extra`, standard input from /dev/null, standard output and error into the
// files given; waits for it. With `timeoutMs`, a process still running then
// gets SIGTERM (and SIGKILL 5 s later); its wait then looks every 2 ms
// instead of blocking.
Process runProcess(const QString& program, const QStringList& arguments, const QList<QByteArray>& extra,
                   const QString& outPath, const QString& errPath, int timeoutMs = 0)
{
    // Everything the child needs is built before the fork.
    QList<QByteArray> args{QFile::encodeName(program)};
    for (const QString& a : arguments)
        args.append(a.toLocal8Bit());
    std::vector<char*> argv;
    for (QByteArray& a : args)
        argv.push_back(a.data());
    argv.push_back(nullptr);

    QList<QByteArray> env = extra;
    for (char** e = environ; *e; ++e) {
        const QByteArray entry(*e);
        const QByteArray name = entry.left(entry.indexOf('=') + 1);
        const bool replaced =
            std::any_of(extra.begin(), extra.end(), [&name](const QByteArray& x) { return x.startsWith(name); });
        if (!replaced)
            env.append(entry);
    }
    std::vector<char*> envp;
    for (QByteArray& e : env)
        envp.push_back(e.data());
    envp.push_back(nullptr);
    const QByteArray out = QFile::encodeName(outPath);
    const QByteArray err = QFile::encodeName(errPath);

    Process p;
    p.forkMs = monotonicMs();
    const pid_t pid = fork();
    if (pid == 0) {
        const int in = open("/dev/null", O_RDONLY);
        const int o = open(out.constData(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
        const int e = open(err.constData(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
        if (in < 0 || o < 0 || e < 0)
            _exit(127);
        dup2(in, STDIN_FILENO);
        dup2(o, STDOUT_FILENO);
        dup2(e, STDERR_FILENO);
        execve(argv[0], argv.data(), envp.data());
        _exit(127);
    }
    if (pid < 0)
        return p;
    int status = 0;
    rusage usage{};
    if (timeoutMs > 0) {
        bool terminated = false;
        for (;;) {
            const pid_t reaped = wait4(pid, &status, WNOHANG, &usage);
            if (reaped == pid || (reaped < 0 && errno != EINTR))
                break;
            const double elapsed = monotonicMs() - p.forkMs;
            if (!terminated && elapsed > timeoutMs) {
                p.timedOut = terminated = true;
                kill(pid, SIGTERM);
            } else if (elapsed > timeoutMs + 5000.0) {
                kill(pid, SIGKILL);
            }
            usleep(2000);
        }
    } else {
        while (wait4(pid, &status, 0, &usage) < 0 && errno == EINTR) {
        }
    }
    p.wallMs = monotonicMs() - p.forkMs;
    p.status = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    p.maxrssKb = usage.ru_maxrss;
    p.cpuMs =
        (usage.ru_utime.tv_sec + usage.ru_stime.tv_sec) * 1e3 + (usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) / 1e3;
    return p;
}

// What one run's diagnostics say: each line "SECONDS.MILLISECONDS message",
// the time on the monotonic clock in whole milliseconds, modulo 2^32 ms.
struct Traffic
{
    bool started = false;
    quint32 firstCommandMs = 0; // "+++" or the first exchange, as it goes out
    quint32 lastReplyMs = 0;    // the end of the last exchange's wait
    int exchanges = 0;
    int pollLines = 0; // exchanges that reported their polls
    qint64 polls = 0;
    int silent = 0;
    qint64 transmitMs = 0; // bytes * 11000 / baud per exchange
    qint64 commandBytes = 0;
    qint64 replyBytes = 0;
    qint64 unawaitedBytes = 0; // written without a wait ("+++")
};

Traffic readTraffic(const QString& errPath)
{
    static const QRegularExpression line(QStringLiteral("^\\s*(\\d+)\\.(\\d{3}) \\[SerialSocket\\] (.*)$"));
    Traffic t;
    QFile file(errPath);
    if (!file.open(QIODevice::ReadOnly))
        return t;
    while (!file.atEnd()) {
        const QString text = QString::fromUtf8(file.readLine()).trimmed();
        const QRegularExpressionMatch m = line.match(text);
        if (!m.hasMatch())
            continue;
        const quint32 ms = quint32(m.captured(1).toULongLong() * 1000 + m.captured(2).toUInt());
        const QString message = m.captured(3);
        const bool sent = message.startsWith(QLatin1String("S>>> "));
        if (sent || message.startsWith(QLatin1Char('"'))) {
            const int bytes = quotedLength(message, message.indexOf(QLatin1Char('"')));
            if (!t.started) {
                t.started = true;
                t.firstCommandMs = ms;
            }
            if (sent) {
                ++t.exchanges;
                t.commandBytes += bytes;
                t.transmitMs += qint64(bytes) * 11000 / kBaud;
            } else {
                t.unawaitedBytes += bytes;
            }
        } else if (message.startsWith(QLatin1String("polls "))) {
            ++t.pollLines;
            t.polls += message.mid(6).toLongLong();
        } else if (message.startsWith(QLatin1String("R<<< "))) {
            t.lastReplyMs = ms;
            const int open = message.indexOf(QLatin1Char('"'));
            if (message.contains(QLatin1String("No Respone")))
                ++t.silent;
            else if (open >= 0)
                t.replyBytes += quotedLength(message, open);
        }
    }
    return t;
}

// One timed run of a module command.
struct Run
{
    Process process;
    Traffic traffic;
    double floorMs = 0;
    FastFloor fast;       // the parts of the floor of a run at the fast pace
    double insideMs = 0;  // first command to the last reply
    double startupMs = 0; // fork to the first command
};

// The times, memory and silences of a command's runs, gathered for their
// medians.
struct RunSeries
{
    std::vector<double> inside, floors, ratios, walls, startups, exits, rss;
    int silent = 0;

    // Adds one run and returns the time from its last reply to the end of
    // the process.
    double add(const Run& r)
    {
        const double exit = r.process.wallMs - r.startupMs - r.insideMs;
        inside.push_back(r.insideMs);
        floors.push_back(r.floorMs);
        ratios.push_back(r.insideMs / r.floorMs);
        walls.push_back(r.process.wallMs);
        startups.push_back(r.startupMs);
        exits.push_back(exit);
        rss.push_back(r.process.maxrssKb);
        silent = std::max(silent, r.traffic.silent);
        return exit;
    }

    void putTimes(const QByteArray& prefix) const
    {
        put(prefix + "_runs", inside.size(), 0);
        put(prefix + "_inside_ms", median(inside), 0);
        put(prefix + "_floor_ms", median(floors), 0);
        put(prefix + "_ratio", median(ratios), 3);
    }

    void putProcess(const QByteArray& prefix) const
    {
        put(prefix + "_wall_ms", median(walls));
        put(prefix + "_startup_ms", median(startups));
        put(prefix + "_exit_ms", median(exits));
        put(prefix + "_maxrss_kb", median(rss), 0);
        put(prefix + "_silent_max", silent, 0);
    }
};

// Reports the runs of one command: medians, and one line per run.
void reportRuns(const char* name, const std::vector<Run>& runs)
{
    RunSeries series;
    std::vector<double> wallRatios, exchanges, polls;
    bool pollsCounted = true;
    for (const Run& r : runs) {
        const Traffic& t = r.traffic;
        const double exit = series.add(r);
        wallRatios.push_back(r.process.wallMs / r.floorMs);
        exchanges.push_back(t.exchanges);
        polls.push_back(t.polls);
        pollsCounted = pollsCounted && t.pollLines == t.exchanges;
        std::printf("%s_run inside_ms=%.0f floor_ms=%.0f exchanges=%d polls=%lld transmit_ms=%lld "
                    "command_bytes=%lld unawaited_bytes=%lld silent=%d wall_ms=%.1f startup_ms=%.1f exit_ms=%.1f "
                    "maxrss_kb=%ld cpu_ms=%.1f\n",
                    name, r.insideMs, r.floorMs, t.exchanges, static_cast<long long>(t.polls),
                    static_cast<long long>(t.transmitMs), static_cast<long long>(t.commandBytes),
                    static_cast<long long>(t.unawaitedBytes), t.silent, r.process.wallMs, r.startupMs, exit,
                    r.process.maxrssKb, r.process.cpuMs);
    }
    const QByteArray prefix(name);
    series.putTimes(prefix);
    put(prefix + "_exchanges", median(exchanges), 0);
    put(prefix + "_polls", median(polls), 0);
    put(prefix + "_transmit_ms", runs.front().traffic.transmitMs, 0);
    put(prefix + "_wall_ratio", median(wallRatios), 3);
    series.putProcess(prefix);
    putText(prefix + "_polls_check", pollsCounted ? QStringLiteral("ok") : QStringLiteral("mismatch"));
}

// Reports the runs of one command at the fast pace, with the parts of their
// floor, and each median over the median of `defaults`, the same command at
// the default pace in the same run: `NAME_vs_default_inside` (first command
// to last reply) and `NAME_vs_default_wall` (the whole process).
void reportFastRuns(const char* name, const std::vector<Run>& runs, const std::vector<Run>& defaults)
{
    RunSeries series;
    FastFloorParts parts;
    for (const Run& r : runs) {
        const Traffic& t = r.traffic;
        const double exit = series.add(r);
        parts.add(r.fast, t.exchanges, t.commandBytes, t.replyBytes);
        std::printf("%s_run inside_ms=%.0f floor_ms=%.1f pace_ms=%.1f module_ms=%.0f exchanges=%d "
                    "command_bytes=%lld reply_bytes=%lld unawaited_bytes=%lld silent=%d wall_ms=%.1f "
                    "startup_ms=%.1f exit_ms=%.1f maxrss_kb=%ld cpu_ms=%.1f\n",
                    name, r.insideMs, r.floorMs, r.fast.paceMs(), r.fast.moduleMs, t.exchanges,
                    static_cast<long long>(t.commandBytes), static_cast<long long>(t.replyBytes),
                    static_cast<long long>(t.unawaitedBytes), t.silent, r.process.wallMs, r.startupMs, exit,
                    r.process.maxrssKb, r.process.cpuMs);
    }
    RunSeries base;
    for (const Run& r : defaults)
        base.add(r);
    const QByteArray prefix(name);
    series.putTimes(prefix);
    parts.put(prefix);
    series.putProcess(prefix);
    put(prefix + "_vs_default_inside", median(series.inside) / median(base.inside), 3);
    put(prefix + "_vs_default_wall", median(series.walls) / median(base.walls), 3);
}

// One run of the station, and what its report says.
struct StationRun
{
    Process process;
    int ports = 0;
    int modules = 0; // records in the report
    int ok = 0;
    std::vector<double> durations; // durationMs of each module: its write, verify and restart
    std::vector<double> periods;   // from one module's end to the next one's on the same port
};

// Runs `station PROFILE --port P... --values CSV --report REPORT --restart
// --fast --quiet` with a CSV of `modules` rows (a CAN ID each) in `folder`,
// files named after `name`; reads its report.
StationRun runStation(const QString& cli, const QString& profile, const QStringList& ports, int modules,
                      const QDir& folder, const QString& name, const QStringList& extra = {})
{
    StationRun s;
    s.ports = ports.size();
    const QString values = folder.filePath(name + QStringLiteral(".csv"));
    const QString report = folder.filePath(name + QStringLiteral(".jsonl"));
    QFile::remove(report); // rows a report holds as done would be skipped
    QFile csv(values);
    if (!csv.open(QIODevice::WriteOnly))
        return s;
    csv.write("can.id\n");
    for (int i = 0; i < modules; ++i)
        csv.write(QByteArray::number(0x100 + i, 16).toUpper() + '\n');
    csv.close();

    QStringList arguments{QStringLiteral("station"), profile};
    for (const QString& port : ports)
        arguments << QStringLiteral("--port") << port;
    arguments << QStringLiteral("--values") << values << QStringLiteral("--report") << report
              << QStringLiteral("--restart") << QStringLiteral("--fast") << QStringLiteral("--quiet") << extra;
    // Far more than a module takes: a station that stops taking modules ends.
    const int timeoutMs = 10000 + modules * 5000;
    s.process = runProcess(cli, arguments, {"VELKO_DEBUG=0"}, folder.filePath(name + QStringLiteral(".out")),
                           folder.filePath(name + QStringLiteral(".err")), timeoutMs);

    QFile records(report);
    if (!records.open(QIODevice::ReadOnly))
        return s;
    QHash<QString, std::vector<qint64>> ends;
    while (!records.atEnd()) {
        const QJsonObject object = QJsonDocument::fromJson(records.readLine()).object();
        if (object.isEmpty())
            continue;
        const ModuleRecord record = ModuleRecord::fromJson(object);
        ++s.modules;
        if (record.ok())
            ++s.ok;
        s.durations.push_back(double(record.durationMs));
        // A record's time is when its module ended.
        const QDateTime ended = QDateTime::fromString(record.time, Qt::ISODateWithMs);
        if (ended.isValid())
            ends[record.port].push_back(ended.toMSecsSinceEpoch());
    }
    for (std::vector<qint64>& times : ends) {
        std::sort(times.begin(), times.end());
        for (size_t i = 1; i < times.size(); ++i)
            s.periods.push_back(double(times[i] - times[i - 1]));
    }
    return s;
}

void reportStation(const char* name, const StationRun& s)
{
    // Modules done right: one that failed gives its row back to the next one.
    const double perModule = s.ok > 0 ? s.process.wallMs / s.ok : 0;
    const double perMinute = s.process.wallMs > 0 ? s.ok * 60000.0 / s.process.wallMs : 0;
    QStringList durations;
    for (const double d : s.durations)
        durations.append(QString::number(d, 'f', 0));
    std::printf("%s_run ports=%d modules=%d ok=%d status=%d timed_out=%d wall_ms=%.1f maxrss_kb=%ld cpu_ms=%.1f "
                "duration_ms=%s\n",
                name, s.ports, s.modules, s.ok, s.process.status, s.process.timedOut ? 1 : 0, s.process.wallMs,
                s.process.maxrssKb, s.process.cpuMs, qPrintable(durations.join(QLatin1Char(','))));
    const QByteArray prefix(name);
    put(prefix + "_ports", s.ports, 0);
    put(prefix + "_modules", s.modules, 0);
    put(prefix + "_ok", s.ok, 0);
    put(prefix + "_status", s.process.status, 0);
    put(prefix + "_timed_out", s.process.timedOut ? 1 : 0, 0);
    put(prefix + "_wall_ms", s.process.wallMs, 0);
    put(prefix + "_per_module_ms", perModule, 0);
    put(prefix + "_duration_ms", median(s.durations), 0);
    put(prefix + "_period_ms", median(s.periods), 0);
    put(prefix + "_per_minute", perMinute, 1);
    put(prefix + "_maxrss_kb", s.process.maxrssKb, 0);
    put(prefix + "_cpu_ms", s.process.cpuMs, 0);
}

// ---- Big orders: a station's start and memory on 100,000 rows -------------

// A profile whose CAN ID is extended, so that 100,000 rows have IDs of their own.
const char kOrderProfile[] = "{\n"
                             "    \"format\": \"velkocan-config\",\n"
                             "    \"version\": 1,\n"
                             "    \"serial\": {\"baud\": 115200, \"stopBits\": 1, \"parity\": \"NONE\"},\n"
                             "    \"can\": {\"rateKbit\": 250, \"frameType\": \"EDTF\", \"id\": \"7FF\"},\n"
                             "    \"mode\": \"TRANS\",\n"
                             "    \"transparent\": {\"frameId\": false, \"frameInfo\": true},\n"
                             "    \"custom\": {\"head\": \"A5\", \"tail\": \"5A\"},\n"
                             "    \"identifier\": {\"length\": 2, \"position\": 5},\n"
                             "    \"direction\": \"BOTHWAY\",\n"
                             "    \"filter\": {\"mode\": \"USER\", \"list\": [{\"type\": \"NDTF\", \"id\": \"7FF\"}]}\n"
                             "}\n";

// The values of row `i` (from 0): a CAN ID and a filter list of two entries each.
QByteArray orderId(int i)
{
    return QByteArray::number(0x10000 + i, 16).toUpper();
}
QByteArray orderFilters(int i)
{
    return "NDTF:" + QByteArray::number(1 + i % 0x7FF, 16).toUpper() + ",EDTF:" + orderId(i);
}

bool writeOrder(const QString& path, int rows)
{
    QFile csv(path);
    if (!csv.open(QIODevice::WriteOnly))
        return false;
    QByteArray text = "can.id,filter.list\n";
    for (int i = 0; i < rows; ++i)
        text += orderId(i) + ",\"" + orderFilters(i) + "\"\n";
    return csv.write(text) == text.size();
}

// A report of an earlier run in which the first `lines` rows were ok.
bool writeReport(const QString& path, int lines)
{
    QFile file(path);
    if (!file.open(QIODevice::WriteOnly))
        return false;
    QByteArray text;
    for (int i = 0; i < lines; ++i) {
        ModuleRecord r;
        r.time = QStringLiteral("2026-12-07T10:15:02.123+01:00");
        r.port = QStringLiteral("/dev/ttyUSB0");
        r.module = i + 1;
        r.row = i + 1;
        r.values = QJsonObject{{QStringLiteral("can.id"), QString::fromLatin1(orderId(i))},
                               {QStringLiteral("filter.list"), QString::fromLatin1(orderFilters(i))}};
        r.verdict = ModuleRecord::Verdict::Ok;
        r.written = QStringList{QStringLiteral("can"), QStringLiteral("filter")};
        r.durationMs = 1234;
        text += r.toLine();
    }
    return file.write(text) == text.size();
}

// One station run that configures one module (--count 1) from `values`:
// its start, fork to the first command to the module (its own
// diagnostics), and its peak memory.
struct OrderRun
{
    Process process;
    double startMs = 0; // 0 when no command went out
};

OrderRun runOrder(const QString& cli, const QString& profile, const QString& port, const QString& values,
                  const QString& report, const QString& out, const QString& err)
{
    OrderRun r;
    const QStringList arguments{QStringLiteral("station"),  profile,
                                QStringLiteral("--port"),   port,
                                QStringLiteral("--values"), values,
                                QStringLiteral("--report"), report,
                                QStringLiteral("--count"),  QStringLiteral("1"),
                                QStringLiteral("--fast")};
    const QList<QByteArray> diagnostics{"VELKO_DEBUG=1", "QT_MESSAGE_PATTERN=%{time boot} %{message}"};
    r.process = runProcess(cli, arguments, diagnostics, out, err, 60000);
    const Traffic t = readTraffic(err);
    if (t.started)
        r.startMs = double(quint32(t.firstCommandMs - quint32(qint64(r.process.forkMs) & 0xFFFFFFFF)));
    return r;
}

void reportOrder(const QByteArray& name, const OrderRun& r)
{
    std::printf("%s_run status=%d timed_out=%d start_ms=%.1f wall_ms=%.1f maxrss_kb=%ld cpu_ms=%.1f\n",
                name.constData(), r.process.status, r.process.timedOut ? 1 : 0, r.startMs, r.process.wallMs,
                r.process.maxrssKb, r.process.cpuMs);
    put(name + "_status", r.process.status, 0);
    put(name + "_start_ms", r.startMs, 0);
    put(name + "_maxrss_kb", r.process.maxrssKb, 0);
}

// A command that reads a big order and writes what it found: its wall time and peak memory.
void reportCommand(const QByteArray& name, const Process& p)
{
    std::printf("%s_run status=%d wall_ms=%.1f maxrss_kb=%ld cpu_ms=%.1f\n", name.constData(), p.status, p.wallMs,
                p.maxrssKb, p.cpuMs);
    put(name + "_status", p.status, 0);
    put(name + "_wall_ms", p.wallMs, 0);
    put(name + "_maxrss_kb", p.maxrssKb, 0);
}

// The station on 10 and on `big` rows, from a values CSV and from an SQLite
// ledger; a resume of `big` rows on a report of `big / 2` lines; `station
// --check` and `ledger export` of `big` rows. Each a process of its own,
// once, against a simulated module of its own.
int measureOrders(const QString& cli, const QTemporaryDir& runtime, int big)
{
    const auto file = [&runtime](const QString& name) { return runtime.filePath(name); };
    const QString profile = file(QStringLiteral("order-profile.json"));
    {
        QFile p(profile);
        if (!p.open(QIODevice::WriteOnly) || p.write(kOrderProfile) != qint64(sizeof kOrderProfile - 1))
            return fail(QStringLiteral("cannot write the order's profile"));
    }
    QProcess sim;
    QString error;
    const QString port = startSimProcess(
        sim, file(QStringLiteral("order-sim.out")), [](int ms) { QThread::msleep(ulong(ms)); }, &error);
    if (port.isEmpty())
        return fail(error);
    put("order_rows", big, 0);
    int failed = 0;
    const QList<QByteArray> plain;
    for (const int rows : {10, big}) {
        const QByteArray size = rows == 10 ? "small" : "big";
        const QString csv = file(QStringLiteral("order-%1.csv").arg(rows));
        const QString ledgerFile = file(QStringLiteral("order-%1.db").arg(rows));
        const QString ledger = QStringLiteral("sqlite:") + ledgerFile;
        if (!writeOrder(csv, rows))
            return fail(QStringLiteral("cannot write %1").arg(csv));
        QFile::remove(ledgerFile);
        const QString out = file(QStringLiteral("order.out"));
        const QString err = file(QStringLiteral("order.err"));
        if (runProcess(cli, {QStringLiteral("ledger"), QStringLiteral("init"), ledger}, plain, out, err).status != 0 ||
            runProcess(cli, {QStringLiteral("ledger"), QStringLiteral("import"), ledger, csv}, plain, out, err)
                    .status != 0)
            return fail(QStringLiteral("cannot make the ledger %1").arg(ledger));

        QThread::msleep(300); // lets the module see the port closed by the last run
        const OrderRun fromCsv =
            runOrder(cli, profile, port, csv, file(QStringLiteral("order-%1-csv.jsonl").arg(rows)), out, err);
        reportOrder("order_csv_" + size, fromCsv);
        QThread::msleep(300);
        const OrderRun fromLedger =
            runOrder(cli, profile, port, ledger, file(QStringLiteral("order-%1-ledger.jsonl").arg(rows)), out, err);
        reportOrder("order_ledger_" + size, fromLedger);
        failed = failed || fromCsv.process.status != 0 || fromLedger.process.status != 0;
        if (rows != big)
            continue;
        const QString report = file(QStringLiteral("order-resume.jsonl"));
        if (!writeReport(report, big / 2))
            return fail(QStringLiteral("cannot write %1").arg(report));
        QThread::msleep(300);
        const OrderRun resume = runOrder(cli, profile, port, csv, report, out, err);
        reportOrder("order_resume", resume);
        put("order_resume_lines", big / 2, 0);
        const Process check = runProcess(
            cli, {QStringLiteral("station"), profile, QStringLiteral("--values"), csv, QStringLiteral("--check")},
            plain, out, err);
        reportCommand("order_check", check);
        const Process exported =
            runProcess(cli, {QStringLiteral("ledger"), QStringLiteral("export"), ledger}, plain, out, err);
        reportCommand("order_export", exported);
        failed = failed || resume.process.status != 0 || check.status != 0 || exported.status != 0;
    }
    stopSimProcess(sim);
    return failed ? fail(QStringLiteral("a run of the big order failed (see order_*_status)")) : 0;
}

// ---- Traffic through the module -------------------------------------------

// The module the traffic runs use: TRANS both ways, all frames through.
const char kTrafficProfile[] = "{\n"
                               "    \"format\": \"velkocan-config\",\n"
                               "    \"version\": 1,\n"
                               "    \"serial\": {\"baud\": 115200, \"stopBits\": 1, \"parity\": \"NONE\"},\n"
                               "    \"can\": {\"rateKbit\": 250, \"frameType\": \"NDTF\", \"id\": \"1A1\"},\n"
                               "    \"mode\": \"TRANS\",\n"
                               "    \"transparent\": {\"frameId\": false, \"frameInfo\": false},\n"
                               "    \"custom\": {\"head\": \"A5\", \"tail\": \"5A\"},\n"
                               "    \"identifier\": {\"length\": 2, \"position\": 0},\n"
                               "    \"direction\": \"BOTHWAY\",\n"
                               "    \"filter\": {\"mode\": \"OFF\", \"list\": []}\n"
                               "}\n";

// `traffic PORT --can BUS --json`, `runs` times, against the floor of each
// run's own traffic; then the station's time per module with and without
// `--can`. The bus is hosted by the simulated module, a process of its own,
// for the whole measurement.
int measureTraffic(const QString& cli, const QTemporaryDir& runtime, int runs)
{
    const auto file = [&runtime](const QString& name) { return runtime.filePath(name); };
    quint16 busPort = 0;
    {
        QTcpServer probe;
        if (!probe.listen(QHostAddress::LocalHost))
            return fail(QStringLiteral("no free TCP port for the CAN bus"));
        busPort = probe.serverPort();
    }
    const QString busUrl = QStringLiteral("tcp://127.0.0.1:%1/can0").arg(busPort);
    const QString bus = QStringLiteral("virtualcan:") + busUrl;
    const QStringList onBus{QStringLiteral("--can"), busUrl};
    const QString profile = file(QStringLiteral("traffic-profile.json"));
    {
        QFile p(profile);
        if (!p.open(QIODevice::WriteOnly) || p.write(kTrafficProfile) != qint64(sizeof kTrafficProfile - 1))
            return fail(QStringLiteral("cannot write the traffic profile"));
    }
    const auto sleep = [](int ms) { QThread::msleep(ulong(ms)); };
    QProcess host;
    QString error;
    const QString port = startSimProcess(host, file(QStringLiteral("traffic-sim.out")), sleep, &error, onBus);
    if (port.isEmpty())
        return fail(error);
    putText("traffic_bus", bus);
    const QList<QByteArray> plain;
    // The module takes the profile once; the checks read it back.
    if (runProcess(cli, {QStringLiteral("write"), port, profile}, plain, file(QStringLiteral("traffic.out")),
                   file(QStringLiteral("traffic.err")), 30000)
            .status != 0) {
        stopSimProcess(host);
        return fail(QStringLiteral("the traffic module did not take its profile"));
    }
    std::vector<double> durations, floors, ratios, walls;
    TrafficFloor parts;
    int failed = 0;
    for (int i = 0; i < runs && !failed; ++i) {
        QThread::msleep(200);
        const QString out = file(QStringLiteral("traffic-%1.out").arg(i));
        const Process p =
            runProcess(cli, {QStringLiteral("traffic"), port, QStringLiteral("--can"), bus, QStringLiteral("--json")},
                       plain, out, file(QStringLiteral("traffic-%1.err").arg(i)), 60000);
        QFile result(out);
        const QJsonObject o =
            result.open(QIODevice::ReadOnly) ? QJsonDocument::fromJson(result.readAll()).object() : QJsonObject();
        const TrafficFloor f = trafficFloor(o, 115200, 250);
        const double duration = o.value(QStringLiteral("durationMs")).toDouble();
        std::printf("traffic_run status=%d wall_ms=%.1f duration_ms=%.0f floor_ms=%.1f maxrss_kb=%ld cpu_ms=%.1f\n",
                    p.status, p.wallMs, duration, f.totalMs(), p.maxrssKb, p.cpuMs);
        if (p.status != 0 || duration <= 0) {
            failed = 1;
            break;
        }
        durations.push_back(duration);
        floors.push_back(f.totalMs());
        ratios.push_back(duration / f.totalMs());
        walls.push_back(p.wallMs);
        parts = f;
    }
    if (!failed) {
        put("traffic_runs", runs, 0);
        put("traffic_duration_ms", median(durations), 0);
        put("traffic_floor_ms", median(floors), 1);
        put("traffic_floor_clear_ms", parts.clearMs, 1);
        put("traffic_floor_gaps_ms", parts.gapsMs, 1);
        put("traffic_floor_serial_ms", parts.serialMs, 1);
        put("traffic_floor_can_ms", parts.canMs, 1);
        put("traffic_vs_floor", median(ratios), 3);
        put("traffic_wall_ms", median(walls), 0);
    }

    // The station's cycle on one module, without the check and with it, in
    // turns: each run a station that configures the module once (a values
    // CSV of one row) and ends; the module's time from its record.
    std::vector<double> without, with;
    const QDir folder(runtime.path());
    for (int i = 0; i < runs && !failed; ++i) {
        for (const bool check : {false, true}) {
            QThread::msleep(300); // lets the module see the port closed by the last run
            const QString name = QStringLiteral("traffic_station_%1_%2").arg(check ? "with" : "without").arg(i);
            const StationRun s = runStation(cli, profile, {port}, 1, folder, name,
                                            check ? QStringList{QStringLiteral("--can"), bus} : QStringList());
            std::printf("traffic_station_run check=%d status=%d ok=%d wall_ms=%.1f duration_ms=%.0f\n", check ? 1 : 0,
                        s.process.status, s.ok, s.process.wallMs, s.durations.empty() ? 0.0 : s.durations.front());
            if (s.ok != 1) {
                failed = 1;
                break;
            }
            (check ? with : without).push_back(s.durations.front());
        }
    }
    if (!failed) {
        put("traffic_station_without_ms", median(without), 0);
        put("traffic_station_with_ms", median(with), 0);
        put("traffic_station_with_vs_without", median(with) / median(without), 2);
    }
    stopSimProcess(host);
    return failed ? fail(QStringLiteral("a traffic run failed (see traffic_run)")) : 0;
}

} // namespace

int main(int argc, char** argv)
{
    // A private runtime folder: the simulated module publishes its port there,
    // apart from modules that other programs may be running.
    QTemporaryDir runtime(QDir::tempPath() + QStringLiteral("/velkocan-cli-bench-XXXXXX"));
    if (!runtime.isValid())
        return fail(QStringLiteral("cannot make a runtime folder"));
    qputenv("XDG_RUNTIME_DIR", runtime.path().toLocal8Bit());

    QCoreApplication app(argc, argv);
    int runs = 5;
    int startRuns = 7;
    int stationModules = 8; // per port
    int replugMs = 50;
    int orderRows = 100000;
    const QStringList args = QCoreApplication::arguments();
    const bool ordersOnly = args.contains(QStringLiteral("--orders-only"));
    const bool trafficOnly = args.contains(QStringLiteral("--traffic-only"));
    for (int i = 1; i + 1 < args.size(); ++i) {
        if (args.at(i) == QLatin1String("--runs"))
            runs = std::max(1, args.at(i + 1).toInt());
        else if (args.at(i) == QLatin1String("--start-runs"))
            startRuns = std::max(1, args.at(i + 1).toInt());
        else if (args.at(i) == QLatin1String("--station-modules"))
            stationModules = std::max(2, args.at(i + 1).toInt());
        else if (args.at(i) == QLatin1String("--replug-ms"))
            replugMs = std::max(0, args.at(i + 1).toInt());
        else if (args.at(i) == QLatin1String("--order-rows"))
            orderRows = std::max(20, args.at(i + 1).toInt());
    }
    const QString cli = QStringLiteral(VELKO_CLI_PROGRAM);
    if (ordersOnly)
        return measureOrders(cli, runtime, orderRows);
    if (trafficOnly)
        return measureTraffic(cli, runtime, runs);
    auto file = [&runtime](const QString& name) { return runtime.filePath(name); };

    // The start-up and exit of a process that does nothing else, after one
    // unmeasured run that leaves the program in the page cache.
    const QList<QByteArray> plain;
    runProcess(cli, {QStringLiteral("--version")}, plain, file("version.out"), file("version.err"));
    std::vector<double> startWalls, startRss;
    for (int i = 0; i < startRuns; ++i) {
        const Process p =
            runProcess(cli, {QStringLiteral("--version")}, plain, file("version.out"), file("version.err"));
        if (p.status != 0)
            return fail(QStringLiteral("velkocan-cli --version failed"));
        startWalls.push_back(p.wallMs);
        startRss.push_back(p.maxrssKb);
        std::printf("cli_version_run wall_ms=%.1f maxrss_kb=%ld cpu_ms=%.1f\n", p.wallMs, p.maxrssKb, p.cpuMs);
    }
    put("cli_version_runs", startRuns, 0);
    put("cli_version_wall_ms", median(startWalls));
    put("cli_version_maxrss_kb", median(startRss), 0);

    // The module, as a process of its own, its output in a file.
    const QString simOutput = file(QStringLiteral("sim.out"));
    QProcess sim;
    QString error;
    const QString portName = startSimProcess(
        sim, simOutput, [](int ms) { QThread::msleep(ulong(ms)); }, &error);
    if (portName.isEmpty())
        return fail(error);
    putText("sim_port", portName);

    const QList<QByteArray> diagnostics{"VELKO_DEBUG=1", "QT_MESSAGE_PATTERN=%{time boot} %{message}",
                                        "QT_LOGGING_RULES=velkocan.polls.debug=true"};
    // One command `runs` times; `floor` sets the floor of each run from its traffic.
    auto measure = [&](const char* name, const QStringList& arguments, const std::function<void(Run*)>& floor,
                       std::vector<Run>* done) {
        for (int i = 0; i < runs; ++i) {
            QThread::msleep(200); // lets the module see the port closed by the last run
            const QString out = file(QStringLiteral("%1-%2.out").arg(QLatin1String(name)).arg(i));
            const QString err = file(QStringLiteral("%1-%2.err").arg(QLatin1String(name)).arg(i));
            Run r;
            r.process = runProcess(cli, arguments, diagnostics, out, err);
            if (r.process.status != 0) {
                QFile errors(err);
                if (errors.open(QIODevice::ReadOnly))
                    std::fprintf(stderr, "%s", errors.readAll().constData());
                return fail(QStringLiteral("%1 ended with status %2").arg(QLatin1String(name)).arg(r.process.status));
            }
            r.traffic = readTraffic(err);
            if (!r.traffic.started || r.traffic.exchanges == 0)
                return fail(QStringLiteral("%1: no traffic in its diagnostics").arg(QLatin1String(name)));
            const quint32 forkMs = quint32(qint64(r.process.forkMs) & 0xffffffff);
            r.insideMs = quint32(r.traffic.lastReplyMs - r.traffic.firstCommandMs);
            r.startupMs = quint32(r.traffic.firstCommandMs - forkMs);
            floor(&r);
            done->push_back(r);
        }
        return 0;
    };
    // The default pace. The read-back: 150 ms after "+++", then per exchange
    // 100 ms, the transmit wait and the polls. The write: the same entry into
    // the configuration state, then the window's whole write with its four
    // 300 ms pauses between the steps and two 100 ms in the list write.
    auto paced = [](double fixedMs) {
        return [fixedMs](Run* r) {
            r->floorMs = fixedMs + 100.0 * r->traffic.exchanges + r->traffic.transmitMs +
                         double(r->traffic.polls) * kPollIntervalMs;
        };
    };
    // The fast pace: the guard after "+++", a quiet gap per exchange, the
    // bytes on the line and the module's end-of-frame gap per exchange.
    const auto fast = [](Run* r) {
        r->fast = fastFloor(r->traffic.exchanges, r->traffic.commandBytes, r->traffic.replyBytes, kBaud);
        r->floorMs = r->fast.totalMs();
    };

    // The module's own configuration, as the first read-back printed it, is what the writes write.
    const QString profile = file(QStringLiteral("cli_read-0.out"));
    const QStringList readArgs{QStringLiteral("read"), portName};
    const QStringList writeArgs{QStringLiteral("write"), portName, profile};
    const QStringList fastOption{QStringLiteral("--fast")};
    std::vector<Run> reads, writes, fastReads, fastWrites;
    int failed = measure("cli_read", readArgs, paced(150), &reads);
    if (!failed)
        failed = measure("cli_write", writeArgs, paced(150 + 4 * 300 + 2 * 100), &writes);
    if (!failed)
        failed = measure("cli_read_fast", readArgs + fastOption, fast, &fastReads);
    if (!failed)
        failed = measure("cli_write_fast", writeArgs + fastOption, fast, &fastWrites);
    if (!failed) {
        reportRuns("cli_read", reads);
        reportRuns("cli_write", writes);
        reportFastRuns("cli_read_fast", fastReads, reads);
        reportFastRuns("cli_write_fast", fastWrites, writes);
    }
    stopSimProcess(sim);
    if (failed)
        return failed;

    // The station: four modules that are replugged after each restart, one
    // port first, then all four; `stationModules` modules per port.
    std::vector<std::unique_ptr<QProcess>> modules;
    const QStringList ports = startReplugged(
        4, replugMs, [&](int i) { return file(QStringLiteral("station-sim-%1.out").arg(i)); }, &modules, &error);
    if (ports.isEmpty())
        return fail(error);
    put("station_replug_ms", replugMs, 0);
    const QDir folder(runtime.path());
    QThread::msleep(500);
    const StationRun one =
        runStation(cli, profile, ports.mid(0, 1), stationModules, folder, QStringLiteral("station1"));
    QThread::msleep(1000); // the last module is replugged
    const StationRun four = runStation(cli, profile, ports, 4 * stationModules, folder, QStringLiteral("station4"));
    for (auto& m : modules)
        stopSimProcess(*m);
    reportStation("station1", one);
    reportStation("station4", four);
    put("station4_vs_1",
        one.ok > 0 && four.process.wallMs > 0 ? (four.ok / four.process.wallMs) / (one.ok / one.process.wallMs) : 0, 2);
    if (one.ok == 0 || four.ok == 0)
        return fail(QStringLiteral("a station run configured no module"));
    if (const int failedTraffic = measureTraffic(cli, runtime, runs))
        return failedTraffic;
    return measureOrders(cli, runtime, orderRows);
}
