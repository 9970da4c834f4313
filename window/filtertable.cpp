#include "window/filtertable.h"

#include "core/protocol/filtercheck.h"
#include "window/busyscope.h"
#include "window/windowdiagnostics.h"

#include <QCoreApplication>
#include <QHeaderView>
#include <QMessageBox>
#include <QTableWidget>
#include <QTableWidgetItem>

// The warnings show the window's texts, translated in its context (KX47main),
// so that the window's catalogues cover them.

namespace {
constexpr Qt::Alignment kCentred = Qt::AlignHCenter | Qt::AlignVCenter; // 0x84
constexpr int kRowHeight = 30;
// Room for EDTF and the header; the ID column takes the rest of the table's
// width, which at the window's default size holds an eight-digit ID whole,
// also beside the scroll bar of a full table.
constexpr int kTypeColumnWidth = 64;

QString cellText(const QTableWidget* table, int row, int column)
{
    const QTableWidgetItem* const item = table->item(row, column);
    return item ? item->text() : QString();
}
} // namespace

FilterTable::FilterTable(QTableWidget* table, QWidget* window) : m_table(table), m_window(window)
{
    m_table->setColumnWidth(0, kTypeColumnWidth);
    m_table->horizontalHeader()->setStretchLastSection(true);
}

void FilterTable::fillLastRow(const QString& type, const QString& id)
{
    const int row = m_table->rowCount() - 1;
    if (row < 0)
        return;
    m_filling = true;
    m_table->setRowHeight(row, kRowHeight);
    auto* const typeItem = new QTableWidgetItem(type);
    auto* const idItem = new QTableWidgetItem(id);
    m_table->setItem(row, 0, typeItem); // the table owns both items
    m_table->setItem(row, 1, idItem);
    typeItem->setTextAlignment(kCentred);
    idItem->setTextAlignment(kCentred);
    m_filling = false;
    m_table->show();
}

void FilterTable::addEntry()
{
    if (m_table->rowCount() >= FilterCheck::kMaxRows) {
        // A full table keeps its 14 entries as they are.
        warnFull();
    } else {
        m_table->setRowCount(m_table->rowCount() + 1);
        fillLastRow(QStringLiteral("NDTF"), QStringLiteral("0"));
    }
    m_table->scrollToBottom();
    m_table->setSelectionBehavior(QAbstractItemView::SelectRows);
}

void FilterTable::removeCurrentRow()
{
    const int row = m_table->currentRow();
    if (row >= 0)
        m_table->removeRow(row);
}

void FilterTable::clear()
{
    m_table->setRowCount(0);
}

void FilterTable::replaceCell(int row, int column, const QString& text)
{
    // The warning box ran an event loop: the row may be gone by now.
    if (row >= m_table->rowCount())
        return;
    auto* const item = new QTableWidgetItem(text);
    m_table->setItem(row, column, item); // raises the change notification again; the default passes
    item->setTextAlignment(kCentred);
}

void FilterTable::checkCell(QTableWidgetItem* item)
{
    qCDebug(lcWindow) << "filter table cell changed, filling:" << m_filling;
    if (m_filling || !item || !item->tableWidget())
        return;

    const int row = item->row();
    const int column = item->column();
    if (column == 0) {
        if (FilterCheck::typeValid(item->text()))
            return;
        warn(QT_TRANSLATE_NOOP("KX47main", "类别设置错误! \r\n即将恢复默认参数."));
        replaceCell(row, 0, QStringLiteral("NDTF"));
    } else if (column == 1) {
        const QString type = cellText(m_table, row, 0);
        const QString id = item->text();
        qCDebug(lcWindow) << type << id;
        if (FilterCheck::checkId(type, id) != FilterCheck::IdVerdict::Wrong)
            return;
        warn(QT_TRANSLATE_NOOP("KX47main", "    ID错误! \r\n即将恢复默认数据."), idFault(type, id));
        replaceCell(row, 1, FilterCheck::defaultId(type));
    }
}

QVector<At::FilterEntry> FilterTable::entries() const
{
    QVector<At::FilterEntry> list;
    for (int row = 0; row < m_table->rowCount(); ++row)
        list.append({cellText(m_table, row, 0), cellText(m_table, row, 1)});
    return list;
}

void FilterTable::setEntries(const QVector<At::FilterEntry>& entries)
{
    m_table->setRowCount(0);
    qCDebug(lcWindow) << "at_count:" << entries.size();
    for (const At::FilterEntry& entry : entries) {
        qCDebug(lcWindow) << "id_type_value:" << entry.type;
        qCDebug(lcWindow) << "id_date:" << entry.id;
        // Entries beyond the table's capacity are announced and dropped;
        // the first 14 stay as listed.
        if (m_table->rowCount() + 1 > FilterCheck::kMaxRows) {
            warnFull();
            continue;
        }
        m_table->setRowCount(m_table->rowCount() + 1);
        fillLastRow(entry.type, entry.id);
    }
}

void FilterTable::warnFull()
{
    warn(QT_TRANSLATE_NOOP("KX47main", "已经达到最大条目!"));
}

void FilterTable::warn(const char* text, const QString& why)
{
    const ArrowCursor cursor;
    const QString told = QCoreApplication::translate("KX47main", text);
    QMessageBox::warning(m_window, QCoreApplication::translate("KX47main", "警告"),
                         why.isEmpty() ? told : told + QStringLiteral("\n\n") + why, QMessageBox::Ok);
}

QString FilterTable::idFault(const QString& type, const QString& id)
{
    const bool extended = type == QLatin1String("EDTF");
    const QString frame = extended ? QCoreApplication::translate("KX47main", "扩展帧")
                                   : QCoreApplication::translate("KX47main", "标准帧");
    switch (FilterCheck::idFault(type, id)) {
    case FilterCheck::IdFault::TooLong:
        return QCoreApplication::translate("KX47main", "%1 的位数超过%2允许的 %3 位")
            .arg(id.left(16), frame, QString::number(extended ? 8 : 3));
    case FilterCheck::IdFault::NotHex:
        return QCoreApplication::translate("KX47main", "%1 不是十六进制数").arg(id.left(16));
    case FilterCheck::IdFault::AboveLimit:
        return QCoreApplication::translate("KX47main", "%1 大于%2的上限 %3").arg(id, frame, FilterCheck::maxId(type));
    case FilterCheck::IdFault::None:
        break;
    }
    return QString();
}
