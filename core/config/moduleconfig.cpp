#include "core/config/moduleconfig.h"

#include "core/config/configfields.h"
#include "core/config/configgroups.h"

#include <QJsonValue>
#include <algorithm>

using namespace FieldTable;

namespace {

const char kSerialHint[] = " (a new serial line takes effect when the module restarts)";

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
    return Groups::writtenFields(config);
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
