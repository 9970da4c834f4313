// The yes/no judgements on the module's replies during the connection: the
// configuration-mode notice and the reply to turning the echo off.
#include "core/protocol/atprotocol.h"
#include "fuzz/fuzzcheck.h"

#include <algorithm>
#include <cstring>

namespace {

const char kOk[] = "\r\n+OK\r\n\r\n";
const char kEchoedOk[] = "AT+E=OFF\r\n\r\n+OK\r\n\r\n";
const char kNotice[] = "\r\nAT MODE\r\n\r\n";

bool startsWith(const uint8_t* data, size_t size, const char* prefix)
{
    const size_t n = std::strlen(prefix);
    return size >= n && std::memcmp(data, prefix, n) == 0;
}

void checkConstants()
{
    FUZZ_CHECK(At::kOkReply == kOk);
    FUZZ_CHECK(At::kEchoedOk == kEchoedOk);
    FUZZ_CHECK(At::kConfigNotice == kNotice);
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    static const bool constantsChecked = (checkConstants(), true);
    (void)constantsChecked;
    const QByteArray reply = fuzzBytes(data, size);

    FUZZ_CHECK(At::echoOffAccepted(reply) == (startsWith(data, size, kOk) || startsWith(data, size, kEchoedOk)));

    // The notice counts only before the first zero byte, anywhere there.
    const uint8_t* const zero = static_cast<const uint8_t*>(std::memchr(data, 0, size));
    const uint8_t* const end = zero ? zero : data + size;
    const uint8_t* const notice = reinterpret_cast<const uint8_t*>(kNotice);
    const bool noticeSeen = std::search(data, end, notice, notice + std::strlen(kNotice)) != end;
    FUZZ_CHECK(At::hasConfigNotice(reply) == noticeSeen);

    const QString text = At::replyText(reply);
    const QByteArray prefix = QByteArray(reinterpret_cast<const char*>(data), int(end - data));
    FUZZ_CHECK(!text.contains(QChar(0)));
    FUZZ_CHECK(text.size() <= prefix.size());
    if (isAscii(prefix))
        FUZZ_CHECK(text.toLatin1() == prefix);
    return 0;
}
