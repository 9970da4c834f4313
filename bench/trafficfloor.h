#pragma once

#include <QJsonObject>
#include <QLatin1String>

#include <algorithm>

// The least time the traffic check can take on a module, from what one run
// sent and received (its --json result), in its parts. The check waits for a
// quiet serial line before it starts and leaves a gap of at least 20 ms (10
// character times on slow lines) between its messages. Serial to CAN, the
// gap counts from the end of a message's bytes, so the module's
// end-of-message gap (4 character times, at least 2 ms) and the frames on the
// bus only count where they outlast it; CAN to serial, it counts from the
// last byte of the conversion. Frames are counted at the bus's bit rate
// without stuff bits, as standard data frames (47 bits and 8 per data byte;
// CAN to serial without their data, which the mode's conversion hides).
struct TrafficFloor
{
    double clearMs = 0;  // the quiet line before the first message: two gaps
    double gapsMs = 0;   // the tool's gaps, one per message
    double serialMs = 0; // the bytes on the serial line, both ways, 11 bits each
    double canMs = 0;    // the frames on the bus (CAN to serial) and what outlasts the gaps (serial to CAN)

    double totalMs() const { return clearMs + gapsMs + serialMs + canMs; }
};

inline TrafficFloor trafficFloor(const QJsonObject& result, int baud, int canKbit)
{
    const double charMs = 11000.0 / std::max(1, baud);
    const double gapMs = std::max(20.0, 10 * charMs);
    const double bitMs = 1.0 / std::max(1, canKbit);
    auto number = [](const QJsonObject& o, const char* key) { return o.value(QLatin1String(key)).toDouble(); };
    TrafficFloor f;
    f.clearMs = 2 * gapMs;

    const QJsonObject toCan = result.value(QLatin1String("serialToCan")).toObject();
    const double sent = number(toCan, "sent");
    if (sent > 0) {
        const double bytes = number(toCan, "bytesSent");
        const double frameMs = (47 * number(toCan, "framesSent") + 8 * bytes) * bitMs / sent;
        const double moduleGapMs = std::max(2.0, 4 * charMs);
        f.gapsMs += sent * gapMs;
        f.serialMs += bytes * charMs;
        f.canMs += sent * std::max(0.0, moduleGapMs + frameMs - gapMs);
    }
    const QJsonObject toSerial = result.value(QLatin1String("canToSerial")).toObject();
    const double frames = number(toSerial, "sent");
    if (frames > 0) {
        f.gapsMs += frames * gapMs;
        f.canMs += frames * 47 * bitMs;
        f.serialMs += number(toSerial, "bytesReceived") * charMs;
    }
    return f;
}
