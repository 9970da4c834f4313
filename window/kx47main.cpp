#include "window/kx47main.h"
#include "core/protocol/logformat.h"
#include "core/transport/serialsocket.h"
#include "ui_kx47main.h"
#include "window/busyscope.h"
#include "window/catalogue.h"
#include "window/filtertable.h"
#include "window/stationwindow.h"
#include "window/trafficwindow.h"
#include "window/windowdiagnostics.h"

#include <QApplication>
#include <QCheckBox>
#include <QCloseEvent>
#include <QComboBox>
#include <QDesktopServices>
#include <QLabel>
#include <QLineEdit>
#include <QMessageBox>
#include <QProgressBar>
#include <QPushButton>
#include <QRegularExpressionValidator>
#include <QStatusBar>
#include <QTranslator>
#include <QUrl>
#include <cstdlib>

Q_LOGGING_CATEGORY(lcWindow, "velkocan.window", QtWarningMsg)

namespace {
const char* const kMakerAddress = "https://www.velkocan.com/";
}

KX47main::KX47main(QWidget* parent) : QMainWindow(parent), ui(new Ui::KX47main)
{
    ui->setupUi(this);
    m_filterTable = std::make_unique<FilterTable>(ui->tableWidget, this);
    translator = new QTranslator(); // no parent: lives until the process ends
    set_title();
    init_ui();

    connect(ui->my_serial_number_box, SIGNAL(clicked()), this, SLOT(slot_portListClicked()));
    connect(ui->device_box, SIGNAL(activated(int)), this, SLOT(devicd_Clicked()));
    connect(ui->Box_filtra_mode, SIGNAL(activated(int)), this, SLOT(Box_filtra_mode()));
    connect(ui->Box_send_mode, SIGNAL(activated(int)), this, SLOT(box_send_mode()));
    connect(ui->elabel_net, SIGNAL(clicked()), this, SLOT(onRegisterAccountClicked()));
    connect(ui->btn_serch, &QAbstractButton::clicked, this, &KX47main::search_baud_rate);

    // The window shows what the module session reports, as it happens.
    m_session = new ModuleSession(SerialSocket::getInstance(), this);
    connect(m_session, &ModuleSession::logEntry, this, &KX47main::show_log);
    connect(m_session, &ModuleSession::groupRead, this, [this](const ConfigReading& reading) {
        // What the traffic window reads is for it: the editors keep what the user set.
        if (!m_trafficReading)
            m_readBackShown |= applyReading(reading);
    });
    connect(m_session, &ModuleSession::failed, this, &KX47main::showFailure);
    connect(m_session, &ModuleSession::searchRateTried, this, [this](int baud) {
        ui->logBrower->append(QStringLiteral("<font color=\"#FF0000\" size=\"10\">") +
                              tr("Current serch baud: %1").arg(baud));
    });
    connect(m_session, &ModuleSession::searchFound, this, &KX47main::showSearchFound);
    connect(m_session, &ModuleSession::progress, this, &KX47main::showProgress);
    connect(SerialSocket::getInstance(), &SerialSocket::signal_error, this, &KX47main::showPortError);

    // The status bar shows the running operation's step and progress.
    m_statusText = new QLabel(statusBar());
    m_statusBar = new QProgressBar(statusBar());
    m_statusBar->setMaximumWidth(200);
    m_statusBar->setFormat(QStringLiteral("%v/%m"));
    m_statusBar->hide();
    statusBar()->addWidget(m_statusText, 1);
    statusBar()->addPermanentWidget(m_statusBar);

    connect(ui->action_open_config, &QAction::triggered, this, &KX47main::chooseConfigToOpen);
    connect(ui->action_save_config, &QAction::triggered, this, &KX47main::chooseConfigToSave);
    connect(ui->action_save_log, &QAction::triggered, this, &KX47main::chooseLogToSave);
    connect(ui->action_station, &QAction::triggered, this, &KX47main::openStationWindow);
    connect(ui->action_traffic, &QAction::triggered, this, &KX47main::openTrafficWindow);
    // Every sequence started while it is checked is paced by the module's replies.
    connect(ui->action_fast_exchange, &QAction::toggled, m_session, &ModuleSession::setFastExchange);
    // A port that vanished under the window is opened again when its adapter returns.
    m_portWatch = new PortWatch(this);
    connect(m_portWatch, &PortWatch::returned, this, &KX47main::reopenReturningPort);
    restoreSettings();

    // An editor the user changes no longer shows what was not read. (The
    // filter table's slots take its mark away.)
    for (const ConfigField field : Config::allFields()) {
        QWidget* const editor = editorOf(field);
        const auto edited = [this, field] { markNotRead(field, false); };
        if (auto* const box = qobject_cast<QComboBox*>(editor))
            connect(box, QOverload<int>::of(&QComboBox::activated), this, edited);
        else if (auto* const line = qobject_cast<QLineEdit*>(editor))
            connect(line, &QLineEdit::textEdited, this, edited);
        else if (auto* const check = qobject_cast<QCheckBox*>(editor))
            connect(check, &QCheckBox::clicked, this, edited);
    }
}

KX47main::~KX47main()
{
    delete ui;
}

void KX47main::set_title()
{
    setWindowTitle(tr("VelkoCAN模块设置软件 V1.5"));
}

void KX47main::init_ui()
{
    ui->write_485_btn->hide();
    ui->write_can_btn->hide();
    ui->write_dev_mode_btn->hide();
    ui->write_filter_mode_btn->hide();
    ui->in_config_btn->hide();
    ui->elabel_net->hide();
    ui->language->hide();

    // A missing catalogue leaves the Chinese source texts.
    QCoreApplication::removeTranslator(translator);
    (void)translator->load(cataloguePath(QStringLiteral("language/language_EN.qm")));
    QCoreApplication::installTranslator(translator);
    ui->retranslateUi(this);
    ui->language->setText(QStringLiteral("中文"));
    set_title();

    setAutoFillBackground(true);
    resize(1080, 666);
    ui->elabel_net->setStyleSheet(QStringLiteral("background-color: rgb(216, 226, 234);"));

    const QStringList ports = SerialSocket::getInstance()->getPortList();
    fill_port_box(ports);

    static const int kRates[] = {600,   1200,  2400,   4800,   9600,   14400,  19200,
                                 38400, 57600, 115200, 128000, 230400, 256000, 460800};
    for (const int rate : kRates)
        ui->my_serial_baud_box->addItem(QString::number(rate), rate);
    ui->my_serial_baud_box->setCurrentText(QStringLiteral("115200"));
    ui->my_serial_stopbit_box->addItem(QStringLiteral("1"), int(QSerialPort::OneStop));
    ui->my_serial_stopbit_box->addItem(QStringLiteral("2"), int(QSerialPort::TwoStop));
    ui->my_serial_stopbit_box->setCurrentText(QStringLiteral("1"));
    ui->my_serial_parity_box->addItem(QStringLiteral("None"), int(QSerialPort::NoParity));
    ui->my_serial_parity_box->addItem(QStringLiteral("Odd"), int(QSerialPort::OddParity));
    ui->my_serial_parity_box->addItem(QStringLiteral("Even"), int(QSerialPort::EvenParity));
    ui->my_serial_parity_box->setCurrentText(QStringLiteral("None"));

    ui->baud_485->setCurrentText(QStringLiteral("115200"));
    ui->stopbit_485->setCurrentText(QStringLiteral("1"));
    ui->parity_485->setCurrentText(QStringLiteral("NONE"));

    modbus_box_set();

    ui->add_filter_id_btn->setEnabled(false);
    ui->write_id_btn->setEnabled(false);
    ui->del_id_btn->setEnabled(false);
    ui->clean_list_btn->setEnabled(false);

    box_send_mode();

    // Validators without parent: they live until the process ends.
    ui->line_idlenggth->setPlaceholderText(tr("DEC EX:2"));
    ui->line_idlenggth->setValidator(new QRegularExpressionValidator(QRegularExpression(QStringLiteral("[0-4]{1}"))));
    ui->line_idLocation->setPlaceholderText(tr("DEC EX:5"));
    ui->line_idLocation->setValidator(new QRegularExpressionValidator(QRegularExpression(QStringLiteral("[0-7]{1}"))));
    ui->line_user_head->setPlaceholderText(tr("HEX EX:A5"));
    ui->line_user_head->setValidator(
        new QRegularExpressionValidator(QRegularExpression(QStringLiteral("[0-9A-F]{2}"))));
    ui->line_user_tail->setPlaceholderText(tr("HEX EX:A5"));
    ui->line_user_tail->setValidator(
        new QRegularExpressionValidator(QRegularExpression(QStringLiteral("[0-9A-F]{2}"))));

    set_send_btn(false);
}

void KX47main::devicd_Clicked()
{
    modbus_box_set();
}

void KX47main::onRegisterAccountClicked()
{
    QDesktopServices::openUrl(QUrl(QString::fromLatin1(kMakerAddress), QUrl::TolerantMode));
}

void KX47main::on_language_clicked()
{
    const QString current = ui->language->text();
    if (current == QLatin1String("English")) {
        QCoreApplication::removeTranslator(translator);
        (void)translator->load(cataloguePath(QStringLiteral("language/language_EN.qm")));
        QCoreApplication::installTranslator(translator);
        ui->retranslateUi(this);
        ui->language->setText(QStringLiteral("中文"));
    } else if (current == QStringLiteral("中文")) {
        (void)translator->load(cataloguePath(QStringLiteral("language/language_CN.qm")));
        QCoreApplication::installTranslator(translator);
        ui->retranslateUi(this);
        ui->language->setText(QStringLiteral("English"));
    }
    set_title();
}

void KX47main::closeEvent(QCloseEvent* event)
{
    QMessageBox box(QMessageBox::Information, tr("提示"), tr("你确定退出该软件?"), QMessageBox::NoButton, this);
    QPushButton* const confirm = box.addButton(tr("确定"), QMessageBox::AcceptRole);
    QPushButton* const cancel = box.addButton(tr("取消"), QMessageBox::RejectRole);
    box.setDefaultButton(cancel);
    box.exec();
    if (box.clickedButton() == confirm) {
        // A production line that runs ends first, with every module in
        // progress recorded.
        if (m_stationWindow)
            m_stationWindow->stopAndWait();
        // The module goes back into its configuration state first.
        if (m_trafficWindow)
            m_trafficWindow->close();
        saveSettings();
        // Ends the process here, without returning to the event loop: the
        // port is left as it is.
        event->accept();
        std::exit(0);
    }
    event->ignore();
}

void KX47main::openStationWindow()
{
    if (!m_stationWindow) {
        m_stationWindow = new StationWindow; // a window of its own, deleted when it is closed
        m_stationWindow->setAttribute(Qt::WA_DeleteOnClose);
        m_stationWindow->restoreLastSetup();
    }
    m_stationWindow->show();
    m_stationWindow->raise();
    m_stationWindow->activateWindow();
}

void KX47main::openTrafficWindow()
{
    if (m_trafficWindow) {
        m_trafficWindow->show();
        m_trafficWindow->raise();
        m_trafficWindow->activateWindow();
        return;
    }
    if (isBusy())
        return;
    if (!SerialSocket::getInstance()->isOpen()) {
        QMessageBox::information(this, tr("提示"), tr("请先打开模块的串口"), QMessageBox::Ok);
        return;
    }
    // Deleted when it is closed.
    auto* const window =
        new TrafficWindow(m_session, SerialSocket::getInstance(), ui->my_serial_number_box->currentText());
    window->setAttribute(Qt::WA_DeleteOnClose);
    connect(window, &TrafficWindow::logMessage, this,
            [this](const QString& text) { show_log(text.toUtf8(), LogFormat::Message); });
    QString why;
    bool working = false;
    {
        const BusyScope busy(this, ui->action_traffic->text());
        m_trafficReading = true;
        working = window->begin(&why);
        m_trafficReading = false;
        m_trafficWindow = working ? window : nullptr;
    }
    if (!working) {
        delete window;
        const ArrowCursor cursor;
        QMessageBox::information(this, tr("错误"), tr("模块没有进入工作状态：") + why, QMessageBox::Ok);
        return;
    }
    // The module commands wait until the module is back in its configuration state.
    const auto configuring = [this] {
        set_send_btn(SerialSocket::getInstance()->isOpen());
        ui->btn_serch->setEnabled(!isBusy());
    };
    connect(window, &TrafficWindow::configuring, this, configuring);
    // A widget tells its end from its own destructor, when it is a
    // TrafficWindow no more: the pointer is let go before it is looked at.
    connect(window, &QObject::destroyed, this, [this, configuring] {
        m_trafficWindow.clear();
        configuring();
    });
    set_send_btn(false);
    ui->btn_serch->setEnabled(false);
    window->show();
}

TrafficWindow* KX47main::trafficWindow() const
{
    return m_trafficWindow;
}

bool KX47main::trafficHolds() const
{
    return m_trafficWindow && m_trafficWindow->isWorking();
}

void KX47main::enterBusy(const QString& operation)
{
    m_operation = operation;
    m_failureShown = false;
    m_foundNothing = false;
    m_fieldsNotRead = 0;
    m_operationClock.start();
    statusBar()->clearMessage();
    set_send_btn(false);
    ui->btn_serch->setEnabled(false);
    m_statusText->setText(operation);
    m_statusBar->setRange(0, 0);
    m_statusBar->show();
}

void KX47main::leaveBusy()
{
    set_send_btn(SerialSocket::getInstance()->isOpen());
    // The search closes the port: not while the traffic window holds the module.
    ui->btn_serch->setEnabled(!trafficHolds());
    m_statusText->clear();
    m_statusBar->hide();
    // How the operation ended, for a while.
    QString ended;
    switch (m_session->outcome().end) {
    case SequenceOutcome::End::Completed:
        // A failure's box has told how it ended: it did not end as done.
        if (m_failureShown)
            break;
        if (m_foundNothing)
            ended = tr("%1失败：模块在任何波特率下都没有应答，%2 秒")
                        .arg(m_operation, QString::number(double(m_operationClock.elapsed()) / 1000.0, 'f', 1));
        else if (m_fieldsNotRead > 0)
            ended = tr("读取未完成：%n 个字段未读取", nullptr, m_fieldsNotRead);
        else
            ended = tr("%1完成，%2 秒")
                        .arg(m_operation, QString::number(double(m_operationClock.elapsed()) / 1000.0, 'f', 1));
        break;
    case SequenceOutcome::End::Stopped:
        ended = tr("%1已停止").arg(m_operation);
        break;
    case SequenceOutcome::End::PortClosed:
        ended = tr("%1中断：串口已关闭").arg(m_operation);
        break;
    }
    // It stays until the next operation starts.
    statusBar()->showMessage(ended);
    m_operation.clear();
    // A port that returned while the operation it cut was ending.
    if (!m_reopenPending.isEmpty())
        reopenReturningPort(m_reopenPending);
}

void KX47main::showResult(const QString& text)
{
    // A running operation's progress is in the status bar; it tells its own end.
    if (!m_busy)
        statusBar()->showMessage(text);
}

void KX47main::showProgress(int step, int steps, const QString& what)
{
    if (!m_busy)
        return;
    m_statusText->setText(QStringLiteral("%1: %2").arg(m_operation, what));
    m_statusBar->setRange(0, steps);
    m_statusBar->setValue(step);
}

BusyScope::BusyScope(KX47main* window, const QString& operation) : m_window(window)
{
    if (m_window->m_busy)
        return;
    m_window->m_busy = true;
    m_acquired = true;
    m_window->enterBusy(operation);
    QApplication::setOverrideCursor(Qt::BusyCursor);
}

BusyScope::~BusyScope()
{
    if (!m_acquired)
        return;
    m_window->m_busy = false;
    m_window->leaveBusy();
    QApplication::restoreOverrideCursor();
}

ArrowCursor::ArrowCursor()
{
    if (!QApplication::overrideCursor())
        return;
    QApplication::setOverrideCursor(Qt::ArrowCursor);
    m_set = true;
}

ArrowCursor::~ArrowCursor()
{
    if (m_set)
        QApplication::restoreOverrideCursor();
}
