#include "kx47main.h"
#include "busyscope.h"
#include "catalogue.h"
#include "serialsocket.h"
#include "ui_kx47main.h"

#include <QApplication>
#include <QCloseEvent>
#include <QDesktopServices>
#include <QMessageBox>
#include <QPushButton>
#include <QRegExpValidator>
#include <QTranslator>
#include <QUrl>
#include <cstdlib>

namespace {
const char* const kMakerAddress = "https://www.velkocan.com/";
}

KX47main::KX47main(QWidget* parent) : QMainWindow(parent), ui(new Ui::KX47main)
{
    ui->setupUi(this);
    translator = new QTranslator(); // no parent: lives until the process ends
    set_title();
    init_ui();

    connect(ui->my_serial_number_box, SIGNAL(clicked()), this, SLOT(slot_portListClicked()));
    connect(ui->device_box, SIGNAL(activated(int)), this, SLOT(devicd_Clicked()));
    connect(ui->Box_filtra_mode, SIGNAL(activated(int)), this, SLOT(Box_filtra_mode()));
    connect(ui->Box_send_mode, SIGNAL(activated(int)), this, SLOT(box_send_mode()));
    connect(ui->elabel_net, SIGNAL(clicked()), this, SLOT(onRegisterAccountClicked()));
    connect(ui->btn_serch, &QAbstractButton::clicked, this, &KX47main::search_baud_rate);
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
    translator->load(cataloguePath(QStringLiteral("language/language_EN.qm")));
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
    ui->line_idlenggth->setValidator(new QRegExpValidator(QRegExp(QStringLiteral("[0-4]{1}"))));
    ui->line_idLocation->setPlaceholderText(tr("DEC EX:5"));
    ui->line_idLocation->setValidator(new QRegExpValidator(QRegExp(QStringLiteral("[0-7]{1}"))));
    ui->line_user_head->setPlaceholderText(tr("HEX EX:A5"));
    ui->line_user_head->setValidator(new QRegExpValidator(QRegExp(QStringLiteral("[0-9A-F]{2}"))));
    ui->line_user_tail->setPlaceholderText(tr("HEX EX:A5"));
    ui->line_user_tail->setValidator(new QRegExpValidator(QRegExp(QStringLiteral("[0-9A-F]{2}"))));

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
        translator->load(cataloguePath(QStringLiteral("language/language_EN.qm")));
        QCoreApplication::installTranslator(translator);
        ui->retranslateUi(this);
        ui->language->setText(QStringLiteral("中文"));
    } else if (current == QStringLiteral("中文")) {
        translator->load(cataloguePath(QStringLiteral("language/language_CN.qm")));
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
        // Ends the process here, without returning to the event loop: the
        // port is left as it is and nothing is saved.
        event->accept();
        std::exit(0);
    }
    event->ignore();
}

BusyScope::BusyScope(KX47main* window) : m_window(window)
{
    if (m_window->m_busy)
        return;
    m_window->m_busy = true;
    m_acquired = true;
    QApplication::setOverrideCursor(Qt::BusyCursor);
}

BusyScope::~BusyScope()
{
    if (!m_acquired)
        return;
    m_window->m_busy = false;
    QApplication::restoreOverrideCursor();
}
