#pragma once

#include "core/config/moduleconfig.h"

#include <QByteArray>
#include <QString>
#include <QVector>

// The parameter groups of a configuration: what one set command of the
// module writes and one query reads back.
enum class ConfigGroup { SerialLine, Can, Mode, Flags, Custom, Identifier, Direction, FilterMode, FilterList };

// The one table of the groups, in the order a whole write sends them: which
// fields each holds, in which conversion mode it is written, and the
// command that writes it. The fields a write compares, the write plan and
// its progress counts, the session's write sequences and the window's
// editable editors per mode all come from it.
namespace Groups {

struct GroupInfo
{
    ConfigGroup group;
    ConfigFields fields;
    // The conversion mode whose sub-parameters the group holds; written only
    // in that mode. Empty for the groups every write sends.
    const char* mode;
    // The set command of `config`'s values; null for the filter list, which
    // is the emptying of the module's list and then one command per entry.
    QByteArray (*command)(const ModuleConfig& config);
};

// Every group, in write order.
const QVector<GroupInfo>& writeOrder();
const GroupInfo& info(ConfigGroup group);
// The group's profile path ("serial", "transparent", "filter.list"): its
// field's path, or the profile group its fields stand in.
QString path(ConfigGroup group);

// The group of `mode`'s sub-parameters; null for a mode without any.
const GroupInfo* subParameters(const QString& mode);
// The filter mode in which the filter list's entries are written; in any
// other the list is only emptied.
const QString& listFilterMode();

// Whether a whole write of `config` sends the group.
bool written(const GroupInfo& group, const ModuleConfig& config);
// The fields a whole write of `config` sends: every group's but the
// sub-parameters of other modes, and the filter list's entries only in the
// list's filter mode.
ConfigFields writtenFields(const ModuleConfig& config);
// How many commands write the group for `config`.
int commandCount(const GroupInfo& group, const ModuleConfig& config);

} // namespace Groups
