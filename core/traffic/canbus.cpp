#include "core/traffic/canbus.h"

#include "core/transport/common.h"

#include <QCanBus>
#include <QCanBusDevice>
#include <QCanBusFrame>
#include <QElapsedTimer>
#include <QVariant>

#include <chrono>

namespace Traffic {

namespace {

QString stateWord(QCanBusDevice::CanBusDeviceState state)
{
    switch (state) {
    case QCanBusDevice::UnconnectedState:
        return QStringLiteral("unconnected");
    case QCanBusDevice::ConnectingState:
        return QStringLiteral("connecting");
    case QCanBusDevice::ConnectedState:
        return QStringLiteral("connected");
    case QCanBusDevice::ClosingState:
        return QStringLiteral("closing");
    }
    return QStringLiteral("unknown");
}

QString busStatusWord(QCanBusDevice::CanBusStatus status)
{
    switch (status) {
    case QCanBusDevice::CanBusStatus::Good:
        return QStringLiteral("error active");
    case QCanBusDevice::CanBusStatus::Warning:
        return QStringLiteral("error warning");
    case QCanBusDevice::CanBusStatus::Error:
        return QStringLiteral("error passive");
    case QCanBusDevice::CanBusStatus::BusOff:
        return QStringLiteral("bus off");
    case QCanBusDevice::CanBusStatus::Unknown:
        break;
    }
    return QStringLiteral("unknown");
}

// The classes of an error frame, in words.
QString errorFrameText(const QCanBusFrame& frame)
{
    static const QVector<QPair<QCanBusFrame::FrameError, const char*>> words{
        {QCanBusFrame::TransmissionTimeoutError, "transmission timeout"},
        {QCanBusFrame::LostArbitrationError, "lost arbitration"},
        {QCanBusFrame::ControllerError, "controller problem"},
        {QCanBusFrame::ProtocolViolationError, "protocol violation"},
        {QCanBusFrame::TransceiverError, "transceiver problem"},
        {QCanBusFrame::MissingAcknowledgmentError, "no acknowledgement"},
        {QCanBusFrame::BusOffError, "bus off"},
        {QCanBusFrame::BusError, "bus error"},
        {QCanBusFrame::ControllerRestartError, "controller restarted"},
    };
    QStringList found;
    for (const auto& w : words) {
        if (frame.error() & w.first)
            found.append(QLatin1String(w.second));
    }
    return QStringLiteral("error frame: ") +
           (found.isEmpty() ? QStringLiteral("unknown") : found.join(QStringLiteral(", ")));
}

} // namespace

qint64 nowUsecs()
{
    return std::chrono::duration_cast<std::chrono::microseconds>(std::chrono::system_clock::now().time_since_epoch())
        .count();
}

bool CanName::parse(const QString& text, CanName* name)
{
    const int colon = text.indexOf(QLatin1Char(':'));
    if (colon <= 0 || colon == text.size() - 1)
        return false;
    name->plugin = text.left(colon);
    name->interface = text.mid(colon + 1);
    return true;
}

QString CanName::shortName() const
{
    const int slash = interface.lastIndexOf(QLatin1Char('/'));
    return slash >= 0 ? interface.mid(slash + 1) : interface;
}

QString CanOpenFailure::text() const
{
    switch (reason) {
    case Reason::NoPlugin:
        return QStringLiteral("%1: no CAN plugin \"%2\" (plugins: %3)").arg(name.text(), name.plugin, detail);
    case Reason::NotCreated:
        return QStringLiteral("%1: the %2 plugin cannot open \"%3\": %4")
            .arg(name.text(), name.plugin, name.interface, detail);
    case Reason::ConnectError:
        return QStringLiteral("%1: cannot be opened: %2").arg(name.text(), detail);
    case Reason::Timeout:
        return QStringLiteral("%1: not connected within %2 s (still %3)")
            .arg(name.text())
            .arg(timeoutMs / 1000.0)
            .arg(detail);
    }
    return name.text();
}

QVector<CanPlugin> canPlugins()
{
    QVector<CanPlugin> plugins;
    for (const QString& plugin : QCanBus::instance()->plugins()) {
        CanPlugin p;
        p.name = plugin;
        QString error;
        const QList<QCanBusDeviceInfo> devices = QCanBus::instance()->availableDevices(plugin, &error);
        for (const QCanBusDeviceInfo& d : devices)
            p.interfaces.append(d.name());
        p.error = error;
        plugins.append(p);
    }
    return plugins;
}

QStringList CanPlugin::names() const
{
    QStringList n;
    for (const QString& i : interfaces)
        n.append(name + QLatin1Char(':') + i);
    return n;
}

QStringList canPluginNames()
{
    return QCanBus::instance()->plugins();
}

bool canPluginExists(const QString& plugin)
{
    return QCanBus::instance()->plugins().contains(plugin);
}

CanBus::CanBus(QObject* parent) : QObject(parent)
{
    qRegisterMetaType<Traffic::CanFrame>();
}

CanBus::~CanBus()
{
    close();
}

bool CanBus::takesBitRate(const QString& plugin)
{
    return plugin != QLatin1String("socketcan") && plugin != QLatin1String("virtualcan");
}

bool CanBus::open(const CanName& name, int bitRateKbit, CanOpenFailure* failure, int timeoutMs)
{
    close();
    m_name = name;
    failure->name = name;
    failure->timeoutMs = timeoutMs;
    const QStringList plugins = QCanBus::instance()->plugins();
    if (!plugins.contains(name.plugin)) {
        failure->reason = CanOpenFailure::Reason::NoPlugin;
        failure->detail = plugins.join(QStringLiteral(", "));
        return false;
    }
    // A plugin that lists its interfaces is held to them: virtualcan, for
    // one, would take an interface it does not have for can0.
    QString error;
    QStringList interfaces;
    for (const QCanBusDeviceInfo& d : QCanBus::instance()->availableDevices(name.plugin, &error))
        interfaces.append(d.name());
    if (error.isEmpty() && !interfaces.isEmpty() && !interfaces.contains(name.shortName())) {
        failure->reason = CanOpenFailure::Reason::NotCreated;
        failure->detail = QStringLiteral("no such interface (it has %1)").arg(interfaces.join(QStringLiteral(", ")));
        return false;
    }
    error.clear();
    QCanBusDevice* device = QCanBus::instance()->createDevice(name.plugin, name.interface, &error);
    if (!device) {
        failure->reason = CanOpenFailure::Reason::NotCreated;
        failure->detail = error.isEmpty() ? QStringLiteral("no such interface") : error;
        return false;
    }
    device->setParent(this);
    m_device = device;
    if (takesBitRate(name.plugin))
        device->setConfigurationParameter(QCanBusDevice::BitRateKey, QVariant(bitRateKbit * 1000));

    QString connectError;
    connect(device, &QCanBusDevice::errorOccurred, this, [this, device, &connectError](QCanBusDevice::CanBusError e) {
        if (e == QCanBusDevice::NoError)
            return;
        if (device->state() != QCanBusDevice::ConnectedState && connectError.isEmpty())
            connectError = device->errorString();
        emit problem(device->errorString());
    });
    if (!device->connectDevice() && connectError.isEmpty())
        connectError =
            device->errorString().isEmpty() ? QStringLiteral("the plugin refused to connect") : device->errorString();
    QElapsedTimer clock;
    clock.start();
    Common::delay(timeoutMs, [&] {
        return device->state() == QCanBusDevice::ConnectedState || !connectError.isEmpty() ||
               device->state() == QCanBusDevice::UnconnectedState;
    });
    // The connection's error handler refers to `connectError`: from here on it reports only.
    disconnect(device, &QCanBusDevice::errorOccurred, this, nullptr);
    connect(device, &QCanBusDevice::errorOccurred, this, [this, device](QCanBusDevice::CanBusError e) {
        if (e != QCanBusDevice::NoError)
            emit problem(device->errorString());
    });
    if (device->state() != QCanBusDevice::ConnectedState) {
        failure->reason = connectError.isEmpty() && device->state() != QCanBusDevice::UnconnectedState
                              ? CanOpenFailure::Reason::Timeout
                              : CanOpenFailure::Reason::ConnectError;
        failure->detail = connectError.isEmpty() ? stateWord(device->state()) : connectError;
        close();
        return false;
    }
    connect(device, &QCanBusDevice::framesReceived, this, &CanBus::readFrames);
    connect(device, &QCanBusDevice::stateChanged, this, [this](QCanBusDevice::CanBusDeviceState state) {
        emit problem(QStringLiteral("CAN interface %1").arg(stateWord(state)));
    });
    if (device->hasBusStatus()) {
        const QCanBusDevice::CanBusStatus status = device->busStatus();
        if (status != QCanBusDevice::CanBusStatus::Good && status != QCanBusDevice::CanBusStatus::Unknown)
            emit problem(QStringLiteral("CAN bus state: ") + busStatusWord(status));
    }
    return true;
}

void CanBus::close()
{
    if (!m_device)
        return;
    QCanBusDevice* device = m_device;
    m_device = nullptr;
    device->disconnect(this);
    if (device->state() != QCanBusDevice::UnconnectedState)
        device->disconnectDevice();
    delete device;
}

bool CanBus::isOpen() const
{
    return m_device && m_device->state() == QCanBusDevice::ConnectedState;
}

bool CanBus::send(const CanFrame& frame)
{
    if (!isOpen())
        return false;
    QCanBusFrame f(frame.id, frame.data);
    f.setExtendedFrameFormat(frame.extended);
    if (frame.remote)
        f.setFrameType(QCanBusFrame::RemoteRequestFrame);
    return m_device->writeFrame(f);
}

void CanBus::readFrames()
{
    if (!m_device)
        return;
    while (m_device && m_device->framesAvailable() > 0) {
        const QCanBusFrame f = m_device->readFrame();
        const qint64 usecs = nowUsecs();
        if (f.frameType() == QCanBusFrame::ErrorFrame) {
            emit problem(errorFrameText(f));
            continue;
        }
        if (f.frameType() != QCanBusFrame::DataFrame && f.frameType() != QCanBusFrame::RemoteRequestFrame)
            continue;
        CanFrame frame;
        frame.id = f.frameId();
        frame.extended = f.hasExtendedFrameFormat();
        frame.remote = f.frameType() == QCanBusFrame::RemoteRequestFrame;
        frame.data = frame.remote ? QByteArray() : f.payload();
        emit frameReceived(frame, usecs);
    }
}

} // namespace Traffic
