#include "core/config/profile.h"

#include <QMutex>
#include <QMutexLocker>
#include <optional>

#include "core/config/fileaccess.h"

#include "core/config/configfields.h"

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

// ---- Writing ---------------------------------------------------------------

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
        if (text.compare(QLatin1String("true"), Qt::CaseInsensitive) == 0 || text == QLatin1String("1"))
            *value = true;
        else if (text.compare(QLatin1String("false"), Qt::CaseInsensitive) == 0 || text == QLatin1String("0"))
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
            list.append(QJsonObject{{QStringLiteral("type"), item.left(colon).toUpper()},
                                    {QStringLiteral("id"), item.mid(colon + 1)}});
        }
        *value = list;
        return {};
    }
    case Kind::Token:
        // The module's words are upper case; a person may type them in any case.
        *value = text.toUpper();
        return {};
    case Kind::Hex:
        break;
    }
    *value = text;
    return {};
}

// The field an override names; null with `why` set when it names none.
const ConfigField* overriddenField(const QString& override, QString* why)
{
    const int eq = override.indexOf(QLatin1Char('='));
    if (eq < 0) {
        *why = QStringLiteral("%1: expected KEY=VALUE").arg(override);
        return nullptr;
    }
    const QString key = override.left(eq);
    const QVector<ConfigField>& fields = Config::allFields();
    const auto field =
        std::find_if(fields.begin(), fields.end(), [&](ConfigField f) { return Config::fieldPath(f) == key; });
    if (field == fields.end()) {
        *why = QStringLiteral("%1: unknown field; known: %2").arg(key, Config::fieldPaths().join(QLatin1String(", ")));
        return nullptr;
    }
    return &*field;
}

QString applyOverride(QJsonObject* root, const QString& override)
{
    QString problem;
    const ConfigField* const field = overriddenField(override, &problem);
    if (!field)
        return problem;
    const int eq = override.indexOf(QLatin1Char('='));
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
    // "traffic" holds the test vectors of the traffic check (core/traffic/vectors.h), read there.
    const QStringList known = Config::fieldPaths() + QStringList{QStringLiteral("format"), QStringLiteral("version"),
                                                                 QStringLiteral("traffic")};
    QStringList groups;
    for (const ConfigField field : Config::allFields()) {
        if (*info(field).group)
            groups.append(QLatin1String(info(field).group));
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

// The profile's object and the keys no field has, or the one problem that
// makes it no profile.
QString parseRoot(const QByteArray& text, QJsonObject* root, QStringList* unknown)
{
    QJsonParseError parseError;
    const QJsonDocument document = QJsonDocument::fromJson(text, &parseError);
    if (parseError.error != QJsonParseError::NoError)
        return QStringLiteral("not a JSON profile: %1 at %2")
            .arg(parseError.errorString(), placeOf(text, parseError.offset));
    if (!document.isObject())
        return QStringLiteral("not a profile: the top level is not an object");
    *root = document.object();
    // A file that is not a profile of this tool would only add a "missing"
    // line per field: its header is the one problem worth naming.
    const QString header = headerRule(*root);
    if (!header.isEmpty())
        return header;
    for (const QString& key : unknownKeys(*root))
        unknown->append(QStringLiteral("unknown key \"%1\" ignored").arg(key));
    return QString();
}

// Every problem of the profile's object with `overrides`, one line each; empty when it is sound.
QStringList configureRoot(QJsonObject root, const QStringList& overrides, ModuleConfig* config)
{
    QStringList problems;
    for (const QString& override : overrides) {
        const QString why = applyOverride(&root, override);
        if (!why.isEmpty())
            problems.append(why);
    }
    // In profile order, so that the frame type is in place before its CAN ID
    // is checked. When the frame type itself is refused, the ID is held to the
    // extended range only: the frame type's line says what is wrong.
    bool frameTypeRefused = false;
    for (const ConfigField field : Config::allFields()) {
        QJsonValue value;
        QString why = lookup(root, field, &value);
        if (why.isEmpty())
            why = checkValue(field, value, frameTypeRefused ? QStringLiteral("EDTF") : config->frameType, false);
        if (why.isEmpty())
            store(config, field, value);
        else if (!problems.contains(why)) // a group that is not an object names itself once
            problems.append(why);
        frameTypeRefused = frameTypeRefused || (field == ConfigField::CanFrameType && !why.isEmpty());
    }
    return problems;
}

// Every problem of the profile, one line each; empty when it is sound.
QStringList readInto(const QByteArray& text, const QStringList& overrides, ModuleConfig* config, QStringList* warnings)
{
    QJsonObject root;
    QStringList unknown;
    const QString problem = parseRoot(text, &root, &unknown);
    if (!problem.isEmpty())
        return {problem};
    const QStringList problems = configureRoot(root, overrides, config);
    // A misspelt key is often why a field is missing: named first when the profile is refused.
    if (!problems.isEmpty())
        return unknown + problems;
    if (warnings)
        *warnings += unknown;
    return problems;
}

} // namespace

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

QString overrideProblem(const QString& override)
{
    QString problem;
    overriddenField(override, &problem);
    return problem;
}

} // namespace Profile

// A base's configuration: checked once, for every set of overrides after it.
struct ProfileFile::Bases
{
    QMutex mutex;
    QVector<QPair<QStringList, std::optional<ModuleConfig>>> known; // empty: the base is refused
};

bool ProfileFile::configure(const QStringList& base, const QStringList& overrides, ModuleConfig* config,
                            QStringList* problems, QStringList* warnings, const QString& where) const
{
    if (!m_parsed || !m_problem.isEmpty() || !m_bases)
        return configure(base + overrides, config, problems, warnings, where);
    std::optional<ModuleConfig> checked;
    {
        const QMutexLocker lock(&m_bases->mutex);
        const auto known = std::find_if(m_bases->known.cbegin(), m_bases->known.cend(),
                                        [&base](const auto& b) { return b.first == base; });
        if (known != m_bases->known.cend()) {
            checked = known->second;
        } else {
            ModuleConfig parsed;
            if (configureRoot(m_root, base, &parsed).isEmpty())
                checked = parsed;
            m_bases->known.append({base, checked});
        }
    }
    // Only a field that the overrides give is checked again, on the base's
    // frame type: an override of the frame type changes what a CAN ID may be.
    bool quick = checked.has_value();
    ModuleConfig result = quick ? *checked : ModuleConfig();
    for (int i = 0; quick && i < overrides.size(); ++i) {
        const QString& override = overrides.at(i);
        QString why;
        const ConfigField* const field = overriddenField(override, &why);
        QJsonValue value;
        quick = field && *field != ConfigField::CanFrameType &&
                overrideValue(*field, override.mid(override.indexOf(QLatin1Char('=')) + 1), &value).isEmpty() &&
                checkValue(*field, value, result.frameType, false).isEmpty();
        if (quick)
            store(&result, *field, value);
    }
    if (!quick)
        return configure(base + overrides, config, problems, warnings, where);
    if (warnings)
        *warnings += m_unknown;
    *config = result;
    return true;
}

bool ProfileFile::load(const QString& path, QString* error)
{
    QString text;
    if (!Files::readText(path, Files::kMaxProfileBytes, &text, error))
        return false;
    m_text = text.toUtf8();
    m_name = Files::shown(path);
    // Parsed once: a station configures it again for every row.
    m_root = QJsonObject();
    m_unknown.clear();
    m_problem = parseRoot(m_text, &m_root, &m_unknown);
    m_parsed = true;
    m_bases = std::make_shared<Bases>();
    return true;
}

bool ProfileFile::configure(const QStringList& overrides, ModuleConfig* config, QStringList* problems,
                            QStringList* warnings, const QString& where) const
{
    QStringList found;
    if (!m_parsed) {
        QString error;
        if (Profile::read(m_text, config, &error, overrides, warnings))
            return true;
        found = error.split(QLatin1Char('\n'));
    } else if (!m_problem.isEmpty()) {
        found = QStringList{m_problem};
    } else {
        ModuleConfig parsed;
        found = configureRoot(m_root, overrides, &parsed);
        if (found.isEmpty()) {
            if (warnings)
                *warnings += m_unknown;
            *config = parsed;
            return true;
        }
        // A misspelt key is often why a field is missing: named first.
        found = m_unknown + found;
    }
    for (const QString& p : std::as_const(found))
        problems->append(where.isEmpty() ? p : QStringLiteral("%1: %2").arg(where, p));
    return false;
}
