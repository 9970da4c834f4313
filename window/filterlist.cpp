// The window's filter list: the slots of its buttons and of its table. The
// table itself is a FilterTable; the window keeps what talks to the module and
// which list buttons are on.
#include "core/transport/serialsocket.h"
#include "ui_kx47main.h"
#include "window/filtertable.h"
#include "window/kx47main.h"

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
    m_filterTable->fillLastRow(idtype, iddate);
}

void KX47main::on_add_filter_id_btn_clicked()
{
    m_filterTable->addEntry();
}

void KX47main::on_del_id_btn_clicked()
{
    if (ui->tableWidget->currentRow() >= 0)
        markNotRead(ConfigField::FilterList, false);
    m_filterTable->removeCurrentRow();
}

void KX47main::on_clean_list_btn_clicked()
{
    runWrite([this] {
        m_filterTable->clear();
        markNotRead(ConfigField::FilterList, false);
        m_session->clearFilterList();
    });
}

void KX47main::on_write_id_btn_clicked()
{
    if (isBusy() || !confirmWrite())
        return;
    runWrite([this] { m_session->writeFilterList(editors()); });
}

void KX47main::on_tableWidget_itemChanged(QTableWidgetItem* item)
{
    // A cell typed, a row added, or the list filled: it is no longer what was not read.
    markNotRead(ConfigField::FilterList, false);
    m_filterTable->checkCell(item);
}
