#include "atprotocol.h"
#include "busyscope.h"
#include "common.h"
#include "kx47main.h"
#include "ui_kx47main.h"

#include <QDebug>
#include <QRegExpValidator>
#include <QThread>
#include <iterator>

namespace {
constexpr int16_t kSetBudget = 500;
constexpr int kStepPause = 300;

// Validators of the ID editor by frame type. Created once, without parent:
// they live until the process ends.
QValidator* standardIdValidator()
{
    static QRegExpValidator* const v =
        new QRegExpValidator(QRegExp(QStringLiteral("^([0-7][0-9A-F]{2}|[0-9A-F]{2})"), Qt::CaseSensitive));
    return v;
}

QValidator* extendedIdValidator()
{
    static QRegExpValidator* const v =
        new QRegExpValidator(QRegExp(QStringLiteral("^(1[0-9A-F]{7}|[0-9A-F]{7})"), Qt::CaseSensitive));
    return v;
}
} // namespace

// Gives the ID editor the length and the admitted range of the frame type
// shown in `Box_send_mode`, and empties it.
void KX47main::box_send_mode()
{
    ui->line_send_id->setPlaceholderText(tr("HEX EX:A5"));
    if (ui->Box_send_mode->currentIndex() == 0) {
        qDebug() << "NDTF(标准帧)";
        ui->line_send_id->setMaxLength(3);
        ui->line_send_id->clear();
        ui->line_send_id->setValidator(standardIdValidator());
    } else {
        qDebug() << "EDTF(扩展帧)";
        ui->line_send_id->setMaxLength(8);
        ui->line_send_id->clear();
        ui->line_send_id->setValidator(extendedIdValidator());
    }
}

// Makes editable only the sub-parameter editors of the conversion mode shown in `device_box`.
void KX47main::modbus_box_set()
{
    struct Rule
    {
        bool userEditable;
        bool randomEditable;
        bool flagsEnabled;
        const char* name;
    };
    static const Rule kRules[] = {
        {false, false, true, "透明模式"}, {false, true, false, "透明带标识模式"}, {false, false, false, "协议模式"},
        {false, false, false, "MODBUS"},  {true, false, false, "USER"},
    };
    const int item = ui->device_box->currentIndex();
    if (item < 0 || item >= int(std::size(kRules)))
        return;
    const Rule& rule = kRules[item];
    ui->line_user_head->setReadOnly(!rule.userEditable);
    ui->line_user_tail->setReadOnly(!rule.userEditable);
    ui->line_idlenggth->setReadOnly(!rule.randomEditable);
    ui->line_idLocation->setReadOnly(!rule.randomEditable);
    ui->id_enabled_checkBox->setEnabled(rule.flagsEnabled);
    ui->meg_enabledcheckBox->setEnabled(rule.flagsEnabled);
    qDebug() << rule.name;
}

uint16_t KX47main::get_can_baud()
{
    return At::canRateFromText(ui->Box_can_baud->currentText());
}

void KX47main::writeSerialLine()
{
    kx47Query(
        At::uartCommand(ui->baud_485->currentText(), ui->stopbit_485->currentText(), ui->parity_485->currentText()),
        kSetBudget);
}

void KX47main::writeCan()
{
    const QString id = ui->line_send_id->text();
    if (!id.isEmpty())
        qDebug() << id;
    const int frameType = ui->Box_send_mode->currentIndex();
    qDebug() << At::frameTypeToken(frameType);
    kx47Query(At::canCommand(get_can_baud(), id, frameType), kSetBudget);
}

void KX47main::writeDirection()
{
    kx47Query(At::directionCommand(ui->Box_filtra_mode_2->currentIndex()), kSetBudget);
}

void KX47main::writeMode()
{
    const int mode = ui->device_box->currentIndex();
    if (mode >= 1 && mode <= 4)
        qDebug() << At::modeToken(mode);
    kx47Query(At::modeCommand(mode), kSetBudget);
    switch (mode) {
    case 0:
        set_type_1();
        break;
    case 1:
        set_type_2();
        break;
    case 4:
        set_type_3();
        break;
    default:
        break;
    }
}

void KX47main::set_type_1()
{
    kx47Query(At::msgCommand(ui->id_enabled_checkBox->isChecked(), ui->meg_enabledcheckBox->isChecked()), kSetBudget);
}

void KX47main::set_type_2()
{
    kx47Query(At::randomCommand(ui->line_idlenggth->text(), ui->line_idLocation->text()), kSetBudget);
}

void KX47main::set_type_3()
{
    kx47Query(At::udmhtCommand(ui->line_user_head->text(), ui->line_user_tail->text()), kSetBudget);
}

void KX47main::on_write_485_btn_clicked()
{
    const BusyScope busy(this);
    if (busy.acquired())
        writeSerialLine();
}

void KX47main::on_write_can_btn_clicked()
{
    const BusyScope busy(this);
    if (busy.acquired())
        writeCan();
}

void KX47main::on_in_config_btn_clicked()
{
    const BusyScope busy(this);
    if (busy.acquired())
        writeDirection();
}

void KX47main::on_write_dev_mode_btn_clicked()
{
    const BusyScope busy(this);
    if (busy.acquired())
        writeMode();
}

void KX47main::writeAll()
{
    writeSerialLine();
    Common::delay(kStepPause);
    writeDirection();
    Common::delay(kStepPause);
    writeMode();
    Common::delay(kStepPause);
    writeFilterList();
    Common::delay(kStepPause);
    writeCan();
}

void KX47main::on_all_set_clicked()
{
    const BusyScope busy(this);
    if (busy.acquired())
        writeAll();
}

void KX47main::sendPlain(const QByteArray& command)
{
    kx47Query(command, kSetBudget);
}

void KX47main::on_quit_btn_clicked()
{
    const BusyScope busy(this);
    if (busy.acquired())
        sendPlain(At::kExit);
}

void KX47main::on_reset_btn_clicked()
{
    const BusyScope busy(this);
    if (busy.acquired())
        sendPlain(At::kRestart);
}

void KX47main::on_restore_btn_clicked()
{
    const BusyScope busy(this);
    if (!busy.acquired())
        return;
    sendPlain(At::kRestore);
    // The module needs the time to restore its settings before the restart;
    // this is the one wait that does not process events.
    QThread::msleep(500);
    sendPlain(At::kRestart);
}
