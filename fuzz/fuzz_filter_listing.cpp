// The module's filter listing. Two inputs come from every run: the bytes as a
// reply, whatever they hold, and a well-formed listing built from them, which
// must be read back entry for entry.
#include "core/protocol/atprotocol.h"
#include "core/protocol/configreading.h"
#include "core/protocol/filtercheck.h"
#include "fuzz/fuzzcheck.h"

#include <cstring>
#include <memory>

namespace {

// The capital Rs of the text up to its zero, at most the listing's limit.
int countRs(const char* str)
{
    int count = 0;
    for (const char* p = str; *p; ++p)
        count += *p == 'R';
    return count < At::kMaxListedFilters ? count : At::kMaxListedFilters;
}

void checkAnyReply(const uint8_t* data, size_t size)
{
    // The counter gets a zero-terminated copy in a buffer of exactly that
    // size, so that a read past the terminator is caught.
    const std::unique_ptr<char[]> str(new char[size + 1]);
    std::memcpy(str.get(), data, size);
    str[size] = '\0';
    const int count = At::countListedEntries(str.get());
    FUZZ_CHECK(count >= 0 && count <= At::kMaxListedFilters);
    FUZZ_CHECK(count == countRs(str.get()));

    const QByteArray reply = fuzzBytes(data, size);
    const QString text = At::replyText(reply);
    const QByteArray latin = text.toLatin1();
    const QVector<At::FilterEntry> entries = At::parseFilterListing(reply);
    FUZZ_CHECK(entries.size() <= At::kMaxListedFilters);
    FUZZ_CHECK(entries.size() <= latin.count("AT+FILTER="));
    const auto blankAtEnd = [](const QString& s) {
        return !s.isEmpty() && (s.front() == QLatin1Char(' ') || s.back() == QLatin1Char(' '));
    };
    for (const At::FilterEntry& entry : entries) {
        FUZZ_CHECK(!entry.type.contains(QLatin1Char(',')));
        for (const QString& part : {entry.type, entry.id}) {
            FUZZ_CHECK(!part.contains(QLatin1Char('\r')) && !part.contains(QLatin1Char('\n')));
            FUZZ_CHECK(!part.contains(QChar(0)));
            FUZZ_CHECK(!blankAtEnd(part));
        }
    }

    // What the read-back keeps of it are real filters only.
    const ConfigReading reading = Reading::parse(ConfigGroup::FilterList, reply);
    FUZZ_CHECK(reading.fields & ConfigField::FilterList);
    FUZZ_CHECK(reading.values.filters.size() + reading.notes.size() <= entries.size());
    for (const At::FilterEntry& entry : reading.values.filters) {
        FUZZ_CHECK(FilterCheck::checkId(entry.type, entry.id) == FilterCheck::IdVerdict::Accepted);
        FUZZ_CHECK(!entry.id.isEmpty() && entry.id == At::canonicalHex(entry.id) && entry.id == entry.id.toUpper());
    }
}

// Entries of either type with IDs of hexadecimal digits (either case, at most
// 3 or 8 of them) taken from the input, and the listing the module sends for them.
void checkWellFormed(const uint8_t* data, size_t size)
{
    QVector<At::FilterEntry> listed;
    QByteArray reply = QByteArrayLiteral("\r\n");
    size_t i = 0;
    while (i < size) {
        const uint8_t head = data[i++];
        const bool extended = head & 1;
        const int maxDigits = extended ? 8 : 3;
        const int digits = 1 + (head >> 1) % maxDigits;
        QByteArray id;
        for (int d = 0; d < digits && i < size; ++d, ++i) {
            const char* const set = (data[i] & 0x10) ? "0123456789abcdef" : "0123456789ABCDEF";
            id += set[data[i] & 0x0F];
        }
        if (id.isEmpty())
            break;
        const QByteArray type = extended ? QByteArrayLiteral("EDTF") : QByteArrayLiteral("NDTF");
        reply += "AT+FILTER=" + type + ',' + id + "\r\n";
        listed.append({QString::fromLatin1(type), QString::fromLatin1(id)});
    }
    reply += At::kOkReply;

    const QVector<At::FilterEntry> entries = At::parseFilterListing(reply);
    FUZZ_CHECK(entries == listed.mid(0, At::kMaxListedFilters));
    // Each entry is kept, as the editors write it, or named as skipped.
    const ConfigReading reading = Reading::parse(ConfigGroup::FilterList, reply);
    FUZZ_CHECK(reading.values.filters.size() + reading.notes.size() == entries.size());
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    static const bool nullCounted = At::countListedEntries(nullptr) == 0;
    FUZZ_CHECK(nullCounted);
    checkAnyReply(data, size);
    checkWellFormed(data, size);
    return 0;
}
