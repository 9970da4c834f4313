#include "core/traffic/vectors.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>

namespace Traffic {

namespace {

// A data frame of candump's notation at `place`; false with the problem added.
bool frameAt(const QJsonValue& value, const QString& place, CanFrame* frame, QStringList* problems)
{
    if (!value.isString() || !parseFrame(value.toString(), frame)) {
        const QString shown = value.isString() ? QLatin1Char('"') + value.toString() + QLatin1Char('"')
                                               : QStringLiteral("a value that is not text");
        problems->append(
            QStringLiteral("%1: %2 is not a frame (ID#DATA in hex: 1A1#DEADBEEF, 1ABCDEF0#01)").arg(place, shown));
        return false;
    }
    if (frame->remote) {
        problems->append(
            QStringLiteral("%1: %2 is a remote frame; only data frames are converted").arg(place, value.toString()));
        return false;
    }
    return true;
}

bool serialAt(const QJsonObject& object, const QString& place, bool mayBeEmpty, QByteArray* bytes,
              QStringList* problems)
{
    const QJsonValue value = object.value(QLatin1String("serial"));
    if (!value.isString() || !parseHex(value.toString(), bytes)) {
        problems->append(QStringLiteral("%1.serial: missing or not hex bytes (\"01 A1 DE AD\")").arg(place));
        return false;
    }
    if (bytes->isEmpty() && !mayBeEmpty) {
        problems->append(QStringLiteral("%1.serial: no bytes to send").arg(place));
        return false;
    }
    return true;
}

QJsonArray arrayAt(const QJsonObject& traffic, const char* key, QStringList* problems)
{
    const QJsonValue value = traffic.value(QLatin1String(key));
    if (value.isUndefined())
        return {};
    if (!value.isArray())
        problems->append(QStringLiteral("traffic.%1: not a list").arg(QLatin1String(key)));
    return value.toArray();
}

} // namespace

bool parseHex(const QString& text, QByteArray* bytes)
{
    QString digits = text;
    digits.remove(QLatin1Char(' '));
    if (digits.size() % 2 != 0)
        return false;
    for (const QChar c : digits) {
        if (c.unicode() > 0x7F || !isxdigit(c.toLatin1()))
            return false;
    }
    *bytes = QByteArray::fromHex(digits.toLatin1());
    return true;
}

bool readVectors(const QByteArray& profileText, Vectors* vectors, QStringList* problems)
{
    const QJsonValue section = QJsonDocument::fromJson(profileText).object().value(QLatin1String("traffic"));
    *vectors = Vectors();
    if (section.isUndefined())
        return true;
    const int before = problems->size();
    if (!section.isObject()) {
        problems->append(QStringLiteral("traffic: not an object"));
        return false;
    }
    const QJsonObject traffic = section.toObject();
    for (auto it = traffic.begin(); it != traffic.end(); ++it) {
        if (it.key() != QLatin1String("serialToCan") && it.key() != QLatin1String("canToSerial"))
            problems->append(QStringLiteral("traffic.%1: unknown key; known: serialToCan, canToSerial").arg(it.key()));
    }

    const QJsonArray serialToCan = arrayAt(traffic, "serialToCan", problems);
    for (int i = 0; i < serialToCan.size(); ++i) {
        const QString place = QStringLiteral("traffic.serialToCan[%1]").arg(i);
        const QJsonObject v = serialToCan.at(i).toObject();
        SerialVector vector;
        bool ok = serialAt(v, place, false, &vector.serial, problems);
        const QJsonValue frames = v.value(QLatin1String("frames"));
        if (!frames.isArray()) {
            problems->append(QStringLiteral("%1.frames: missing or not a list").arg(place));
            ok = false;
        }
        const QJsonArray list = frames.toArray();
        for (int k = 0; k < list.size(); ++k) {
            CanFrame f;
            ok = frameAt(list.at(k), QStringLiteral("%1.frames[%2]").arg(place).arg(k), &f, problems) && ok;
            vector.frames.append(f);
        }
        if (ok)
            vectors->serialToCan.append(vector);
    }

    const QJsonArray canToSerial = arrayAt(traffic, "canToSerial", problems);
    for (int i = 0; i < canToSerial.size(); ++i) {
        const QString place = QStringLiteral("traffic.canToSerial[%1]").arg(i);
        const QJsonObject v = canToSerial.at(i).toObject();
        FrameVector vector;
        bool ok = frameAt(v.value(QLatin1String("frame")), place + QStringLiteral(".frame"), &vector.frame, problems);
        ok = serialAt(v, place, true, &vector.serial, problems) && ok;
        if (ok)
            vectors->canToSerial.append(vector);
    }
    return problems->size() == before;
}

} // namespace Traffic
