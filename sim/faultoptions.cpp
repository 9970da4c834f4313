#include "sim/faultoptions.h"

#include <QCommandLineParser>

namespace sim {

namespace {

// The names of the module's set commands (AT+NAME=...).
const QStringList settingNames = {"E",      "UART",  "CAN",   "DIRECTION", "MODE",     "MSG",
                                  "RANDOM", "UDMHT", "CANLT", "FILTER",    "DELFILTER"};

} // namespace

FaultOptions::FaultOptions()
    : m_blanks(QStringLiteral("blanks"),
               QStringLiteral("Reports put a blank after every comma between fields (AT+CAN=250, 7FF, NDTF).")),
      m_paddedIds(QStringLiteral("padded-ids"),
                  QStringLiteral("Reports print CAN IDs with 8 hex digits (AT+CAN=250,000007FF,NDTF).")),
      m_bareEmptyList(QStringLiteral("bare-empty-list"),
                      QStringLiteral("An empty filter list is reported as the bare key AT+FILTER=.")),
      m_pauseInLine(QStringLiteral("pause-in-line"),
                    QStringLiteral("A reply with a report pauses MS ms in the middle of its first report line."),
                    QStringLiteral("MS")),
      m_slowOk(QStringLiteral("slow-ok"),
               QStringLiteral("While echo is on, the rest of a reply follows the echo MS ms later."),
               QStringLiteral("MS")),
      m_silentAfter(QStringLiteral("silent-after"),
                    QStringLiteral("From the N-th frame received on, the module answers nothing (its port stays)."),
                    QStringLiteral("N")),
      m_vanishAfter(QStringLiteral("vanish-after"),
                    QStringLiteral("At the N-th frame received, the module is unplugged: its port vanishes and "
                                   "the program ends."),
                    QStringLiteral("N")),
      m_keepSettings(QStringLiteral("keep-settings"),
                     QStringLiteral("Set commands of these names (e.g. CAN,MODE) are acknowledged with OK, but the "
                                    "module keeps its old value."),
                     QStringLiteral("NAME[,NAME...]")),
      m_refuse(QStringLiteral("refuse"),
               QStringLiteral("Set commands of these names (e.g. CAN,FILTER) are refused with a plain ERROR line "
                              "and change nothing."),
               QStringLiteral("NAME[,NAME...]")),
      m_replug(QStringLiteral("replug"),
               QStringLiteral("100 ms after each restart's reply the module is unplugged, and MS ms later another "
                              "one with factory settings is plugged in under the same port link (a production "
                              "line's next module)."),
               QStringLiteral("MS")),
      m_lineReport(QStringLiteral("line-report"),
                   QStringLiteral("Which serial line AT+UART? reports after AT+UART= set a new one: after-restart "
                                  "(the line in effect, which the restart changes; the default) or at-once (the "
                                  "new line, before the restart puts it into effect)."),
                   QStringLiteral("WHEN"))
{}

QList<QCommandLineOption> FaultOptions::all() const
{
    return {m_blanks,      m_paddedIds,    m_bareEmptyList, m_pauseInLine, m_slowOk,    m_silentAfter,
            m_vanishAfter, m_keepSettings, m_refuse,        m_replug,      m_lineReport};
}

void FaultOptions::addTo(QCommandLineParser& parser) const
{
    parser.addOptions(all());
}

bool FaultOptions::read(const QCommandLineParser& parser, SimModule::Faults* faults, QString* error) const
{
    auto fail = [&](const QString& what) {
        if (error)
            *error = what;
        return false;
    };
    // A whole number from 0.
    auto number = [&](const QCommandLineOption& option, int* value) {
        if (!parser.isSet(option))
            return true;
        bool ok = false;
        const int n = parser.value(option).toInt(&ok);
        if (!ok || n < 0)
            return fail(QStringLiteral("--%1 needs a number from 0").arg(option.names().constFirst()));
        *value = n;
        return true;
    };

    SimModule::Faults f = *faults;
    if (!number(m_pauseInLine, &f.pauseInLineMs) || !number(m_slowOk, &f.okAfterEchoMs) ||
        !number(m_silentAfter, &f.silentAfterFrames) || !number(m_vanishAfter, &f.unplugAfterFrames) ||
        !number(m_replug, &f.replugAfterRestartMs))
        return false;
    // A list of set command names.
    auto names = [&](const QCommandLineOption& option, QStringList* list) {
        if (!parser.isSet(option))
            return true;
        for (const QString& given : parser.value(option).split(QLatin1Char(','))) {
            const QString name = given.trimmed().toUpper();
            if (!settingNames.contains(name))
                return fail(QStringLiteral("--%1: \"%2\" is not one of %3")
                                .arg(option.names().constFirst(), given, settingNames.join(QLatin1Char(','))));
            *list << name;
        }
        return true;
    };
    if (!names(m_keepSettings, &f.keepSettings) || !names(m_refuse, &f.refuse))
        return false;
    if (parser.isSet(m_lineReport)) {
        const QString when = parser.value(m_lineReport);
        if (when != QLatin1String("at-once") && when != QLatin1String("after-restart"))
            return fail(QStringLiteral("--line-report: \"%1\" is not at-once or after-restart").arg(when));
        f.reportsNewLineAtOnce = when == QLatin1String("at-once");
    }
    if (parser.isSet(m_blanks))
        f.blankAfterComma = true;
    if (parser.isSet(m_paddedIds))
        f.padIds = true;
    if (parser.isSet(m_bareEmptyList))
        f.bareEmptyList = true;
    *faults = f;
    return true;
}

QStringList FaultOptions::given(const QCommandLineParser& parser) const
{
    QStringList out;
    for (const QCommandLineOption& o : all()) {
        if (!parser.isSet(o))
            continue;
        const QString name = QStringLiteral("--") + o.names().constFirst();
        out << (o.valueName().isEmpty() ? name : name + QLatin1Char(' ') + parser.value(o));
    }
    return out;
}

} // namespace sim
