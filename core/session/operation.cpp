#include "core/session/operation.h"

#include <QDateTime>
#include <QLocale>
#include <QSerialPortInfo>

namespace Operation {

namespace {

QJsonValue idOrNull(bool known, quint16 id)
{
    return known ? QJsonValue(QStringLiteral("%1").arg(id, 4, 16, QLatin1Char('0'))) : QJsonValue();
}

} // namespace

Result failure(int status, const QString& error)
{
    Result r;
    r.status = status;
    r.error = error;
    return r;
}

Result refusedInput(const QString& error, const QStringList& problems)
{
    Result r = failure(BadUsage, error + QStringLiteral(" (nothing sent)"));
    r.details = problems;
    r.details.append(QStringLiteral("nothing sent"));
    r.detailsSayAll = true;
    return r;
}

Result refused(const QVector<Problem>& problems)
{
    QStringList texts;
    for (const Problem& p : problems)
        texts.append(p.text);
    Result r = refusedInput(texts.join(QStringLiteral("; ")), texts);
    r.problems = problems;
    return r;
}

Problem problem(Problem::Kind kind, const QString& subject, const QStringList& values)
{
    Problem p{kind, subject, values, QString()};
    const auto value = [&values](int i) { return values.value(i); };
    switch (kind) {
    case Problem::Kind::Text:
        p.text = subject;
        break;
    case Problem::Kind::LineNeedsRestart:
        p.text = QStringLiteral("%1: serial: the modules would take %2, while the station talks at %3; a module may "
                                "report a new line only once it restarted, so the station checks it after a restart, "
                                "and these modules are not restarted")
                     .arg(subject, value(0), value(1));
        break;
    case Problem::Kind::SameDevice:
        p.text = QStringLiteral("the ports %1 and %2 are one device, %3").arg(value(0), value(1), value(2));
        break;
    case Problem::Kind::ModuleSilent:
        p.text = QStringLiteral("%1: the module does not answer at %2 (is it powered? a baud-rate search finds its "
                                "line)")
                     .arg(subject, value(0));
        break;
    case Problem::Kind::NoLedger:
        p.text = QStringLiteral("%1: no such ledger (initialising the ledger creates it)").arg(subject);
        break;
    case Problem::Kind::NotALedger:
        p.text = QStringLiteral("%1 is not a ledger (no ledger_schema table; initialise a ledger in a database of its "
                                "own)")
                     .arg(subject);
        break;
    case Problem::Kind::NoPorts:
        p.text = QStringLiteral("no fixture: a station needs at least one port");
        break;
    case Problem::Kind::SameName:
        p.text = QStringLiteral("the port %1 is named twice").arg(subject);
        break;
    case Problem::Kind::OutOfLimits:
        p.text = QStringLiteral("%1: %2; allowed %3 to %4").arg(subject, value(0), value(1), value(2));
        break;
    case Problem::Kind::NoProfile:
        p.text = QStringLiteral("no profile: a station writes one to every module");
        break;
    case Problem::Kind::StationRunning:
        p.text = QStringLiteral("station \"%1\" renewed its claims %2 s ago: it is running, and its modules may be "
                                "worked on those rows; nothing was given back")
                     .arg(subject, value(0));
        break;
    case Problem::Kind::BadStationName:
        p.text = QStringLiteral("station name \"%1\": allowed one word of letters, digits, \".\", \"_\" and \"-\", "
                                "at most 64 characters")
                     .arg(subject.size() > 80 ? subject.left(80) + QStringLiteral("…") : subject);
        break;
    case Problem::Kind::NoSuchStation:
        p.text = QStringLiteral("no station \"%1\" in this ledger; stations: %2")
                     .arg(subject, value(0).isEmpty() ? QStringLiteral("none yet") : value(0));
        break;
    }
    return p;
}

Result reworded(Result r, const std::function<QString(const Problem&)>& word)
{
    for (Problem& p : r.problems) {
        const QString words = word(p);
        if (words.isEmpty() || words == p.text)
            continue;
        r.error.replace(p.text, words);
        for (QString& d : r.details)
            d.replace(p.text, words);
        p.text = words;
    }
    return r;
}

QString PortLine::text() const
{
    QString text = QStringLiteral("%1 baud, parity %2").arg(baud).arg(parityWord(parity));
    if (stopBits == QSerialPort::TwoStop)
        text += QStringLiteral(", 2 stop bits");
    return text;
}

QString parityWord(QSerialPort::Parity parity)
{
    return parity == QSerialPort::OddParity    ? QStringLiteral("odd")
           : parity == QSerialPort::EvenParity ? QStringLiteral("even")
                                               : QStringLiteral("none");
}

QStringList parityWords()
{
    return {parityWord(QSerialPort::NoParity), parityWord(QSerialPort::OddParity), parityWord(QSerialPort::EvenParity)};
}

bool parityNamed(const QString& word, QSerialPort::Parity* parity)
{
    for (const QSerialPort::Parity p : {QSerialPort::NoParity, QSerialPort::OddParity, QSerialPort::EvenParity}) {
        if (word.compare(parityWord(p), Qt::CaseInsensitive) == 0) {
            *parity = p;
            return true;
        }
    }
    return false;
}

PortLine lineOf(const ModuleConfig& config)
{
    PortLine line;
    line.baud = config.baud;
    line.parity = config.parity == QLatin1String("ODD")    ? QSerialPort::OddParity
                  : config.parity == QLatin1String("EVEN") ? QSerialPort::EvenParity
                                                           : QSerialPort::NoParity;
    line.stopBits = config.stopBits == 2 ? QSerialPort::TwoStop : QSerialPort::OneStop;
    return line;
}

bool changesLine(const ModuleConfig& config, const PortLine& line)
{
    const PortLine next = lineOf(config);
    return next.baud != line.baud || next.parity != line.parity || next.stopBits != line.stopBits;
}

QJsonValue textOrNull(const QString& text)
{
    return text.isEmpty() ? QJsonValue() : QJsonValue(text);
}

QJsonObject adapterOf(const QSerialPortInfo& info)
{
    return {{"serialNumber", textOrNull(info.serialNumber())},
            {"vendorId", idOrNull(info.hasVendorIdentifier(), info.vendorIdentifier())},
            {"productId", idOrNull(info.hasProductIdentifier(), info.productIdentifier())}};
}

QString timeWithOffset(const QDateTime& when)
{
    const int offset = when.offsetFromUtc();
    const int minutes = qAbs(offset) / 60;
    return QLocale::c().toString(when, QStringLiteral("yyyy-MM-ddTHH:mm:ss.zzz")) +
           QStringLiteral("%1%2:%3")
               .arg(offset < 0 ? QLatin1Char('-') : QLatin1Char('+'))
               .arg(minutes / 60, 2, 10, QLatin1Char('0'))
               .arg(minutes % 60, 2, 10, QLatin1Char('0'));
}

} // namespace Operation
