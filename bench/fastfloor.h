#pragma once

#include "bench/report.h"

#include <QByteArray>
#include <QtGlobal>

#include <algorithm>
#include <vector>

// The least time a sequence at the fast pace can take against the simulated
// module, in its parts. The fast pace itself leaves the 150 ms guard after
// "+++", a quiet gap before each command (and after the last reply) and the
// bytes on the line; the simulated module adds its own wait for the end of
// each frame before it answers, which a tool cannot shorten.
struct FastFloor
{
    double guardMs = 0;    // after "+++"
    double gapsMs = 0;     // one quiet gap of max(5, 110000 / baud) ms per exchange
    double commandsMs = 0; // the command bytes on the line, 11 bits each
    double repliesMs = 0;  // the reply bytes on the line, 11 bits each
    double moduleMs = 0;   // per exchange, the module's end-of-frame gap: max(20 ms, 3.5 character times)

    double wireMs() const { return commandsMs + repliesMs; }
    double paceMs() const { return guardMs + gapsMs + wireMs(); }
    double totalMs() const { return paceMs() + moduleMs; }
};

constexpr int kEscapeGuardMs = 150;

// The fast pace's quiet gap, as the session computes it.
inline int quietGapMs(int baud)
{
    return std::max(5, baud > 0 ? 110000 / baud : 0);
}

// The idle gap after which the simulated module takes a frame as ended.
inline int moduleFrameGapMs(int baud)
{
    return std::max(20, baud > 0 ? (35000 + baud - 1) / baud : 0);
}

inline FastFloor fastFloor(int exchanges, qint64 commandBytes, qint64 replyBytes, int baud);

// The floors of several runs with the traffic that set them, reported as
// medians: PREFIX_exchanges, _gaps_ms, _wire_ms, _command_wire_ms, _pace_ms,
// _module_ms, _command_bytes and _reply_bytes.
class FastFloorParts
{
public:
    void add(const FastFloor& f, int exchanges, qint64 commandBytes, qint64 replyBytes)
    {
        m_exchanges.push_back(exchanges);
        m_gaps.push_back(f.gapsMs);
        m_wires.push_back(f.wireMs());
        m_commandWires.push_back(f.commandsMs);
        m_paces.push_back(f.paceMs());
        m_modules.push_back(f.moduleMs);
        m_commandBytes.push_back(double(commandBytes));
        m_replyBytes.push_back(double(replyBytes));
    }

    void put(const QByteArray& prefix) const
    {
        ::put(prefix + "_exchanges", median(m_exchanges), 0);
        ::put(prefix + "_gaps_ms", median(m_gaps), 0);
        ::put(prefix + "_wire_ms", median(m_wires), 0);
        ::put(prefix + "_command_wire_ms", median(m_commandWires), 0);
        ::put(prefix + "_pace_ms", median(m_paces), 0);
        ::put(prefix + "_module_ms", median(m_modules), 0);
        ::put(prefix + "_command_bytes", median(m_commandBytes), 0);
        ::put(prefix + "_reply_bytes", median(m_replyBytes), 0);
    }

private:
    std::vector<double> m_exchanges, m_gaps, m_wires, m_commandWires, m_paces, m_modules, m_commandBytes, m_replyBytes;
};

inline FastFloor fastFloor(int exchanges, qint64 commandBytes, qint64 replyBytes, int baud)
{
    FastFloor f;
    f.guardMs = kEscapeGuardMs;
    f.gapsMs = double(exchanges) * quietGapMs(baud);
    f.commandsMs = baud > 0 ? double(commandBytes) * 11000.0 / baud : 0;
    f.repliesMs = baud > 0 ? double(replyBytes) * 11000.0 / baud : 0;
    f.moduleMs = double(exchanges) * moduleFrameGapMs(baud);
    return f;
}
