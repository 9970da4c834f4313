#include "core/moduleconfig.h"

#include "core/configfields.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QJsonParseError>
#include <QJsonValue>
#include <algorithm>

using namespace FieldTable;

namespace {

const char kFormatName[] = "velkocan-config";
constexpr int kVersion = 1;
const char kSerialHint[] = " (a new serial line takes effect when the module restarts)";

// ---- Texts -----------------------------------------------------------------

// A value within a written profile; a list puts each entry on its own line.
QString jsonText(const QJsonValue& value)
{
    if (!value.isArray())
        return value.isString() ? quoted(value.toString()) : shown(value);
    QStringList entries;
    for (const At::FilterEntry& e : filterEntries(value))
        entries.append(QStringLiteral("        {\"type\": %1, \"id\": %2}").arg(quoted(e.type), quoted(e.id)));
    return entries.isEmpty() ? QStringLiteral("[]")
                             : QStringLiteral("[\n%1\n    ]").arg(entries.join(QLatin1String(",\n")));
}

// A value within a difference line: as a profile shows it, a list as "TYPE:ID ..." or "none".
QString displayText(const QJsonValue& value)
{
    if (value.isString())
        return shownText(value.toString());
    if (!value.isArray())
        return shown(value);
    QStringList entries;
    for (const At::FilterEntry& e : filterEntries(value))
        entries.append(e.type + QLatin1Char(':') + e.id);
    return entries.isEmpty() ? QStringLiteral("none") : entries.join(QLatin1Char(' '));
}

// IDs by value when both are hexadecimal (07FF equals 7FF), else by text.
bool sameId(const QString& a, const QString& b)
{
    bool okA = false, okB = false;
    const quint64 va = a.toULongLong(&okA, 16);
    const quint64 vb = b.toULongLong(&okB, 16);
    return okA && okB && allHex(a) && allHex(b) ? va == vb : a == b;
}

bool sameFilters(const QVector<At::FilterEntry>& a, const QVector<At::FilterEntry>& b)
{
    return std::equal(a.begin(), a.end(), b.begin(), b.end(), [](const At::FilterEntry& x, const At::FilterEntry& y) {
        return x.type == y.type && sameId(x.id, y.id);
    });
}

// ---- Reading ---------------------------------------------------------------

QString headerRule(const QJsonObject& root)
{
    const QJsonValue format = root.value(QLatin1String("format"));
    if (format.toString() != QLatin1String(kFormatName)) {
        const QString got = format.isUndefined() ? QStringLiteral("missing") : shown(format);
        return QStringLiteral("format: %1; expected %2").arg(got, QLatin1String(kFormatName));
    }
    const QJsonValue version = root.value(QLatin1String("version"));
    if (version.isUndefined())
        return QStringLiteral("version: missing");
    double n = 0;
    const QString why = numberRule(QStringLiteral("version"), version, &n);
    if (!why.isEmpty())
        return why;
    if (n < 1)
        return QStringLiteral("version: %1; allowed 1 or above").arg(numberText(n));
    if (n > kVersion)
        return QStringLiteral("version: %1 is newer than this tool reads (%2)").arg(numberText(n)).arg(kVersion);
    return {};
}

// An override's value in the field's profile form.
QString overrideValue(ConfigField field, const QString& text, QJsonValue* value)
{
    const QString path = Config::fieldPath(field);
    switch (info(field).kind) {
    case Kind::Number: {
        bool ok = false;
        const qint64 n = text.toLongLong(&ok, 10);
        if (!ok)
            return QStringLiteral("%1: %2 is not a number").arg(path, shownText(text));
        *value = double(n);
        return {};
    }
    case Kind::Flag:
        if (text == QLatin1String("true") || text == QLatin1String("1"))
            *value = true;
        else if (text == QLatin1String("false") || text == QLatin1String("0"))
            *value = false;
        else
            return QStringLiteral("%1: %2 is not true or false").arg(path, shownText(text));
        return {};
    case Kind::List: {
        QJsonArray list;
        for (const QString& item : text.split(QLatin1Char(','), Qt::SkipEmptyParts)) {
            const int colon = item.indexOf(QLatin1Char(':'));
            if (colon < 0)
                return QStringLiteral("%1: %2 is not TYPE:ID").arg(path, shownText(item));
            list.append(
                QJsonObject{{QStringLiteral("type"), item.left(colon)}, {QStringLiteral("id"), item.mid(colon + 1)}});
        }
        *value = list;
        return {};
    }
    case Kind::Token:
    case Kind::Hex:
        break;
    }
    *value = text;
    return {};
}

QString applyOverride(QJsonObject* root, const QString& override)
{
    const int eq = override.indexOf(QLatin1Char('='));
    if (eq < 0)
        return QStringLiteral("--set %1: expected KEY=VALUE").arg(override);
    const QString key = override.left(eq);
    const QVector<ConfigField>& fields = Config::allFields();
    const auto field =
        std::find_if(fields.begin(), fields.end(), [&](ConfigField f) { return Config::fieldPath(f) == key; });
    if (field == fields.end()) {
        QStringList known;
        for (const ConfigField f : fields)
            known.append(Config::fieldPath(f));
        return QStringLiteral("--set %1: unknown field; known: %2").arg(key, known.join(QLatin1String(", ")));
    }
    QJsonValue value;
    const QString why = overrideValue(*field, override.mid(eq + 1), &value);
    if (!why.isEmpty())
        return why;
    const FieldInfo& f = info(*field);
    const QString group = QLatin1String(f.group);
    if (group.isEmpty()) {
        root->insert(QLatin1String(f.key), value);
    } else {
        QJsonObject object = root->value(group).toObject(); // a group that is not an object is replaced
        object.insert(QLatin1String(f.key), value);
        root->insert(group, object);
    }
    return {};
}

// The field's value in the file, or the message why there is none.
QString lookup(const QJsonObject& root, ConfigField field, QJsonValue* value)
{
    const FieldInfo& f = info(field);
    const QString group = QLatin1String(f.group);
    QJsonObject object = root;
    if (!group.isEmpty()) {
        const QJsonValue g = root.value(group);
        if (!g.isUndefined() && !g.isObject())
            return QStringLiteral("%1: %2 is not an object").arg(group, shown(g));
        object = g.toObject();
    }
    *value = object.value(QLatin1String(f.key));
    return value->isUndefined() ? Config::fieldPath(field) + QStringLiteral(": missing") : QString();
}

// The keys of `root` that no field, group or header has, by their dotted paths.
QStringList unknownKeys(const QJsonObject& root)
{
    QStringList known{QStringLiteral("format"), QStringLiteral("version")};
    QStringList groups;
    for (const ConfigField field : Config::allFields()) {
        const FieldInfo& f = info(field);
        if (*f.group) {
            known.append(QLatin1String(f.group) + QLatin1Char('.') + QLatin1String(f.key));
            groups.append(QLatin1String(f.group));
        } else {
            known.append(QLatin1String(f.key));
        }
    }
    QStringList unknown;
    for (auto it = root.begin(); it != root.end(); ++it) {
        if (groups.contains(it.key()) && it.value().isObject()) {
            const QJsonObject group = it.value().toObject();
            for (auto member = group.begin(); member != group.end(); ++member) {
                const QString path = it.key() + QLatin1Char('.') + member.key();
                if (!known.contains(path))
                    unknown.append(path);
            }
        } else if (!known.contains(it.key()) && !groups.contains(it.key())) {
            unknown.append(it.key());
        }
    }
    return unknown;
}

// Every problem of the profile, one line each; empty when it is sound.
QStringList readInto(const QByteArray& text, const QStringList& overrides, ModuleConfig* config, QStringList* warnings)
{
    QJsonParseError parseError;
    const QJsonDocument document = QJsonDocument::fromJson(text, &parseError);
    if (parseError.error != QJsonParseError::NoError)
        return {
            QStringLiteral("not a JSON profile: %1 at offset %2").arg(parseError.errorString()).arg(parseError.offset)};
    if (!document.isObject())
        return {QStringLiteral("not a profile: the top level is not an object")};
    QJsonObject root = document.object();
    // A file that is not a profile of this tool would only add a "missing"
    // line per field: its header is the one problem worth naming.
    const QString header = headerRule(root);
    if (!header.isEmpty())
        return {header};
    if (warnings) {
        for (const QString& key : unknownKeys(root))
            warnings->append(QStringLiteral("unknown key \"%1\" ignored").arg(key));
    }
    QStringList problems;
    for (const QString& override : overrides) {
        const QString why = applyOverride(&root, override);
        if (!why.isEmpty())
            problems.append(why);
    }
    // In profile order, so that the frame type is in place before its CAN ID is checked.
    for (const ConfigField field : Config::allFields()) {
        QJsonValue value;
        QString why = lookup(root, field, &value);
        if (why.isEmpty())
            why = checkValue(field, value, config->frameType, false);
        if (why.isEmpty())
            store(config, field, value);
        else if (!problems.contains(why)) // a group that is not an object names itself once
            problems.append(why);
    }
    return problems;
}

} // namespace

bool ModuleConfig::operator==(const ModuleConfig& o) const
{
    return baud == o.baud && stopBits == o.stopBits && parity == o.parity && canRateKbit == o.canRateKbit &&
           frameType == o.frameType && canId == o.canId && mode == o.mode && frameId == o.frameId &&
           frameInfo == o.frameInfo && head == o.head && tail == o.tail && idLength == o.idLength &&
           idPosition == o.idPosition && direction == o.direction && filterMode == o.filterMode && filters == o.filters;
}

namespace Config {

const QVector<int>& baudRates()
{
    static const QVector<int> rates{600,   1200,  2400,   4800,   9600,   14400,  19200,
                                    38400, 57600, 115200, 128000, 230400, 256000, 460800};
    return rates;
}

const QVector<int>& canRatesKbit()
{
    static const QVector<int> rates{6, 10, 20, 50, 100, 120, 125, 150, 200, 250, 400, 500, 600, 750, 1000};
    return rates;
}

QString check(const ModuleConfig& config)
{
    for (const ConfigField field : allFields()) {
        const QString why = FieldTable::checkField(config, field);
        if (!why.isEmpty())
            return why;
    }
    return {};
}

ConfigFields writtenFields(const ModuleConfig& config)
{
    ConfigFields fields = everyField();
    fields &= ~ConfigFields(ConfigField::FrameId | ConfigField::FrameInfo | ConfigField::Head | ConfigField::Tail |
                            ConfigField::IdLength | ConfigField::IdPosition | ConfigField::FilterList);
    if (config.mode == QLatin1String("TRANS"))
        fields |= ConfigField::FrameId | ConfigField::FrameInfo;
    else if (config.mode == QLatin1String("TPRTL"))
        fields |= ConfigField::IdLength | ConfigField::IdPosition;
    else if (config.mode == QLatin1String("USER"))
        fields |= ConfigField::Head | ConfigField::Tail;
    if (config.filterMode == QLatin1String("USER"))
        fields |= ConfigField::FilterList;
    return fields;
}

QString Difference::text(bool written) const
{
    QString line =
        written ? QStringLiteral("%1: wrote %2, module has %3") : QStringLiteral("%1: profile has %2, module has %3");
    line = line.arg(fieldPath(field), expected, module);
    if (field == ConfigField::SerialBaud || field == ConfigField::SerialStopBits || field == ConfigField::SerialParity)
        line += QLatin1String(kSerialHint);
    return line;
}

QVector<Difference> compare(const ModuleConfig& expected, const ModuleConfig& module)
{
    QVector<Difference> found;
    const ConfigFields fields = writtenFields(expected);
    for (const ConfigField field : allFields()) {
        if (!(fields & field))
            continue;
        const QJsonValue a = valueOf(expected, field);
        const QJsonValue b = valueOf(module, field);
        bool same = a == b;
        if (field == ConfigField::CanId)
            same = sameId(expected.canId, module.canId);
        else if (field == ConfigField::FilterList)
            same = sameFilters(expected.filters, module.filters);
        if (!same)
            found.append({field, displayText(a), displayText(b)});
    }
    return found;
}

QStringList differences(const ModuleConfig& wrote, const ModuleConfig& module)
{
    QStringList lines;
    for (const Difference& d : compare(wrote, module))
        lines.append(d.text());
    return lines;
}

} // namespace Config

namespace Profile {

QByteArray write(const ModuleConfig& config)
{
    QStringList lines{QStringLiteral("    \"format\": %1").arg(quoted(QLatin1String(kFormatName))),
                      QStringLiteral("    \"version\": %1").arg(kVersion)};
    const QVector<ConfigField>& fields = Config::allFields();
    // One line per group: a run of fields with the same group, or one top-level field.
    for (int i = 0; i < fields.size();) {
        const QString group = QLatin1String(info(fields.at(i)).group);
        QStringList members;
        do {
            const FieldInfo& f = info(fields.at(i));
            members.append(QStringLiteral("\"%1\": %2").arg(QLatin1String(f.key), jsonText(valueOf(config, f.field))));
            ++i;
        } while (!group.isEmpty() && i < fields.size() && group == QLatin1String(info(fields.at(i)).group));
        const QString joinedMembers = members.join(QLatin1String(", "));
        lines.append(group.isEmpty() ? QString(QStringLiteral("    ") + joinedMembers)
                                     : QStringLiteral("    \"%1\": {%2}").arg(group, joinedMembers));
    }
    return (QStringLiteral("{\n") + lines.join(QLatin1String(",\n")) + QStringLiteral("\n}\n")).toUtf8();
}

bool read(const QByteArray& text, ModuleConfig* config, QString* error, const QStringList& overrides,
          QStringList* warnings)
{
    ModuleConfig parsed;
    const QStringList problems = readInto(text, overrides, &parsed, warnings);
    if (error)
        *error = problems.join(QLatin1Char('\n'));
    if (!problems.isEmpty())
        return false;
    if (config)
        *config = parsed;
    return true;
}

} // namespace Profile
