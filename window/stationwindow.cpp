#include "window/stationwindow.h"

#include "core/config/fileaccess.h"
#include "core/config/moduleconfig.h"
#include "core/station/ledger.h"
#include "core/transport/adapters.h"
#include "core/transport/portaccess.h"
#include "core/transport/portnames.h"
#include "window/busyscope.h"
#include "window/remembered.h"

#include <QAction>
#include <QApplication>
#include <QCheckBox>
#include <QCloseEvent>
#include <QComboBox>
#include <QDateTime>
#include <QDir>
#include <QEventLoop>
#include <QFileDialog>
#include <QFileInfo>
#include <QFormLayout>
#include <QFrame>
#include <QGridLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QJsonArray>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QMenuBar>
#include <QMessageBox>
#include <QPlainTextEdit>
#include <QProgressBar>
#include <QPushButton>
#include <QScrollArea>
#include <QSpinBox>
#include <QSplitter>
#include <QStatusBar>
#include <QSysInfo>
#include <QTabWidget>
#include <QTableWidget>
#include <QVBoxLayout>

namespace {

// The colours of a tile's states; the state is always in words as well.
const char kWaiting[] = "#d9d9d9"; // also not started, and stopped
const char kWorking[] = "#ffc53d";
const char kPassed[] = "#73d13d";
const char kDiffers[] = "#ff9c38";
const char kFailed[] = "#ff6b6b";

constexpr int kFailuresToCheck = 3; // failures in a row after which a fixture is to be checked
constexpr int kResultsKept = 200;
// The modules per hour are told once the line has run this long or made this many.
constexpr qint64 kRateAfterMs = 60000;
constexpr int kRateAfterModules = 5;

// SIGINT's number: the window's Stop ends the line as Ctrl+C ends the command line's.
constexpr int kStopNumber = 2;

QString valuesText(const QJsonObject& values)
{
    QStringList parts;
    for (auto it = values.begin(); it != values.end(); ++it)
        parts.append(it.key() + QLatin1Char(' ') + it.value().toString());
    return parts.join(QStringLiteral(", "));
}

QLabel* counter(QWidget* parent, const char* name)
{
    auto* const label = new QLabel(QStringLiteral("0"), parent);
    label->setObjectName(QLatin1String(name));
    QFont font = label->font();
    font.setPointSize(font.pointSize() * 3);
    font.setBold(true);
    label->setFont(font);
    label->setAlignment(Qt::AlignCenter);
    return label;
}

} // namespace

// One fixture's tile.
struct StationWindow::Tile
{
    QFrame* frame = nullptr;
    QLabel* title = nullptr;
    QLabel* state = nullptr;
    QProgressBar* progress = nullptr;
    QLabel* step = nullptr;
    QLabel* module = nullptr;
    QLabel* reason = nullptr;
    QLabel* duration = nullptr;
    QLabel* warning = nullptr;
    QPushButton* next = nullptr;
    int failuresInARow = 0;
    bool showsResult = false; // the last module's result stays until the next one starts
};

StationWindow::StationWindow(QWidget* parent) : QMainWindow(parent)
{
    setObjectName(QStringLiteral("StationWindow"));
    setWindowTitle(tr("VelkoCAN 生产线"));

    QMenu* const file = menuBar()->addMenu(tr("设置"));
    m_openAction = file->addAction(tr("打开设置…"), this, &StationWindow::chooseSetupToOpen);
    m_openAction->setObjectName(QStringLiteral("action_open_setup"));
    m_openAction->setShortcut(QKeySequence::Open);
    m_saveAction = file->addAction(tr("保存设置…"), this, &StationWindow::chooseSetupToSave);
    m_saveAction->setObjectName(QStringLiteral("action_save_setup"));
    m_saveAction->setShortcut(QKeySequence::Save);
    file->addSeparator();
    file->addAction(tr("关闭"), this, &QWidget::close);

    // Two pages: the line, for the operator, and the setup, for the engineer.
    auto* const pages = new QTabWidget(this);
    pages->setObjectName(QStringLiteral("station_pages"));
    auto* const central = new QWidget(pages);
    auto* const column = new QVBoxLayout(central);
    auto* const setupPage = new QWidget(pages);
    auto* const setupColumn = new QVBoxLayout(setupPage);

    // The setup, changed only while the line stands still.
    auto* const setupBox = new QGroupBox(tr("设置"), setupPage);
    setupBox->setObjectName(QStringLiteral("station_setup_box"));
    m_setupBox = setupBox;
    auto* const grid = new QGridLayout(setupBox);
    buildSetup(setupBox, grid);
    setupColumn->addWidget(setupBox);
    setupColumn->addStretch(1);

    // Start, Stop and the counters.
    auto* const bar = new QHBoxLayout;
    m_startButton = new QPushButton(tr("开始"), central);
    m_startButton->setObjectName(QStringLiteral("station_start_btn"));
    m_stopButton = new QPushButton(tr("停止"), central);
    m_stopButton->setObjectName(QStringLiteral("station_stop_btn"));
    for (QPushButton* const b : {m_startButton, m_stopButton}) {
        QFont font = b->font();
        font.setPointSize(font.pointSize() * 2);
        b->setFont(font);
        b->setMinimumSize(120, 56);
        bar->addWidget(b);
    }
    connect(m_startButton, &QPushButton::clicked, this, &StationWindow::start);
    connect(m_stopButton, &QPushButton::clicked, this, &StationWindow::stop);
    m_okCount = counter(central, "station_ok_count");
    m_failedCount = counter(central, "station_failed_count");
    m_rowsLeft = counter(central, "station_rows_left");
    m_rate = counter(central, "station_rate");
    m_okCount->setStyleSheet(QStringLiteral("color: #237804;"));
    m_failedCount->setStyleSheet(QStringLiteral("color: #a8071a;"));
    const QList<QPair<QString, QLabel*>> counters{
        {tr("通过"), m_okCount}, {tr("失败"), m_failedCount}, {tr("剩余行"), m_rowsLeft}, {tr("模块/小时"), m_rate}};
    for (const auto& c : counters) {
        auto* const box = new QVBoxLayout;
        auto* const caption = new QLabel(c.first, central);
        caption->setAlignment(Qt::AlignCenter);
        box->addWidget(c.second);
        box->addWidget(caption);
        bar->addLayout(box, 1);
    }
    column->addLayout(bar);

    // The tiles, then the last results.
    auto* const split = new QSplitter(Qt::Vertical, central);
    auto* const scroll = new QScrollArea(split);
    scroll->setWidgetResizable(true);
    m_tileArea = new QWidget(scroll);
    m_tileArea->setObjectName(QStringLiteral("station_tiles"));
    new QGridLayout(m_tileArea);
    scroll->setWidget(m_tileArea);
    m_results = new QTableWidget(0, 4, split);
    m_results->setObjectName(QStringLiteral("station_results"));
    m_results->setHorizontalHeaderLabels({tr("时间"), tr("治具"), tr("值"), tr("结果")});
    m_results->horizontalHeader()->setStretchLastSection(true);
    m_results->verticalHeader()->hide();
    m_results->setEditTriggers(QAbstractItemView::NoEditTriggers);
    split->addWidget(scroll);
    split->addWidget(m_results);
    split->setStretchFactor(0, 3);
    split->setStretchFactor(1, 1);
    split->setSizes({480, 160});
    scroll->setMinimumHeight(290);
    column->addWidget(split, 1);

    m_messages = new QPlainTextEdit(central);
    m_messages->setObjectName(QStringLiteral("station_messages"));
    m_messages->setReadOnly(true);
    m_messages->setMaximumBlockCount(1000);
    m_messages->setMaximumHeight(60);
    column->addWidget(m_messages);
    pages->addTab(central, tr("生产线"));
    pages->addTab(setupPage, tr("设置"));
    setCentralWidget(pages);

    m_status = new QLabel(statusBar());
    m_status->setObjectName(QStringLiteral("station_status"));
    statusBar()->addWidget(m_status, 1);

    setSetup(StationSetup());
    refreshPortChoice();
    setRunning(false);
    showCounters();
    resize(1200, 720);
    const Remembered::Store store;
    m_folder = store.get(Remembered::kSetupFolder);
    const QByteArray geometry = store.get(Remembered::kStationGeometry);
    if (!geometry.isEmpty())
        restoreGeometry(geometry);
    // The rows left follow the values, the profile and the report as they are edited.
    for (QLineEdit* const edit : {m_profile, m_values, m_report})
        connect(edit, &QLineEdit::editingFinished, this, [this] {
            if (!m_station) {
                m_rowsToGo = countRowsLeft();
                showCounters();
            }
        });
}

StationWindow::~StationWindow()
{
    // A window goes only once its line has ended.
    stopAndWait();
    qDeleteAll(m_tiles);
}

void StationWindow::stopAndWait()
{
    if (!m_station)
        return;
    QEventLoop loop;
    connect(this, &StationWindow::lineEnded, &loop, &QEventLoop::quit);
    stop();
    if (m_station)
        loop.exec();
}

void StationWindow::buildSetup(QWidget* parent, QGridLayout* grid)
{
    const auto pathRow = [&](int row, const QString& label, const char* name, QLineEdit** edit, const QString& filter,
                             bool save) {
        *edit = new QLineEdit(parent);
        (*edit)->setObjectName(QLatin1String(name));
        auto* const browse = new QPushButton(tr("浏览…"), parent);
        QLineEdit* const target = *edit;
        connect(browse, &QPushButton::clicked, this,
                [this, target, label, filter, save] { choosePath(target, label, filter, save); });
        grid->addWidget(new QLabel(label, parent), row, 0);
        grid->addWidget(*edit, row, 1);
        grid->addWidget(browse, row, 2);
    };
    pathRow(0, tr("配置文件"), "setup_profile", &m_profile, tr("配置文件 (*.json)"), false);
    pathRow(1, tr("每个模块的值"), "setup_values", &m_values, tr("CSV 文件 (*.csv)"), false);
    // A line of stations shares its values in a ledger instead of a CSV.
    m_values->setPlaceholderText(tr("CSV 文件，或共享数据库 sqlite:路径 / postgresql://主机/数据库"));
    pathRow(2, tr("记录 (JSON Lines)"), "setup_report", &m_report, tr("记录文件 (*.jsonl)"), true);

    // The fixtures: picked from the adapters, by serial number when the adapter has one.
    m_ports = new QListWidget(parent);
    m_ports->setObjectName(QStringLiteral("setup_ports"));
    m_ports->setMaximumHeight(80);
    m_portChoice = new QComboBox(parent);
    m_portChoice->setObjectName(QStringLiteral("setup_port_choice"));
    m_portChoice->setEditable(true);
    m_portChoice->setMinimumContentsLength(28);
    auto* const refresh = new QPushButton(tr("刷新"), parent);
    auto* const add = new QPushButton(tr("添加治具"), parent);
    add->setObjectName(QStringLiteral("setup_add_port_btn"));
    auto* const remove = new QPushButton(tr("移除治具"), parent);
    remove->setObjectName(QStringLiteral("setup_remove_port_btn"));
    connect(refresh, &QPushButton::clicked, this, &StationWindow::refreshPortChoice);
    connect(add, &QPushButton::clicked, this, &StationWindow::addPort);
    connect(remove, &QPushButton::clicked, this, &StationWindow::removePort);
    auto* const choice = new QHBoxLayout;
    choice->addWidget(m_portChoice, 1);
    choice->addWidget(refresh);
    choice->addWidget(add);
    choice->addWidget(remove);
    grid->addWidget(new QLabel(tr("治具"), parent), 3, 0, Qt::AlignTop);
    auto* const fixtures = new QVBoxLayout;
    fixtures->addLayout(choice);
    fixtures->addWidget(m_ports);
    grid->addLayout(fixtures, 3, 1, 1, 2);

    // The PC side of the line, and how the station goes.
    auto* const line = new QHBoxLayout;
    m_baud = new QComboBox(parent);
    m_baud->setObjectName(QStringLiteral("setup_baud"));
    for (const int rate : Config::baudRates())
        m_baud->addItem(QString::number(rate), rate);
    m_parity = new QComboBox(parent);
    m_parity->setObjectName(QStringLiteral("setup_parity"));
    m_parity->addItems(Operation::parityWords());
    m_stop = new QComboBox(parent);
    m_stop->setObjectName(QStringLiteral("setup_stop"));
    m_stop->addItems({QStringLiteral("1"), QStringLiteral("2")});
    m_fast = new QCheckBox(tr("快速通信"), parent);
    m_fast->setObjectName(QStringLiteral("setup_fast"));
    m_restart = new QCheckBox(tr("写入后重启模块"), parent);
    m_restart->setObjectName(QStringLiteral("setup_restart"));
    m_count = new QSpinBox(parent);
    m_count->setObjectName(QStringLiteral("setup_count"));
    m_count->setRange(0, Setup::kMaxCount); // 0: no limit
    m_count->setSpecialValueText(tr("不限"));
    m_removal = new QComboBox(parent);
    m_removal->setObjectName(QStringLiteral("setup_removal"));
    m_removal->addItem(tr("默认（探测）"), -1);
    m_removal->addItem(tr("探测（每次探测都会让模块重新进入配置状态）"), int(Station::Removal::Probe));
    m_removal->addItem(tr("端口（适配器随模块一起拔下）"), int(Station::Removal::Port));
    m_removal->addItem(tr("操作员确认"), int(Station::Removal::Operator));
    // The items explain themselves; the box need not be as wide as the longest.
    m_removal->setSizeAdjustPolicy(QComboBox::AdjustToMinimumContentsLengthWithIcon);
    m_removal->setMinimumContentsLength(24);
    m_portChoice->setSizeAdjustPolicy(QComboBox::AdjustToMinimumContentsLengthWithIcon);
    line->addWidget(new QLabel(tr("波特率"), parent));
    line->addWidget(m_baud);
    line->addWidget(new QLabel(tr("校验"), parent));
    line->addWidget(m_parity);
    line->addWidget(new QLabel(tr("停止位"), parent));
    line->addWidget(m_stop);
    line->addWidget(m_fast);
    line->addWidget(m_restart);
    line->addWidget(new QLabel(tr("模块数"), parent));
    line->addWidget(m_count);
    line->addStretch(1);
    grid->addLayout(line, 4, 0, 1, 3);
    grid->addWidget(new QLabel(tr("取下模块"), parent), 5, 0);
    grid->addWidget(m_removal, 5, 1, 1, 2);
    m_stationName = new QLineEdit(parent);
    m_stationName->setObjectName(QStringLiteral("setup_station_name"));
    m_stationName->setPlaceholderText(QSysInfo::machineHostName());
    grid->addWidget(new QLabel(tr("工位名称（数据库中）"), parent), 6, 0);
    grid->addWidget(m_stationName, 6, 1, 1, 2);
    m_can = new QLineEdit(parent);
    m_can->setObjectName(QStringLiteral("setup_can"));
    m_can->setPlaceholderText(tr("不检查（例如 socketcan:can0）"));
    m_can->setToolTip(tr("在此 CAN 接口上检查每个模块的转换（插件:接口），作为最后一步"));
    m_maxLatency = new QSpinBox(parent);
    m_maxLatency->setObjectName(QStringLiteral("setup_max_latency"));
    m_maxLatency->setRange(Setup::kMinLatency, Setup::kMaxLatency);
    m_maxLatency->setValue(Setup::kDefaultLatency);
    m_maxLatency->setPrefix(tr("延迟上限 "));
    m_maxLatency->setSuffix(QStringLiteral(" ms"));
    auto* const canLine = new QHBoxLayout;
    canLine->addWidget(m_can, 1);
    canLine->addWidget(m_maxLatency);
    grid->addWidget(new QLabel(tr("CAN 接口（检查转换）"), parent), 7, 0);
    grid->addLayout(canLine, 7, 1, 1, 2);
    grid->setColumnStretch(1, 1);
}

void StationWindow::refreshPortChoice()
{
    const QString typed = m_portChoice->currentText();
    m_portChoice->clear();
    for (const Adapters::Adapter& a : Adapters::available()) {
        const QString shown = a.serialNumber.isEmpty()
                                  ? QStringLiteral("%1 — %2").arg(a.portName, a.description)
                                  : QStringLiteral("%1 — %2 (%3)").arg(a.portName, a.description, a.serialNumber);
        // By serial number when the adapter has one: its port name may change.
        m_portChoice->addItem(shown, a.serialNumber.isEmpty() ? a.systemLocation : Adapters::usbName(a.serialNumber));
    }
    for (const QString& link : PortNames::virtualPorts(PortNames::virtualPortFolder()))
        m_portChoice->addItem(link, link);
    m_portChoice->setEditText(typed);
}

void StationWindow::addPort()
{
    const int item = m_portChoice->findText(m_portChoice->currentText());
    const QString port = item >= 0 ? m_portChoice->itemData(item).toString() : m_portChoice->currentText().trimmed();
    if (port.isEmpty())
        return;
    if (!m_ports->findItems(port, Qt::MatchExactly).isEmpty()) {
        tell(tr("提示"), tr("%1 已经是一个治具").arg(port));
        return;
    }
    m_ports->addItem(port);
    buildTiles();
}

void StationWindow::removePort()
{
    delete m_ports->currentItem();
    buildTiles();
}

StationSetup StationWindow::setup() const
{
    StationSetup s;
    s.profile = m_profile->text().trimmed();
    s.values = m_values->text().trimmed();
    s.report = m_report->text().trimmed();
    for (int i = 0; i < m_ports->count(); ++i)
        s.ports.append(m_ports->item(i)->text());
    s.baud = m_baud->currentData().toInt();
    Operation::parityNamed(m_parity->currentText(), &s.parity);
    s.stopBits = m_stop->currentText().toInt();
    s.fast = m_fast->isChecked();
    s.restart = m_restart->isChecked();
    s.count = m_count->value() == 0 ? -1 : m_count->value();
    const int removal = m_removal->currentData().toInt();
    if (removal >= 0)
        s.removalGiven = Station::Removal(removal);
    s.stationName = m_stationName->text().trimmed();
    s.can = m_can->text().trimmed();
    s.maxLatency = m_maxLatency->value();
    return s;
}

void StationWindow::setSetup(const StationSetup& s)
{
    m_profile->setText(s.profile);
    m_values->setText(s.values);
    m_report->setText(s.report);
    m_ports->clear();
    m_ports->addItems(s.ports);
    const int baud = m_baud->findData(s.baud);
    if (baud < 0)
        m_baud->addItem(QString::number(s.baud), s.baud);
    m_baud->setCurrentIndex(m_baud->findData(s.baud));
    m_parity->setCurrentText(Operation::parityWord(s.parity));
    m_stop->setCurrentText(QString::number(s.stopBits));
    m_fast->setChecked(s.fast);
    m_restart->setChecked(s.restart);
    m_count->setValue(s.count < 0 ? 0 : s.count);
    m_removal->setCurrentIndex(qMax(0, m_removal->findData(s.removalGiven ? int(*s.removalGiven) : -1)));
    m_stationName->setText(s.stationName);
    m_can->setText(s.can);
    m_maxLatency->setValue(s.maxLatency);
    buildTiles();
    m_rowsToGo = countRowsLeft();
    showCounters();
}

int StationWindow::countRowsLeft() const
{
    const StationSetup s = setup();
    // A ledger is not asked before Start: other stations take its rows meanwhile.
    if (s.values.isEmpty() || LedgerAddress::isLedger(s.values) || s.profile.isEmpty())
        return -1;
    Station::Run run;
    run.check = true;
    run.withoutPorts = true;
    Station check(s, run);
    Operation::Result refused;
    if (!check.prepare(&refused))
        return -1;
    return check.rowsLeftCount();
}

void StationWindow::keepSetupPath(const QString& path)
{
    m_folder = QFileInfo(path).absolutePath();
    Remembered::Store store;
    store.set(Remembered::kSetupFolder, m_folder);
    store.set(Remembered::kStationSetup, QFileInfo(path).absoluteFilePath());
}

void StationWindow::restoreLastSetup()
{
    const QString path = Remembered::Store().get(Remembered::kStationSetup);
    if (!path.isEmpty() && QFileInfo(path).isFile())
        openSetup(path);
}

bool StationWindow::openSetup(const QString& path)
{
    StationSetup s;
    QStringList problems;
    QStringList warnings;
    if (!Setup::load(path, &s, &problems, &warnings)) {
        tell(tr("错误"), problems.join(QLatin1Char('\n')));
        return false;
    }
    for (const QString& w : std::as_const(warnings))
        m_messages->appendPlainText(w);
    setSetup(s);
    keepSetupPath(path);
    showStatus(tr("已打开设置：%1").arg(QDir::toNativeSeparators(path)));
    return true;
}

bool StationWindow::saveSetup(const QString& path)
{
    QString error;
    if (!Files::writeWhole(path, Setup::write(setup(), QFileInfo(path).absolutePath()), &error)) {
        tell(tr("错误"), tr("无法写入文件 %1").arg(error));
        return false;
    }
    keepSetupPath(path);
    showStatus(tr("已保存设置：%1").arg(QDir::toNativeSeparators(path)));
    return true;
}

void StationWindow::chooseSetupToOpen()
{
    const QString path = QFileDialog::getOpenFileName(this, tr("打开设置"), m_folder, tr("生产线设置 (*.json)"),
                                                      nullptr, QFileDialog::DontUseNativeDialog);
    if (!path.isEmpty())
        openSetup(path);
}

void StationWindow::chooseSetupToSave()
{
    QString path = QFileDialog::getSaveFileName(this, tr("保存设置"), m_folder + QStringLiteral("/station.json"),
                                                tr("生产线设置 (*.json)"), nullptr, QFileDialog::DontUseNativeDialog);
    if (path.isEmpty())
        return;
    if (QFileInfo(path).suffix().isEmpty())
        path += QStringLiteral(".json");
    saveSetup(path);
}

QString StationWindow::choosePath(QLineEdit* edit, const QString& caption, const QString& filter, bool save)
{
    const QString start = edit->text().isEmpty() ? m_folder : edit->text();
    const QString path =
        save ? QFileDialog::getSaveFileName(this, caption, start, filter, nullptr, QFileDialog::DontUseNativeDialog)
             : QFileDialog::getOpenFileName(this, caption, start, filter, nullptr, QFileDialog::DontUseNativeDialog);
    if (!path.isEmpty())
        edit->setText(path);
    return path;
}

void StationWindow::buildTiles()
{
    qDeleteAll(m_tiles);
    m_tiles.clear();
    auto* const grid = static_cast<QGridLayout*>(m_tileArea->layout());
    while (QLayoutItem* const item = grid->takeAt(0)) {
        delete item->widget();
        delete item;
    }
    const QStringList ports = setup().ports;
    const int columns = ports.size() > 4 ? 4 : qMax(1, ports.size());
    for (int i = 0; i < ports.size(); ++i) {
        const QString n = QString::number(i + 1);
        auto* const tile = new Tile;
        tile->frame = new QFrame(m_tileArea);
        tile->frame->setObjectName(QStringLiteral("slot_tile_") + n);
        tile->frame->setFrameShape(QFrame::StyledPanel);
        tile->frame->setMinimumSize(220, 270);
        auto* const box = new QVBoxLayout(tile->frame);
        const auto label = [&](const QString& name) {
            auto* const l = new QLabel(tile->frame);
            l->setObjectName(name + n);
            l->setWordWrap(true);
            box->addWidget(l);
            return l;
        };
        tile->title = label(QStringLiteral("slot_title_"));
        QString serial;
        QString missing;
        const QString device = Adapters::resolve(ports.at(i), &missing);
        for (const Adapters::Adapter& a : Adapters::available()) {
            if (!device.isEmpty() && a.systemLocation == device)
                serial = a.serialNumber;
        }
        tile->title->setText(
            tr("治具 %1").arg(n) + QStringLiteral("\n") + ports.at(i) +
            (serial.isEmpty() || Adapters::isUsbName(ports.at(i)) ? QString() : QStringLiteral(" (%1)").arg(serial)));
        tile->state = label(QStringLiteral("slot_state_"));
        QFont big = tile->state->font();
        big.setPointSize(big.pointSize() * 2);
        big.setBold(true);
        tile->state->setFont(big);
        tile->progress = new QProgressBar(tile->frame);
        tile->progress->setObjectName(QStringLiteral("slot_progress_") + n);
        tile->progress->setFormat(QStringLiteral("%v/%m"));
        tile->progress->hide();
        box->addWidget(tile->progress);
        tile->step = label(QStringLiteral("slot_step_"));
        tile->module = label(QStringLiteral("slot_module_"));
        tile->reason = label(QStringLiteral("slot_reason_"));
        tile->duration = label(QStringLiteral("slot_duration_"));
        tile->warning = label(QStringLiteral("slot_warning_"));
        tile->warning->setStyleSheet(QStringLiteral("color: #a8071a; font-weight: bold;"));
        tile->next = new QPushButton(tr("已取下，下一个"), tile->frame);
        tile->next->setObjectName(QStringLiteral("slot_next_btn_") + n);
        tile->next->setEnabled(false);
        box->addWidget(tile->next);
        box->addStretch(1);
        connect(tile->next, &QPushButton::clicked, this, [this, i] {
            if (i < m_tiles.size())
                m_tiles.at(i)->next->setEnabled(false);
            if (m_station)
                m_station->confirmRemoval(i);
        });
        grid->addWidget(tile->frame, i / columns, i % columns);
        m_tiles.append(tile);
    }
    paintNotStarted();
}

void StationWindow::paintNotStarted()
{
    const QStringList ports = setup().ports;
    for (int i = 0; i < m_tiles.size() && i < ports.size(); ++i) {
        Tile& t = *m_tiles.at(i);
        QString missing;
        const QString device = Adapters::resolve(ports.at(i), &missing);
        if (Adapters::isUsbName(ports.at(i)) && device.isEmpty())
            t.step->setText(tr("没有这个适配器：%1").arg(missing));
        else if (!device.isEmpty() && PortAccess::isMissing(device))
            t.step->setText(tr("没有这个端口"));
        else
            t.step->clear();
        paint(t, QLatin1String(kWaiting), tr("未开始"));
    }
}

void StationWindow::paint(Tile& tile, const QString& colour, const QString& words)
{
    tile.frame->setStyleSheet(
        QStringLiteral("QFrame#%1 { background: %2; border-radius: 6px; }").arg(tile.frame->objectName(), colour));
    tile.state->setText(words);
}

bool StationWindow::isRunning() const
{
    return m_station != nullptr;
}

void StationWindow::setRunning(bool running)
{
    m_setupBox->setEnabled(!running);
    m_openAction->setEnabled(!running);
    m_startButton->setEnabled(!running);
    m_stopButton->setEnabled(running);
}

void StationWindow::showStatus(const QString& text)
{
    m_status->setText(text);
}

bool StationWindow::confirmed(const QString& question)
{
    QMessageBox box(QMessageBox::Question, tr("提示"), question, QMessageBox::NoButton, this);
    QPushButton* const confirm = box.addButton(tr("确定"), QMessageBox::AcceptRole);
    QPushButton* const cancel = box.addButton(tr("取消"), QMessageBox::RejectRole);
    box.setDefaultButton(cancel);
    box.exec();
    return box.clickedButton() == confirm;
}

QString StationWindow::worded(const Operation::Problem& p) const
{
    using Kind = Operation::Problem::Kind;
    const auto value = [&p](int i) { return p.values.value(i); };
    switch (p.kind) {
    case Kind::Text:
        break;
    case Kind::LineNeedsRestart:
        return tr("%1：模块将使用新的串口参数 %2，而工位使用 %3；模块只有重启后才报告新的串口参数，"
                  "所以只能在重启后校验：请勾选“写入后重启模块”")
            .arg(p.subject, value(0), value(1));
    case Kind::SameDevice:
        return tr("治具 %1 和 %2 是同一个设备 %3").arg(value(0), value(1), value(2));
    case Kind::ModuleSilent:
        return tr("%1：模块在 %2 下没有回复（是否已上电？波特率搜索可以找到它的串口参数）").arg(p.subject, value(0));
    case Kind::NoLedger:
        return tr("%1：没有这个台账（请先初始化台账）").arg(p.subject);
    case Kind::NotALedger:
        return tr("%1 不是台账（没有 ledger_schema 表）").arg(p.subject);
    case Kind::NoPorts:
        return tr("请先添加至少一个治具");
    case Kind::SameName:
        return tr("治具 %1 添加了两次").arg(p.subject);
    case Kind::OutOfLimits: {
        const QString field = p.subject == QLatin1String("baud")    ? tr("波特率")
                              : p.subject == QLatin1String("count") ? tr("模块数")
                                                                    : tr("停止位");
        return tr("%1 %2：允许 %3 到 %4").arg(field, value(0), value(1), value(2));
    }
    case Kind::StationRunning:
    case Kind::NoSuchStation:
        break;
    case Kind::BadStationName:
        return tr("工位名称“%1”：只允许一个由字母、数字、“.”、“_”和“-”组成的词，最多 64 个字符")
            .arg(p.subject.left(80));
    case Kind::NoProfile:
        return tr("请先选择配置文件");
    }
    return QString();
}

void StationWindow::tell(const QString& title, const QString& text)
{
    const ArrowCursor cursor;
    QMessageBox::information(this, title, text, QMessageBox::Ok);
}

void StationWindow::showCounters()
{
    m_okCount->setText(QString::number(m_ok));
    m_failedCount->setText(QString::number(m_failed));
    m_rowsLeft->setText(m_rowsToGo < 0 ? QStringLiteral("—") : QString::number(m_rowsToGo));
    // A rate of one quick module or of a few seconds says nothing of the line's.
    const qint64 ms = m_clock.isValid() ? m_clock.elapsed() : 0;
    const int modules = m_ok + m_failed;
    const bool telling = modules > 0 && ms > 0 && (ms >= kRateAfterMs || modules >= kRateAfterModules);
    m_rate->setText(telling ? QString::number(qRound64(double(modules) * 3600000.0 / double(ms)))
                            : QStringLiteral("—"));
}

void StationWindow::start()
{
    if (m_station)
        return;
    const StationSetup s = setup();
    // Without a report nothing keeps which rows of a values file were used.
    if (!s.values.isEmpty() && !LedgerAddress::isLedger(s.values) && s.report.isEmpty()) {
        if (!confirmed(tr("没有记录文件：不会保存哪些行已经用过，下次启动会再次使用同样的值。仍然启动？")))
            return;
    }
    Station::Run run;
    run.stopName = [](int) { return QStringLiteral("the operator's Stop"); };
    m_station = new Station(s, run, this);
    connect(m_station, &Station::note, this, [this](const QString& line) { m_messages->appendPlainText(line); });
    connect(m_station, &Station::slotState, this, &StationWindow::slotState);
    connect(m_station, &Station::slotStep, this, &StationWindow::slotStep);
    connect(m_station, &Station::moduleStarted, this, &StationWindow::moduleStarted);
    connect(m_station, &Station::moduleDone, this, &StationWindow::moduleDone);
    connect(m_station, &Station::removalAwaited, this, &StationWindow::removalAwaited);
    connect(m_station, &Station::lineStopped, this, &StationWindow::lineStopped);
    connect(m_station, &Station::finished, this, &StationWindow::finished);

    Operation::Result refused;
    const bool ready = m_station->prepare(&refused) && m_station->start(&refused);
    refused = Operation::reworded(refused, [this](const Operation::Problem& p) { return worded(p); });
    if (!ready) {
        delete m_station;
        m_station = nullptr;
        const QString why = refused.detailsSayAll
                                ? refused.details.join(QLatin1Char('\n'))
                                : (QStringList{refused.error} + refused.details).join(QLatin1Char('\n'));
        showStatus(tr("未开始：%1").arg(refused.error));
        tell(tr("错误"), why);
        return;
    }
    // The tiles of the setup's fixtures, from their first state.
    for (Tile* const t : std::as_const(m_tiles)) {
        t->showsResult = false;
        t->failuresInARow = 0;
        for (QLabel* const l : {t->step, t->module, t->reason, t->duration, t->warning})
            l->clear();
        paint(*t, QLatin1String(kWaiting), tr("等待模块"));
    }
    m_ok = 0;
    m_failed = 0;
    m_rowsToGo = s.values.isEmpty() ? -1 : m_station->rowsLeftCount();
    m_clock.start();
    showCounters();
    setRunning(true);
    showStatus(tr("生产线运行中"));
}

void StationWindow::stop()
{
    if (!m_station)
        return;
    m_stopButton->setEnabled(false);
    showStatus(tr("正在停止：进行中的模块完成当前通信后停止"));
    m_station->stop(kStopNumber);
}

void StationWindow::slotState(int slot, Station::FixtureState state, const QString& detail)
{
    if (slot >= m_tiles.size())
        return;
    Tile& t = *m_tiles.at(slot);
    if (state == Station::FixtureState::Waiting || state == Station::FixtureState::Removing) {
        t.progress->hide();
        // The reasons a slot waits are the station's own words; the removal the window's.
        const bool waiting = state == Station::FixtureState::Waiting;
        const QString what = waiting ? tr("等待模块") : tr("请取下模块");
        // A port held by this very process is the configuration window's.
        const bool ownPort = detail.contains(QStringLiteral("(PID %1)").arg(QCoreApplication::applicationPid()));
        t.step->setText(ownPort ? QStringLiteral("%1 %2").arg(
                                      what, tr("（端口被本程序的配置窗口占用：在配置窗口中按“关闭串口”即可释放）"))
                        : waiting && !detail.isEmpty() && detail != QLatin1String("for a module")
                            ? QStringLiteral("%1 %2").arg(what, detail)
                            : what);
        // The last result stays until the next module starts.
        if (!t.showsResult)
            paint(t, QLatin1String(kWaiting), what);
        return;
    }
    const QString words = state == Station::FixtureState::Verifying    ? tr("校验中")
                          : state == Station::FixtureState::Restarting ? tr("重启中")
                          : state == Station::FixtureState::Checking   ? tr("通信测试中")
                                                                       : tr("写入中");
    paint(t, QLatin1String(kWorking), words);
}

void StationWindow::slotStep(int slot, int step, int steps, const QString& what)
{
    if (slot >= m_tiles.size())
        return;
    Tile& t = *m_tiles.at(slot);
    t.progress->setRange(0, steps);
    t.progress->setValue(step);
    t.progress->show();
    t.step->setText(tr("第 %1 步，共 %2 步：%3").arg(step).arg(steps).arg(what));
}

void StationWindow::moduleStarted(int slot, int module, int row, const QJsonObject& values)
{
    if (slot >= m_tiles.size())
        return;
    Tile& t = *m_tiles.at(slot);
    t.showsResult = false;
    t.next->setEnabled(false);
    paint(t, QLatin1String(kWorking), tr("工作中"));
    t.module->setText(row > 0 ? tr("模块 %1 · 第 %2 行 · %3").arg(module).arg(row).arg(valuesText(values))
                              : tr("模块 %1").arg(module));
    t.reason->clear();
    t.duration->clear();
    t.progress->setValue(0);
    t.progress->show();
}

void StationWindow::moduleDone(int slot, const ModuleRecord& record, const QString& reason, bool)
{
    const bool ok = record.ok();
    // A lost claim wrote nothing: the module goes on with another row.
    if (record.verdict != ModuleRecord::Verdict::ClaimLost)
        (ok ? m_ok : m_failed)++;
    // A module that failed gives its row back.
    if (ok && m_rowsToGo > 0)
        --m_rowsToGo;
    showCounters();
    if (slot < m_tiles.size()) {
        Tile& t = *m_tiles.at(slot);
        t.showsResult = true;
        t.progress->hide();
        switch (record.verdict) {
        case ModuleRecord::Verdict::Ok:
            paint(t, QLatin1String(kPassed), tr("通过"));
            break;
        case ModuleRecord::Verdict::Differences:
            paint(t, QLatin1String(kDiffers), tr("已写入，但模块的值不同"));
            break;
        case ModuleRecord::Verdict::Refused:
            paint(t, QLatin1String(kFailed), tr("被拒绝"));
            break;
        case ModuleRecord::Verdict::NoAnswer:
            paint(t, QLatin1String(kFailed), tr("无回复"));
            break;
        case ModuleRecord::Verdict::CutShort:
            paint(t, QLatin1String(kFailed), tr("中断"));
            break;
        case ModuleRecord::Verdict::ClaimLost:
            paint(t, QLatin1String(kWaiting), tr("该行已被其他工位领取，模块未写入"));
            break;
        case ModuleRecord::Verdict::Duplicate:
            paint(t, QLatin1String(kFailed), tr("重复：同一行的值也写入了另一个模块"));
            break;
        case ModuleRecord::Verdict::Traffic:
            paint(t, QLatin1String(kFailed), tr("通信测试未通过"));
            break;
        case ModuleRecord::Verdict::Unknown:
            paint(t, QLatin1String(kFailed), tr("未知结果：%1").arg(record.result()));
            break;
        }
        t.reason->setText(reason);
        t.duration->setText(tr("%1 秒").arg(double(record.durationMs) / 1000.0, 0, 'f', 1));
        t.failuresInARow = ok ? 0 : t.failuresInARow + 1;
        t.warning->setText(t.failuresInARow >= kFailuresToCheck
                               ? tr("连续 %1 次失败：请检查这个治具").arg(t.failuresInARow)
                               : QString());
    }
    // The newest result first.
    m_results->insertRow(0);
    const QString result = record.result();
    const QStringList cells{record.timeOfDay().toString(QStringLiteral("HH:mm:ss")), QString::number(slot + 1),
                            valuesText(record.values),
                            reason.isEmpty() ? result : QStringLiteral("%1: %2").arg(result, reason)};
    for (int c = 0; c < cells.size(); ++c)
        m_results->setItem(0, c, new QTableWidgetItem(cells.at(c)));
    if (m_results->rowCount() > kResultsKept)
        m_results->setRowCount(kResultsKept);
}

void StationWindow::removalAwaited(int slot)
{
    if (slot >= m_tiles.size())
        return;
    m_tiles.at(slot)->next->setEnabled(true);
}

void StationWindow::lineStopped(const QString& why)
{
    showStatus(tr("生产线已停止：%1").arg(why));
    tell(tr("错误"), tr("记录无法保存，不再接收新的模块：\n%1").arg(why));
}

void StationWindow::finished()
{
    const Station::Summary s = m_station->summary();
    m_station->deleteLater();
    m_station = nullptr;
    if (m_rowsToGo >= 0)
        m_rowsToGo = s.rowsLeft;
    showCounters();
    // Each tile says that the line no longer runs; a result stays where it is.
    const QString ended = s.stop != 0 ? tr("已停止") : tr("已结束");
    for (Tile* const t : std::as_const(m_tiles)) {
        t->next->setEnabled(false);
        t->progress->hide();
        t->step->setText(ended);
        if (!t->showsResult)
            paint(*t, QLatin1String(kWaiting), ended);
    }
    setRunning(false);
    QString text = tr("生产线结束：%1 个通过，%2 个失败").arg(s.ok).arg(s.failed);
    if (s.fromValues)
        text += tr("，剩余 %1 行").arg(s.rowsLeft);
    if (!s.recordError.isEmpty())
        text += tr("（记录无法保存：%1）").arg(s.recordError);
    else if (s.stop != 0)
        text += tr("（已停止）");
    showStatus(text);
    emit lineEnded();
}

void StationWindow::closeEvent(QCloseEvent* event)
{
    if (m_station && !confirmed(tr("生产线正在运行。停止并关闭？"))) {
        event->ignore();
        return;
    }
    // Ends cleanly: every module in progress is recorded before the window goes.
    stopAndWait();
    Remembered::Store().set(Remembered::kStationGeometry, saveGeometry());
    event->accept();
}
