#include "core/config/profile.h"

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

bool ProfileFile::load(const QString& path, QString* error)
{
    QString text;
    if (!Files::readText(path, Files::kMaxProfileBytes, &text, error))
        return false;
    m_text = text.toUtf8();
    m_name = Files::shown(path);
    return true;
}

bool ProfileFile::configure(const QStringList& overrides, ModuleConfig* config, QStringList* problems,
                            QStringList* warnings, const QString& where) const
{
    QString error;
    if (Profile::read(m_text, config, &error, overrides, warnings))
        return true;
    for (const QString& p : error.split(QLatin1Char('\n')))
        problems->append(where.isEmpty() ? p : QStringLiteral("%1: %2").arg(where, p));
    return false;
}
