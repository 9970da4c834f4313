#include "core/transport/serialsocket.h"
#include "ui_kx47main.h"
#include "window/kx47main.h"

#include <QMessageBox>

void KX47main::fill_port_box(QStringList list)
{
    ui->my_serial_number_box->clear();
    ui->my_serial_number_box->insertItems(ui->my_serial_number_box->count(), list);
}

void KX47main::set_send_btn(bool flag)
{
    // While an operation runs they stay off; it ends with the rule of the port.
    flag = flag && !isBusy();
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

    const QString name = ui->my_serial_number_box->currentText();
    if (name.isEmpty()) {
        QMessageBox::information(this, tr("错误"), tr("无效串口"), QMessageBox::Ok);
        return;
    }

    const int baud = ui->my_serial_baud_box->currentData().toInt();
    const int parity = ui->my_serial_parity_box->currentData().toInt();
    const int stopBits = ui->my_serial_stopbit_box->currentData().toInt();
    port->setPortConfig(name, baud, QSerialPort::Data8, QSerialPort::Parity(parity), QSerialPort::StopBits(stopBits));

    if (port->openPort()) {
        set_open_btn(true);
    } else {
        set_open_btn(false);
        QMessageBox::information(this, tr("错误"), tr("串口打开失败"), QMessageBox::Ok);
    }
}

void KX47main::slot_portListClicked()
{
    const QString previous = ui->my_serial_number_box->currentText();
    const QStringList ports = SerialSocket::getInstance()->getPortList();
    fill_port_box(ports);
    if (!previous.isEmpty() && ports.contains(previous))
        ui->my_serial_number_box->setCurrentText(previous);
}
