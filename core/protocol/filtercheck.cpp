#include "core/protocol/filtercheck.h"

namespace FilterCheck {

bool typeValid(const QString& type)
{
    return type == QLatin1String("NDTF") || type == QLatin1String("EDTF");
}

IdVerdict checkId(const QString& type, const QString& id)
{
    if (!typeValid(type))
        return IdVerdict::Unchecked;
    return idFault(type, id) == IdFault::None ? IdVerdict::Accepted : IdVerdict::Wrong;
}

QString maxId(const QString& type)
{
    return type == QLatin1String("EDTF") ? QStringLiteral("1FFFFFFF") : QStringLiteral("7FF");
}

IdFault idFault(const QString& type, const QString& id)
{
    int maxLength = 0;
    quint32 maxValue = 0;
    if (type == QLatin1String("NDTF")) {
        maxLength = 3;
        maxValue = 0x7FF;
    } else if (type == QLatin1String("EDTF")) {
        maxLength = 8;
        maxValue = 0x1FFFFFFF;
    } else {
        return IdFault::None;
    }

    if (id.size() > maxLength)
        return IdFault::TooLong;
    quint32 value = 0;
    for (const QChar c : id) {
        const int digit = c.isDigit() && c.unicode() < 128                   ? c.unicode() - '0'
                          : (c >= QLatin1Char('A') && c <= QLatin1Char('F')) ? c.unicode() - 'A' + 10
                          : (c >= QLatin1Char('a') && c <= QLatin1Char('f')) ? c.unicode() - 'a' + 10
                                                                             : -1;
        if (digit < 0)
            return IdFault::NotHex;
        value = value * 16 + quint32(digit); // at most 8 digits: fits
    }
    return value > maxValue ? IdFault::AboveLimit : IdFault::None;
}

QString defaultId(const QString& type)
{
    return type == QLatin1String("EDTF") ? QStringLiteral("800") : QStringLiteral("0");
}

} // namespace FilterCheck
