// The read-back's report parsing: the first byte picks the report's key, the
// rest is the module's reply to its query. Every group is put through what the
// read-back does with it: fields 0..4 up to their line end, the token fields of
// the rest after the key and the flag fields.
#include "core/protocol/atprotocol.h"
#include "fuzz/fuzzcheck.h"

namespace {

const char* const kKeys[] = {"AT+UART=",   "AT+CAN=",       "AT+MODE=",  "AT+MSG=",   "AT+UDMHT=",
                             "AT+RANDOM=", "AT+DIRECTION=", "AT+CANLT=", "AT+FILTER="};
constexpr int kKeyCount = int(sizeof(kKeys) / sizeof(kKeys[0]));

// The keys the read-back uses are these, in this order.
void checkQueryKeys()
{
    const At::Query* const queries[] = {&At::kUartQuery,      &At::kCanQuery,   &At::kModeQuery,
                                        &At::kMsgQuery,       &At::kUdmhtQuery, &At::kRandomQuery,
                                        &At::kDirectionQuery, &At::kCanltQuery, &At::kFilterQuery};
    static_assert(sizeof(queries) / sizeof(queries[0]) == kKeyCount, "one query per key");
    for (int i = 0; i < kKeyCount; ++i)
        FUZZ_CHECK(queries[i]->key == QLatin1String(kKeys[i]));
}

// A line field is the field up to its first CR or LF without the blanks
// around it: what it leaves out before it is blanks, and after it blanks up
// to the line end (or the field's end) and whatever follows.
void checkLineField(const QString& field)
{
    const QString value = At::lineField(field);
    const auto blank = [](QChar c) { return c == QLatin1Char(' ') || c == QLatin1Char('\t'); };
    FUZZ_CHECK(!value.contains(QLatin1Char('\r')) && !value.contains(QLatin1Char('\n')));
    FUZZ_CHECK(value.isEmpty() || (!blank(value.front()) && !blank(value.back())));
    int begin = 0;
    while (begin < field.size() && blank(field.at(begin)))
        ++begin;
    FUZZ_CHECK(field.mid(begin).startsWith(value));
    const QString left = field.mid(begin + value.size());
    int k = 0;
    while (k < left.size() && blank(left.at(k)))
        ++k;
    FUZZ_CHECK(k == left.size() || left.at(k) == QLatin1Char('\r') || left.at(k) == QLatin1Char('\n'));
}

// A token field gives the item whose token prefixes the rest, -1 for none: no
// token is a prefix of another, so the match is unique whatever the test order.
void checkTokenField(const QString& rest, const QString& found, const QStringList& tokens)
{
    FUZZ_CHECK(found.isEmpty() || tokens.contains(found));
    for (const QString& token : tokens) {
        FUZZ_CHECK(!token.isEmpty());
        FUZZ_CHECK(rest.startsWith(token) == (found == token));
    }
}

void checkFlag(const QString& field)
{
    FUZZ_CHECK(At::flagOn(field) == (!field.isEmpty() && field.at(0) == QLatin1Char('1')));
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    static const bool keysChecked = (checkQueryKeys(), true);
    (void)keysChecked;
    if (size == 0)
        return 0;

    const QString key = QLatin1String(kKeys[data[0] % kKeyCount]);
    const QByteArray reply = fuzzBytes(data + 1, size - 1);

    const QString text = At::replyText(reply);
    FUZZ_CHECK(!text.contains(QChar(0)));
    FUZZ_CHECK(text.size() <= beforeFirstZero(reply).size());

    const bool hasKey = At::hasKey(reply, key);
    const QString rest = At::reportRest(reply, key);
    const QStringList fields = At::reportFields(reply, key);
    FUZZ_CHECK(hasKey == text.contains(key));
    if (!hasKey) {
        FUZZ_CHECK(rest.isEmpty());
        FUZZ_CHECK(fields.isEmpty());
    } else {
        // The rest follows the first key to the end of the text; the fields
        // are all of it, commas between them.
        const int at = text.indexOf(key);
        FUZZ_CHECK(at + key.size() + rest.size() == text.size());
        FUZZ_CHECK(text.endsWith(rest));
        FUZZ_CHECK(!fields.isEmpty());
        FUZZ_CHECK(fields.join(QLatin1Char(',')) == rest);
        FUZZ_CHECK(fields.size() == rest.count(QLatin1Char(',')) + 1);
    }

    for (int i = 0; i < 5 && i < fields.size(); ++i) {
        checkLineField(fields.at(i));
        checkFlag(fields.at(i));
    }
    checkLineField(rest);

    checkTokenField(rest, At::modeFromReport(rest), At::modeTokens());
    checkTokenField(rest, At::directionFromReport(rest), At::directionTokens());
    checkTokenField(rest, At::filterModeFromReport(rest), At::filterModeTokens());
    // The frame type is the third field of the CAN report.
    checkTokenField(rest, At::frameTypeFromReport(rest), At::frameTypeTokens());
    if (fields.size() > 2)
        checkTokenField(fields.at(2), At::frameTypeFromReport(fields.at(2)), At::frameTypeTokens());
    return 0;
}
