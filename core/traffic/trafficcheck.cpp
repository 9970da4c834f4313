#include "core/traffic/trafficcheck.h"

#include "core/traffic/canbus.h"
#include "core/transport/common.h"
#include "core/transport/serialsocket.h"

#include <QJsonArray>
#include <QSerialPort>

#include <QSet>

#include <algorithm>
#include <cmath>

namespace Traffic {

namespace {

constexpr quint8 kTag = 0xC5; // the first byte of every pattern message
constexpr int kMinGapMs = 20; // the tool's least pause between two messages
// A message counts as lost when nothing of it came within twice the latency
// limit and this slack (beyond its line time): one that comes later than the
// limit but within that window is measured as late, not as lost.
constexpr int kWindowSlackMs = 100;
constexpr int kShownSeqs = 10;

// The pattern's data of message `seq`: the tag, the sequence number, then
// bytes that depend on both, `size` bytes in all (2 to 8).
QByteArray payload(int seq, int size)
{
    QByteArray data;
    data.append(static_cast<char>(kTag));
    data.append(static_cast<char>(seq & 0xFF));
    for (int i = 2; i < size; ++i)
        data.append(static_cast<char>((seq * 29 + i * 71 + 0x3B) & 0xFF));
    return data;
}

// 3 to 8 bytes, so that both short and whole frames go through.
int payloadSize(int seq)
{
    return 3 + seq % 6;
}

// The frame the check sends to the module's serial line: one the module's
// filter accepts, near its own ID.
CanFrame acceptedFrame(const ModuleConfig& config)
{
    CanFrame f = ownFrame(config);
    const quint32 id = config.canId.toUInt(nullptr, 16);
    if (config.filterMode == QLatin1String("USER") && !config.filters.isEmpty()) {
        f.extended = config.filters.first().type == QLatin1String("EDTF");
        f.id = config.filters.first().id.toUInt(nullptr, 16);
    } else if (config.filterMode == QLatin1String("ETF")) {
        f.extended = true;
        f.id = id & 0x1FFFFFFFu;
    } else if (config.filterMode == QLatin1String("NTF")) {
        f.extended = false;
        f.id = id & 0x7FFu;
    }
    return f;
}

QString seqList(const QVector<int>& seqs)
{
    QStringList shown;
    for (int i = 0; i < seqs.size() && i < kShownSeqs; ++i)
        shown.append(QString::number(seqs.at(i)));
    if (seqs.size() > kShownSeqs)
        shown.append(QStringLiteral("..."));
    return QStringLiteral("seq ") + shown.join(QStringLiteral(", "));
}

QJsonArray jsonList(const QVector<int>& values)
{
    QJsonArray a;
    for (const int v : values)
        a.append(v);
    return a;
}

double rounded(double ms)
{
    return std::round(ms * 10) / 10;
}

} // namespace

QString directionText(Direction direction)
{
    return direction == Direction::SerialToCan ? QStringLiteral("serial→CAN") : QStringLiteral("CAN→serial");
}

QString directionKey(Direction direction)
{
    return direction == Direction::SerialToCan ? QStringLiteral("serialToCan") : QStringLiteral("canToSerial");
}

QString setupProblem(const CheckSetup& setup)
{
    if (setup.count < 1 || setup.count > CheckSetup::kMaxCount)
        return QStringLiteral("count %1: allowed 1 to %2").arg(setup.count).arg(CheckSetup::kMaxCount);
    if (setup.maxLatencyMs < 1)
        return QStringLiteral("latency limit %1 ms: allowed from 1 ms").arg(setup.maxLatencyMs);
    const ModuleConfig& c = setup.config;
    if (!followsConventions(c)) {
        QStringList missing;
        if (passesSerialToCan(c) && setup.vectors.serialToCan.isEmpty())
            missing.append(directionText(Direction::SerialToCan));
        if (passesCanToSerial(c) && setup.vectors.canToSerial.isEmpty())
            missing.append(directionText(Direction::CanToSerial));
        if (!missing.isEmpty())
            return QStringLiteral("mode %1: its conversion is checked with a profile's test vectors only, and there "
                                  "are none for %2 (a \"traffic\" section)")
                .arg(c.mode, missing.join(QStringLiteral(" and ")));
    }
    if (passesCanToSerial(c) && setup.vectors.canToSerial.isEmpty() && c.filterMode == QLatin1String("USER") &&
        c.filters.isEmpty())
        return QStringLiteral("filter.mode USER with an empty list: no frame reaches the serial line");
    return {};
}

double Measurement::latencyMedianMs() const
{
    if (latenciesMs.isEmpty())
        return 0;
    QVector<double> sorted = latenciesMs;
    std::sort(sorted.begin(), sorted.end());
    const int n = sorted.size();
    return n % 2 ? sorted.at(n / 2) : (sorted.at(n / 2 - 1) + sorted.at(n / 2)) / 2;
}

double Measurement::latencyMaxMs() const
{
    return latenciesMs.isEmpty() ? 0 : *std::max_element(latenciesMs.begin(), latenciesMs.end());
}

QJsonObject Measurement::json() const
{
    QJsonObject latency;
    if (latenciesMs.isEmpty()) {
        latency = {{"median", QJsonValue()}, {"max", QJsonValue()}};
    } else {
        latency = {{"median", rounded(latencyMedianMs())}, {"max", rounded(latencyMaxMs())}};
    }
    return {{"sent", sent},
            {"received", received},
            {"lost", lost},
            {"corrupted", corrupted},
            {"outOfOrder", outOfOrder},
            {"unexpected", unexpected},
            {"framesSent", framesSent},
            {"framesReceived", framesReceived},
            {"bytesSent", bytesSent},
            {"bytesReceived", bytesReceived},
            {"otherFrames", otherFrames},
            {"latencyMs", latency},
            {"lostSeqs", jsonList(lostSeqs)},
            {"corruptedSeqs", jsonList(corruptedSeqs)},
            {"outOfOrderSeqs", jsonList(outOfOrderSeqs)}};
}

QString Failure::text() const
{
    const QString where = directionText(direction) + QStringLiteral(": ");
    switch (kind) {
    case Kind::Lost:
        return where + QStringLiteral("%1 of %2 messages lost (%3)").arg(count).arg(of).arg(seqList(seqs));
    case Kind::Corrupted:
        return where + QStringLiteral("%1 of %2 messages corrupted (%3)").arg(count).arg(of).arg(seqList(seqs));
    case Kind::Unexpected:
        return where + what + (count > 1 ? QStringLiteral(" (%1 unexpected in all)").arg(count) : QString());
    case Kind::Latency:
        return where + QStringLiteral("latency up to %1 ms, above the limit of %2 ms (%3 of %4 messages)")
                           .arg(rounded(value))
                           .arg(limit)
                           .arg(count)
                           .arg(of);
    }
    return where;
}

QStringList CheckReport::failureTexts() const
{
    QStringList texts;
    for (const Failure& f : failures)
        texts.append(f.text());
    return texts;
}

QJsonObject CheckReport::json() const
{
    static const char* const verdicts[] = {"passed", "failed", "nothing-through", "stopped"};
    QJsonObject o{
        {"verdict", QLatin1String(verdicts[int(verdict)])},
        {"vectors", fromVectors},
        {"limits", QJsonObject{{"lost", 0}, {"corrupted", 0}, {"unexpected", 0}, {"latencyMs", maxLatencyMs}}},
        {"failures", QJsonArray::fromStringList(failureTexts())},
        {"durationMs", durationMs}};
    for (const Direction d : {Direction::SerialToCan, Direction::CanToSerial}) {
        QJsonValue v;
        for (const Measurement& m : directions) {
            if (m.direction == d && m.checked)
                v = m.json();
        }
        o.insert(directionKey(d), v);
    }
    return o;
}

QString CheckReport::table() const
{
    QString t = QStringLiteral("%1  %2  %3  %4  %5  %6  %7  %8\n")
                    .arg(QStringLiteral("direction"), -10)
                    .arg(QStringLiteral("sent"), 4)
                    .arg(QStringLiteral("received"), 8)
                    .arg(QStringLiteral("lost"), 4)
                    .arg(QStringLiteral("corrupted"), 9)
                    .arg(QStringLiteral("out of order"), 12)
                    .arg(QStringLiteral("unexpected"), 10)
                    .arg(QStringLiteral("latency median / max"));
    for (const Measurement& m : directions) {
        if (!m.checked) {
            t += QStringLiteral("%1  not passed by the module's direction\n").arg(directionText(m.direction), -10);
            continue;
        }
        const QString latency =
            m.latenciesMs.isEmpty()
                ? QStringLiteral("-")
                : QStringLiteral("%1 / %2 ms").arg(rounded(m.latencyMedianMs())).arg(rounded(m.latencyMaxMs()));
        t += QStringLiteral("%1  %2  %3  %4  %5  %6  %7  %8\n")
                 .arg(directionText(m.direction), -10)
                 .arg(m.sent, 4)
                 .arg(m.received, 8)
                 .arg(m.lost, 4)
                 .arg(m.corrupted, 9)
                 .arg(m.outOfOrder, 12)
                 .arg(m.unexpected, 10)
                 .arg(latency);
        if (m.otherFrames > 0)
            t += QStringLiteral("%1  %2 frames of other nodes ignored\n").arg(QString(), -10).arg(m.otherFrames);
    }
    return t;
}

TrafficCheck::TrafficCheck(SerialSocket* serial, CanBus* bus, const CheckSetup& setup, QObject* parent)
    : QObject(parent), m_serial(serial), m_bus(bus), m_setup(setup)
{}

QVector<TrafficCheck::Message> TrafficCheck::serialToCanPlan(const CheckSetup& setup)
{
    const ModuleConfig& c = setup.config;
    const QVector<SerialVector>& vectors = setup.vectors.serialToCan;
    QVector<Message> plan;
    for (int seq = 0; seq < setup.count; ++seq) {
        Message m;
        m.seq = seq;
        if (!vectors.isEmpty()) {
            m.serial = vectors.at(seq % vectors.size()).serial;
            m.frames = vectors.at(seq % vectors.size()).frames;
            plan.append(m);
            continue;
        }
        const CanFrame own = ownFrame(c);
        const QByteArray data = payload(seq, payloadSize(seq));
        const int length = qBound(0, c.idLength.toInt(), 4);
        if (c.mode == QLatin1String("TPRTL") && length > 0) {
            const int position = qBound(0, c.idPosition.toInt(), 7);
            const QByteArray body = payload(seq, qMax(position, payloadSize(seq)));
            m.serial = body.left(position) + idBytes(own.id, length) + body.mid(position);
        } else if (c.mode == QLatin1String("USER")) {
            m.serial = QByteArray::fromHex(c.head.toLatin1()) + data + QByteArray::fromHex(c.tail.toLatin1());
        } else if (c.mode == QLatin1String("PROTOL")) {
            CanFrame f = own;
            f.data = data;
            m.serial = canToSerial(c, f); // a record is the same both ways
        } else {
            m.serial = data;
        }
        m.frames = serialToCan(c, m.serial);
        plan.append(m);
    }
    return plan;
}

QVector<TrafficCheck::Message> TrafficCheck::canToSerialPlan(const CheckSetup& setup)
{
    const ModuleConfig& c = setup.config;
    const QVector<FrameVector>& vectors = setup.vectors.canToSerial;
    QVector<Message> plan;
    for (int seq = 0; seq < setup.count; ++seq) {
        Message m;
        m.seq = seq;
        if (!vectors.isEmpty()) {
            m.frames = {vectors.at(seq % vectors.size()).frame};
            m.serial = vectors.at(seq % vectors.size()).serial;
        } else {
            CanFrame f = acceptedFrame(c);
            f.data = payload(seq, payloadSize(seq));
            m.frames = {f};
            m.serial = canToSerial(c, f);
        }
        plan.append(m);
    }
    return plan;
}

int TrafficCheck::lineTimeMs(int bytes) const
{
    const int baud = qMax(1, int(m_serial->baudRate()));
    return (bytes * 11 * 1000 + baud - 1) / baud;
}

bool TrafficCheck::waitFor(int ms, const std::function<bool()>& done)
{
    const qint64 until = m_clock.elapsed() + ms;
    while (!m_stop && !done()) {
        const qint64 left = until - m_clock.elapsed();
        if (left <= 0)
            break;
        Common::delay(int(left), [&] { return m_stop || done(); });
    }
    return !m_stop;
}

void TrafficCheck::pauseBetweenMessages()
{
    const int gap = qMax(kMinGapMs, lineTimeMs(10));
    const qint64 last = qMax(m_lastTrafficMs, m_serialInMs);
    const qint64 wait = last + gap - m_clock.elapsed();
    if (wait > 0)
        waitFor(int(wait), [] { return false; });
}

void TrafficCheck::clearSerial()
{
    // What the module had sent before the check: until the line is quiet for
    // a gap, at most half a second.
    const qint64 until = m_clock.elapsed() + 500;
    m_serialInMs = m_clock.elapsed();
    while (!m_stop && m_clock.elapsed() < until) {
        waitFor(kMinGapMs * 2, [] { return false; });
        if (m_clock.elapsed() - m_serialInMs >= kMinGapMs * 2)
            break;
    }
    m_serialIn.clear();
}

CheckReport TrafficCheck::run()
{
    m_clock.start();
    m_stop = false;
    m_serialIn.clear();
    m_framesIn.clear();
    m_framesOut.clear();
    m_othersOnSerial.clear();
    const QObject scope; // the connections end with the run
    m_serial->setRawReceiver([this](const QByteArray& bytes) {
        if (bytes.isEmpty())
            return;
        m_serialIn += bytes;
        m_serialInMs = m_clock.elapsed();
        emit serialTraffic(bytes, false, nowUsecs());
    });
    // The port goes back to the exchange however the run ends.
    struct RawEnd
    {
        SerialSocket* port;
        ~RawEnd() { port->setRawReceiver({}); }
    } rawEnd{m_serial};
    connect(m_bus, &CanBus::frameReceived, &scope, [this](const CanFrame& frame, qint64 usecs) {
        m_framesIn.append({frame, m_clock.elapsed()});
        emit canTraffic(frame, false, usecs);
    });
    m_serial->readAll();
    clearSerial();

    CheckReport report;
    report.maxLatencyMs = m_setup.maxLatencyMs;
    const ModuleConfig& c = m_setup.config;
    Measurement toCan;
    toCan.direction = Direction::SerialToCan;
    toCan.checked = passesSerialToCan(c);
    Measurement toSerial;
    toSerial.direction = Direction::CanToSerial;
    toSerial.checked = passesCanToSerial(c);
    report.fromVectors = (toCan.checked && !m_setup.vectors.serialToCan.isEmpty()) ||
                         (toSerial.checked && !m_setup.vectors.canToSerial.isEmpty());
    if (toCan.checked)
        runSerialToCan(&toCan);
    if (toSerial.checked && !m_stop)
        runCanToSerial(&toSerial);
    report.directions = {toCan, toSerial};
    judge(&report);
    report.durationMs = m_clock.elapsed();
    return report;
}

void TrafficCheck::runSerialToCan(Measurement* m)
{
    const QVector<Message> plan = serialToCanPlan(m_setup);
    enum class Fate { Pending, Received, Corrupted, Wrong, Lost };
    struct State
    {
        Fate fate = Fate::Pending;
        QVector<int> got; // per expected frame: 0 not yet, 1 right, 2 other data, 3 other ID or type
        qint64 sentMs = 0;
        qint64 lastMs = 0;
    };
    QVector<State> states(plan.size());
    int highestReceived = -1; // the last message received whole
    // The IDs and types the check expects, and the module's own, to tell other nodes' frames.
    const CanFrame own = ownFrame(m_setup.config);
    QSet<quint64> ourIds{(quint64(own.extended) << 32) | own.id};
    for (const Message& msg : plan) {
        for (const CanFrame& f : msg.frames)
            ourIds.insert((quint64(f.extended) << 32) | f.id);
    }
    auto completeIfWhole = [&](int k, bool late) {
        State& s = states[k];
        if (s.got.count(1) == s.got.size()) {
            s.fate = Fate::Received;
            ++m->received;
            m->latenciesMs.append(double(s.lastMs - s.sentMs));
            if (late) {
                --m->lost;
                m->lostSeqs.removeAll(plan.at(k).seq);
            }
            if (k < highestReceived) {
                ++m->outOfOrder;
                m->outOfOrderSeqs.append(plan.at(k).seq);
            }
            highestReceived = qMax(highestReceived, k);
        }
    };
    // One frame from the bus while message `k` is the one in flight.
    auto take = [&](int k, const Arrived& a) {
        const QVector<CanFrame>& expected = plan.at(k).frames;
        State& s = states[k];
        for (int i = 0; i < expected.size(); ++i) {
            if (s.got.at(i) == 0 && expected.at(i) == a.frame) {
                s.got[i] = 1;
                s.lastMs = a.ms;
                ++m->framesReceived;
                return;
            }
        }
        for (int j = 0; j < k; ++j) {
            if (states.at(j).fate != Fate::Lost)
                continue;
            for (int i = 0; i < plan.at(j).frames.size(); ++i) {
                if (states.at(j).got.at(i) == 0 && plan.at(j).frames.at(i) == a.frame) {
                    states[j].got[i] = 1;
                    states[j].lastMs = a.ms;
                    ++m->framesReceived;
                    completeIfWhole(j, true);
                    return;
                }
            }
        }
        for (int i = 0; i < expected.size(); ++i) {
            if (s.got.at(i) == 0 && expected.at(i).data == a.frame.data) {
                s.got[i] = 3;
                ++m->framesReceived;
                ++m->unexpected;
                m->unexpectedTexts.append(
                    QStringLiteral("frame %1 expected, %2 received").arg(expected.at(i).idText(), a.frame.idText()));
                return;
            }
        }
        for (int i = 0; i < expected.size(); ++i) {
            if (s.got.at(i) == 0 && expected.at(i).id == a.frame.id && expected.at(i).extended == a.frame.extended) {
                s.got[i] = 2;
                ++m->framesReceived;
                return;
            }
        }
        if (ourIds.contains((quint64(a.frame.extended) << 32) | a.frame.id) ||
            (a.frame.data.size() >= 2 && quint8(a.frame.data.at(0)) == kTag)) {
            ++m->framesReceived;
            ++m->unexpected;
            m->unexpectedTexts.append(QStringLiteral("frame %1 unexpected").arg(a.frame.text()));
            return;
        }
        ++m->otherFrames;
        if (m_setup.vectors.canToSerial.isEmpty() && accepts(m_setup.config, a.frame))
            m_othersOnSerial.insert(canToSerial(m_setup.config, a.frame));
    };

    m_framesIn.clear();
    for (int k = 0; k < plan.size() && !m_stop; ++k) {
        emit progress(k + 1, plan.size(), directionText(Direction::SerialToCan));
        pauseBetweenMessages();
        if (m_stop)
            break;
        const Message& msg = plan.at(k);
        State& s = states[k];
        s.got = QVector<int>(msg.frames.size(), 0);
        s.sentMs = m_clock.elapsed();
        m_serial->write(msg.serial);
        m_serial->flush();
        emit serialTraffic(msg.serial, true, nowUsecs());
        m_lastTrafficMs = s.sentMs + lineTimeMs(msg.serial.size());
        ++m->sent;
        m->framesSent += msg.frames.size();
        m->bytesSent += msg.serial.size();
        const int window = lineTimeMs(msg.serial.size()) + 2 * m_setup.maxLatencyMs + kWindowSlackMs;
        // A message the module is to drop (a vector without frames) is
        // waited for the whole window: nothing of it may come.
        const int unexpectedBefore = m->unexpected;
        waitFor(window, [&] {
            while (!m_framesIn.isEmpty())
                take(k, m_framesIn.takeFirst());
            return !msg.frames.isEmpty() && !states.at(k).got.contains(0);
        });
        while (!m_framesIn.isEmpty())
            take(k, m_framesIn.takeFirst());
        if (msg.frames.isEmpty()) {
            s.fate = m->unexpected == unexpectedBefore ? Fate::Received : Fate::Wrong;
            m->received += s.fate == Fate::Received ? 1 : 0;
        } else if (s.got.count(1) == s.got.size()) {
            completeIfWhole(k, false);
        } else if (s.got.contains(3)) {
            s.fate = Fate::Wrong;
        } else if (s.got.contains(2) || s.got.contains(1)) {
            s.fate = Fate::Corrupted;
            ++m->corrupted;
            m->corruptedSeqs.append(msg.seq);
        } else {
            s.fate = Fate::Lost;
            ++m->lost;
            m->lostSeqs.append(msg.seq);
        }
    }
}

void TrafficCheck::runCanToSerial(Measurement* m)
{
    const QVector<Message> plan = canToSerialPlan(m_setup);
    QVector<bool> lost(plan.size(), false);
    QVector<qint64> sentAt(plan.size(), 0);
    int highestReceived = -1;
    pauseBetweenMessages();
    m_serialIn.clear();
    m_framesIn.clear();
    // Frames the bus brings meanwhile are the tool's own or other nodes'.
    // What the module makes of other nodes' frames that its filter lets
    // through is passed to its serial line, as it should be, and not judged.
    const bool conventions = m_setup.vectors.canToSerial.isEmpty();
    auto dropFrames = [&] {
        while (!m_framesIn.isEmpty()) {
            const Arrived a = m_framesIn.takeFirst();
            if (m_framesOut.contains(a.frame))
                continue;
            ++m->otherFrames;
            if (conventions && accepts(m_setup.config, a.frame))
                m_othersOnSerial.insert(canToSerial(m_setup.config, a.frame));
        }
    };
    // Drops the other nodes' conversions at the start of `bytes`.
    auto stripOthers = [&](QByteArray* bytes) {
        for (bool stripped = true; stripped && !bytes->isEmpty();) {
            stripped = false;
            for (const QByteArray& o : std::as_const(m_othersOnSerial)) {
                if (!o.isEmpty() && bytes->startsWith(o)) {
                    bytes->remove(0, o.size());
                    stripped = true;
                    break;
                }
            }
        }
    };
    for (int k = 0; k < plan.size() && !m_stop; ++k) {
        emit progress(k + 1, plan.size(), directionText(Direction::CanToSerial));
        pauseBetweenMessages();
        if (m_stop)
            break;
        const Message& msg = plan.at(k);
        const CanFrame& frame = msg.frames.constFirst();
        const QByteArray& expected = msg.serial;
        const qint64 sentMs = m_clock.elapsed();
        sentAt[k] = sentMs;
        if (!m_bus->send(frame)) {
            lost[k] = true;
            ++m->lost;
            m->lostSeqs.append(msg.seq);
            continue;
        }
        m_framesOut.append(frame);
        emit canTraffic(frame, true, nowUsecs());
        m_lastTrafficMs = sentMs;
        ++m->sent;
        ++m->framesSent;
        const int window = lineTimeMs(expected.size()) + 2 * m_setup.maxLatencyMs + kWindowSlackMs;
        qint64 reachedMs = -1;
        waitFor(window, [&] {
            dropFrames();
            if (!expected.isEmpty() && m_serialIn.contains(expected)) {
                reachedMs = m_serialInMs;
                return true;
            }
            return false;
        });
        // What came is judged once it reads clean: this message alone,
        // beside other nodes' conversions. Else a gap more or two, for the
        // rest of a conversion, or for another node's frame whose bytes
        // came on the serial line before the frame came from the bus.
        for (int settle = 0; settle < 2; ++settle) {
            dropFrames();
            QByteArray rest = m_serialIn;
            if (!rest.startsWith(expected))
                stripOthers(&rest);
            if (rest.startsWith(expected)) {
                rest.remove(0, expected.size());
                stripOthers(&rest);
            }
            if (rest.isEmpty())
                break;
            waitFor(kMinGapMs, [] { return false; });
        }
        dropFrames();
        m->bytesReceived += m_serialIn.size();
        QByteArray in = m_serialIn;
        m_serialIn.clear();
        bool done = expected.isEmpty();
        for (;;) {
            if (!done && in.startsWith(expected)) {
                done = true;
                ++m->received;
                m->latenciesMs.append(double((reachedMs >= 0 ? reachedMs : m_serialInMs) - sentMs));
                highestReceived = k;
                in.remove(0, expected.size());
                continue;
            }
            const int before = in.size();
            stripOthers(&in);
            if (in.size() != before)
                continue;
            int late = -1;
            for (int j = 0; j < k && late < 0; ++j) {
                if (lost.at(j) && !plan.at(j).serial.isEmpty() && in.startsWith(plan.at(j).serial))
                    late = j;
            }
            if (late < 0)
                break;
            lost[late] = false;
            --m->lost;
            ++m->received;
            m->lostSeqs.removeAll(plan.at(late).seq);
            if (late < highestReceived) {
                ++m->outOfOrder;
                m->outOfOrderSeqs.append(plan.at(late).seq);
            }
            m->latenciesMs.append(double(m_serialInMs - sentAt.at(late)));
            in.remove(0, plan.at(late).serial.size());
        }
        if (!done) {
            if (in.isEmpty()) {
                lost[k] = true;
                ++m->lost;
                m->lostSeqs.append(msg.seq);
            } else {
                ++m->corrupted;
                m->corruptedSeqs.append(msg.seq);
                in.remove(0, expected.size());
                stripOthers(&in);
            }
        }
        if (!in.isEmpty()) {
            ++m->unexpected;
            m->unexpectedTexts.append(QStringLiteral("%1 bytes unexpected (%2)")
                                          .arg(in.size())
                                          .arg(QString::fromLatin1(in.left(16).toHex(' ')).toUpper()));
        }
    }
}

void TrafficCheck::judge(CheckReport* report) const
{
    int through = 0;
    bool anyChecked = false;
    for (const Measurement& m : report->directions) {
        if (!m.checked)
            continue;
        anyChecked = true;
        through += m.received + m.corrupted + m.unexpected;
        if (m.lost > 0)
            report->failures.append({Failure::Kind::Lost, m.direction, m.lost, m.sent, m.lostSeqs, {}, 0, 0});
        if (m.corrupted > 0)
            report->failures.append(
                {Failure::Kind::Corrupted, m.direction, m.corrupted, m.sent, m.corruptedSeqs, {}, 0, 0});
        if (m.unexpected > 0)
            report->failures.append(
                {Failure::Kind::Unexpected, m.direction, m.unexpected, m.sent, {}, m.unexpectedTexts.first(), 0, 0});
        if (m.latencyMaxMs() > m_setup.maxLatencyMs) {
            // The messages that took too long, by their place among those received.
            Failure f{Failure::Kind::Latency, m.direction, 0, m.sent, {}, {}, m.latencyMaxMs(), m_setup.maxLatencyMs};
            f.count = int(std::count_if(m.latenciesMs.begin(), m.latenciesMs.end(),
                                        [&](double ms) { return ms > m_setup.maxLatencyMs; }));
            report->failures.append(f);
        }
    }
    if (m_stop)
        report->verdict = CheckReport::Verdict::Stopped;
    else if (anyChecked && through == 0)
        report->verdict = CheckReport::Verdict::NothingThrough;
    else if (!report->failures.isEmpty())
        report->verdict = CheckReport::Verdict::Failed;
    else
        report->verdict = CheckReport::Verdict::Passed;
}

} // namespace Traffic
