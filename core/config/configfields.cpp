#include "core/config/configfields.h"

#include "core/protocol/filtercheck.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QLocale>
#include <QStringList>
#include <QtAlgorithms>
#include <algorithm>
#include <cmath>

namespace FieldTable {

namespace {

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

static_assert(Config::kMaxFilters == FilterCheck::kMaxRows, "the profile holds what the filter table holds");

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

QStringList tokensOf(ConfigField field)
{
    switch (field) {
    case ConfigField::SerialParity:
        return {QStringLiteral("NONE"), QStringLiteral("ODD"), QStringLiteral("EVEN")};
    case ConfigField::CanFrameType:
        return At::frameTypeTokens();
    case ConfigField::Mode:
        return At::modeTokens();
    case ConfigField::Direction:
        return At::directionTokens();
    default:
        return At::filterModeTokens();
    }
}

bool isHexDigit(QChar c)
{
    return c.unicode() < 128 && At::hexDigitFlag(char(c.unicode()));
}

bool allDigits(const QString& text)
{
    return !text.isEmpty() &&
           std::all_of(text.begin(), text.end(), [](QChar c) { return c.unicode() < 128 && c.isDigit(); });
}

QString joined(const QVector<int>& values)
{
    QStringList texts;
    for (const int v : values)
        texts.append(QString::number(v));
    return texts.join(QLatin1String(", "));
}

// ---- The rules checkValue and checkField apply -----------------------------
// Each returns an empty text when the value is sound, otherwise the message.

QString offeredRule(const QString& path, double number, const QVector<int>& offered)
{
    if (std::find(offered.begin(), offered.end(), number) != offered.end())
        return {};
    return QStringLiteral("%1: %2 is not offered; allowed %3").arg(path, numberText(number), joined(offered));
}

QString rangeMessage(const QString& path, const QString& shownValue, int max)
{
    return QStringLiteral("%1: %2; allowed 0 to %3").arg(path, shownValue, QString::number(max));
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
        return QStringLiteral("%1: %2 has more than %3 digits for %4 frame")
            .arg(path, shownText(id), QString::number(limit.digits), frame);
    return QStringLiteral("%1: %2 is above %3 for %4 frame").arg(path, shownText(id), limit.max, frame);
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
            why = tokenRule(typePath, type, At::frameTypeTokens());
        if (why.isEmpty())
            why = memberRule(entry, idPath, &id);
        if (why.isEmpty())
            why = idRule(idPath, type, id, strict);
        if (!why.isEmpty())
            return why;
    }
    return {};
}

// The identifier digits as the editors hold them: one digit, 0 to `max`.
QString digitRule(const QString& path, const QString& text, int max)
{
    const bool sound = text.size() == 1 && text.at(0) >= QLatin1Char('0') && text.at(0).unicode() <= '0' + max;
    return sound ? QString() : rangeMessage(path, shownText(text), max);
}

// ---- What valueOf converts with --------------------------------------------

QJsonArray filterArray(const QVector<At::FilterEntry>& filters)
{
    QJsonArray list;
    for (const At::FilterEntry& e : filters)
        list.append(QJsonObject{{QStringLiteral("type"), e.type}, {QStringLiteral("id"), e.id}});
    return list;
}

// Identifier digits as a number; anything else stays a text, which the rules refuse.
QJsonValue digitsValue(const QString& text)
{
    return allDigits(text) ? QJsonValue(text.toDouble()) : QJsonValue(text);
}

} // namespace

const FieldInfo& info(ConfigField field)
{
    return kFields[qCountTrailingZeroBits(quint32(field))];
}

// ---- Texts -----------------------------------------------------------------

QString numberText(double value)
{
    if (value == std::floor(value) && std::fabs(value) < 1e15)
        return QString::number(qint64(value));
    return QString::number(value, 'g', QLocale::FloatingPointShortest);
}

QString quoted(const QString& text)
{
    const QByteArray array = QJsonDocument(QJsonArray{text}).toJson(QJsonDocument::Compact);
    return QString::fromUtf8(array.mid(1, array.size() - 2));
}

// A value in a message: its first 80 characters, and its length when it is longer.
QString shownText(const QString& text)
{
    constexpr int kShown = 80;
    const QString head = text.size() > kShown ? text.left(kShown) : text;
    const bool plain = !head.isEmpty() && std::all_of(head.begin(), head.end(), [](QChar c) {
        return c.isPrint() && !c.isSpace() && c != QLatin1Char('"');
    });
    const QString shown = plain ? head : quoted(head);
    if (head.size() == text.size())
        return shown;
    return shown + QStringLiteral("… (%1 characters)").arg(text.size());
}

QString placeOf(const QByteArray& text, int offset)
{
    const QByteArray before = text.left(offset);
    const int lineStart = before.lastIndexOf('\n') + 1;
    // Characters, not bytes, from the start of the line.
    const int column = QString::fromUtf8(before.constData() + lineStart, before.size() - lineStart).size() + 1;
    return QStringLiteral("line %1, column %2").arg(QString::number(before.count('\n') + 1), QString::number(column));
}

QString shown(const QJsonValue& value)
{
    switch (value.type()) {
    case QJsonValue::Bool:
        return value.toBool() ? QStringLiteral("true") : QStringLiteral("false");
    case QJsonValue::Double:
        return numberText(value.toDouble());
    case QJsonValue::String: {
        // Quoted, so that a text that looks like a number is told apart from one.
        const QString text = value.toString();
        return text.size() > 80 ? quoted(text.left(80)) + QStringLiteral("… (%1 characters)").arg(text.size())
                                : quoted(text);
    }
    case QJsonValue::Array:
        return QStringLiteral("a list");
    case QJsonValue::Object:
        return QStringLiteral("an object");
    default:
        return QStringLiteral("null");
    }
}

bool allHex(const QString& text)
{
    return std::all_of(text.begin(), text.end(), isHexDigit);
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

QString checkField(const ModuleConfig& config, ConfigField field)
{
    if (field == ConfigField::IdLength)
        return digitRule(Config::fieldPath(field), config.idLength, kMaxIdLength);
    if (field == ConfigField::IdPosition)
        return digitRule(Config::fieldPath(field), config.idPosition, kMaxIdPosition);
    return checkValue(field, valueOf(config, field), config.frameType, true);
}

// ---- Conversions -----------------------------------------------------------

QVector<At::FilterEntry> filterEntries(const QJsonValue& list)
{
    QVector<At::FilterEntry> entries;
    for (const QJsonValue& e : list.toArray())
        entries.append({e[QLatin1String("type")].toString(), e[QLatin1String("id")].toString()});
    return entries;
}

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

} // namespace FieldTable

// The table seen from outside the core: declared in moduleconfig.h.
namespace Config {

const QVector<ConfigField>& allFields()
{
    static const QVector<ConfigField> fields = [] {
        QVector<ConfigField> all;
        for (const FieldTable::FieldInfo& f : FieldTable::kFields)
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
    // Made once: every check of a value names its field, row after row of a big order.
    static const QVector<QString> paths = [] {
        QVector<QString> byBit(32);
        for (const FieldTable::FieldInfo& f : FieldTable::kFields) {
            const QString key = QLatin1String(f.key);
            byBit[qCountTrailingZeroBits(quint32(f.field))] =
                *f.group ? QLatin1String(f.group) + QLatin1Char('.') + key : key;
        }
        return byBit;
    }();
    return paths.at(qCountTrailingZeroBits(quint32(field)) & 31);
}

QStringList fieldPaths()
{
    static const QStringList paths = [] {
        QStringList all;
        for (const ConfigField field : allFields())
            all.append(fieldPath(field));
        return all;
    }();
    return paths;
}

} // namespace Config
