#include "cli/ledger.h"

#include "cli/options.h"
#include "cli/output.h"
#include "core/config/fileaccess.h"
#include "core/config/moduleconfig.h"
#include "core/config/profile.h"
#include "core/station/ledger.h"
#include "core/station/ledgerrows.h"
#include "core/station/rowrule.h"
#include "core/station/valuestable.h"

#include <QFileInfo>
#include <QJsonArray>
#include <QJsonDocument>
#include <QSet>

namespace CommandLine {

namespace {

// A sub-command of ledger: its positional arguments after its name, its
// usage and the options it takes.
struct Shape
{
    const char* name;
    int arguments;
    const char* usage;
    QStringList options;
};

const QVector<Shape>& shapes()
{
    static const QVector<Shape> all{
        {"init", 1, "ledger init URL [--lease SECONDS]", {"lease"}},
        {"import",
         2,
         "ledger import URL CSV [--profile FILE] [--set KEY=VALUE]... [--restart]",
         {"profile", "set", "restart"}},
        {"status", 1, "ledger status URL", {}},
        {"export", 1, "ledger export URL [--results] [-o FILE]", {"results", "output"}},
        {"release", 1, "ledger release URL --station NAME [--force]", {"station", "force"}},
        {"withdraw", 2, "ledger withdraw URL SOURCE", {}},
    };
    return all;
}

// The options of the ledger's sub-commands that were given.
QStringList givenOptions(const Options& o)
{
    QStringList given;
    if (o.lease > 0)
        given << "lease";
    if (!o.profile.isEmpty())
        given << "profile";
    if (!o.overrides.isEmpty())
        given << "set";
    if (o.results)
        given << "results";
    if (!o.output.isEmpty())
        given << "output";
    if (!o.station.isEmpty())
        given << "station";
    if (o.restart)
        given << "restart";
    if (o.force)
        given << "force";
    return given;
}

Result refusal(const LedgerProblem& problem)
{
    Result r = failure(problem.noAnswer() ? NoAnswer : BadUsage, problem.text);
    r.problems = {problem.asProblem()};
    return r;
}

// A CSV field, quoted when it holds the separator, a quote or a line end.
QString csvField(const QString& field)
{
    if (!field.contains(QLatin1Char(',')) && !field.contains(QLatin1Char('"')) && !field.contains(QLatin1Char('\n')) &&
        !field.contains(QLatin1Char('\r')))
        return field;
    QString quoted = field;
    quoted.replace(QLatin1Char('"'), QStringLiteral("\"\""));
    return QLatin1Char('"') + quoted + QLatin1Char('"');
}

class LedgerCommand
{
public:
    LedgerCommand(const Options& o, Reporter& out, const LedgerAddress& address) : m_o(o), m_out(out), m_ledger(address)
    {}

    // Runs `sub` and tells its result; an export writes its rows as they are read.
    int exec(const QString& sub)
    {
        if (sub != QLatin1String("export"))
            return m_out.finish(run(sub));
        LedgerProblem problem;
        if (!m_ledger.check(&problem))
            return m_out.finish(refusal(problem));
        return m_o.results ? exportResults() : exportRows();
    }

private:
    Result run(const QString& sub)
    {
        if (sub == QLatin1String("init"))
            return init();
        LedgerProblem problem;
        if (!m_ledger.check(&problem))
            return refusal(problem);
        if (sub == QLatin1String("import"))
            return import();
        if (sub == QLatin1String("status"))
            return status();
        if (sub == QLatin1String("withdraw"))
            return withdraw();
        return release();
    }

    Result init()
    {
        bool created = false;
        LedgerProblem problem;
        if (!m_ledger.init(m_o.lease > 0 ? m_o.lease : Ledger::kDefaultLeaseSeconds, &created, &problem))
            return refusal(problem);
        const int lease = m_ledger.leaseMs() / 1000;
        Result r;
        r.text =
            created
                ? QStringLiteral("%1: a ledger of schema version %2 created; a claim holds %3 s unless "
                                 "renewed\n")
                      .arg(m_ledger.address().shown, QString::number(Ledger::kSchemaVersion), QString::number(lease))
                : QStringLiteral("%1: already a ledger of schema version %2; left as it is (a claim holds "
                                 "%3 s)\n")
                      .arg(m_ledger.address().shown, QString::number(Ledger::kSchemaVersion), QString::number(lease));
        if (!created && m_o.lease > 0 && m_o.lease != lease)
            m_out.note(
                QStringLiteral("--lease %1 not taken: the ledger keeps its lease of %2 s").arg(m_o.lease).arg(lease));
        r.fields = {{"created", created}, {"schema", Ledger::kSchemaVersion}, {"leaseSeconds", lease}};
        return r;
    }

    // The CSV read as the station reads --values, refused whole or imported whole.
    Result import()
    {
        const QString csvPath = m_o.arguments.at(2);
        QString error;
        ValuesTable table;
        if (!loadValues(csvPath, &table, &error))
            return failure(BadUsage, error + QStringLiteral(" (nothing imported)"));
        for (const QString& w : std::as_const(table.warnings))
            m_out.note(QStringLiteral("%1 %2").arg(csvPath, w));
        if (!m_o.profile.isEmpty()) {
            ProfileFile profile;
            if (!profile.load(m_o.profile, &error))
                return failure(BadUsage, error + QStringLiteral(" (nothing imported)"));
            // Each row as a station with these settings would take it.
            const RowRule::Station station{m_o.overrides, m_o.portLine(), m_o.restart};
            QVector<Problem> problems;
            QStringList texts;
            for (int i = 0; i < table.rows.size(); ++i) {
                ModuleConfig config;
                const RowRule::Verdict v = RowRule::check(
                    profile, station, table.overrides(i),
                    QStringLiteral("%1 line %2").arg(csvPath, QString::number(table.lines.at(i))), &config);
                for (const Problem& p : v.problems) {
                    problems.append(p);
                    texts.append(p.text);
                }
            }
            if (!problems.isEmpty()) {
                Result r = failure(BadUsage, texts.join(QStringLiteral("; ")) + QStringLiteral(" (nothing imported)"));
                r.details = texts;
                r.details.append(QStringLiteral("nothing imported"));
                r.detailsSayAll = true;
                r.problems = problems;
                return r;
            }
        }
        int first = 0;
        int last = 0;
        LedgerProblem problem;
        // The same CSV imported twice, or an ID an earlier import already gave: warned of, as a repeat in one file is.
        QVector<LedgerRow> held;
        if (!m_ledger.rows(&held, false, &problem))
            return refusal(problem);
        QVector<QPair<QString, QString>> ids;
        for (const LedgerRow& row : std::as_const(held)) {
            for (const auto& v : row.values) {
                if (v.first == QLatin1String("can.id"))
                    ids.append({v.second, LedgerRows::where(row)});
            }
        }
        for (const QString& w : table.repeatsOf(ids))
            m_out.note(QStringLiteral("%1 %2").arg(csvPath, w));
        QString source;
        if (!m_ledger.import(table, QFileInfo(csvPath).fileName(), &first, &last, &problem, &source))
            return refusal(problem);
        Result r;
        r.text = table.rows.isEmpty() ? QStringLiteral("%1: no rows to import\n").arg(csvPath)
                                      : QStringLiteral("%1: rows %2 to %3 imported (%4) as %5\n")
                                            .arg(csvPath, QString::number(first), QString::number(last),
                                                 QString::number(table.rows.size()), source);
        r.fields = {{"imported", int(table.rows.size())}, {"first", first}, {"last", last}, {"source", source}};
        return r;
    }

    Result status()
    {
        LedgerStatus s;
        LedgerProblem problem;
        if (!m_ledger.status(&s, &problem))
            return refusal(problem);
        Result r;
        r.text = QStringLiteral("rows %1: %2 free, %3 claimed, %4 used; %5 results\n")
                     .arg(s.rows)
                     .arg(s.free)
                     .arg(s.claimed)
                     .arg(s.used)
                     .arg(s.results);
        QJsonArray stations;
        for (const LedgerStatus::Station& station : std::as_const(s.stations)) {
            r.text += QStringLiteral("station %1: %2 ok, %3 failed, %4 claimed%5\n")
                          .arg(station.name, QString::number(station.ok), QString::number(station.failed),
                               QString::number(station.claimed),
                               station.last.isEmpty() ? QString() : QStringLiteral(", last ") + station.last);
            stations.append(QJsonObject{{"station", station.name},
                                        {"ok", station.ok},
                                        {"failed", station.failed},
                                        {"claimed", station.claimed},
                                        {"last", textOrNull(station.last)}});
        }
        QJsonArray imports;
        for (const LedgerStatus::Import& i : std::as_const(s.imports)) {
            r.text += QStringLiteral("import %1: rows %2 to %3: %4 free, %5 claimed, %6 used\n")
                          .arg(i.source, QString::number(i.first), QString::number(i.last), QString::number(i.free),
                               QString::number(i.claimed), QString::number(i.used));
            imports.append(QJsonObject{{"source", i.source},
                                       {"first", i.first},
                                       {"last", i.last},
                                       {"free", i.free},
                                       {"claimed", i.claimed},
                                       {"used", i.used}});
        }
        // Someone has to pull one of those modules.
        QJsonArray twice;
        for (const auto& row : std::as_const(s.duplicates)) {
            r.text += QStringLiteral("row %1: its values reached %2 modules: %3\n")
                          .arg(row.first)
                          .arg(row.second.size())
                          .arg(row.second.join(QStringLiteral(", ")));
            twice.append(QJsonObject{{"row", row.first}, {"modules", QJsonArray::fromStringList(row.second)}});
        }
        r.fields = {{"rows", s.rows},       {"free", s.free},       {"claimed", s.claimed}, {"used", s.used},
                    {"results", s.results}, {"stations", stations}, {"imports", imports},   {"duplicates", twice}};
        return r;
    }

    // The rows with their state as CSV (--json: as objects), read twice
    // rather than held: once for the paths of the header, once for the rows.
    int exportRows()
    {
        QVector<QPair<int, QStringList>> twice;
        QStringList paths; // every path any row has, in the order they first come
        int last = 0;
        LedgerProblem problem;
        const auto pathsOf = [&paths, &last](const LedgerRow& row) {
            last = row.id;
            for (const auto& v : row.values) {
                if (!paths.contains(v.first))
                    paths.append(v.first);
            }
            return true;
        };
        if (!m_ledger.eachRow(false, pathsOf, &problem) || !m_ledger.duplicates(&twice, &problem))
            return m_out.finish(refusal(problem));
        // A row whose values reached more than one module says so in its state.
        QSet<int> duplicates;
        for (const auto& row : std::as_const(twice))
            duplicates.insert(row.first);
        const QStringList header =
            QStringList{"row", "state", "station", "port", "module", "changed", "source", "line"} + paths;
        const auto each = [this, paths, duplicates, last](const Reporter::Put& put, LedgerProblem* problem) {
            // Rows imported after the header was made wait for the next export.
            const auto row = [&](const LedgerRow& row) {
                const QString state = duplicates.contains(row.id) ? QStringLiteral("duplicate") : row.state;
                QStringList fields{QString::number(row.id),
                                   state,
                                   row.station,
                                   row.port,
                                   row.module > 0 ? QString::number(row.module) : QString(),
                                   row.changed,
                                   row.source,
                                   QString::number(row.line)};
                const QJsonObject values = row.valuesObject();
                for (const QString& path : std::as_const(paths))
                    fields.append(values.value(path).toString());
                for (QString& f : fields)
                    f = csvField(f);
                return put(QJsonObject{{"row", row.id},
                                       {"state", state},
                                       {"station", textOrNull(row.station)},
                                       {"port", textOrNull(row.port)},
                                       {"module", row.module > 0 ? QJsonValue(row.module) : QJsonValue()},
                                       {"changed", textOrNull(row.changed)},
                                       {"source", row.source},
                                       {"line", row.line},
                                       {"values", values}},
                           fields.join(QLatin1Char(',')));
            };
            return last == 0 || m_ledger.eachRow(false, row, problem, last);
        };
        return exported(header.join(QLatin1Char(',')) + QLatin1Char('\n'), QStringLiteral("rows"), each);
    }

    int exportResults()
    {
        const auto each = [this](const Reporter::Put& put, LedgerProblem* problem) {
            return m_ledger.eachResult(
                [&put](const QJsonObject& result) {
                    return put(result, QString::fromUtf8(QJsonDocument(result).toJson(QJsonDocument::Compact)));
                },
                problem);
        };
        return exported(QString(), QStringLiteral("results"), each);
    }

    // An export's items as `each` reads them from the ledger: in -o FILE,
    // after `head`, written whole (a ledger that fails on the way leaves the
    // file as it was), or on standard output as they come (with --json as
    // one object). Neither holds more than a piece of it.
    using Each = std::function<bool(const Reporter::Put& put, LedgerProblem* problem)>;
    int exported(const QString& head, const QString& key, const Each& each)
    {
        LedgerProblem problem;
        bool read = true;
        if (m_o.output.isEmpty()) {
            Result r;
            r.text = head;
            const int status = m_out.finish(r, key, [&](const Reporter::Put& put) { read = each(put, &problem); });
            if (read)
                return status;
            m_out.note(QStringLiteral("the export above is cut short: ") + problem.text);
            return refusal(problem).status;
        }
        int items = 0;
        QString error;
        const auto produce = [&](const Files::Chunk& write, QString* why) {
            QByteArray pending = head.toUtf8();
            bool written = true;
            const auto put = [&](const QJsonObject&, const QString& line) {
                ++items;
                pending += line.toUtf8() + '\n';
                if (pending.size() >= 65536) {
                    written = write(pending);
                    pending.clear();
                }
                return written;
            };
            read = each(put, &problem);
            if (!read) {
                *why = problem.text;
                return false;
            }
            return written && write(pending);
        };
        if (!Files::writeWhole(m_o.output, produce, &error))
            return m_out.finish(read ? failure(BadUsage, error) : refusal(problem));
        m_out.note(QStringLiteral("%1: %2 %3 written").arg(m_o.output, QString::number(items), key));
        Result r;
        r.fields = {{"file", m_o.output}, {key, items}};
        return m_out.finish(r);
    }

    // The free rows of one import taken back; the others named, with why they stay.
    Result withdraw()
    {
        const QString source = m_o.arguments.at(2);
        int withdrawn = 0;
        QVector<LedgerRow> kept;
        LedgerProblem problem;
        if (!m_ledger.withdraw(source, &withdrawn, &kept, &problem))
            return refusal(problem);
        Result r;
        r.text = QStringLiteral("%1: %2 free rows withdrawn, %3 kept\n")
                     .arg(source, QString::number(withdrawn), QString::number(kept.size()));
        QJsonArray left;
        for (const LedgerRow& row : std::as_const(kept)) {
            const QString why =
                row.state == QLatin1String("free")
                    ? QStringLiteral("free, kept with the results of modules that failed on it")
                    : QStringLiteral("%1 by station %2 %3 module %4")
                          .arg(row.state, row.station, row.port.isEmpty() ? QStringLiteral("-") : row.port,
                               row.module > 0 ? QString::number(row.module) : QStringLiteral("-"));
            r.text +=
                QStringLiteral("row %1 (line %2): %3\n").arg(QString::number(row.id), QString::number(row.line), why);
            left.append(QJsonObject{{"row", row.id},
                                    {"line", row.line},
                                    {"state", row.state},
                                    {"station", textOrNull(row.station)},
                                    {"port", textOrNull(row.port)},
                                    {"module", row.module}});
        }
        r.fields = {{"source", source}, {"withdrawn", withdrawn}, {"kept", left}};
        return r;
    }

    Result release()
    {
        int released = 0;
        LedgerProblem problem;
        if (!m_ledger.release(m_o.station, m_o.force, &released, &problem))
            return refusal(problem);
        Result r;
        r.text = QStringLiteral("%1 claims of station %2 given back\n").arg(QString::number(released), m_o.station);
        r.fields = {{"released", released}, {"station", m_o.station}};
        return r;
    }

    const Options& m_o;
    Reporter& m_out;
    Ledger m_ledger;
};

} // namespace

int runLedger(const Options& o, Reporter& out)
{
    const QString sub = o.arguments.value(0);
    const QVector<Shape>& all = shapes();
    const auto shape =
        std::find_if(all.begin(), all.end(), [&](const Shape& s) { return sub == QLatin1String(s.name); });
    const auto usage = [&](const QString& error) {
        Result r = failure(BadUsage, error);
        r.details.append(QStringLiteral("Try \"velkocan-cli --help\"."));
        return out.finish(r);
    };
    if (shape == all.end())
        return usage(QStringLiteral("ledger takes init, import, status, export or release, then the ledger's URL"));
    if (o.arguments.size() != shape->arguments + 1)
        return usage(QStringLiteral("usage: velkocan-cli %1").arg(QLatin1String(shape->usage)));
    for (const QString& option : givenOptions(o)) {
        if (!shape->options.contains(option))
            return usage(QStringLiteral("--%1 is not an option of ledger %2").arg(option, sub));
    }
    if (sub == QLatin1String("release") && o.station.isEmpty())
        return usage(QStringLiteral("ledger release needs --station NAME, the station whose claims are given back"));
    if (!o.output.isEmpty()) {
        const QString problem = Files::outputProblem(o.output);
        if (!problem.isEmpty())
            return out.finish(failure(BadUsage, problem));
    }
    LedgerAddress address;
    QString error;
    if (!LedgerAddress::parse(o.arguments.at(1), &address, &error))
        return out.finish(failure(BadUsage, error));
    LedgerCommand command(o, out, address);
    return command.exec(sub);
}

} // namespace CommandLine
