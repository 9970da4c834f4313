#include "core/protocol/logformat.h"

#include <QDateTime>
#include <QLocale>

namespace LogFormat {

QString timeStamp(const QDateTime& when)
{
    // The C locale: ASCII digits whatever the system's locale is.
    return QLocale::c().toString(when, QStringLiteral("yyyy-MM-dd hh:mm::ss.zzz"));
}

QString entryText(const QByteArray& data, int flag)
{
    QByteArray line;
    switch (flag) {
    case Sent:
        line = QByteArrayLiteral("TX:");
        break;
    case Received:
        line = QByteArrayLiteral("RX:");
        break;
    case Message:
        break;
    default:
        return QString();
    }
    const int zero = data.indexOf('\0');
    line += zero < 0 ? data : data.left(zero);
    return QString::fromUtf8(line);
}

bool isPlainEntry(int flag)
{
    return flag == Sent || flag == Received;
}

} // namespace LogFormat
