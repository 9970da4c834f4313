#include "core/moduleconfig.h"

#include "core/filtercheck.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QJsonParseError>
#include <QJsonValue>
#include <QLocale>
#include <QtAlgorithms>
#include <algorithm>
#include <cmath>

namespace {

// How a field is held in a profile and converted from an override.
enum class Kind { Number, Token, Flag, Hex, List };

struct FieldInfo
{
    ConfigField field;
    const char* group; // empty for a field at the top level
    const char* key;
    Kind kind;
    // The member that holds the field; the filter list has none of these.
    int ModuleConfig::*number = nullptr;
    bool ModuleConfig::*flag = nullptr;
    QString ModuleConfig::*text = nullptr; // the identifier digits are numbers in a profile
};

// In enum order, which is profile order: the entry of a field is at its bit's position.
const FieldInfo kFields[] = {
    {ConfigField::SerialBaud, "serial", "baud", Kind::Number, &ModuleConfig::baud},
    {ConfigField::SerialStopBits, "serial", "stopBits", Kind::Number, &ModuleConfig::stopBits},
    {ConfigField::SerialParity, "serial", "parity", Kind::Token, nullptr, nullptr, &ModuleConfig::parity},
    {ConfigField::CanRate, "can", "rateKbit", Kind::Number, &ModuleConfig::canRateKbit},
    {ConfigField::CanFrameType, "can", "frameType", Kind::Token, nullptr, nullptr, &ModuleConfig::frameType},
    {ConfigField::CanId, "can", "id", Kind::Hex, nullptr, nullptr, &ModuleConfig::canId},
    {ConfigField::Mode, "", "mode", Kind::Token, nullptr, nullptr, &ModuleConfig::mode},
    {ConfigField::FrameId, "transparent", "frameId", Kind::Flag, nullptr, &ModuleConfig::frameId},
    {ConfigField::FrameInfo, "transparent", "frameInfo", Kind::Flag, nullptr, &ModuleConfig::frameInfo},
    {ConfigField::Head, "custom", "head", Kind::Hex, nullptr, nullptr, &ModuleConfig::head},
    {ConfigField::Tail, "custom", "tail", Kind::Hex, nullptr, nullptr, &ModuleConfig::tail},
    {ConfigField::IdLength, "identifier", "length", Kind::Number, nullptr, nullptr, &ModuleConfig::idLength},
    {ConfigField::IdPosition, "identifier", "position", Kind::Number, nullptr, nullptr, &ModuleConfig::idPosition},
    {ConfigField::Direction, "", "direction", Kind::Token, nullptr, nullptr, &ModuleConfig::direction},
    {ConfigField::FilterMode, "filter", "mode", Kind::Token, nullptr, nullptr, &ModuleConfig::filterMode},
    {ConfigField::FilterList, "filter", "list", Kind::List},
};
constexpr int kFieldCount = int(sizeof(kFields) / sizeof(kFields[0]));
static_assert(kFieldCount == 16, "one entry per ConfigField");

const FieldInfo& info(ConfigField field)
{
    return kFields[qCountTrailingZeroBits(quint32(field))];
}

static_assert(Config::kMaxFilters == FilterCheck::kMaxRows, "the profile holds what the filter table holds");

const char kFormatName[] = "velkocan-config";
constexpr int kVersion = 1;
const char kSerialHint[] = " (a new serial line takes effect when the module restarts)";

// The ranges of the identifier digits.
constexpr int kMaxIdLength = 4;
constexpr int kMaxIdPosition = 7;

// The maximum and digit count of a CAN ID by frame type; a type that is not
// EDTF is taken as standard (the frame type is checked before its ID).
struct IdLimit
{
    int digits;
    const char* max;
    const char* frame;
};

IdLimit idLimit(const QString& frameType)
{
    if (frameType == QLatin1String("EDTF"))
        return {8, "1FFFFFFF", "an extended"};
    return {3, "7FF", "a standard"};
}

QStringList tokens(QString (*token)(int))
{
    QStringList list;
    for (int i = 0; !token(i).isEmpty(); ++i)
        list.append(token(i));
    return list;
}

QStringList tokensOf(ConfigField field)
{
    switch (field) {
    case ConfigField::SerialParity:
        return {QStringLiteral("NONE"), QStringLiteral("ODD"), QStringLiteral("EVEN")};
    case ConfigField::CanFrameType:
        return tokens(At::frameTypeToken);
    case ConfigField::Mode:
        return tokens(At::modeToken);
    case ConfigField::Direction:
        return tokens(At::directionToken);
    default:
        return tokens(At::filterModeToken);
    }
}

bool isHexDigit(QChar c)
{
    return c.unicode() < 128 && At::hexDigitFlag(char(c.unicode()));
}

bool allHex(const QString& text)
{
    return std::all_of(text.begin(), text.end(), isHexDigit);
}

bool allDigits(const QString& text)
{
    return !text.isEmpty() &&
           std::all_of(text.begin(), text.end(), [](QChar c) { return c.unicode() < 128 && c.isDigit(); });
}

// ---- Texts -----------------------------------------------------------------

// A number as JSON writes it: integers in decimal digits.
QString numberText(double value)
{
    if (value == std::floor(value) && std::fabs(value) < 1e15)
        return QString::number(qint64(value));
    return QString::number(value, 'g', QLocale::FloatingPointShortest);
}

// A JSON string literal, escaped by Qt's writer.
QString quoted(const QString& text)
{
    const QByteArray array = QJsonDocument(QJsonArray{text}).toJson(QJsonDocument::Compact);
    return QString::fromUtf8(array.mid(1, array.size() - 2));
}

// A text within a message: as it is, or quoted when it is empty or holds
// blanks or control characters, so that a message stays one readable line.
QString shownText(const QString& text)
{
    const bool plain = !text.isEmpty() && std::all_of(text.begin(), text.end(), [](QChar c) {
        return c.isPrint() && !c.isSpace() && c != QLatin1Char('"');
    });
    return plain ? text : quoted(text);
}

// A JSON value within a message about its type.
QString shown(const QJsonValue& value)
{
    switch (value.type()) {
    case QJsonValue::Bool:
        return value.toBool() ? QStringLiteral("true") : QStringLiteral("false");
    case QJsonValue::Double:
        return numberText(value.toDouble());
    case QJsonValue::String:
        return quoted(value.toString());
    case QJsonValue::Array:
        return QStringLiteral("a list");
    case QJsonValue::Object:
        return QStringLiteral("an object");
    default:
        return QStringLiteral("null");
    }
}

QString joined(const QVector<int>& values)
{
    QStringList texts;
    for (const int v : values)
        texts.append(QString::number(v));
    return texts.join(QLatin1String(", "));
}

// ---- Rules -----------------------------------------------------------------
// Each returns an empty text when the value is sound, otherwise the message.

QString numberRule(const QString& path, const QJsonValue& value, double* number)
{
    if (!value.isDouble())
        return QStringLiteral("%1: %2 is not a number").arg(path, shown(value));
    *number = value.toDouble();
    if (*number != std::floor(*number))
        return QStringLiteral("%1: %2 is not an integer").arg(path, numberText(*number));
    return {};
}

QString offeredRule(const QString& path, double number, const QVector<int>& offered)
{
    if (std::find(offered.begin(), offered.end(), number) != offered.end())
        return {};
    return QStringLiteral("%1: %2 is not offered; allowed %3").arg(path, numberText(number), joined(offered));
}

QString rangeMessage(const QString& path, const QString& shownValue, int max)
{
    return QStringLiteral("%1: %2; allowed 0 to %3").arg(path, shownValue).arg(max);
}

QString textRule(const QString& path, const QJsonValue& value, QString* text)
{
    if (!value.isString())
        return QStringLiteral("%1: %2 is not a text").arg(path, shown(value));
    *text = value.toString();
    return {};
}

QString tokenRule(const QString& path, const QString& text, const QStringList& allowed)
{
    if (allowed.contains(text))
        return {};
    return QStringLiteral("%1: %2; allowed %3").arg(path, shownText(text), allowed.join(QLatin1String(", ")));
}

QString upperCaseRule(const QString& path, const QString& text, bool strict)
{
    if (strict && text != text.toUpper())
        return QStringLiteral("%1: %2 is not upper case").arg(path, shownText(text));
    return {};
}

QString hexPairRule(const QString& path, const QString& text, bool strict)
{
    if (text.size() != 2 || !allHex(text))
        return QStringLiteral("%1: %2; allowed two hexadecimal digits").arg(path, shownText(text));
    return upperCaseRule(path, text, strict);
}

QString idRule(const QString& path, const QString& frameType, const QString& id, bool strict)
{
    const IdLimit limit = idLimit(frameType);
    const QString frame = QLatin1String(limit.frame);
    if (id.isEmpty())
        return QStringLiteral("%1: empty; allowed hexadecimal up to %2 for %3 frame").arg(path, limit.max, frame);
    switch (FilterCheck::checkId(frameType, id)) {
    case FilterCheck::IdVerdict::Accepted:
        return upperCaseRule(path, id, strict);
    case FilterCheck::IdVerdict::Unchecked:
        return QStringLiteral("%1: %2 has no frame type").arg(path, shownText(id));
    case FilterCheck::IdVerdict::Wrong:
        break;
    }
    if (!allHex(id))
        return QStringLiteral("%1: %2 is not hexadecimal").arg(path, shownText(id));
    if (id.size() > limit.digits)
        return QStringLiteral("%1: %2 has more than %3 digits for %4 frame").arg(path, id).arg(limit.digits).arg(frame);
    return QStringLiteral("%1: %2 is above %3 for %4 frame").arg(path, id, limit.max, frame);
}

// A text member of a filter entry, named by the last part of its path.
QString memberRule(const QJsonObject& entry, const QString& path, QString* text)
{
    const QJsonValue value = entry.value(path.mid(path.lastIndexOf(QLatin1Char('.')) + 1));
    return value.isUndefined() ? path + QStringLiteral(": missing") : textRule(path, value, text);
}

QString listRule(const QString& path, const QJsonValue& value, bool strict)
{
    if (!value.isArray())
        return QStringLiteral("%1: %2 is not a list").arg(path, shown(value));
    const QJsonArray list = value.toArray();
    if (list.size() > Config::kMaxFilters)
        return QStringLiteral("%1: %2 entries; at most %3").arg(path).arg(list.size()).arg(Config::kMaxFilters);
    for (int i = 0; i < list.size(); ++i) {
        const QString entryPath = QStringLiteral("%1[%2]").arg(path).arg(i);
        if (!list.at(i).isObject())
            return QStringLiteral("%1: %2 is not an object").arg(entryPath, shown(list.at(i)));
        const QJsonObject entry = list.at(i).toObject();
        const QString typePath = entryPath + QStringLiteral(".type");
        const QString idPath = entryPath + QStringLiteral(".id");
        QString type, id;
        QString why = memberRule(entry, typePath, &type);
        if (why.isEmpty())
            why = tokenRule(typePath, type, tokens(At::frameTypeToken));
        if (why.isEmpty())
            why = memberRule(entry, idPath, &id);
        if (why.isEmpty())
            why = idRule(idPath, type, id, strict);
        if (!why.isEmpty())
            return why;
    }
    return {};
}

// The rules of one field on its value as a profile holds it. `frameType` is
// the frame type the CAN ID is read with; `strict` admits upper case only.
QString checkValue(ConfigField field, const QJsonValue& value, const QString& frameType, bool strict)
{
    const FieldInfo& f = info(field);
    const QString path = Config::fieldPath(field);
    switch (f.kind) {
    case Kind::Number: {
        double n = 0;
        const QString why = numberRule(path, value, &n);
        if (!why.isEmpty())
            return why;
        if (field == ConfigField::SerialBaud)
            return offeredRule(path, n, Config::baudRates());
        if (field == ConfigField::SerialStopBits)
            return offeredRule(path, n, {1, 2});
        if (field == ConfigField::CanRate)
            return offeredRule(path, n, Config::canRatesKbit());
        const int max = field == ConfigField::IdLength ? kMaxIdLength : kMaxIdPosition;
        return n >= 0 && n <= max ? QString() : rangeMessage(path, numberText(n), max);
    }
    case Kind::Flag:
        return value.isBool() ? QString() : QStringLiteral("%1: %2 is not true or false").arg(path, shown(value));
    case Kind::List:
        return listRule(path, value, strict);
    case Kind::Token:
    case Kind::Hex:
        break;
    }
    QString text;
    const QString why = textRule(path, value, &text);
    if (!why.isEmpty())
        return why;
    if (f.kind == Kind::Token)
        return tokenRule(path, text, tokensOf(field));
    if (field == ConfigField::CanId)
        return idRule(path, frameType, text, strict);
    return hexPairRule(path, text, strict);
}

// The identifier digits as the editors hold them: one digit, 0 to `max`.
QString digitRule(const QString& path, const QString& text, int max)
{
    const bool sound = text.size() == 1 && text.at(0) >= QLatin1Char('0') && text.at(0).unicode() <= '0' + max;
    return sound ? QString() : rangeMessage(path, shownText(text), max);
}

// ---- Conversions -----------------------------------------------------------

QJsonArray filterArray(const QVector<At::FilterEntry>& filters)
{
    QJsonArray list;
    for (const At::FilterEntry& e : filters)
        list.append(QJsonObject{{QStringLiteral("type"), e.type}, {QStringLiteral("id"), e.id}});
    return list;
}

// The entries of a list in its profile form.
QVector<At::FilterEntry> filterEntries(const QJsonValue& list)
{
    QVector<At::FilterEntry> entries;
    for (const QJsonValue& e : list.toArray())
        entries.append({e[QLatin1String("type")].toString(), e[QLatin1String("id")].toString()});
    return entries;
}

// Identifier digits as a number; anything else stays a text, which the rules refuse.
QJsonValue digitsValue(const QString& text)
{
    return allDigits(text) ? QJsonValue(text.toDouble()) : QJsonValue(text);
}

// The value of a field as a profile holds it.
QJsonValue valueOf(const ModuleConfig& c, ConfigField field)
{
    const FieldInfo& f = info(field);
    if (f.number)
        return c.*f.number;
    if (f.flag)
        return c.*f.flag;
    if (!f.text)
        return filterArray(c.filters);
    return f.kind == Kind::Number ? digitsValue(c.*f.text) : QJsonValue(c.*f.text);
}

// Stores a checked value; hexadecimal goes in upper case.
void store(ModuleConfig* c, ConfigField field, const QJsonValue& value)
{
    const FieldInfo& f = info(field);
    if (f.number) {
        c->*f.number = value.toInt();
    } else if (f.flag) {
        c->*f.flag = value.toBool();
    } else if (f.kind == Kind::Number) {
        c->*f.text = QString::number(value.toInt());
    } else if (f.text) {
        c->*f.text = f.kind == Kind::Hex ? value.toString().toUpper() : value.toString();
    } else {
        c->filters = filterEntries(value);
        for (At::FilterEntry& e : c->filters)
            e.id = e.id.toUpper();
    }
}

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
    for (const FieldInfo& f : kFields) {
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

const QVector<ConfigField>& allFields()
{
    static const QVector<ConfigField> fields = [] {
        QVector<ConfigField> all;
        for (const FieldInfo& f : kFields)
            all.append(f.field);
        return all;
    }();
    return fields;
}

ConfigFields everyField()
{
    ConfigFields every;
    for (const ConfigField f : allFields())
        every |= f;
    return every;
}

QString fieldPath(ConfigField field)
{
    const FieldInfo& f = info(field);
    const QString key = QLatin1String(f.key);
    if (!*f.group)
        return key;
    return QLatin1String(f.group) + QLatin1Char('.') + key;
}

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
        QString why;
        if (field == ConfigField::IdLength)
            why = digitRule(fieldPath(field), config.idLength, kMaxIdLength);
        else if (field == ConfigField::IdPosition)
            why = digitRule(fieldPath(field), config.idPosition, kMaxIdPosition);
        else
            why = checkValue(field, valueOf(config, field), config.frameType, true);
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
