#include "window/trafficwindow.h"
#include "core/traffic/canbus.h"
#include "core/traffic/trafficsession.h"
#include "core/traffic/vectors.h"
#include "core/transport/serialsocket.h"
#include "window/remembered.h"

#include <QCheckBox>
#include <QCloseEvent>
#include <QComboBox>
#include <QDateTime>
#include <QDir>
#include <QFileDialog>
#include <QFileInfo>
#include <QGridLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QLabel>
#include <QLineEdit>
#include <QMessageBox>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QSpinBox>
#include <QSplitter>
#include <QTabWidget>
#include <QTableWidget>
#include <QTimer>
#include <QVBoxLayout>

namespace {

// The views keep the newest rows; older ones go.
constexpr int kMaxRows = 5000;

QString timeOf(qint64 usecs)
{
    return QDateTime::fromMSecsSinceEpoch(usecs / 1000).toString(QStringLiteral("HH:mm:ss.zzz"));
}

// The bytes as text: printable ASCII as it is, everything else a dot.
QString printable(const QByteArray& data)
{
    QString text;
    text.reserve(data.size());
    for (const char c : data)
        text += (c >= 0x20 && c < 0x7F) ? QLatin1Char(c) : QLatin1Char('.');
    return text;
}

QString hexOf(const QByteArray& data)
{
    return QString::fromLatin1(data.toHex(' ')).toUpper();
}

void setRow(QTableWidget* table, int row, const QStringList& cells)
{
    for (int column = 0; column < cells.size(); ++column)
        table->setItem(row, column, new QTableWidgetItem(cells.at(column))); // owned by the table
}

} // namespace

TrafficWindow::TrafficWindow(ModuleSession* session, SerialSocket* port, const QString& portName, QWidget* parent)
    : QWidget(parent, Qt::Window), m_port(port)
{
    setObjectName(QStringLiteral("TrafficWindow"));
    setWindowTitle(tr("VelkoCAN 通信窗口"));
    m_traffic = new Traffic::TrafficSession(session, port, portName, this);
    connect(m_traffic, &Traffic::TrafficSession::serialTraffic, this, &TrafficWindow::showSerial);
    connect(m_traffic, &Traffic::TrafficSession::canTraffic, this, &TrafficWindow::showFrame);
    connect(m_traffic, &Traffic::TrafficSession::busProblem, this,
            [this](const QString& text) { showStatus(QStringLiteral("CAN: ") + text); });
    connect(m_traffic, &Traffic::TrafficSession::checkProgress, this, [this](int step, int steps, const QString&) {
        m_checkResult->setText(tr("测试中… %1/%2").arg(step).arg(steps));
    });
    // The configuration window may close the port under this one.
    connect(m_port, &QIODevice::aboutToClose, this, [this] {
        stopRepeat();
        showStatus(tr("串口已关闭"));
        QTimer::singleShot(0, this, &TrafficWindow::updateButtons);
    });

    auto* const column = new QVBoxLayout(this);
    m_module = new QLabel(this);
    m_module->setObjectName(QStringLiteral("traffic_module"));
    column->addWidget(m_module);

    auto* const split = new QSplitter(Qt::Horizontal, this);
    auto* const serialBox = new QGroupBox(tr("串口（模块的串口侧）"), split);
    buildSerialSide(serialBox, new QVBoxLayout(serialBox));
    auto* const canBox = new QGroupBox(tr("CAN 总线"), split);
    buildCanSide(canBox, new QVBoxLayout(canBox));
    split->addWidget(serialBox);
    split->addWidget(canBox);
    split->setSizes({1, 1});
    column->addWidget(split, 1);

    // The check, the trace and the way back.
    auto* const checkBox = new QGroupBox(tr("通信测试"), this);
    auto* const checkGrid = new QGridLayout(checkBox);
    m_checkCount = new QSpinBox(checkBox);
    m_checkCount->setObjectName(QStringLiteral("traffic_check_count"));
    m_checkCount->setRange(1, Traffic::CheckSetup::kMaxCount);
    m_checkCount->setValue(8);
    m_checkCount->setSuffix(tr(" 条/方向"));
    m_checkLatency = new QSpinBox(checkBox);
    m_checkLatency->setObjectName(QStringLiteral("traffic_check_latency"));
    m_checkLatency->setRange(1, 10000);
    m_checkLatency->setValue(100);
    m_checkLatency->setPrefix(tr("延迟上限 "));
    m_checkLatency->setSuffix(QStringLiteral(" ms"));
    m_checkButton = new QPushButton(tr("测试通信"), checkBox);
    m_checkButton->setObjectName(QStringLiteral("traffic_check_btn"));
    m_checkButton->setToolTip(tr("双向各发送带序号的报文，统计丢失、损坏、乱序、意外的报文和延迟"));
    m_checkResult = new QLabel(tr("尚未测试"), checkBox);
    m_checkResult->setObjectName(QStringLiteral("traffic_check_result"));
    m_checkResult->setWordWrap(true);
    m_checkResult->setTextInteractionFlags(Qt::TextSelectableByMouse);
    m_checkResult->setMargin(4);
    checkGrid->addWidget(m_checkCount, 0, 0);
    checkGrid->addWidget(m_checkLatency, 0, 1);
    checkGrid->addWidget(m_checkButton, 0, 2);
    checkGrid->addWidget(m_checkResult, 1, 0, 1, 4);
    checkGrid->setColumnStretch(3, 1);
    column->addWidget(checkBox);
    connect(m_checkButton, &QPushButton::clicked, this, &TrafficWindow::runCheck);

    auto* const bottom = new QHBoxLayout;
    m_saveTrace = new QPushButton(tr("保存记录…"), this);
    m_saveTrace->setObjectName(QStringLiteral("traffic_save_trace_btn"));
    m_saveTrace->setToolTip(tr("CAN 侧存为 candump -L 格式，串口侧存为同名加 .serial 的文件"));
    auto* const clear = new QPushButton(tr("清除"), this);
    clear->setObjectName(QStringLiteral("traffic_clear_btn"));
    m_back = new QPushButton(tr("返回配置"), this);
    m_back->setObjectName(QStringLiteral("traffic_back_btn"));
    m_back->setToolTip(tr("让模块回到配置状态并关闭本窗口"));
    m_status = new QLabel(this);
    m_status->setObjectName(QStringLiteral("traffic_status"));
    bottom->addWidget(m_saveTrace);
    bottom->addWidget(clear);
    bottom->addWidget(m_status, 1);
    bottom->addWidget(m_back);
    column->addLayout(bottom);
    connect(m_saveTrace, &QPushButton::clicked, this, &TrafficWindow::chooseTraceToSave);
    connect(clear, &QPushButton::clicked, this, &TrafficWindow::clearViews);
    connect(m_back, &QPushButton::clicked, this, &QWidget::close);

    resize(1100, 720);
    const QByteArray geometry = Remembered::Store().get(Remembered::kTrafficGeometry);
    if (!geometry.isEmpty())
        restoreGeometry(geometry);
    updateButtons();
}

TrafficWindow::~TrafficWindow() = default;

void TrafficWindow::buildSerialSide(QWidget* parent, QVBoxLayout* column)
{
    m_serialView = new QPlainTextEdit(parent);
    m_serialView->setObjectName(QStringLiteral("traffic_serial_view"));
    m_serialView->setReadOnly(true);
    m_serialView->setMaximumBlockCount(kMaxRows);
    m_serialView->setLineWrapMode(QPlainTextEdit::NoWrap);
    m_serialView->setFont(QFont(QStringLiteral("monospace")));
    column->addWidget(m_serialView, 1);

    auto* const input = new QHBoxLayout;
    m_serialInput = new QLineEdit(parent);
    m_serialInput->setObjectName(QStringLiteral("traffic_serial_input"));
    m_serialInput->setPlaceholderText(tr("要发送的文本，或十六进制字节（01 A1 DE AD）"));
    m_serialHex = new QCheckBox(tr("十六进制"), parent);
    m_serialHex->setObjectName(QStringLiteral("traffic_serial_hex"));
    m_serialSend = new QPushButton(tr("发送"), parent);
    m_serialSend->setObjectName(QStringLiteral("traffic_serial_send_btn"));
    input->addWidget(m_serialInput, 1);
    input->addWidget(m_serialHex);
    input->addWidget(m_serialSend);
    column->addLayout(input);

    auto* const options = new QHBoxLayout;
    m_lineEnd = new QComboBox(parent);
    m_lineEnd->setObjectName(QStringLiteral("traffic_serial_line_end"));
    m_lineEnd->addItem(tr("不加行尾"), QByteArray());
    m_lineEnd->addItem(QStringLiteral("\\r\\n"), QByteArray("\r\n"));
    m_lineEnd->addItem(QStringLiteral("\\n"), QByteArray("\n"));
    m_lineEnd->addItem(QStringLiteral("\\r"), QByteArray("\r"));
    m_repeat = new QCheckBox(tr("重复发送，每"), parent);
    m_repeat->setObjectName(QStringLiteral("traffic_serial_repeat"));
    m_repeatMs = new QSpinBox(parent);
    m_repeatMs->setObjectName(QStringLiteral("traffic_serial_repeat_ms"));
    m_repeatMs->setRange(10, 600000);
    m_repeatMs->setValue(1000);
    m_repeatMs->setSuffix(QStringLiteral(" ms"));
    options->addWidget(new QLabel(tr("行尾"), parent));
    options->addWidget(m_lineEnd);
    options->addSpacing(12);
    options->addWidget(m_repeat);
    options->addWidget(m_repeatMs);
    options->addStretch(1);
    column->addLayout(options);

    m_repeatTimer = new QTimer(this);
    connect(m_repeatTimer, &QTimer::timeout, this, &TrafficWindow::sendSerialOnce);
    connect(m_serialSend, &QPushButton::clicked, this, &TrafficWindow::sendSerialClicked);
    connect(m_serialInput, &QLineEdit::returnPressed, this, &TrafficWindow::sendSerialClicked);
    connect(m_repeat, &QCheckBox::toggled, this, [this](bool on) {
        if (!on)
            stopRepeat();
    });
}

void TrafficWindow::buildCanSide(QWidget* parent, QVBoxLayout* column)
{
    auto* const bus = new QHBoxLayout;
    m_canInterface = new QComboBox(parent);
    m_canInterface->setObjectName(QStringLiteral("traffic_can_interface"));
    m_canInterface->setEditable(true);
    m_canInterface->setToolTip(tr("插件:接口，例如 socketcan:can0、virtualcan:tcp://127.0.0.1:35468/can0"));
    for (const Traffic::CanPlugin& plugin : Traffic::canPlugins())
        m_canInterface->addItems(plugin.names());
    const QString last = Remembered::Store().get(Remembered::kTrafficCanInterface);
    if (!last.isEmpty())
        m_canInterface->setCurrentText(last);
    m_canConnect = new QPushButton(tr("连接"), parent);
    m_canConnect->setObjectName(QStringLiteral("traffic_can_connect_btn"));
    bus->addWidget(new QLabel(tr("接口"), parent));
    bus->addWidget(m_canInterface, 1);
    bus->addWidget(m_canConnect);
    column->addLayout(bus);
    connect(m_canConnect, &QPushButton::clicked, this, &TrafficWindow::connectCanClicked);

    auto* const views = new QTabWidget(parent);
    m_frames = new QTableWidget(0, 6, views);
    m_frames->setObjectName(QStringLiteral("traffic_frames"));
    m_frames->setHorizontalHeaderLabels({tr("时间"), tr("方向"), tr("ID"), tr("类型"), tr("长度"), tr("数据")});
    m_latest = new QTableWidget(0, 6, views);
    m_latest->setObjectName(QStringLiteral("traffic_latest"));
    m_latest->setHorizontalHeaderLabels({tr("ID"), tr("类型"), tr("长度"), tr("数据"), tr("次数"), tr("时间")});
    for (QTableWidget* const table : {m_frames, m_latest}) {
        table->verticalHeader()->hide();
        table->verticalHeader()->setDefaultSectionSize(table->fontMetrics().height() + 6);
        table->horizontalHeader()->setStretchLastSection(true);
        table->setEditTriggers(QAbstractItemView::NoEditTriggers);
        table->setSelectionBehavior(QAbstractItemView::SelectRows);
    }
    // Widths by the texts they hold, once: a table that sizes itself to its
    // rows measures every row again as each frame comes.
    const QFontMetrics metrics(m_frames->font());
    const int time = metrics.horizontalAdvance(QStringLiteral("00:00:00.000")) + 16;
    const int id = metrics.horizontalAdvance(QStringLiteral("1FFFFFFF")) + 16;
    const int narrow = metrics.horizontalAdvance(QStringLiteral("0000")) + 16;
    const int type = qMax(metrics.horizontalAdvance(tr("标准")), metrics.horizontalAdvance(tr("扩展"))) + 16;
    for (const auto& width :
         {qMakePair(0, time), qMakePair(1, narrow), qMakePair(2, id), qMakePair(3, type), qMakePair(4, narrow)})
        m_frames->setColumnWidth(width.first, width.second);
    for (const auto& width :
         {qMakePair(0, id), qMakePair(1, type), qMakePair(2, narrow), qMakePair(4, narrow + 16), qMakePair(5, time)})
        m_latest->setColumnWidth(width.first, width.second);
    m_latest->horizontalHeader()->setStretchLastSection(false);
    m_latest->horizontalHeader()->setSectionResizeMode(3, QHeaderView::Stretch);
    views->addTab(m_frames, tr("所有帧"));
    views->addTab(m_latest, tr("每个 ID 的最新帧"));
    column->addWidget(views, 1);

    auto* const input = new QHBoxLayout;
    m_frameInput = new QLineEdit(parent);
    m_frameInput->setObjectName(QStringLiteral("traffic_frame_input"));
    m_frameInput->setPlaceholderText(tr("ID#数据，candump 的写法：123#DEADBEEF、1ABCDEF0#01、123#R"));
    m_frameSend = new QPushButton(tr("发送帧"), parent);
    m_frameSend->setObjectName(QStringLiteral("traffic_frame_send_btn"));
    input->addWidget(m_frameInput, 1);
    input->addWidget(m_frameSend);
    column->addLayout(input);
    connect(m_frameSend, &QPushButton::clicked, this, &TrafficWindow::sendFrameClicked);
    connect(m_frameInput, &QLineEdit::returnPressed, this, &TrafficWindow::sendFrameClicked);
}

bool TrafficWindow::begin(QString* why)
{
    emit logMessage(tr("通信窗口：读取模块的配置，然后让模块离开配置状态"));
    const Operation::Result r = m_traffic->begin();
    if (r.status != Operation::Done) {
        *why = r.error;
        emit logMessage(tr("模块没有进入工作状态：%1").arg(r.error));
        return false;
    }
    const Operation::PortLine line = m_traffic->workingLine();
    emit logMessage(tr("模块处于工作状态；串口按模块的串口参数通信：%1 波特").arg(line.baud));
    showModule();
    updateButtons();
    return true;
}

bool TrafficWindow::isWorking() const
{
    return m_traffic->isWorking();
}

void TrafficWindow::showModule()
{
    const ModuleConfig& c = m_traffic->config();
    m_module->setText(tr("模块：%1 模式，方向 %2，串口 %3 波特，CAN %4 kbit/s，%5 ID %6，过滤 %7")
                          .arg(c.mode, c.direction)
                          .arg(c.baud)
                          .arg(c.canRateKbit)
                          .arg(c.frameType, c.canId, c.filterMode));
}

void TrafficWindow::showStatus(const QString& text)
{
    m_status->setText(text);
}

void TrafficWindow::showSerial(const QByteArray& data, bool sent, qint64 usecs)
{
    m_serialView->appendPlainText(
        QStringLiteral("%1 %2  %3  |%4|")
            .arg(timeOf(usecs), sent ? QStringLiteral("TX") : QStringLiteral("RX"), hexOf(data), printable(data)));
}

void TrafficWindow::showFrame(const Traffic::CanFrame& frame, bool sent, qint64 usecs)
{
    const QString id = frame.text().section(QLatin1Char('#'), 0, 0);
    const QString type = (frame.extended ? tr("扩展") : tr("标准")) + (frame.remote ? tr("远程") : QString());
    const QString length = QString::number(frame.data.size());
    const QString data = frame.remote ? QString() : hexOf(frame.data);

    if (m_frames->rowCount() >= kMaxRows)
        m_frames->removeRow(0);
    const int row = m_frames->rowCount();
    m_frames->insertRow(row);
    setRow(m_frames, row, {timeOf(usecs), sent ? QStringLiteral("TX") : QStringLiteral("RX"), id, type, length, data});
    m_frames->scrollToBottom();

    const quint64 key = (quint64(frame.extended) << 32) | frame.id;
    int latest = m_latestRows.value(key, -1);
    int count = 1;
    if (latest < 0) {
        latest = m_latest->rowCount();
        m_latest->insertRow(latest);
        m_latestRows.insert(key, latest);
    } else {
        count = m_latest->item(latest, 4)->text().toInt() + 1;
    }
    setRow(m_latest, latest, {id, type, length, data, QString::number(count), timeOf(usecs)});
}

bool TrafficWindow::serialInput(QByteArray* bytes) const
{
    const QString text = m_serialInput->text();
    if (m_serialHex->isChecked()) {
        if (!Traffic::parseHex(text.trimmed(), bytes))
            return false;
    } else {
        *bytes = text.toUtf8();
    }
    *bytes += m_lineEnd->currentData().toByteArray();
    return true;
}

void TrafficWindow::sendSerialClicked()
{
    if (m_repeatTimer->isActive()) {
        stopRepeat();
        return;
    }
    sendSerialOnce();
    if (m_repeat->isChecked() && m_traffic->isWorking() && m_port->isOpen()) {
        m_repeatTimer->start(m_repeatMs->value());
        m_serialSend->setText(tr("停止"));
    }
}

void TrafficWindow::sendSerialOnce()
{
    QByteArray bytes;
    if (!serialInput(&bytes)) {
        stopRepeat();
        showStatus(tr("不是十六进制字节：%1").arg(m_serialInput->text()));
        return;
    }
    if (bytes.isEmpty())
        return;
    if (!m_traffic->sendSerial(bytes)) {
        stopRepeat();
        showStatus(tr("没有发送：串口没有打开"));
    }
}

void TrafficWindow::stopRepeat()
{
    m_repeatTimer->stop();
    m_serialSend->setText(tr("发送"));
}

void TrafficWindow::connectCanClicked()
{
    if (m_traffic->busOpen()) {
        m_traffic->closeBus();
        showStatus(tr("CAN 接口已断开"));
        updateButtons();
        return;
    }
    Traffic::CanName name;
    const QString text = m_canInterface->currentText().trimmed();
    if (!Traffic::CanName::parse(text, &name)) {
        showStatus(tr("CAN 接口应写成 插件:接口，例如 virtualcan:can0"));
        return;
    }
    m_canConnect->setEnabled(false);
    showStatus(tr("正在连接 %1…").arg(text));
    Traffic::CanOpenFailure failure;
    const bool opened = m_traffic->openBus(name, &failure);
    m_canConnect->setEnabled(true);
    if (!opened) {
        showStatus(tr("CAN 接口没有打开"));
        QMessageBox::information(this, tr("错误"), tr("CAN 接口没有打开：") + failure.text(), QMessageBox::Ok);
        updateButtons();
        return;
    }
    Remembered::Store().set(Remembered::kTrafficCanInterface, text);
    showStatus(tr("已连接 %1").arg(text));
    updateButtons();
}

void TrafficWindow::sendFrameClicked()
{
    Traffic::CanFrame frame;
    const QString text = m_frameInput->text().trimmed();
    if (!Traffic::parseFrame(text, &frame)) {
        showStatus(tr("不是一帧：%1（例如 123#DEADBEEF）").arg(text));
        return;
    }
    if (!m_traffic->sendFrame(frame))
        showStatus(tr("没有发送：CAN 接口没有连接或不接受这一帧"));
}

void TrafficWindow::runCheck()
{
    stopRepeat();
    m_checkButton->setEnabled(false);
    m_serialSend->setEnabled(false);
    m_frameSend->setEnabled(false);
    m_checkResult->setStyleSheet(QString());
    m_checkResult->setProperty("verdict", QString());
    m_checkResult->setText(tr("测试中…"));
    QString problem;
    const Traffic::CheckReport report = m_traffic->runCheck(m_checkCount->value(), m_checkLatency->value(), &problem);
    if (problem.isEmpty())
        showReport(report);
    else
        m_checkResult->setText(tr("无法测试：%1").arg(problem));
    updateButtons();
    if (m_closeAfterCheck)
        close();
}

void TrafficWindow::showReport(const Traffic::CheckReport& report)
{
    using Verdict = Traffic::CheckReport::Verdict;
    QString verdict;
    QString style;
    switch (report.verdict) {
    case Verdict::Passed:
        verdict = tr("通过：在限值之内（无丢失、损坏、意外的报文，延迟不超过 %1 ms）").arg(report.maxLatencyMs);
        style = QStringLiteral("QLabel { background-color: #d9f7be; color: #135200; }");
        break;
    case Verdict::Failed:
        verdict = tr("未通过：超出限值");
        style = QStringLiteral("QLabel { background-color: #ffccc7; color: #a8071a; }");
        break;
    case Verdict::NothingThrough:
        verdict = tr("未通过：没有任何数据通过模块");
        style = QStringLiteral("QLabel { background-color: #ffccc7; color: #a8071a; }");
        break;
    case Verdict::Stopped:
        verdict = tr("已停止");
        break;
    }
    QStringList lines{verdict};
    for (const Traffic::Measurement& m : report.directions) {
        if (!m.checked)
            continue;
        const QString direction = m.direction == Traffic::Direction::SerialToCan ? tr("串口→CAN") : tr("CAN→串口");
        lines.append(tr("%1：发送 %2，收到 %3，丢失 %4，损坏 %5，乱序 %6，意外 %7，延迟中位 %8 ms，最大 %9 ms")
                         .arg(direction)
                         .arg(m.sent)
                         .arg(m.received)
                         .arg(m.lost)
                         .arg(m.corrupted)
                         .arg(m.outOfOrder)
                         .arg(m.unexpected)
                         .arg(m.latencyMedianMs(), 0, 'f', 1)
                         .arg(m.latencyMaxMs(), 0, 'f', 1));
    }
    lines += report.failureTexts();
    m_checkResult->setText(lines.join(QLatin1Char('\n')));
    m_checkResult->setStyleSheet(style);
    // The verdict's word of the core's result, for whoever reads the label.
    m_checkResult->setProperty("verdict", report.json().value(QStringLiteral("verdict")).toString());
}

void TrafficWindow::chooseTraceToSave()
{
    const QString folder = Remembered::Store().get(Remembered::kTraceFolder);
    const QString start = (folder.isEmpty() ? QDir::homePath() : folder) + QStringLiteral("/velkocan-trace.log");
    const QString path =
        QFileDialog::getSaveFileName(this, tr("保存通信记录"), start, tr("candump 记录 (*.log);;所有文件 (*)"));
    if (path.isEmpty())
        return;
    Remembered::Store().set(Remembered::kTraceFolder, QFileInfo(path).absolutePath());
    saveTrace(path);
}

bool TrafficWindow::saveTrace(const QString& path)
{
    QString error;
    if (!m_traffic->trace().write(path, &error)) {
        QMessageBox::information(this, tr("错误"), tr("记录没有保存：") + error, QMessageBox::Ok);
        return false;
    }
    QString saved =
        tr("记录已保存：%1 和 %2")
            .arg(QDir::toNativeSeparators(path), QDir::toNativeSeparators(Traffic::Trace::serialPath(path)));
    if (m_traffic->trace().trimmed())
        saved += tr("（只含最近的通信：较早的已在内存上限处丢弃）");
    showStatus(saved);
    return true;
}

void TrafficWindow::clearViews()
{
    m_serialView->clear();
    m_frames->setRowCount(0);
    m_latest->setRowCount(0);
    m_latestRows.clear();
    m_traffic->clearTrace();
}

void TrafficWindow::updateButtons()
{
    const bool working = m_traffic->isWorking() && m_port->isOpen() && !m_traffic->checkRunning();
    const bool bus = m_traffic->busOpen();
    m_serialSend->setEnabled(working);
    m_frameSend->setEnabled(bus && !m_traffic->checkRunning());
    m_checkButton->setEnabled(working && bus);
    m_canConnect->setText(bus ? tr("断开") : tr("连接"));
    m_canInterface->setEnabled(!bus);
}

void TrafficWindow::backToConfiguring()
{
    if (m_ended)
        return;
    m_ended = true;
    stopRepeat();
    const bool wasWorking = m_traffic->isWorking();
    m_traffic->closeBus();
    if (!wasWorking)
        return;
    emit logMessage(tr("通信窗口关闭：模块回到配置状态"));
    const bool listening = m_traffic->end();
    emit configuring(listening);
}

void TrafficWindow::closeEvent(QCloseEvent* event)
{
    // A running check ends after its message in progress; the window closes then.
    if (m_traffic->checkRunning()) {
        m_closeAfterCheck = true;
        m_traffic->stopCheck();
        event->ignore();
        return;
    }
    Remembered::Store().set(Remembered::kTrafficGeometry, saveGeometry());
    backToConfiguring();
    event->accept();
}
