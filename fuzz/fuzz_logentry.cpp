// The log's text of an entry: byte 0 is the direction flag (as a signed byte,
// so that 1, 2, 3 and every other value come up), the rest is the traffic.
#include "core/protocol/logformat.h"
#include "fuzz/fuzzcheck.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    if (size == 0)
        return 0;
    const int flag = int8_t(data[0]);
    const QByteArray bytes = fuzzBytes(data + 1, size - 1);
    const QString text = LogFormat::entryText(bytes, flag);

    FUZZ_CHECK(LogFormat::isPlainEntry(flag) == (flag == LogFormat::Sent || flag == LogFormat::Received));

    QString head;
    switch (flag) {
    case LogFormat::Sent:
        head = QStringLiteral("TX:");
        break;
    case LogFormat::Received:
        head = QStringLiteral("RX:");
        break;
    case LogFormat::Message:
        break;
    default:
        FUZZ_CHECK(text.isEmpty());
        return 0;
    }
    FUZZ_CHECK(text.startsWith(head));
    FUZZ_CHECK(!text.contains(QChar(0)));

    // The data up to its zero, all of it: each byte gives at most one unit.
    // (A message, which has no head, loses a leading byte order mark.)
    const QByteArray shown = beforeFirstZero(bytes);
    const QString body = text.mid(head.size());
    FUZZ_CHECK(body.size() <= shown.size());
    if (LogFormat::isPlainEntry(flag))
        FUZZ_CHECK(shown.isEmpty() == body.isEmpty());
    if (isAscii(shown))
        FUZZ_CHECK(body.toLatin1() == shown);
    return 0;
}
