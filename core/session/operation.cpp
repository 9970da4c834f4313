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

bool parityNamed(const QString& word, QSerialPort::Parity* parity)
{
    for (const QSerialPort::Parity p : {QSerialPort::NoParity, QSerialPort::OddParity, QSerialPort::EvenParity}) {
        if (word == parityWord(p)) {
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
