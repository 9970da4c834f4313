// velkocan-cli-bench: measures velkocan-cli, each run a process of its own,
// against a simulated module that runs as a process of its own too.
//
// It prints one `key=value` line per measurement (scripts/bench turns them
// into the table of docs/performance.md):
//   - `read PORT` and `write PORT FILE`: the time from the first command to
//     the last reply, from the command line's own time-stamped diagnostics,
//     next to the floor that its pauses, transmit waits and polls imply for
//     the same traffic; and the wall time of the whole process, fork to exit;
//   - the cost of a process that only starts and exits (`--version`);
//   - the peak resident memory of each run (ru_maxrss from wait4).
//
// The runs get VELKO_DEBUG=1, so that the command line shows the transport's
// diagnostics, a message pattern that stamps each line with the monotonic
// clock (the clock of this process's own fork and wait times), and the
// opt-in poll count of each exchange ("velkocan.polls").
#include "bench/quotedlength.h"
#include "bench/report.h"
#include "bench/simprocess.h"

#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QProcess>
#include <QRegularExpression>
#include <QStringList>
#include <QTemporaryDir>
#include <QThread>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <ctime>
#include <fcntl.h>
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
    int status = -1;   // exit status, -1 when it did not exit normally
    double forkMs = 0; // monotonic clock at the fork
    double wallMs = 0; // fork to reaped
    long maxrssKb = 0;
    double cpuMs = 0;
};

// Runs `program` with `arguments`, the environment of this process plus
// `extra`, standard input from /dev/null, standard output and error into the
// files given; waits for it.
Process runProcess(const QString& program, const QStringList& arguments, const QList<QByteArray>& extra,
                   const QString& outPath, const QString& errPath)
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
    while (wait4(pid, &status, 0, &usage) < 0 && errno == EINTR) {
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
            if (message.contains(QLatin1String("No Respone")))
                ++t.silent;
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
    double insideMs = 0;  // first command to the last reply
    double startupMs = 0; // fork to the first command
};

// Reports the runs of one command: medians, and one line per run.
void reportRuns(const char* name, const std::vector<Run>& runs)
{
    std::vector<double> inside, floors, ratios, walls, wallRatios, startups, exits, exchanges, polls, rss;
    int silent = 0;
    bool pollsCounted = true;
    for (const Run& r : runs) {
        const Traffic& t = r.traffic;
        const double exit = r.process.wallMs - r.startupMs - r.insideMs;
        inside.push_back(r.insideMs);
        floors.push_back(r.floorMs);
        ratios.push_back(r.insideMs / r.floorMs);
        walls.push_back(r.process.wallMs);
        wallRatios.push_back(r.process.wallMs / r.floorMs);
        startups.push_back(r.startupMs);
        exits.push_back(exit);
        exchanges.push_back(t.exchanges);
        polls.push_back(t.polls);
        rss.push_back(r.process.maxrssKb);
        silent = std::max(silent, t.silent);
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
    put(prefix + "_runs", runs.size(), 0);
    put(prefix + "_inside_ms", median(inside), 0);
    put(prefix + "_floor_ms", median(floors), 0);
    put(prefix + "_ratio", median(ratios), 3);
    put(prefix + "_exchanges", median(exchanges), 0);
    put(prefix + "_polls", median(polls), 0);
    put(prefix + "_transmit_ms", runs.front().traffic.transmitMs, 0);
    put(prefix + "_wall_ms", median(walls));
    put(prefix + "_wall_ratio", median(wallRatios), 3);
    put(prefix + "_startup_ms", median(startups));
    put(prefix + "_exit_ms", median(exits));
    put(prefix + "_maxrss_kb", median(rss), 0);
    put(prefix + "_silent_max", silent, 0);
    putText(prefix + "_polls_check", pollsCounted ? QStringLiteral("ok") : QStringLiteral("mismatch"));
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
    const QStringList args = QCoreApplication::arguments();
    for (int i = 1; i + 1 < args.size(); ++i) {
        if (args.at(i) == QLatin1String("--runs"))
            runs = std::max(1, args.at(i + 1).toInt());
        else if (args.at(i) == QLatin1String("--start-runs"))
            startRuns = std::max(1, args.at(i + 1).toInt());
    }
    const QString cli = QStringLiteral(VELKO_CLI_PROGRAM);
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
    // One command `runs` times. The read-back: 150 ms after "+++", then per
    // exchange 100 ms, the transmit wait and the polls. The write: the same
    // entry into the configuration state, then the window's whole write with
    // its four 300 ms pauses between the steps and two 100 ms in the list write.
    auto measure = [&](const char* name, const QStringList& arguments, double fixedMs, std::vector<Run>* done) {
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
            r.floorMs = fixedMs + 100.0 * r.traffic.exchanges + r.traffic.transmitMs +
                        double(r.traffic.polls) * kPollIntervalMs;
            done->push_back(r);
        }
        reportRuns(name, *done);
        return 0;
    };

    std::vector<Run> reads, writes;
    int failed = measure("cli_read", {QStringLiteral("read"), portName}, 150, &reads);
    // The module's own configuration, as the first read-back printed it, is what the writes write.
    if (!failed)
        failed = measure("cli_write", {QStringLiteral("write"), portName, file(QStringLiteral("cli_read-0.out"))},
                         150 + 4 * 300 + 2 * 100, &writes);

    sim.terminate();
    if (!sim.waitForFinished(3000)) {
        sim.kill();
        sim.waitForFinished(1000);
    }
    return failed;
}
