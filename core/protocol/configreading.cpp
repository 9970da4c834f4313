#include "core/protocol/configreading.h"

#include "core/protocol/filtercheck.h"

void ConfigReading::merge(const ConfigReading& other)
{
    const ModuleConfig& v = other.values;
    const ConfigFields f = other.fields;
    if (f & ConfigField::SerialBaud)
        values.baud = v.baud;
    if (f & ConfigField::SerialStopBits)
        values.stopBits = v.stopBits;
    if (f & ConfigField::SerialParity)
        values.parity = v.parity;
    if (f & ConfigField::CanRate)
        values.canRateKbit = v.canRateKbit;
    if (f & ConfigField::CanFrameType)
        values.frameType = v.frameType;
    if (f & ConfigField::CanId)
        values.canId = v.canId;
    if (f & ConfigField::Mode)
        values.mode = v.mode;
    if (f & ConfigField::FrameId)
        values.frameId = v.frameId;
    if (f & ConfigField::FrameInfo)
        values.frameInfo = v.frameInfo;
    if (f & ConfigField::Head)
        values.head = v.head;
    if (f & ConfigField::Tail)
        values.tail = v.tail;
    if (f & ConfigField::IdLength)
        values.idLength = v.idLength;
    if (f & ConfigField::IdPosition)
        values.idPosition = v.idPosition;
    if (f & ConfigField::Direction)
        values.direction = v.direction;
    if (f & ConfigField::FilterMode)
        values.filterMode = v.filterMode;
    if (f & ConfigField::FilterList)
        values.filters = v.filters;
    fields |= f;
}

ConfigReading ConfigReading::of(const ModuleConfig& config)
{
    return {config, Config::everyField(), {}};
}

namespace Reading {

namespace {

constexpr int16_t kQueryBudget = 500;

// A field that must be one of the editor's numbers, written as the editor
// writes it: "9600" counts, "09600" or "9600 baud" do not.
bool listedNumber(const QString& text, const QVector<int>& allowed, int* value)
{
    bool ok = false;
    const int n = text.toInt(&ok);
    if (!ok || QString::number(n) != text || !allowed.contains(n))
        return false;
    *value = n;
    return true;
}

// The token of `text` by prefix (in test order), or the text itself when none matches.
// The token a report field begins with, or the field's text when it begins with none.
QString tokenOrText(const QString& text, const QString& token)
{
    return token.isEmpty() ? text : token;
}

void readSerialLine(const QStringList& f, ConfigReading* r)
{
    if (f.size() > 0 && listedNumber(At::lineField(f.at(0)), Config::baudRates(), &r->values.baud))
        r->fields |= ConfigField::SerialBaud;
    if (f.size() > 2) {
        const QString stop = At::lineField(f.at(2));
        if (stop == QLatin1String("1") || stop == QLatin1String("2")) {
            r->values.stopBits = stop.toInt();
            r->fields |= ConfigField::SerialStopBits;
        }
    }
    if (f.size() > 3) {
        const QString parity = At::lineField(f.at(3));
        if (parity == QLatin1String("NONE") || parity == QLatin1String("ODD") || parity == QLatin1String("EVEN")) {
            r->values.parity = parity;
            r->fields |= ConfigField::SerialParity;
        }
    }
}

void readCan(const QStringList& f, ConfigReading* r)
{
    if (f.size() > 0 && listedNumber(At::lineField(f.at(0)), Config::canRatesKbit(), &r->values.canRateKbit))
        r->fields |= ConfigField::CanRate;
    if (f.size() > 2) {
        const QString type = At::lineField(f.at(2));
        r->values.frameType = tokenOrText(type, At::frameTypeFromReport(type));
        r->fields |= ConfigField::CanFrameType;
    }
    if (f.size() > 1) {
        r->values.canId = At::canonicalHex(At::lineField(f.at(1)));
        r->fields |= ConfigField::CanId;
    }
}

void readFlags(const QStringList& f, ConfigReading* r)
{
    if (f.size() > 0) {
        r->values.frameId = At::flagOn(At::lineField(f.at(0)));
        r->fields |= ConfigField::FrameId;
    }
    if (f.size() > 1) {
        r->values.frameInfo = At::flagOn(At::lineField(f.at(1)));
        r->fields |= ConfigField::FrameInfo;
    }
}

// A report of two text fields.
void readPair(const QStringList& f, ConfigReading* r, QString* first, ConfigField firstField, QString* second,
              ConfigField secondField)
{
    if (f.size() > 0) {
        *first = At::lineField(f.at(0));
        r->fields |= firstField;
    }
    if (f.size() > 1) {
        *second = At::lineField(f.at(1));
        r->fields |= secondField;
    }
}

// A report of one token.
void readToken(const QByteArray& reply, const QString& key, QString (*tokenOf)(const QString&), QString* value,
               ConfigField field, ConfigReading* r)
{
    if (!At::hasKey(reply, key))
        return;
    const QString text = At::lineField(At::reportRest(reply, key));
    *value = tokenOrText(text, tokenOf(text));
    r->fields |= field;
}

// The listed entries that are real filters: a frame type, and a hexadecimal
// ID within its range. A bare key is an empty list, not an entry.
void readFilterList(const QByteArray& reply, ConfigReading* r)
{
    for (const At::FilterEntry& listed : At::parseFilterListing(reply)) {
        if (listed.type.isEmpty() && listed.id.isEmpty())
            continue;
        const At::FilterEntry entry{listed.type, At::canonicalHex(listed.id)};
        QString problem;
        if (!FilterCheck::typeValid(entry.type))
            problem = QStringLiteral("the type is not NDTF or EDTF");
        else if (entry.id.isEmpty())
            problem = QStringLiteral("it has no ID");
        else if (FilterCheck::checkId(entry.type, entry.id) != FilterCheck::IdVerdict::Accepted)
            problem = QStringLiteral("the ID is not a hexadecimal ID of that frame type");
        if (problem.isEmpty())
            r->values.filters.append(entry);
        else
            r->notes.append(QStringLiteral("filter entry \"%1,%2\" skipped: %3").arg(listed.type, listed.id, problem));
    }
    r->fields |= ConfigField::FilterList;
}

} // namespace

const QVector<GroupQuery>& groupQueries()
{
    static const QVector<GroupQuery> queries{
        {ConfigGroup::SerialLine, At::kUartQuery, kQueryBudget},
        {ConfigGroup::Can, At::kCanQuery, kQueryBudget},
        {ConfigGroup::Mode, At::kModeQuery, kQueryBudget},
        {ConfigGroup::Flags, At::kMsgQuery, kQueryBudget},
        {ConfigGroup::Custom, At::kUdmhtQuery, kQueryBudget},
        {ConfigGroup::Identifier, At::kRandomQuery, kQueryBudget},
        {ConfigGroup::Direction, At::kDirectionQuery, kQueryBudget},
        {ConfigGroup::FilterMode, At::kCanltQuery, kQueryBudget},
        {ConfigGroup::FilterList, At::kFilterQuery, At::kFilterQueryBudget},
    };
    return queries;
}

ConfigReading parse(ConfigGroup group, const QByteArray& reply)
{
    ConfigReading r;
    ModuleConfig& v = r.values;
    switch (group) {
    case ConfigGroup::SerialLine:
        readSerialLine(At::reportFields(reply, At::kUartQuery.key), &r);
        break;
    case ConfigGroup::Can:
        readCan(At::reportFields(reply, At::kCanQuery.key), &r);
        break;
    case ConfigGroup::Mode:
        readToken(reply, At::kModeQuery.key, At::modeFromReport, &v.mode, ConfigField::Mode, &r);
        break;
    case ConfigGroup::Flags:
        readFlags(At::reportFields(reply, At::kMsgQuery.key), &r);
        break;
    case ConfigGroup::Custom:
        readPair(At::reportFields(reply, At::kUdmhtQuery.key), &r, &v.head, ConfigField::Head, &v.tail,
                 ConfigField::Tail);
        break;
    case ConfigGroup::Identifier:
        readPair(At::reportFields(reply, At::kRandomQuery.key), &r, &v.idLength, ConfigField::IdLength, &v.idPosition,
                 ConfigField::IdPosition);
        break;
    case ConfigGroup::Direction:
        readToken(reply, At::kDirectionQuery.key, At::directionFromReport, &v.direction, ConfigField::Direction, &r);
        break;
    case ConfigGroup::FilterMode:
        readToken(reply, At::kCanltQuery.key, At::filterModeFromReport, &v.filterMode, ConfigField::FilterMode, &r);
        break;
    case ConfigGroup::FilterList:
        readFilterList(reply, &r);
        break;
    }
    return r;
}

} // namespace Reading
