#include "core/protocol/logformat.h"
#include "core/transport/serialsocket.h"
#include "ui_kx47main.h"
#include "window/kx47main.h"
#include "window/remembered.h"

#include <QMessageBox>

namespace {
// How often a returning port that does not open yet (its permissions are
// still being set, say) is tried again, half a second apart.
constexpr int kReopenTries = 10;

void selectData(QComboBox* box, int data)
{
    const int item = box->findData(data);
    if (item >= 0)
        box->setCurrentIndex(item);
}
} // namespace

void KX47main::fill_port_box(QStringList list)
{
    ui->my_serial_number_box->clear();
    ui->my_serial_number_box->insertItems(ui->my_serial_number_box->count(), list);
}

void KX47main::set_send_btn(bool flag)
{
    // While an operation runs they stay off; it ends with the rule of the port.
    flag = flag && !isBusy() && !trafficHolds();
    ui->all_set->setEnabled(flag);
    ui->quit_btn->setEnabled(flag);
    ui->reset_btn->setEnabled(flag);
    ui->restore_btn->setEnabled(flag);
    ui->device_connet->setEnabled(flag);
    set_list_send_btn(flag);
}

void KX47main::set_open_btn(bool open)
{
    if (open != m_portShownOpen) {
        m_portShownOpen = open;
        m_somethingRead = false;
        const QString port = ui->my_serial_number_box->currentText();
        showResult(open ? tr("串口已打开：%1").arg(port) : tr("串口已关闭：%1").arg(port));
    }
    ui->my_serial_open_btn->setText(open ? tr("关闭串口") : tr("打开串口"));
    ui->my_serial_open_btn->setStyleSheet(open ? QStringLiteral("background-color: rgb(100, 255, 0);")
                                               : QStringLiteral("background-color: rgb(229, 241, 251);"));
    ui->my_serial_number_box->setEnabled(!open);
    ui->my_serial_baud_box->setEnabled(!open);
    ui->my_serial_stopbit_box->setEnabled(!open);
    ui->my_serial_parity_box->setEnabled(!open);
    set_send_btn(open);
}

void KX47main::on_my_serial_open_btn_clicked()
{
    SerialSocket* const port = SerialSocket::getInstance();
    // During an operation the button closes the port at once, which ends the
    // operation: its remaining exchanges find the port closed. The search
    // opens and closes the port itself and has a stop button of its own.
    if (m_searching)
        return;
    // What the user does with the port ends a watch for a vanished one.
    m_portWatch->cancel();
    m_reopenPending.clear();
    if (isBusy()) {
        m_session->stop();
        if (port->isOpen())
            port->closePort();
        set_open_btn(false);
        return;
    }

    if (port->isOpen()) {
        port->closePort();
        set_open_btn(false);
        return;
    }

    if (ui->my_serial_number_box->currentText().isEmpty()) {
        QMessageBox::information(this, tr("错误"), tr("无效串口"), QMessageBox::Ok);
        return;
    }
    if (!openSelectedPort())
        QMessageBox::information(this, tr("错误"), tr("串口打开失败"), QMessageBox::Ok);
}

bool KX47main::openSelectedPort()
{
    SerialSocket* const port = SerialSocket::getInstance();
    const QString name = ui->my_serial_number_box->currentText();
    const int baud = ui->my_serial_baud_box->currentData().toInt();
    const int parity = ui->my_serial_parity_box->currentData().toInt();
    const int stopBits = ui->my_serial_stopbit_box->currentData().toInt();
    port->setPortConfig(name, baud, QSerialPort::Data8, QSerialPort::Parity(parity), QSerialPort::StopBits(stopBits));

    if (!port->openPort()) {
        set_open_btn(false);
        return false;
    }
    m_opened = {PortWatch::identify(name), baud, parity, stopBits};
    set_open_btn(true);
    saveSettings();
    return true;
}

void KX47main::slot_portListClicked()
{
    const QString previous = ui->my_serial_number_box->currentText();
    const QStringList ports = SerialSocket::getInstance()->getPortList();
    fill_port_box(ports);
    if (!previous.isEmpty() && ports.contains(previous))
        ui->my_serial_number_box->setCurrentText(previous);
}

void KX47main::showPortError(const QString& message)
{
    show_log(message.toUtf8(), LogFormat::Message);
    if (SerialSocket::getInstance()->isOpen())
        return;
    // The port was closed under the window, not by the user: when it has
    // vanished, its adapter is watched for. (The search opens and closes
    // the port itself.)
    const bool wasOpen = m_portShownOpen;
    // The panel never shows an open port that is closed.
    set_open_btn(false);
    if (wasOpen && !m_searching && ui->action_reopen_port->isChecked()) {
        m_reopenTries = 0;
        m_portWatch->watch(m_opened.identity);
    }
}

void KX47main::reopenReturningPort(const QString& port)
{
    SerialSocket* const serial = SerialSocket::getInstance();
    if (m_searching || serial->isOpen() || !ui->action_reopen_port->isChecked())
        return;
    // The cut operation ends first; it is not repeated.
    if (isBusy()) {
        m_reopenPending = port;
        return;
    }
    m_reopenPending.clear();
    slot_portListClicked();
    const int item = ui->my_serial_number_box->findText(port);
    if (item >= 0)
        ui->my_serial_number_box->setCurrentIndex(item);
    selectData(ui->my_serial_baud_box, m_opened.baud);
    selectData(ui->my_serial_parity_box, m_opened.parity);
    selectData(ui->my_serial_stopbit_box, m_opened.stopBits);
    if (item >= 0 && openSelectedPort()) {
        show_log(tr("串口 %1 已重新插入，已按原来的参数重新打开；被中断的操作不会重做").arg(port).toUtf8(),
                 LogFormat::Message);
        showResult(tr("串口已重新打开：%1").arg(port));
        return;
    }
    if (++m_reopenTries < kReopenTries) {
        m_portWatch->watch(m_opened.identity, true);
        return;
    }
    show_log(tr("串口 %1 已重新插入，但无法打开").arg(port).toUtf8(), LogFormat::Message);
    showResult(tr("串口已重新插入，但无法打开：%1").arg(port));
}

void KX47main::saveSettings()
{
    Remembered::Store store;
    const QString name = ui->my_serial_number_box->currentText();
    if (!name.isEmpty()) {
        const PortWatch::Identity identity = m_portShownOpen ? m_opened.identity : PortWatch::identify(name);
        store.set(Remembered::kPortName, identity.name);
        store.set(Remembered::kPortSerialNumber, identity.serialNumber);
    }
    store.set(Remembered::kBaud, ui->my_serial_baud_box->currentData().toInt());
    store.set(Remembered::kParity, ui->my_serial_parity_box->currentData().toInt());
    store.set(Remembered::kStopBits, ui->my_serial_stopbit_box->currentData().toInt());
    store.set(Remembered::kFastExchange, ui->action_fast_exchange->isChecked());
    store.set(Remembered::kReopenPort, ui->action_reopen_port->isChecked());
    store.set(Remembered::kMainGeometry, saveGeometry());
}

void KX47main::restoreSettings()
{
    const Remembered::Store store;
    const QByteArray geometry = store.get(Remembered::kMainGeometry);
    if (!geometry.isEmpty())
        restoreGeometry(geometry);
    selectData(ui->my_serial_baud_box, store.get(Remembered::kBaud));
    selectData(ui->my_serial_parity_box, store.get(Remembered::kParity));
    selectData(ui->my_serial_stopbit_box, store.get(Remembered::kStopBits));
    // A port that is not there now leaves the list as it is.
    const QString port = PortWatch::find({store.get(Remembered::kPortName), store.get(Remembered::kPortSerialNumber)});
    const int item = port.isEmpty() ? -1 : ui->my_serial_number_box->findText(port);
    if (item >= 0)
        ui->my_serial_number_box->setCurrentIndex(item);
    ui->action_fast_exchange->setChecked(store.get(Remembered::kFastExchange));
    ui->action_reopen_port->setChecked(store.get(Remembered::kReopenPort));
}
