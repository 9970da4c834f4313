// The module's filter listing. Two inputs come from every run: the bytes as a
// reply, whatever they hold, and a well-formed listing built from them, which
// must be read back entry for entry.
#include "atprotocol.h"
#include "fuzzcheck.h"

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
    FUZZ_CHECK(entries.size() <= At::countListedEntries(latin.constData()));
    FUZZ_CHECK(entries.size() <= latin.count("AT+FILTER="));
    for (const At::FilterEntry& entry : entries) {
        FUZZ_CHECK(entry.type.size() <= 4);
        FUZZ_CHECK(!entry.type.contains(QLatin1Char(',')));
        FUZZ_CHECK(entry.id.size() <= 10);
        FUZZ_CHECK(!entry.id.contains(QLatin1Char('\r')) && !entry.id.contains(QLatin1Char('\n')));
        FUZZ_CHECK(!entry.type.contains(QChar(0)) && !entry.id.contains(QChar(0)));
        // The type follows a key of the listing.
        FUZZ_CHECK(latin.contains("AT+FILTER=" + entry.type.toLatin1()));
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
