// The checks of a filter row's cells, on a type and an ID from the input.
//
// Input: byte 0 picks the type: bits 0-1 are 0 for "NDTF", 1 for "EDTF", 2 or 3
// for the bytes up to the first ',' (Latin-1); the ID is what follows (the
// rest, or what is after that comma). Bit 2 picks the ID's encoding: Latin-1,
// or UTF-16 units of two bytes each, which brings digits of other scripts and
// other characters outside Latin-1.
#include "core/protocol/filtercheck.h"
#include "fuzz/fuzzcheck.h"

#include <QVector>

using FilterCheck::IdVerdict;

namespace {

bool isHexDigit(QChar c)
{
    const ushort u = c.unicode();
    return (u >= '0' && u <= '9') || (u >= 'A' && u <= 'F') || (u >= 'a' && u <= 'f');
}

int hexValue(QChar c)
{
    const ushort u = c.unicode();
    return u <= '9' ? u - '0' : (u | 0x20) - 'a' + 10;
}

// What a row's ID must give: a standard ID is up to 3 digits and 7FF, an
// extended one up to 8 digits and 1FFFFFFF; an empty ID is 0.
IdVerdict expectedVerdict(const QString& type, const QString& id)
{
    int maxDigits = 0;
    quint64 maxValue = 0;
    if (type == QLatin1String("NDTF")) {
        maxDigits = 3;
        maxValue = 0x7FF;
    } else if (type == QLatin1String("EDTF")) {
        maxDigits = 8;
        maxValue = 0x1FFFFFFF;
    } else {
        return IdVerdict::Unchecked;
    }
    if (id.size() > maxDigits)
        return IdVerdict::Wrong;
    quint64 value = 0;
    for (const QChar c : id) {
        if (!isHexDigit(c))
            return IdVerdict::Wrong;
        value = value * 16 + quint64(hexValue(c));
    }
    return value > maxValue ? IdVerdict::Wrong : IdVerdict::Accepted;
}

QString idText(const uint8_t* data, size_t size, bool utf16)
{
    if (!utf16)
        return QString::fromLatin1(reinterpret_cast<const char*>(data), int(size));
    QString text;
    for (size_t i = 0; i + 1 < size; i += 2)
        text.append(QChar(ushort(data[i] | data[i + 1] << 8)));
    return text;
}

void checkDefault(const QString& type)
{
    const QString id = FilterCheck::defaultId(type);
    FUZZ_CHECK(id == (type == QLatin1String("EDTF") ? QLatin1String("800") : QLatin1String("0")));
    if (FilterCheck::typeValid(type))
        FUZZ_CHECK(FilterCheck::checkId(type, id) == IdVerdict::Accepted);
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    if (size == 0)
        return 0;
    const uint8_t mode = data[0];
    const uint8_t* rest = data + 1;
    size_t restSize = size - 1;

    QString type;
    switch (mode & 3) {
    case 0:
        type = QStringLiteral("NDTF");
        break;
    case 1:
        type = QStringLiteral("EDTF");
        break;
    default: {
        size_t comma = 0;
        while (comma < restSize && rest[comma] != ',')
            ++comma;
        type = QString::fromLatin1(reinterpret_cast<const char*>(rest), int(comma));
        const size_t skip = comma < restSize ? comma + 1 : comma;
        rest += skip;
        restSize -= skip;
        break;
    }
    }
    const QString id = idText(rest, restSize, mode & 4);

    const bool valid = FilterCheck::typeValid(type);
    FUZZ_CHECK(valid == (type == QLatin1String("NDTF") || type == QLatin1String("EDTF")));

    const IdVerdict verdict = FilterCheck::checkId(type, id);
    FUZZ_CHECK(verdict == expectedVerdict(type, id));
    FUZZ_CHECK((verdict == IdVerdict::Unchecked) == !valid);
    if (verdict == IdVerdict::Accepted) {
        FUZZ_CHECK(id.size() <= 8);
        for (const QChar c : id)
            FUZZ_CHECK(isHexDigit(c));
    }

    checkDefault(type);
    checkDefault(QStringLiteral("NDTF"));
    checkDefault(QStringLiteral("EDTF"));
    return 0;
}
