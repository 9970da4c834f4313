#include "core/station/stationsetup.h"

#include "core/config/configfields.h"
#include "core/config/fileaccess.h"
#include "core/traffic/canbus.h"

#include <QDir>
#include <QFileInfo>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QJsonParseError>
#include <QRegularExpression>
#include <algorithm>

namespace {

const char kFormat[] = "velkocan-station";
constexpr int kVersion = 1;

// The keys in the order the file holds them.
const QStringList& keys()
{
    static const QStringList k{"format",  "version",     "profile",  "values",    "report",  "ports",
                               "baud",    "parity",      "stopBits", "fast",      "restart", "count",
                               "removal", "stationName", "can",      "maxLatency"};
    return k;
}

using FieldTable::quoted;

// A path as the file keeps it: relative to the setup's folder when it lies below it.
QString relativeTo(const QString& folder, const QString& path)
{
    if (path.isEmpty() || folder.isEmpty() || QFileInfo(path).isRelative())
        return path;
    const QString relative = QDir(folder).relativeFilePath(path);
    return relative.startsWith(QLatin1String("..")) ? path : relative;
}

QString absoluteIn(const QString& folder, const QString& path)
{
    if (path.isEmpty() || path == QLatin1String("-") || folder.isEmpty() || !QFileInfo(path).isRelative())
        return path;
    return QDir(folder).absoluteFilePath(path);
}

// A ledger's URL is not a path; the path of a SQLite ledger is.
bool isUrl(const QString& values)
{
    return values.contains(QLatin1String("://"));
}

QString valuesRelativeTo(const QString& folder, const QString& values)
{
    if (values.startsWith(QLatin1String("sqlite:")))
        return QStringLiteral("sqlite:") + relativeTo(folder, values.mid(7));
    return isUrl(values) ? values : relativeTo(folder, values);
}

QString valuesIn(const QString& folder, const QString& values)
{
    if (values.startsWith(QLatin1String("sqlite:")))
        return QStringLiteral("sqlite:") + absoluteIn(folder, values.mid(7));
    return isUrl(values) ? values : absoluteIn(folder, values);
}

QString typeName(const QJsonValue& v)
{
    switch (v.type()) {
    case QJsonValue::Bool:
        return QStringLiteral("true or false");
    case QJsonValue::Double:
        return QStringLiteral("a number");
    case QJsonValue::String:
        return QStringLiteral("a text");
    case QJsonValue::Array:
        return QStringLiteral("a list");
    case QJsonValue::Object:
        return QStringLiteral("an object");
    default:
        return QStringLiteral("null");
    }
}

} // namespace

bool StationSetup::operator==(const StationSetup& o) const
{
    return profile == o.profile && overrides == o.overrides && values == o.values && report == o.report &&
           ports == o.ports && baud == o.baud && parity == o.parity && stopBits == o.stopBits && fast == o.fast &&
           restart == o.restart && count == o.count && removalGiven == o.removalGiven && stationName == o.stationName &&
           can == o.can && maxLatency == o.maxLatency;
}

Station::Removal StationSetup::removal() const
{
    // The probe sees a module go on every line; a line that knows better says so.
    return removalGiven.value_or(Station::Removal::Probe);
}

Operation::PortLine StationSetup::line() const
{
    return {baud, parity, stopBits == 2 ? QSerialPort::TwoStop : QSerialPort::OneStop};
}

namespace Setup {

const QStringList& removals()
{
    static const QStringList r{"probe", "port", "operator"};
    return r;
}

QString removalWord(Station::Removal removal)
{
    return removals().at(int(removal));
}

bool removalNamed(const QString& word, Station::Removal* removal)
{
    const int at = removals().indexOf(word.toLower());
    if (at < 0)
        return false;
    *removal = Station::Removal(at);
    return true;
}

Station::Settings settings(const StationSetup& s)
{
    Station::Settings settings;
    settings.profile = s.profile;
    settings.overrides = s.overrides;
    settings.values = s.values;
    settings.stationName = s.stationName;
    settings.report = s.report;
    settings.ports = s.ports;
    settings.line = s.line();
    settings.fast = s.fast;
    settings.restart = s.restart;
    settings.count = s.count;
    settings.removal = s.removal();
    settings.can = s.can;
    settings.maxLatencyMs = s.maxLatency;
    return settings;
}

QVector<Operation::Problem> check(const StationSetup& s)
{
    using Operation::Problem;
    QVector<Problem> problems;
    const auto limit = [&problems](const char* key, int value, int low, int high) {
        if (value < low || value > high)
            problems.append(Operation::problem(Problem::Kind::OutOfLimits, QLatin1String(key),
                                               {QString::number(value), QString::number(low), QString::number(high)}));
    };
    if (s.profile.isEmpty())
        problems.append(Operation::problem(Problem::Kind::NoProfile, QString()));
    if (s.ports.isEmpty())
        problems.append(Operation::problem(Problem::Kind::NoPorts, QString()));
    QStringList seen;
    QStringList twice;
    for (const QString& port : s.ports) {
        if (seen.contains(port) && !twice.contains(port)) {
            twice.append(port);
            problems.append(Operation::problem(Problem::Kind::SameName, port));
        }
        seen.append(port);
    }
    // A name that ledger status prints on a line of its own: one word.
    static const QRegularExpression oneWord(QStringLiteral("^[A-Za-z0-9._-]{1,64}$"));
    if (!s.stationName.isEmpty() && !oneWord.match(s.stationName).hasMatch())
        problems.append(Operation::problem(Problem::Kind::BadStationName, s.stationName));
    Traffic::CanName can;
    if (!s.can.isEmpty() && !Traffic::CanName::parse(s.can, &can))
        problems.append(
            Operation::problem(Problem::Kind::Text, QStringLiteral("can: %1 is not PLUGIN:INTERFACE").arg(s.can)));
    limit("baud", s.baud, kMinBaud, kMaxBaud);
    limit("stopBits", s.stopBits, 1, 2);
    if (s.count != -1)
        limit("count", s.count, kMinCount, kMaxCount);
    limit("maxLatency", s.maxLatency, kMinLatency, kMaxLatency);
    if (!s.report.isEmpty()) {
        const QString why = Files::writeProblem(s.report);
        if (!why.isEmpty())
            problems.append(Operation::problem(Problem::Kind::Text, why));
    }
    return problems;
}

QByteArray write(const StationSetup& s, const QString& folder)
{
    QStringList ports;
    for (const QString& port : s.ports)
        ports.append(quoted(port));
    QStringList lines{
        QStringLiteral("    \"format\": %1").arg(quoted(QLatin1String(kFormat))),
        QStringLiteral("    \"version\": %1").arg(kVersion),
        QStringLiteral("    \"profile\": %1").arg(quoted(relativeTo(folder, s.profile))),
        QStringLiteral("    \"values\": %1").arg(quoted(valuesRelativeTo(folder, s.values))),
        QStringLiteral("    \"report\": %1").arg(quoted(relativeTo(folder, s.report))),
        QStringLiteral("    \"ports\": [%1]").arg(ports.join(QStringLiteral(", "))),
        QStringLiteral("    \"baud\": %1").arg(s.baud),
        QStringLiteral("    \"parity\": %1").arg(quoted(Operation::parityWord(s.parity))),
        QStringLiteral("    \"stopBits\": %1").arg(s.stopBits),
        QStringLiteral("    \"fast\": %1").arg(s.fast ? QStringLiteral("true") : QStringLiteral("false")),
        QStringLiteral("    \"restart\": %1").arg(s.restart ? QStringLiteral("true") : QStringLiteral("false")),
        QStringLiteral("    \"count\": %1").arg(s.count < 0 ? QStringLiteral("null") : QString::number(s.count)),
    };
    if (s.removalGiven)
        lines.append(QStringLiteral("    \"removal\": %1").arg(quoted(removalWord(*s.removalGiven))));
    if (!s.stationName.isEmpty())
        lines.append(QStringLiteral("    \"stationName\": %1").arg(quoted(s.stationName)));
    if (!s.can.isEmpty())
        lines.append(QStringLiteral("    \"can\": %1").arg(quoted(s.can)));
    if (s.maxLatency != kDefaultLatency)
        lines.append(QStringLiteral("    \"maxLatency\": %1").arg(s.maxLatency));
    return (QStringLiteral("{\n") + lines.join(QStringLiteral(",\n")) + QStringLiteral("\n}\n")).toUtf8();
}

bool read(const QByteArray& text, const QString& folder, StationSetup* setup, QStringList* problems,
          QStringList* warnings)
{
    QJsonParseError parseError;
    const QJsonDocument document = QJsonDocument::fromJson(text, &parseError);
    if (parseError.error != QJsonParseError::NoError) {
        problems->append(QStringLiteral("%1: not JSON (%2)")
                             .arg(FieldTable::placeOf(text, parseError.offset), parseError.errorString()));
        return false;
    }
    if (!document.isObject()) {
        problems->append(QStringLiteral("not a JSON object"));
        return false;
    }
    const QJsonObject root = document.object();
    const int before = problems->size();
    const auto fail = [&](const QString& key, const QString& why) {
        problems->append(QStringLiteral("%1: %2").arg(key, why));
    };
    if (root.value(QLatin1String("format")).toString() != QLatin1String(kFormat))
        fail(QStringLiteral("format"), QStringLiteral("expected \"%1\"").arg(QLatin1String(kFormat)));
    const QJsonValue version = root.value(QLatin1String("version"));
    if (!version.isDouble() || version.toDouble() != kVersion)
        fail(QStringLiteral("version"), QStringLiteral("allowed %1").arg(kVersion));

    StationSetup s;
    const auto text_ = [&](const char* key, QString* value) {
        const QJsonValue v = root.value(QLatin1String(key));
        if (v.isUndefined() || v.isNull())
            return;
        if (!v.isString())
            return fail(QLatin1String(key), QStringLiteral("%1; allowed a text").arg(typeName(v)));
        *value = v.toString();
    };
    const auto number = [&](const char* key, int* value, int low, int high, bool nullable) {
        const QJsonValue v = root.value(QLatin1String(key));
        if (v.isUndefined() || (nullable && v.isNull()))
            return;
        const double n = v.toDouble();
        if (!v.isDouble() || n != double(qint64(n)) || n < low || n > high)
            return fail(QLatin1String(key), QStringLiteral("%1; allowed a whole number from %2 to %3%4")
                                                .arg(v.isDouble() ? QString::number(n) : typeName(v))
                                                .arg(low)
                                                .arg(high)
                                                .arg(nullable ? QStringLiteral(", or null") : QString()));
        *value = int(n);
    };
    const auto flag = [&](const char* key, bool* value) {
        const QJsonValue v = root.value(QLatin1String(key));
        if (v.isUndefined())
            return;
        if (!v.isBool())
            return fail(QLatin1String(key), QStringLiteral("%1; allowed true or false").arg(typeName(v)));
        *value = v.toBool();
    };
    const auto word = [&](const char* key, QString* value, const QStringList& allowed) {
        QString given = *value;
        text_(key, &given);
        // A word a person typed, in any letter case.
        const auto it = std::find_if(allowed.begin(), allowed.end(),
                                     [&given](const QString& a) { return a.compare(given, Qt::CaseInsensitive) == 0; });
        if (given.isEmpty() || it != allowed.end()) {
            *value = given.isEmpty() ? given : *it;
            return;
        }
        fail(QLatin1String(key), QStringLiteral("\"%1\"; allowed %2").arg(given, allowed.join(QStringLiteral(", "))));
    };

    text_("profile", &s.profile);
    text_("values", &s.values);
    text_("report", &s.report);
    const QJsonValue ports = root.value(QLatin1String("ports"));
    if (!ports.isUndefined()) {
        if (!ports.isArray()) {
            fail(QStringLiteral("ports"), QStringLiteral("%1; allowed a list of ports").arg(typeName(ports)));
        } else {
            for (const QJsonValue& port : ports.toArray()) {
                if (!port.isString() || port.toString().isEmpty()) {
                    fail(QStringLiteral("ports"),
                         QStringLiteral("%1 in the list; allowed a port name, a path or "
                                        "usb:SERIAL")
                             .arg(port.isString() ? QStringLiteral("an empty text") : typeName(port)));
                    break;
                }
                s.ports.append(port.toString());
            }
        }
    }
    number("baud", &s.baud, kMinBaud, kMaxBaud, false);
    QString parity;
    word("parity", &parity, Operation::parityWords());
    if (!parity.isEmpty())
        Operation::parityNamed(parity, &s.parity);
    number("stopBits", &s.stopBits, 1, 2, false);
    flag("fast", &s.fast);
    flag("restart", &s.restart);
    number("count", &s.count, kMinCount, kMaxCount, true);
    QString removal;
    word("removal", &removal, removals());
    Station::Removal named = Station::Removal::Probe;
    if (removalNamed(removal, &named))
        s.removalGiven = named;
    text_("stationName", &s.stationName);
    text_("can", &s.can);
    number("maxLatency", &s.maxLatency, kMinLatency, kMaxLatency, false);
    QStringList unknown;
    for (auto it = root.begin(); it != root.end(); ++it) {
        if (!keys().contains(it.key()))
            unknown.append(QStringLiteral("unknown key \"%1\" ignored").arg(it.key()));
    }
    // A misspelt key is often why a setting is refused: named first then.
    if (problems->size() > before) {
        for (int i = 0; i < unknown.size(); ++i)
            problems->insert(before + i, unknown.at(i));
        return false;
    }
    if (warnings)
        warnings->append(unknown);
    s.profile = absoluteIn(folder, s.profile);
    s.values = valuesIn(folder, s.values);
    s.report = absoluteIn(folder, s.report);
    *setup = s;
    return true;
}

bool load(const QString& path, StationSetup* setup, QStringList* problems, QStringList* warnings)
{
    QString text;
    QString error;
    if (!Files::readText(path, Files::kMaxProfileBytes, &text, &error)) {
        problems->append(error);
        return false;
    }
    const QString name = Files::shown(path);
    QStringList found;
    QStringList told;
    const bool ok = read(text.toUtf8(), QFileInfo(path).absolutePath(), setup, &found, &told);
    for (const QString& p : std::as_const(found))
        problems->append(QStringLiteral("%1: %2").arg(name, p));
    if (warnings) {
        for (const QString& w : std::as_const(told))
            warnings->append(QStringLiteral("%1: %2").arg(name, w));
    }
    return ok;
}

} // namespace Setup
