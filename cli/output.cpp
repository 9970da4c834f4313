#include "cli/output.h"

#include "cli/signalwatch.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <cerrno>
#ifdef Q_OS_WIN
#include <io.h>
#ifndef NOMINMAX
#define NOMINMAX
#endif
#include <windows.h>
#define isatty _isatty
#define STDERR_FILENO 2
#else
#include <sys/ioctl.h>
#include <unistd.h>
#endif

namespace CommandLine {

namespace {

// The width of the terminal on standard error; 80 when it does not say.
int terminalColumns()
{
#ifdef Q_OS_WIN
    CONSOLE_SCREEN_BUFFER_INFO info;
    if (GetConsoleScreenBufferInfo(GetStdHandle(STD_ERROR_HANDLE), &info))
        return info.srWindow.Right - info.srWindow.Left + 1;
#else
    struct winsize size = {};
    if (::ioctl(STDERR_FILENO, TIOCGWINSZ, &size) == 0 && size.ws_col > 0)
        return size.ws_col;
#endif
    return 80;
}

// A line cut to the terminal's width: a line that wrapped would leave its
// second half behind when the lines are drawn again.
QString fitted(const QString& line)
{
    const int width = terminalColumns() - 1;
    return line.size() <= width ? line : line.left(qMax(0, width - 1)) + QStringLiteral("…");
}

} // namespace

bool writeTo(FILE* stream, const QByteArray& bytes)
{
    if (stream == stdout)
        SignalWatch::writingOutput(bytes.constData(), int(bytes.size()));
    const size_t written = std::fwrite(bytes.constData(), 1, size_t(bytes.size()), stream);
    const bool flushed = std::fflush(stream) == 0;
    if (stream == stdout)
        SignalWatch::writingOutput(nullptr, 0);
    return flushed && written == size_t(bytes.size()) && !std::ferror(stream);
}

Reporter::Reporter(const QString& port, const QString& command, bool json, bool quiet)
    : m_port(port), m_command(command), m_json(json), m_quiet(quiet), m_terminal(isatty(STDERR_FILENO) == 1),
      m_phase(command)
{}

void Reporter::setPhase(const QString& phase)
{
    endBar();
    m_phase = phase;
}

void Reporter::progress(int step, int steps, const QString& what)
{
    if (m_quiet)
        return;
    const QString count = QStringLiteral("%1/%2").arg(step).arg(steps);
    if (!m_terminal) {
        writeTo(stderr, QStringLiteral("%1 %2 %3\n").arg(m_phase, count, what).toUtf8());
        return;
    }
    constexpr int kWidth = 24;
    const int done = steps > 0 ? step * kWidth / steps : 0;
    const QString bar = QString(done, QLatin1Char('#')) + QString(kWidth - done, QLatin1Char('.'));
    writeTo(
        stderr,
        (QStringLiteral("\r\033[K") + fitted(QStringLiteral("%1 [%2] %3 %4").arg(m_phase, bar, count, what))).toUtf8());
    m_barShown = true;
}

void Reporter::note(const QString& message)
{
    endBar();
    clearStatus();
    writeTo(stderr, (QStringLiteral("velkocan-cli: ") + message + QLatin1Char('\n')).toUtf8());
}

QString Reporter::worded(const Problem& p)
{
    const auto value = [&p](int i) { return p.values.value(i); };
    switch (p.kind) {
    case Problem::Kind::Text:
        break;
    case Problem::Kind::LineNeedsRestart:
        return QStringLiteral("%1: serial: the modules would take %2, while the station talks at %3; a module may "
                              "report a new line only once it restarted, so the station checks it after a restart: "
                              "give --restart")
            .arg(p.subject, value(0), value(1));
    case Problem::Kind::SameDevice:
        return QStringLiteral("--port %1 and --port %2 are one device, %3").arg(value(0), value(1), value(2));
    case Problem::Kind::ModuleSilent:
        return QStringLiteral("%1: the module does not answer at %2 (is it powered? \"velkocan-cli search %1\" "
                              "finds its line)")
            .arg(p.subject, value(0));
    case Problem::Kind::NoLedger:
        return QStringLiteral("%1: no such ledger (velkocan-cli ledger init %1 creates it)").arg(p.subject);
    case Problem::Kind::NotALedger:
        return QStringLiteral("%1 is not a ledger (no ledger_schema table; velkocan-cli ledger init %1 creates one)")
            .arg(p.subject);
    case Problem::Kind::NoPorts:
        return QStringLiteral("station needs at least one --port (or \"ports\" in the setup)");
    case Problem::Kind::SameName:
        return QStringLiteral("--port %1 is given twice").arg(p.subject);
    case Problem::Kind::OutOfLimits: {
        const QString flag = p.subject == QLatin1String("stopBits") ? QStringLiteral("stop") : p.subject;
        return QStringLiteral("--%1 %2: allowed %3 to %4").arg(flag, value(0), value(1), value(2));
    }
    case Problem::Kind::NoProfile:
        return QStringLiteral("station needs a profile: give FILE, or \"profile\" in the setup");
    case Problem::Kind::StationRunning:
        return p.text + QStringLiteral(" (--force gives them back all the same)");
    case Problem::Kind::NoSuchStation:
        break;
    case Problem::Kind::BadStationName:
        return QStringLiteral("--station-name ") + p.text.mid(QStringLiteral("station name ").size());
    }
    return QString();
}

Result Reporter::told(const Result& given)
{
    const Result r = Operation::reworded(given, &Reporter::worded);
    if (!r.error.isEmpty() && !r.detailsSayAll)
        note(r.error);
    for (const QString& line : r.details)
        note(line);
    return r;
}

QJsonObject Reporter::object(const Result& r) const
{
    QJsonObject object = r.fields;
    object.insert(QStringLiteral("status"), r.status);
    object.insert(QStringLiteral("port"), textOrNull(m_port));
    object.insert(QStringLiteral("command"), textOrNull(m_command));
    if (!r.error.isEmpty())
        object.insert(QStringLiteral("error"), r.error);
    return object;
}

int Reporter::finish(const Result& given)
{
    const Result r = told(given);
    // A command whose result has no words of its own ends on a line that it is done, not on its progress.
    static const QStringList doneWithoutResult{QStringLiteral("write"), QStringLiteral("leave"),
                                               QStringLiteral("restart"), QStringLiteral("restore")};
    if (r.status == 0 && r.text.isEmpty() && !m_quiet && doneWithoutResult.contains(m_command))
        note(m_command == QLatin1String("write") && r.fields.value(QStringLiteral("verified")).toBool()
                 ? QStringLiteral("write: done, and the module holds what was written")
                 : QStringLiteral("%1: done").arg(m_command));
    bool written = true;
    if (m_json) {
        written = out(QJsonDocument(object(r)).toJson(QJsonDocument::Compact) + '\n');
    } else if (!r.text.isEmpty()) {
        written = out(r.text.toUtf8());
    }
    return ended(r.status, written);
}

int Reporter::finish(const Result& given, const QString& key, const List& list)
{
    const Result r = told(given);
    // The object around the list, with the list empty: the items go in
    // between its brackets. Its key comes right after "{" or ",": a quote
    // inside a text is escaped, so that only the key itself matches.
    QByteArray head;
    QByteArray tail;
    if (m_json) {
        QJsonObject withList = object(r);
        withList.insert(key, QJsonArray());
        const QByteArray whole = QJsonDocument(withList).toJson(QJsonDocument::Compact);
        const QByteArray mark = '"' + key.toUtf8() + "\":[]";
        int at = -1;
        for (int from = 0; (at = whole.indexOf(mark, from)) > 0; from = at + 1) {
            if (whole.at(at - 1) == '{' || whole.at(at - 1) == ',')
                break;
        }
        head = whole.left(at + mark.size() - 1);
        tail = whole.mid(at + mark.size() - 1) + '\n';
    } else {
        head = r.text.toUtf8();
    }
    QByteArray pending = head;
    bool written = true;
    bool first = true;
    const auto flush = [&] {
        written = written && (pending.isEmpty() || out(pending));
        pending.clear();
        return written;
    };
    list([&](const QJsonObject& item, const QString& line) {
        if (m_json) {
            if (!first)
                pending += ',';
            pending += QJsonDocument(item).toJson(QJsonDocument::Compact);
        } else {
            pending += line.toUtf8() + '\n';
        }
        first = false;
        return pending.size() < 65536 || flush();
    });
    pending += tail;
    flush();
    return ended(r.status, written);
}

int Reporter::ended(int status, bool written)
{
    if (written)
        return status;
    if (m_outputClosed) {
        note(QStringLiteral("standard output was closed by its reader: the result is not shown"));
        return status > 128 ? status : 128 + SignalWatch::kBrokenPipe;
    }
    note(QStringLiteral("standard output: the result cannot be written"));
    return status == 0 ? 2 : status;
}

bool Reporter::out(const QByteArray& line)
{
    endBar();
    clearStatus();
    if (m_outputClosed)
        return false;
    errno = 0;
    if (writeTo(stdout, line))
        return true;
    m_outputClosed = errno == EPIPE;
    return false;
}

void Reporter::showStatus(const QStringList& lines)
{
    if (!m_terminal || m_quiet)
        return;
    endBar();
    clearStatus();
    QByteArray text;
    for (const QString& line : lines)
        text += fitted(line).toUtf8() + "\033[K\n";
    writeTo(stderr, text);
    m_statusLines = lines.size();
}

void Reporter::clearStatus()
{
    if (m_statusLines == 0)
        return;
    // Up to the first status line, and everything below it away.
    writeTo(stderr, QByteArray("\033[") + QByteArray::number(m_statusLines) + "A\r\033[J");
    m_statusLines = 0;
}

void Reporter::endBar()
{
    if (m_barShown)
        writeTo(stderr, "\n");
    m_barShown = false;
}

} // namespace CommandLine
