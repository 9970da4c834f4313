#include "atprotocol.h"
#include "busyscope.h"
#include "common.h"
#include "kx47main.h"
#include "logformat.h"
#include "serialsocket.h"
#include "ui_kx47main.h"

#include <QDebug>
#include <QMessageBox>
#include <QPushButton>

namespace {
constexpr int16_t kAtBudget = 100;
constexpr int kEscapePause = 200;

// 115200 and 9600 first, then the rest from the highest down: the rates of the serial panel.
constexpr int kCandidateRates[] = {115200, 9600,  460800, 256000, 230400, 128000, 57600,
                                   38400,  19200, 14400,  4800,   2400,   1200,   600};
constexpr QSerialPort::Parity kCandidateParities[] = {QSerialPort::NoParity, QSerialPort::EvenParity,
                                                      QSerialPort::OddParity};

// The item of the serial panel's parity box that shows `parity`.
int parityItem(QSerialPort::Parity parity)
{
    switch (parity) {
    case QSerialPort::OddParity:
        return 1;
    case QSerialPort::EvenParity:
        return 2;
    default:
        return 0;
    }
}
} // namespace

void KX47main::set_serching_sta(uchar sta)
{
    if (sta) {
        ui->logBrower->clear();
        ui->logBrower->append(QStringLiteral("<font color=\"#00FF00\" size=\"20\">") + tr("开始搜索："));
        ui->my_serial_open_btn->setEnabled(false);
        disconnect(ui->btn_serch, &QAbstractButton::clicked, this, &KX47main::search_baud_rate);
    } else {
        ui->my_serial_open_btn->setEnabled(true);
        // Unique: outside a search every click starts exactly one search.
        connect(ui->btn_serch, &QAbstractButton::clicked, this, &KX47main::search_baud_rate, Qt::UniqueConnection);
    }
}

int KX47main::search_baud_rate()
{
    // A read-back or write is talking to the module on this port.
    if (isBusy())
        return 0;

    SerialSocket* const port = SerialSocket::getInstance();
    if (port->isOpen()) {
        port->closePort();
        set_open_btn(false);
    }

    QMessageBox question(QMessageBox::Information, tr("提示"),
                         tr("请选择正确的串口号！\r\n重启设备后！\r\n点击\"Yes\"开始搜索波特率！"),
                         QMessageBox::Yes | QMessageBox::No, this);
    question.setDefaultButton(QMessageBox::No);
    const int answer = question.exec();
    qDebug() << "btn = " << (answer == QMessageBox::Yes ? "Yes" : "No");
    if (answer != QMessageBox::Yes)
        return 0;

    const BusyScope busy(this);
    if (!busy.acquired())
        return 0;
    set_serching_sta(1);
    const int result = runBaudSearch();
    set_serching_sta(0);
    return result;
}

int KX47main::runBaudSearch()
{
    SerialSocket* const port = SerialSocket::getInstance();
    const QString name = ui->my_serial_number_box->currentText();
    if (name.isEmpty()) {
        QMessageBox::information(this, tr("错误"), tr("无效串口"), QMessageBox::Ok);
        return -1;
    }

    for (const int rate : kCandidateRates) {
        ui->logBrower->append(QStringLiteral("<font color=\"#FF0000\" size=\"10\">") +
                              tr("Current serch baud: %1").arg(rate));
        for (const QSerialPort::Parity parity : kCandidateParities) {
            port->setPortConfig(name, rate, QSerialPort::Data8, parity, QSerialPort::OneStop);
            qDebug() << "baud" << rate;
            if (port->isOpen())
                port->closePort();
            if (!port->openPort()) {
                QMessageBox::information(this, tr("错误"), tr("串口打开失败"), QMessageBox::Ok);
                return -1;
            }
            port->sendData(At::kEscape);
            Common::delay(kEscapePause);
            if (!kx47Query(At::kAt, kAtBudget) || !At::hasConfigNotice(port->getReply()))
                continue;

            // Found: let the module leave its configuration state, then show the result.
            port->sendData(At::kExitBare);
            Common::delay(1000000 / rate);
            emit ui->clean_log_btn->clicked(false);
            show_log(QByteArrayLiteral("connection is successful"), LogFormat::Message);
            // The panel shows the parity that answered, so that opening the
            // port with it reaches the module.
            ui->my_serial_parity_box->setCurrentIndex(parityItem(parity));
            const QString found = parity == QSerialPort::NoParity ? QStringLiteral("baud: %1 ,  have no parity!")
                                                                  : QStringLiteral("baud: %1 ,  have parity!");
            show_log((QStringLiteral("<font color=\"#0000FF\" size=\"20\">") + found.arg(rate)).toLatin1(),
                     LogFormat::Message);
            ui->logBrower->append(QStringLiteral("<font color=\"#FF0000\" size=\"20\">") +
                                  tr("请以点击  \"连接设备\"  以搜索上来的  \"串口参数设置\"  为准！"));
            ui->my_serial_baud_box->setCurrentText(QString::number(rate));
            port->closePort();
            return 1;
        }
    }

    port->closePort();
    ui->logBrower->append(QStringLiteral("<font color=\"#00FF00\" size=\"20\">") + tr("参数搜索失败！"));
    return 0;
}
