#include "core/config/configgroups.h"

#include "core/config/configfields.h"
#include "core/protocol/atprotocol.h"

#include <algorithm>

namespace Groups {

namespace {

QByteArray serialLine(const ModuleConfig& c)
{
    return At::uartCommand(QString::number(c.baud), QString::number(c.stopBits), c.parity);
}

QByteArray can(const ModuleConfig& c)
{
    return At::canCommand(uint16_t(c.canRateKbit), c.canId, c.frameType);
}

QByteArray mode(const ModuleConfig& c)
{
    return At::modeCommand(c.mode);
}

QByteArray flags(const ModuleConfig& c)
{
    return At::msgCommand(c.frameId, c.frameInfo);
}

QByteArray identifier(const ModuleConfig& c)
{
    return At::randomCommand(c.idLength, c.idPosition);
}

QByteArray custom(const ModuleConfig& c)
{
    return At::udmhtCommand(c.head, c.tail);
}

QByteArray direction(const ModuleConfig& c)
{
    return At::directionCommand(c.direction);
}

QByteArray filterMode(const ModuleConfig& c)
{
    return At::canltCommand(c.filterMode);
}

} // namespace

const QVector<GroupInfo>& writeOrder()
{
    static const QVector<GroupInfo> groups{
        {ConfigGroup::SerialLine, ConfigField::SerialBaud | ConfigField::SerialStopBits | ConfigField::SerialParity, "",
         serialLine},
        {ConfigGroup::Direction, ConfigField::Direction, "", direction},
        {ConfigGroup::Mode, ConfigField::Mode, "", mode},
        {ConfigGroup::Flags, ConfigField::FrameId | ConfigField::FrameInfo, "TRANS", flags},
        {ConfigGroup::Identifier, ConfigField::IdLength | ConfigField::IdPosition, "TPRTL", identifier},
        {ConfigGroup::Custom, ConfigField::Head | ConfigField::Tail, "USER", custom},
        {ConfigGroup::FilterMode, ConfigField::FilterMode, "", filterMode},
        {ConfigGroup::FilterList, ConfigField::FilterList, "", nullptr},
        {ConfigGroup::Can, ConfigField::CanRate | ConfigField::CanFrameType | ConfigField::CanId, "", can},
    };
    return groups;
}

const GroupInfo& info(ConfigGroup group)
{
    const QVector<GroupInfo>& groups = writeOrder();
    return *std::find_if(groups.begin(), groups.end(), [group](const GroupInfo& g) { return g.group == group; });
}

QString path(ConfigGroup group)
{
    const ConfigFields fields = info(group).fields;
    for (const ConfigField field : Config::allFields()) {
        if (!(fields & field))
            continue;
        // A group of one field is named by it; a group of several by the
        // profile group they stand in.
        if (fields == ConfigFields(field))
            return Config::fieldPath(field);
        return QLatin1String(FieldTable::info(field).group);
    }
    return QString();
}

const GroupInfo* subParameters(const QString& mode)
{
    for (const GroupInfo& g : writeOrder()) {
        if (*g.mode != '\0' && mode == QLatin1String(g.mode))
            return &g;
    }
    return nullptr;
}

const QString& listFilterMode()
{
    static const QString user = QStringLiteral("USER");
    return user;
}

bool written(const GroupInfo& group, const ModuleConfig& config)
{
    return *group.mode == '\0' || config.mode == QLatin1String(group.mode);
}

ConfigFields writtenFields(const ModuleConfig& config)
{
    ConfigFields fields;
    for (const GroupInfo& g : writeOrder()) {
        if (written(g, config))
            fields |= g.fields;
    }
    if (config.filterMode != listFilterMode())
        fields &= ~ConfigFields(ConfigField::FilterList);
    return fields;
}

int commandCount(const GroupInfo& group, const ModuleConfig& config)
{
    if (group.group != ConfigGroup::FilterList)
        return 1;
    // The emptying of the list, then each entry in the list's filter mode.
    return 1 + (config.filterMode == listFilterMode() ? config.filters.size() : 0);
}

} // namespace Groups
