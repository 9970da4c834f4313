#include "core/filtercheck.h"
#include "core/serialsocket.h"
#include "ui_kx47main.h"
#include "window/busyscope.h"
#include "window/kx47main.h"
#include "window/windowdiagnostics.h"

#include <QHeaderView>
#include <QMessageBox>
#include <QTableWidgetItem>

namespace {
constexpr int kCentred = Qt::AlignHCenter | Qt::AlignVCenter; // 0x84
constexpr int kRowHeight = 30;
constexpr int kTypeColumnWidth = 104;

// True only while updata_tableWidget fills a row: cell checks stay quiet then.
bool add_flag = false;
} // namespace

void KX47main::Box_filtra_mode()
{
    const bool user = ui->Box_filtra_mode->currentIndex() == 3;
    m_listButtonsOn = user;
    ui->add_filter_id_btn->setEnabled(user);
    ui->del_id_btn->setEnabled(user);
    // The two that talk to the module also follow the port and wait for a
    // running operation to end.
    set_list_send_btn(SerialSocket::getInstance()->isOpen());
}

void KX47main::set_list_send_btn(bool portOpen)
{
    const bool on = m_listButtonsOn && portOpen && !isBusy();
    ui->write_id_btn->setEnabled(on);
    ui->clean_list_btn->setEnabled(on);
}

void KX47main::on_write_filter_mode_btn_clicked()
{
    runWrite([this] { m_session->writeFilterMode(editors()); });
}

void KX47main::updata_tableWidget(QString idtype, QString iddate)
{
    QTableWidget* const table = ui->tableWidget;
    const int row = table->rowCount() - 1;
    if (row < 0)
        return;
    add_flag = true;
    table->setRowHeight(row, kRowHeight);
    table->setColumnWidth(0, kTypeColumnWidth);
    table->horizontalHeader()->setStretchLastSection(true);
    auto* const type = new QTableWidgetItem(idtype);
    auto* const id = new QTableWidgetItem(iddate);
    table->setItem(row, 0, type); // the table owns both items
    table->setItem(row, 1, id);
    type->setTextAlignment(kCentred);
    id->setTextAlignment(kCentred);
    add_flag = false;
    table->show();
}

void KX47main::on_add_filter_id_btn_clicked()
{
    QTableWidget* const table = ui->tableWidget;
    if (table->rowCount() >= FilterCheck::kMaxRows) {
        // A full table keeps its 14 entries as they are.
        QMessageBox::warning(this, tr("警告"), tr("已经达到最大条目!"), QMessageBox::Ok);
    } else {
        table->setRowCount(table->rowCount() + 1);
        updata_tableWidget(QStringLiteral("NDTF"), QStringLiteral("0"));
    }
    table->scrollToBottom();
    table->setSelectionBehavior(QAbstractItemView::SelectRows);
}

void KX47main::on_del_id_btn_clicked()
{
    const int row = ui->tableWidget->currentRow();
    if (row >= 0)
        ui->tableWidget->removeRow(row);
}

void KX47main::on_clean_list_btn_clicked()
{
    if (isBusy())
        return;
    ui->tableWidget->setRowCount(0);
    runWrite([this] { m_session->clearFilterList(); });
}

void KX47main::on_write_id_btn_clicked()
{
    runWrite([this] { m_session->writeFilterList(editors()); });
}

void KX47main::replaceCell(int row, int column, const QString& text)
{
    QTableWidget* const table = ui->tableWidget;
    // The warning box ran an event loop: the row may be gone by now.
    if (row >= table->rowCount())
        return;
    auto* const item = new QTableWidgetItem(text);
    table->setItem(row, column, item); // raises the change notification again; the default passes
    item->setTextAlignment(kCentred);
}

void KX47main::on_tableWidget_itemChanged(QTableWidgetItem* item)
{
    qCDebug(lcWindow) << "on_tableWidget_itemChanged  add_flag :" << add_flag;
    if (add_flag || !item || !item->tableWidget())
        return;

    const int row = item->row();
    const int column = item->column();
    if (column == 0) {
        if (FilterCheck::typeValid(item->text()))
            return;
        const ArrowCursor cursor;
        QMessageBox::warning(this, tr("警告"), tr("类别设置错误! \r\n即将恢复默认参数."), QMessageBox::Ok);
        replaceCell(row, 0, QStringLiteral("NDTF"));
    } else if (column == 1) {
        const QTableWidgetItem* const typeCell = ui->tableWidget->item(row, 0);
        const QString type = typeCell ? typeCell->text() : QString();
        const QString id = item->text();
        qCDebug(lcWindow) << type << id;
        if (FilterCheck::checkId(type, id) != FilterCheck::IdVerdict::Wrong)
            return;
        const ArrowCursor cursor;
        QMessageBox::warning(this, tr("警告"), tr("    ID错误! \r\n即将恢复默认数据."), QMessageBox::Ok);
        replaceCell(row, 1, FilterCheck::defaultId(type));
    }
}
