#include "core/traffic/conversion.h"

namespace Traffic {

namespace {

constexpr int kMaxData = 8;
constexpr int kRecordSize = 13; // PROTOL: info, ID in 4 bytes, 8 data bytes

bool extendedType(const ModuleConfig& config)
{
    return config.frameType == QLatin1String("EDTF");
}

quint32 idMask(bool extended)
{
    return extended ? 0x1FFFFFFFu : 0x7FFu;
}

quint32 bigEndian(const QByteArray& bytes)
{
    quint32 value = 0;
    for (const char c : bytes)
        value = (value << 8) | static_cast<quint8>(c);
    return value;
}

// `data` in frames of up to 8 bytes, each with `frame`'s ID and type; one
// empty frame for no data.
QVector<CanFrame> framesOf(const CanFrame& frame, const QByteArray& data)
{
    QVector<CanFrame> frames;
    int at = 0;
    do {
        CanFrame f = frame;
        f.data = data.mid(at, kMaxData);
        frames.append(f);
        at += kMaxData;
    } while (at < data.size());
    return frames;
}

int identifierLength(const ModuleConfig& config)
{
    return qBound(0, config.idLength.toInt(), 4);
}

int identifierPosition(const ModuleConfig& config)
{
    return qBound(0, config.idPosition.toInt(), 7);
}

QByteArray hexByte(const QString& text)
{
    return QByteArray(1, static_cast<char>(text.toUInt(nullptr, 16) & 0xFF));
}

} // namespace

QString CanFrame::idText() const
{
    const QString hex = QString::number(id, 16).toUpper();
    return extended ? QStringLiteral("0x%1 (extended)").arg(hex) : QStringLiteral("0x") + hex;
}

QString CanFrame::text() const
{
    const QString hex = QString::number(id, 16).toUpper().rightJustified(extended ? 8 : 3, QLatin1Char('0'));
    return hex + QLatin1Char('#') + (remote ? QStringLiteral("R") : QString::fromLatin1(data.toHex()).toUpper());
}

bool parseFrame(const QString& text, CanFrame* frame)
{
    const int hash = text.indexOf(QLatin1Char('#'));
    if (hash != 3 && hash != 8)
        return false;
    bool ok = false;
    CanFrame f;
    f.id = text.left(hash).toUInt(&ok, 16);
    f.extended = hash == 8;
    if (!ok || f.id > idMask(f.extended))
        return false;
    const QString rest = text.mid(hash + 1);
    if (rest.compare(QLatin1String("R"), Qt::CaseInsensitive) == 0) {
        f.remote = true;
    } else {
        if (rest.size() % 2 != 0 || rest.size() > 2 * kMaxData)
            return false;
        for (const QChar c : rest) {
            if (!isxdigit(c.toLatin1()))
                return false;
        }
        f.data = QByteArray::fromHex(rest.toLatin1());
    }
    *frame = f;
    return true;
}

quint8 frameInfoByte(const CanFrame& frame)
{
    return static_cast<quint8>((frame.extended ? 0x80 : 0) | (frame.remote ? 0x40 : 0) | (frame.data.size() & 0x0F));
}

QByteArray idBytes(quint32 id, int bytes)
{
    QByteArray out;
    for (int i = bytes - 1; i >= 0; --i)
        out.append(static_cast<char>((id >> (8 * i)) & 0xFF));
    return out;
}

bool followsConventions(const ModuleConfig& config)
{
    return config.mode != QLatin1String("MODBUS");
}

bool passesSerialToCan(const ModuleConfig& config)
{
    return config.direction != QLatin1String("CAN-UART");
}

bool passesCanToSerial(const ModuleConfig& config)
{
    return config.direction != QLatin1String("UART-CAN");
}

bool accepts(const ModuleConfig& config, const CanFrame& frame)
{
    if (frame.remote)
        return false;
    if (config.filterMode == QLatin1String("ETF"))
        return frame.extended;
    if (config.filterMode == QLatin1String("NTF"))
        return !frame.extended;
    if (config.filterMode == QLatin1String("USER")) {
        for (const At::FilterEntry& e : config.filters) {
            if ((e.type == QLatin1String("EDTF")) == frame.extended && e.id.toUInt(nullptr, 16) == frame.id)
                return true;
        }
        return false;
    }
    return true;
}

CanFrame ownFrame(const ModuleConfig& config)
{
    CanFrame f;
    f.extended = extendedType(config);
    f.id = config.canId.toUInt(nullptr, 16) & idMask(f.extended);
    return f;
}

QVector<CanFrame> serialToCan(const ModuleConfig& config, const QByteArray& message)
{
    if (message.isEmpty())
        return {};
    const CanFrame own = ownFrame(config);
    const int length = identifierLength(config);
    if (config.mode == QLatin1String("TPRTL") && length > 0) {
        const int position = identifierPosition(config);
        if (message.size() < position + length)
            return {};
        CanFrame f = own;
        f.id = bigEndian(message.mid(position, length)) & idMask(f.extended);
        return framesOf(f, message.left(position) + message.mid(position + length));
    }
    if (config.mode == QLatin1String("USER")) {
        const QByteArray head = hexByte(config.head);
        const QByteArray tail = hexByte(config.tail);
        const int data = message.size() - head.size() - tail.size();
        if (data < 0 || data > kMaxData || !message.startsWith(head) || !message.endsWith(tail))
            return {};
        return framesOf(own, message.mid(head.size(), data));
    }
    if (config.mode == QLatin1String("PROTOL")) {
        if (message.size() % kRecordSize != 0)
            return {};
        QVector<CanFrame> frames;
        for (int at = 0; at < message.size(); at += kRecordSize) {
            const auto info = static_cast<quint8>(message.at(at));
            CanFrame f;
            f.extended = info & 0x80;
            f.remote = info & 0x40;
            f.id = bigEndian(message.mid(at + 1, 4)) & idMask(f.extended);
            if (!f.remote)
                f.data = message.mid(at + 5, qMin(int(info & 0x0F), kMaxData));
            frames.append(f);
        }
        return frames;
    }
    if (config.mode == QLatin1String("TRANS") || config.mode == QLatin1String("TPRTL"))
        return framesOf(own, message);
    return {};
}

QByteArray canToSerial(const ModuleConfig& config, const CanFrame& frame)
{
    const int length = identifierLength(config);
    if (config.mode == QLatin1String("TRANS")) {
        QByteArray out;
        if (config.frameInfo)
            out.append(static_cast<char>(frameInfoByte(frame)));
        if (config.frameId)
            out.append(idBytes(frame.id, frame.extended ? 4 : 2));
        return out + frame.data;
    }
    if (config.mode == QLatin1String("TPRTL")) {
        if (length == 0)
            return frame.data;
        QByteArray out = frame.data;
        out.insert(qMin(identifierPosition(config), int(out.size())), idBytes(frame.id, length));
        return out;
    }
    if (config.mode == QLatin1String("USER"))
        return hexByte(config.head) + frame.data + hexByte(config.tail);
    if (config.mode == QLatin1String("PROTOL")) {
        QByteArray data = frame.data.left(kMaxData);
        data.append(QByteArray(kMaxData - data.size(), '\0'));
        return QByteArray(1, static_cast<char>(frameInfoByte(frame))) + idBytes(frame.id, 4) + data;
    }
    return {};
}

} // namespace Traffic
