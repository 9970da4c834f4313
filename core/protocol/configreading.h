#pragma once

#include "core/config/configgroups.h"
#include "core/config/moduleconfig.h"

#include <QByteArray>
#include <QString>
#include <QStringList>
#include <cstdint>

// What replies of the module said about its configuration: the values of the
// fields that a report carried. A field the report lacked is not in `fields`
// and its value is meaningless.
struct ConfigReading
{
    ModuleConfig values;
    ConfigFields fields;
    // What a reply held that was left out, one line each, for the log.
    QStringList notes;

    // Takes over the fields of `other`.
    void merge(const ConfigReading& other);
    // Every field of `config`.
    static ConfigReading of(const ModuleConfig& config);
};

namespace Reading {

struct GroupQuery
{
    ConfigGroup group;
    At::Query query;
    int16_t budget;
};
// The nine queries of the read-back in their order, with their budgets.
const QVector<GroupQuery>& groupQueries();

// The reading of one group's reply, by the report rules of the module:
// - serial line, CAN rate: a field counts when it is exactly one of the
//   editor's item texts; a report without the field leaves it out;
// - tokens (frame type, mode, direction, filter mode) are matched as
//   prefixes; an unmatched one is kept as its text, which selects nothing;
// - text fields and flags are taken up to the end of their line, all of
//   them without the blanks around them;
// - IDs come as the editors write them (upper case, no leading zeros);
// - the filter list counts whenever the query was answered, with the
//   entries that are real filters; the others are named in the notes.
ConfigReading parse(ConfigGroup group, const QByteArray& reply);

} // namespace Reading
