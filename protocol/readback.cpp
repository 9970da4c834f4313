#include "atprotocol.h"
#include "busyscope.h"
#include "common.h"
#include "filtercheck.h"
#include "kx47main.h"
#include "logformat.h"
#include "serialsocket.h"
#include "ui_kx47main.h"

#include <QComboBox>
#include <QDebug>
#include <QMessageBox>

namespace {
constexpr int16_t kQueryBudget = 500;

// Selects the item whose text equals `text`; no such item keeps the current one.
void selectByText(QComboBox* box, const QString& text)
{
    const int item = box->findText(text, Qt::MatchExactly | Qt::MatchCaseSensitive);
    if (item >= 0)
        box->setCurrentIndex(item);
}

// Field `index` of a report, up to the end of its line; false when the report is shorter.
bool fieldAt(const QStringList& fields, int index, QString* value)
{
    if (index >= fields.size())
        return false;
    *value = At::lineField(fields.at(index));
    return true;
}
} // namespace

void KX47main::send_can_mode(QString qstr)
{
    if (qstr.startsWith(QLatin1String("EDTF")))
        ui->Box_send_mode->setCurrentIndex(1);
    else if (qstr.startsWith(QLatin1String("NDTF")))
        ui->Box_send_mode->setCurrentIndex(0);
}

void KX47main::send_dev_mode(QString qstr)
{
    qDebug() << "send_dev_mode" << qstr;
    const int item = At::modeItemFromReport(qstr);
    if (item >= 0)
        ui->device_box->setCurrentIndex(item);
    modbus_box_set();
}

void KX47main::send_direction_mode(QString qstr)
{
    qDebug() << "send_direction_mode" << qstr;
    const int item = At::directionItemFromReport(qstr);
    if (item == 2) {
        ui->Box_filtra_mode_2->setCurrentIndex(2);
        ui->Box_filtra_mode_2->setCurrentText(tr("双向"));
    } else if (item >= 0) {
        ui->Box_filtra_mode_2->setCurrentIndex(item);
    }
}

void KX47main::send_filter_mode(QString qstr)
{
    qDebug() << "send_filter_mode" << qstr;
    const int item = At::filterModeItemFromReport(qstr);
    if (item < 0)
        return;
    ui->Box_filtra_mode->setCurrentIndex(item);
    if (item == 3)
        Box_filtra_mode();
}

void KX47main::send_filtra_mode(QString qstr)
{
    const int item = At::filterModeItemFromReport(qstr);
    if (item >= 0)
        ui->Box_filtra_mode->setCurrentIndex(item);
}

void KX47main::on_device_connet_clicked()
{
    const BusyScope busy(this);
    if (busy.acquired())
        readBack();
}

void KX47main::readBack()
{
    SerialSocket* const port = SerialSocket::getInstance();
    port->clear(QSerialPort::AllDirections);
    kx47send(At::kEscape);
    Common::delay(150);

    if (kx47Query(At::kAt, kQueryBudget)) {
        show_log(At::hasConfigNotice(port->getReply()) ? QByteArrayLiteral("connection is successful")
                                                       : QByteArrayLiteral("connection fails"),
                 LogFormat::Message);
    }

    if (!kx47Query(At::kEchoOff, kQueryBudget) || !At::echoOffAccepted(port->getReply())) {
        QMessageBox::information(this, tr("连接失败"), tr("设备无回复！请检查通讯参数！"), QMessageBox::Ok);
        return;
    }
    show_log(QByteArrayLiteral("Echo close"), LogFormat::Message);

    // Each group sets only the editors whose fields its report carries: a
    // silent query, a report without its key or a short report leaves the
    // rest as it was.
    QString value;
    if (kx47Query(At::kUartQuery.command, kQueryBudget)) {
        const QStringList f = At::reportFields(port->getReply(), At::kUartQuery.key);
        if (fieldAt(f, 0, &value))
            selectByText(ui->baud_485, value);
        if (fieldAt(f, 2, &value))
            selectByText(ui->stopbit_485, value);
        if (fieldAt(f, 3, &value))
            selectByText(ui->parity_485, value);
    }

    if (kx47Query(At::kCanQuery.command, kQueryBudget)) {
        const QStringList f = At::reportFields(port->getReply(), At::kCanQuery.key);
        if (fieldAt(f, 0, &value))
            selectByText(ui->Box_can_baud, value + QLatin1Char('K'));
        if (f.size() > 1)
            qDebug() << "strList_1:" << f.at(1);
        if (f.size() > 2) {
            qDebug() << "strList_2:" << f.at(2);
            send_can_mode(f.at(2));
        }
        if (fieldAt(f, 1, &value)) {
            // The ID editor follows the frame type just read; selecting an item
            // from here does not run box_send_mode by itself.
            box_send_mode();
            ui->line_send_id->setText(value);
        }
    }

    if (kx47Query(At::kModeQuery.command, kQueryBudget)) {
        const QByteArray reply = port->getReply();
        if (At::hasKey(reply, At::kModeQuery.key))
            send_dev_mode(At::reportRest(reply, At::kModeQuery.key));
    }

    if (kx47Query(At::kMsgQuery.command, kQueryBudget)) {
        const QStringList f = At::reportFields(port->getReply(), At::kMsgQuery.key);
        if (f.size() > 0)
            ui->id_enabled_checkBox->setChecked(At::flagOn(f.at(0)));
        if (f.size() > 1)
            ui->meg_enabledcheckBox->setChecked(At::flagOn(f.at(1)));
    }

    if (kx47Query(At::kUdmhtQuery.command, kQueryBudget)) {
        const QStringList f = At::reportFields(port->getReply(), At::kUdmhtQuery.key);
        if (fieldAt(f, 0, &value))
            ui->line_user_head->setText(value);
        if (fieldAt(f, 1, &value))
            ui->line_user_tail->setText(value);
    }

    if (kx47Query(At::kRandomQuery.command, kQueryBudget)) {
        const QStringList f = At::reportFields(port->getReply(), At::kRandomQuery.key);
        if (fieldAt(f, 0, &value))
            ui->line_idlenggth->setText(value);
        if (fieldAt(f, 1, &value))
            ui->line_idLocation->setText(value);
    }

    if (kx47Query(At::kDirectionQuery.command, kQueryBudget)) {
        const QByteArray reply = port->getReply();
        if (At::hasKey(reply, At::kDirectionQuery.key))
            send_direction_mode(At::reportRest(reply, At::kDirectionQuery.key));
    }

    if (kx47Query(At::kCanltQuery.command, kQueryBudget)) {
        const QByteArray reply = port->getReply();
        if (At::hasKey(reply, At::kCanltQuery.key))
            send_filter_mode(At::reportRest(reply, At::kCanltQuery.key));
    }

    if (kx47Query(At::kFilterQuery.command, At::kFilterQueryBudget)) {
        const QByteArray reply = port->getReply();
        ui->tableWidget->setRowCount(0);
        const QVector<At::FilterEntry> entries = At::parseFilterListing(reply);
        qDebug() << "at_count:" << entries.size();
        for (const At::FilterEntry& entry : entries) {
            qDebug() << "id_type_value:" << entry.type;
            qDebug() << "id_date:" << entry.id;
            // Entries beyond the table's capacity are announced and dropped;
            // the first 14 stay as listed.
            if (ui->tableWidget->rowCount() + 1 > FilterCheck::kMaxRows) {
                QMessageBox::warning(this, tr("警告"), tr("已经达到最大条目!"), QMessageBox::Ok);
                continue;
            }
            ui->tableWidget->setRowCount(ui->tableWidget->rowCount() + 1);
            updata_tableWidget(entry.type, entry.id);
        }
    }
}
