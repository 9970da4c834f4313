#include "core/station/modulerecord.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonValue>

using namespace Operation;

namespace {

// The keys of a record, as the report has always spelled them.
namespace Key {
const QString time = QStringLiteral("time");
const QString port = QStringLiteral("port");
const QString adapter = QStringLiteral("adapter");
const QString device = QStringLiteral("device");
const QString module = QStringLiteral("module");
const QString row = QStringLiteral("row");
const QString values = QStringLiteral("values");
const QString result = QStringLiteral("result");
const QString status = QStringLiteral("status");
const QString differences = QStringLiteral("differences");
const QString refused = QStringLiteral("refused");
const QString unanswered = QStringLiteral("unanswered");
const QString stoppedAfter = QStringLiteral("stoppedAfter");
const QString written = QStringLiteral("written");
const QString partlyWritten = QStringLiteral("partlyWritten");
const QString notWritten = QStringLiteral("notWritten");
const QString newLine = QStringLiteral("newLine");
const QString error = QStringLiteral("error");
const QString durationMs = QStringLiteral("durationMs");
const QString duplicateOf = QStringLiteral("duplicateOf");
const QString traffic = QStringLiteral("traffic");
} // namespace Key

const QStringList& knownKeys()
{
    static const QStringList k{Key::time,       Key::port,       Key::adapter,      Key::device,     Key::module,
                               Key::row,        Key::values,     Key::result,       Key::status,     Key::differences,
                               Key::refused,    Key::unanswered, Key::stoppedAfter, Key::written,    Key::partlyWritten,
                               Key::notWritten, Key::newLine,    Key::error,        Key::durationMs, Key::duplicateOf,
                               Key::traffic};
    return k;
}

QStringList textsOf(const QJsonValue& v)
{
    QStringList texts;
    for (const QJsonValue& item : v.toArray())
        texts.append(item.toString());
    return texts;
}

std::optional<QStringList> optionalTexts(const QJsonObject& o, const QString& key)
{
    if (!o.contains(key))
        return std::nullopt;
    return textsOf(o.value(key));
}

void insertTexts(QJsonObject* o, const QString& key, const std::optional<QStringList>& texts)
{
    if (texts)
        o->insert(key, QJsonArray::fromStringList(*texts));
}

// What a module's operation says of how it went, from a result's fields or
// a record: the same keys in both.
void readOutcome(const QJsonObject& o, ModuleRecord* m)
{
    for (const QJsonValue& v : o.value(Key::differences).toArray()) {
        const QJsonObject d = v.toObject();
        const bool written = !d.contains(QStringLiteral("profile"));
        m->differences.append({d.value(QStringLiteral("field")).toString(),
                               d.value(written ? QStringLiteral("wrote") : QStringLiteral("profile")).toString(),
                               d.value(Key::module).toString(), written});
    }
    for (const QJsonValue& v : o.value(Key::refused).toArray()) {
        const QJsonObject c = v.toObject();
        m->refused.append({c.value(QStringLiteral("command")).toString(), c.value(QStringLiteral("reply")).toString()});
    }
    m->unanswered = optionalTexts(o, Key::unanswered);
    if (o.contains(Key::stoppedAfter)) {
        const QJsonObject s = o.value(Key::stoppedAfter).toObject();
        m->stoppedAfter =
            ModuleRecord::Stop{s.value(QStringLiteral("step")).toInt(), s.value(QStringLiteral("steps")).toInt(),
                               s.value(QStringLiteral("command")).toString()};
    }
    m->written = optionalTexts(o, Key::written);
    m->partlyWritten = optionalTexts(o, Key::partlyWritten);
    m->notWritten = optionalTexts(o, Key::notWritten);
    m->newLine = o.value(Key::newLine).toString();
    if (o.contains(Key::duplicateOf)) {
        const QJsonObject h = o.value(Key::duplicateOf).toObject();
        m->duplicateOf = ModuleRecord::Holder{h.value(QStringLiteral("station")).toString(),
                                              h.value(QStringLiteral("port")).toString(), h.value(Key::module).toInt()};
    }
}

} // namespace

bool ModuleRecord::Difference::operator==(const Difference& o) const
{
    return field == o.field && expected == o.expected && module == o.module && written == o.written;
}

bool ModuleRecord::Refusal::operator==(const Refusal& o) const
{
    return command == o.command && reply == o.reply;
}

bool ModuleRecord::Holder::operator==(const Holder& o) const
{
    return station == o.station && port == o.port && module == o.module;
}

bool ModuleRecord::Stop::operator==(const Stop& o) const
{
    return step == o.step && steps == o.steps && command == o.command;
}

QTime ModuleRecord::timeOfDay() const
{
    // The offset says where the station was; the time of day is the station's own.
    const int t = time.indexOf(QLatin1Char('T'));
    return t < 0 ? QTime() : QTime::fromString(time.mid(t + 1, 8), QStringLiteral("HH:mm:ss"));
}

ModuleRecord::Verdict ModuleRecord::verdictOf(const Result& r)
{
    switch (r.status) {
    case Done:
        return Verdict::Ok;
    case Differences:
        return Verdict::Differences;
    case NoAnswer:
        return r.fields.value(Key::refused).toArray().isEmpty() ? Verdict::NoAnswer : Verdict::Refused;
    default:
        return Verdict::CutShort;
    }
}

QString ModuleRecord::word(Verdict verdict)
{
    switch (verdict) {
    case Verdict::Ok:
        return QStringLiteral("ok");
    case Verdict::Differences:
        return QStringLiteral("differences");
    case Verdict::Refused:
        return QStringLiteral("refused");
    case Verdict::NoAnswer:
        return QStringLiteral("no-answer");
    case Verdict::CutShort:
        return QStringLiteral("cut-short");
    case Verdict::ClaimLost:
        return QStringLiteral("claim-lost");
    case Verdict::Duplicate:
        return QStringLiteral("duplicate");
    case Verdict::Traffic:
        return QStringLiteral("traffic");
    case Verdict::Unknown:
        break;
    }
    return QString();
}

ModuleRecord::Verdict ModuleRecord::verdictNamed(const QString& w)
{
    for (const Verdict v : {Verdict::Ok, Verdict::Differences, Verdict::Refused, Verdict::NoAnswer, Verdict::CutShort,
                            Verdict::ClaimLost, Verdict::Duplicate, Verdict::Traffic}) {
        if (w == word(v))
            return v;
    }
    return Verdict::Unknown;
}

ModuleRecord ModuleRecord::of(const Result& r)
{
    ModuleRecord m;
    m.verdict = verdictOf(r);
    m.status = r.status;
    m.error = r.error;
    readOutcome(r.fields, &m);
    return m;
}

QJsonObject ModuleRecord::toJson() const
{
    QJsonObject o = unknown;
    QJsonArray differenceList;
    for (const Difference& d : differences)
        differenceList.append(QJsonObject{{QStringLiteral("field"), d.field},
                                          {d.written ? QStringLiteral("wrote") : QStringLiteral("profile"), d.expected},
                                          {Key::module, d.module}});
    QJsonArray refusedList;
    for (const Refusal& c : refused)
        refusedList.append(QJsonObject{{QStringLiteral("command"), c.command}, {QStringLiteral("reply"), c.reply}});
    o.insert(Key::time, time);
    o.insert(Key::port, port);
    o.insert(Key::adapter, adapter);
    o.insert(Key::module, module);
    o.insert(Key::row, row > 0 ? QJsonValue(row) : QJsonValue());
    o.insert(Key::values, values);
    o.insert(Key::result, result());
    o.insert(Key::status, status);
    o.insert(Key::differences, differenceList);
    o.insert(Key::refused, refusedList);
    o.insert(Key::durationMs, durationMs);
    insertTexts(&o, Key::unanswered, unanswered);
    if (stoppedAfter) {
        QJsonObject s{{QStringLiteral("step"), stoppedAfter->step}, {QStringLiteral("steps"), stoppedAfter->steps}};
        if (!stoppedAfter->command.isEmpty())
            s.insert(QStringLiteral("command"), stoppedAfter->command);
        o.insert(Key::stoppedAfter, s);
    }
    insertTexts(&o, Key::written, written);
    insertTexts(&o, Key::partlyWritten, partlyWritten);
    insertTexts(&o, Key::notWritten, notWritten);
    if (!newLine.isEmpty())
        o.insert(Key::newLine, newLine);
    if (duplicateOf) {
        QJsonObject h{{QStringLiteral("station"), duplicateOf->station}, {QStringLiteral("port"), duplicateOf->port}};
        h.insert(Key::module, duplicateOf->module > 0 ? QJsonValue(duplicateOf->module) : QJsonValue());
        o.insert(Key::duplicateOf, h);
    }
    if (!device.isEmpty())
        o.insert(Key::device, device);
    if (traffic)
        o.insert(Key::traffic, *traffic);
    if (!error.isEmpty())
        o.insert(Key::error, error);
    return o;
}

QByteArray ModuleRecord::toLine() const
{
    return QJsonDocument(toJson()).toJson(QJsonDocument::Compact) + '\n';
}

ModuleRecord ModuleRecord::fromJson(const QJsonObject& o)
{
    ModuleRecord m;
    m.time = o.value(Key::time).toString();
    m.port = o.value(Key::port).toString();
    m.adapter = o.value(Key::adapter).toObject();
    m.device = o.value(Key::device).toString();
    m.module = o.value(Key::module).toInt();
    m.row = o.value(Key::row).toInt();
    m.values = o.value(Key::values).toObject();
    m.verdictWord = o.value(Key::result).toString();
    m.verdict = verdictNamed(m.verdictWord);
    if (m.verdict != Verdict::Unknown)
        m.verdictWord.clear();
    m.status = o.value(Key::status).toInt();
    readOutcome(o, &m);
    m.error = o.value(Key::error).toString();
    m.durationMs = qint64(o.value(Key::durationMs).toDouble());
    if (o.value(Key::traffic).isObject())
        m.traffic = o.value(Key::traffic).toObject();
    for (auto it = o.begin(); it != o.end(); ++it) {
        if (!knownKeys().contains(it.key()))
            m.unknown.insert(it.key(), it.value());
    }
    return m;
}

bool ModuleRecord::operator==(const ModuleRecord& o) const
{
    return toJson() == o.toJson();
}
