#include "core/transport/serialsocket.h"
#include "core/diagnostics.h"
#include "core/transport/portaccess.h"
#include "core/transport/qtcompat.h"

#include <QCoreApplication>

SerialSocket::SerialSocket(QObject* parent) : QSerialPort(parent)
{
    connect(this, SIGNAL(readyRead()), this, SLOT(slot_dataReady()));
    connect(
        this, &QSerialPort::errorOccurred, this, [this](QSerialPort::SerialPortError code) { handlePortError(code); },
        Qt::DirectConnection);
}

SerialSocket* SerialSocket::getInstance()
{
    // Made once, by whichever thread asks first; no parent: it lives until the process ends.
    static SerialSocket* const instance = new SerialSocket(nullptr);
    return instance;
}

SerialSocket* SerialSocket::createPort(QObject* parent)
{
    return new SerialSocket(parent);
}

void SerialSocket::setPortConfig(const QString& portName, int baudRate, QSerialPort::DataBits dataBits,
                                 QSerialPort::Parity parity, QSerialPort::StopBits stopBits)
{
    // Only an open port has anything to drop; clearing a closed one would
    // report a "not open" error for a configuration that succeeds.
    if (isOpen())
        clear(QSerialPort::AllDirections);
    // One device under two names is one port, with one lock.
    setPortName(PortAccess::deviceName(portName));
    setBaudRate(baudRate, QSerialPort::AllDirections);
    setDataBits(dataBits);
    setParity(parity);
    setStopBits(stopBits);
    setFlowControl(QSerialPort::NoFlowControl);
}

bool SerialSocket::openPort()
{
    const bool opened = open(QIODevice::ReadWrite);
    qCDebug(lcTransport) << "[SerialSocket]" << (opened ? "串口打开成功" : "串口打开失败");
    return opened;
}

bool SerialSocket::closePort()
{
    if (isOpen()) {
        clear(QSerialPort::AllDirections);
        // The clear fails on a port that has gone away, and the error handler
        // then closes it: closing again would report a spurious "not open".
        if (isOpen())
            close();
        readyReadBuffer.clear();
    }
    qCDebug(lcTransport) << "[SerialSocket]"
                         << "关闭串口";
    return true;
}

void SerialSocket::sendData(QByteArray data)
{
    m_traffic.start();
    m_trafficBehindMs = 0;
    qCDebug(lcTransport) << "[SerialSocket]" << data;
    write(data);
}

void SerialSocket::slot_dataReady()
{
    if (!m_raw) // the working state's receiver takes the bytes
        readyReadBuffer.append(readAll());
}

void SerialSocket::setRawReceiver(RawReceiver receiver)
{
    m_raw = std::move(receiver);
    disconnect(m_rawConnection);
    if (m_raw) {
        m_rawConnection = connect(this, &QIODevice::readyRead, this, [this] {
            if (m_raw)
                m_raw(readAll());
        });
    }
}

void SerialSocket::handlePortError(QSerialPort::SerialPortError code)
{
    if (code == QSerialPort::NoError)
        return;

    // Closing the port after an error can make the port report a further
    // error from inside this handler (the clear fails on a port that has gone
    // away). Such a nested report is only cleared: the outer run closes the
    // port and emits the one message.
    if (m_handlingError) {
        clearError();
        return;
    }
    m_handlingError = true;

    QString msg;
    switch (code) {
    case QSerialPort::DeviceNotFoundError:
        msg = tr("设备不存在");
        break;
    case QSerialPort::PermissionError:
        msg = tr("设备连接出错：已有其他软件连接该设备");
        break;
    case QSerialPort::OpenError:
        msg = tr("设备打开出错");
        break;
    case QSerialPort::WriteError:
        msg = tr("设备通信写入发生错误：串口已关闭");
        break;
    case QSerialPort::ReadError:
        msg = tr("设备通信读取发生错误：串口已关闭");
        break;
    case QSerialPort::ResourceError:
        msg = tr("设备已拔出：串口已关闭");
        break;
    default:
        msg = tr("未知错误：错误码") + QString::number(qt5ErrorNumber(code));
        break;
    }
    clearError();
    if (isOpen())
        closePort();
    m_handlingError = false;
    emit signal_error(msg);
}
