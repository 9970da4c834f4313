#include "tests/support/simsupport.h"

#include "sim/faultoptions.h"

#include <QCommandLineParser>
#include <QtTest>

namespace TestSupport {

bool parseFaultOptions(const QStringList& options, sim::SimModule::Faults* faults, QString* error)
{
    QCommandLineParser parser;
    const sim::FaultOptions known;
    known.addTo(parser);
    if (!parser.parse(QStringList{"velkocan-sim"} + options)) {
        if (error)
            *error = parser.errorText();
        return false;
    }
    return known.read(parser, faults, error);
}

void setFaults(sim::SimModule* module, const QStringList& options)
{
    QString error;
    QVERIFY2(parseFaultOptions(options, &module->faults(), &error), qPrintable(error));
}

sim::Parity parityOf(const QString& word)
{
    return word == "ODD" ? sim::Parity::Odd : word == "EVEN" ? sim::Parity::Even : sim::Parity::None;
}

void answerFrame(sim::SimModule* module, const QByteArray& frame, const QByteArray& reply)
{
    module->setReplyHook([frame, reply](const QByteArray& received, QByteArray& out) {
        if (received != frame)
            return false;
        out = reply;
        return true;
    });
}

QStringList rowsOf(const QVector<sim::Filter>& filters)
{
    QStringList rows;
    for (const sim::Filter& f : filters)
        rows.append(f.type + ',' + f.id);
    return rows;
}

QVector<sim::Filter> filtersOf(const QStringList& rows)
{
    QVector<sim::Filter> filters;
    for (const QString& row : rows)
        filters.append({row.section(',', 0, 0), row.section(',', 1)});
    return filters;
}

QString describe(const sim::ModuleState& s)
{
    return QStringLiteral("line %1/%2/%3 pending %4/%5/%6 | CAN %7,%8,%9 | mode %10 msg %11,%12 udmht %13,%14 "
                          "random %15,%16 | direction %17 | filter %18 [%19] | config %20 echo %21")
        .arg(s.baud)
        .arg(s.stopBits)
        .arg(QString::fromLatin1(sim::parityText(s.parity)))
        .arg(s.pendingBaud)
        .arg(s.pendingStopBits)
        .arg(QString::fromLatin1(sim::parityText(s.pendingParity)))
        .arg(s.canRate)
        .arg(s.canId, s.frameType, s.mode)
        .arg(int(s.msgId))
        .arg(int(s.msgInfo))
        .arg(s.userHead, s.userTail, s.idLength, s.idPosition, s.direction, s.filterMode, rowsOf(s.filters).join(' '))
        .arg(int(s.configMode))
        .arg(int(s.echo));
}

sim::ModuleState moduleHolding(const ModuleConfig& config)
{
    sim::ModuleState s;
    s.baud = s.pendingBaud = config.baud;
    s.stopBits = s.pendingStopBits = config.stopBits;
    s.parity = s.pendingParity = parityOf(config.parity);
    s.canRate = config.canRateKbit;
    s.canId = config.canId;
    s.frameType = config.frameType;
    s.mode = config.mode;
    s.msgId = config.frameId;
    s.msgInfo = config.frameInfo;
    s.userHead = config.head;
    s.userTail = config.tail;
    s.idLength = config.idLength;
    s.idPosition = config.idPosition;
    s.direction = config.direction;
    s.filterMode = config.filterMode;
    for (const At::FilterEntry& f : config.filters)
        s.filters.append({f.type, f.id});
    return s;
}

} // namespace TestSupport
