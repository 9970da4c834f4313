// The window's module commands: each slot hands its sequence to the module
// session, guarded so that one operation runs at a time.
#include "core/protocol/atprotocol.h"
#include "core/protocol/logformat.h"
#include "core/transport/serialsocket.h"
#include "ui_kx47main.h"
#include "window/busyscope.h"
#include "window/kx47main.h"
#include "window/windowdiagnostics.h"

#include <QMessageBox>
#include <QPushButton>

namespace {

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

void KX47main::kx47send(QByteArray date)
{
    m_session->send(date);
}

bool KX47main::kx47Query(QByteArray date, int16_t time)
{
    return m_session->query(date, time);
}

bool KX47main::kx47Query_one(QByteArray date, int16_t time)
{
    return m_session->queryWithoutPause(date, time);
}

int KX47main::at_master_get_argc(char* str)
{
    return At::countListedEntries(str);
}

char KX47main::ConvertHexChar(char ch)
{
    return At::hexDigitFlag(ch);
}

void KX47main::showFailure(ModuleSession::Failure failure)
{
    m_failureShown = true;
    const ArrowCursor cursor;
    switch (failure) {
    case ModuleSession::Failure::NoAnswer:
        QMessageBox::information(this, tr("连接失败"), tr("设备无回复！请检查通讯参数！"), QMessageBox::Ok);
        break;
    case ModuleSession::Failure::EmptyFilterList:
        QMessageBox::information(this, tr("错误"), tr("请添加数据"), QMessageBox::Ok);
        break;
    case ModuleSession::Failure::InvalidPort:
        QMessageBox::information(this, tr("错误"), tr("无效串口"), QMessageBox::Ok);
        break;
    case ModuleSession::Failure::OpenFailed:
        QMessageBox::information(this, tr("错误"), tr("串口打开失败"), QMessageBox::Ok);
        break;
    }
}

void KX47main::showRefusals()
{
    const SequenceOutcome& outcome = m_session->outcome();
    QStringList lines;
    const QVector<SequenceOutcome::Command> refused = outcome.refused();
    if (!refused.isEmpty()) {
        lines.append(tr("模块拒绝了这些命令："));
        for (const SequenceOutcome::Command& c : refused)
            lines.append(QStringLiteral("%1 (%2)").arg(c.text(), c.refusal));
    }
    const QVector<SequenceOutcome::Command> unanswered = outcome.unanswered();
    if (!unanswered.isEmpty()) {
        if (!lines.isEmpty())
            lines.append(QString());
        lines.append(tr("模块没有回复这些命令："));
        for (const SequenceOutcome::Command& c : unanswered)
            lines.append(c.text());
    }
    if (lines.isEmpty())
        return;
    const ArrowCursor cursor;
    QMessageBox::information(this, tr("提示"), lines.join(QLatin1Char('\n')), QMessageBox::Ok);
}

void KX47main::runWrite(const std::function<void()>& sequence)
{
    runSequence(tr("写入"), sequence);
}

bool KX47main::confirmWrite()
{
    if (m_somethingRead)
        return true;
    // Else the editors show their start-up values or another module's.
    QMessageBox question(QMessageBox::Information, tr("提示"), tr("尚未从该模块读取任何配置；要写入显示的值吗？"),
                         QMessageBox::Yes | QMessageBox::No, this);
    question.setDefaultButton(QMessageBox::No);
    return question.exec() == QMessageBox::Yes;
}

void KX47main::runSequence(const QString& operation, const std::function<void()>& sequence)
{
    {
        const BusyScope busy(this, operation);
        if (!busy.acquired())
            return;
        sequence();
    }
    // Once the status bar says how the sequence ended, so that its time does
    // not count the box.
    showRefusals();
}

void KX47main::on_device_connet_clicked()
{
    QStringList notRead;
    {
        const BusyScope busy(this, tr("读取"));
        if (!busy.acquired())
            return;
        m_readBackShown = ConfigFields();
        const bool ran = m_session->readBack();
        // A module that was read from (and is still on the line) may get
        // back what the editors show without a question.
        if (m_readBackShown != ConfigFields() && SerialSocket::getInstance()->isOpen())
            m_somethingRead = true;
        // A read-back that ran to its end shows which editors still hold
        // what they held before: a group unanswered, a field its report
        // lacked, a value that went into no editor. One that was stopped or
        // cut short says so; its port is closed, and a write after it asks.
        if (ran) {
            const ConfigFields missing = Config::everyField() & ~m_readBackShown;
            markNotRead(missing, true);
            for (const ConfigField field : Config::allFields()) {
                if (missing & field)
                    notRead.append(Config::fieldPath(field));
            }
            m_fieldsNotRead = notRead.size();
        }
    }
    // Once the status bar says how the read-back ended.
    if (!notRead.isEmpty())
        QMessageBox::information(this, tr("提示"),
                                 tr("这些字段没有从模块读取：") + QLatin1Char('\n') + notRead.join(QLatin1Char('\n')),
                                 QMessageBox::Ok);
}

void KX47main::on_write_485_btn_clicked()
{
    runWrite([this] { m_session->writeSerialLine(editors()); });
}

void KX47main::on_write_can_btn_clicked()
{
    runWrite([this] { m_session->writeCan(editors()); });
}

void KX47main::on_in_config_btn_clicked()
{
    runWrite([this] { m_session->writeDirection(editors()); });
}

void KX47main::on_write_dev_mode_btn_clicked()
{
    runWrite([this] { m_session->writeMode(editors()); });
}

void KX47main::set_type_1()
{
    m_session->writeFlags(editors());
}

void KX47main::set_type_2()
{
    m_session->writeIdentifier(editors());
}

void KX47main::set_type_3()
{
    m_session->writeCustom(editors());
}

void KX47main::on_all_set_clicked()
{
    if (isBusy() || !confirmWrite())
        return;
    runWrite([this] { m_session->writeAll(editors()); });
}

void KX47main::on_quit_btn_clicked()
{
    runSequence(ui->quit_btn->text(), [this] { m_session->leaveConfiguration(); });
}

void KX47main::on_reset_btn_clicked()
{
    runSequence(ui->reset_btn->text(), [this] { m_session->restart(); });
}

void KX47main::on_restore_btn_clicked()
{
    if (isBusy())
        return;
    // The module's whole configuration is lost: only on an explicit yes.
    QMessageBox question(QMessageBox::Information, tr("提示"), tr("确定恢复出厂设置？模块的全部配置将丢失。"),
                         QMessageBox::NoButton, this);
    QPushButton* const confirm = question.addButton(tr("确定"), QMessageBox::AcceptRole);
    QPushButton* const cancel = question.addButton(tr("取消"), QMessageBox::RejectRole);
    question.setDefaultButton(cancel);
    question.exec();
    if (question.clickedButton() == confirm)
        runSequence(ui->restore_btn->text(), [this] { m_session->restore(); });
}

void KX47main::set_serching_sta(uchar sta)
{
    // While a search runs, the search button stops it; outside a search it is
    // connected exactly once, so that each click starts one search.
    m_searching = sta != 0;
    if (sta) {
        ui->logBrower->clear();
        ui->logBrower->append(QStringLiteral("<font color=\"#00FF00\" size=\"20\">") + tr("开始搜索："));
        ui->my_serial_open_btn->setEnabled(false);
        disconnect(ui->btn_serch, &QAbstractButton::clicked, this, &KX47main::search_baud_rate);
        connect(ui->btn_serch, &QAbstractButton::clicked, this, &KX47main::stopSearch, Qt::UniqueConnection);
        ui->btn_serch->setText(tr("停止搜索"));
        ui->btn_serch->setEnabled(true);
    } else {
        ui->my_serial_open_btn->setEnabled(true);
        disconnect(ui->btn_serch, &QAbstractButton::clicked, this, &KX47main::stopSearch);
        connect(ui->btn_serch, &QAbstractButton::clicked, this, &KX47main::search_baud_rate, Qt::UniqueConnection);
        ui->btn_serch->setText(tr("波特率搜索"));
    }
}

void KX47main::stopSearch()
{
    m_session->stop();
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
    qCDebug(lcWindow) << "btn = " << (answer == QMessageBox::Yes ? "Yes" : "No");
    if (answer != QMessageBox::Yes)
        return 0;

    const BusyScope busy(this, ui->btn_serch->text());
    if (!busy.acquired())
        return 0;
    set_serching_sta(1);
    const int result = m_session->searchBaudRate(ui->my_serial_number_box->currentText());
    if (result == 0 && !m_session->wasStopped()) {
        ui->logBrower->append(QStringLiteral("<font color=\"#00FF00\" size=\"20\">") + tr("参数搜索失败！"));
        m_foundNothing = true;
    }
    set_serching_sta(0);
    return result;
}

void KX47main::showSearchFound(const ModuleSession::Line& line)
{
    emit ui->clean_log_btn->clicked(false);
    show_log(QByteArrayLiteral("connection is successful"), LogFormat::Message);
    // The panel shows the parity that answered, so that opening the port with
    // it reaches the module.
    ui->my_serial_parity_box->setCurrentIndex(parityItem(line.parity));
    const QString found = line.parity == QSerialPort::NoParity ? QStringLiteral("baud: %1 ,  have no parity!")
                                                               : QStringLiteral("baud: %1 ,  have parity!");
    show_log((QStringLiteral("<font color=\"#0000FF\" size=\"20\">") + found.arg(line.baud)).toLatin1(),
             LogFormat::Message);
    ui->logBrower->append(QStringLiteral("<font color=\"#FF0000\" size=\"20\">") +
                          tr("请以点击  \"连接设备\"  以搜索上来的  \"串口参数设置\"  为准！"));
    ui->my_serial_baud_box->setCurrentText(QString::number(line.baud));
}
