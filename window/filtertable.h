#pragma once

#include "core/protocol/atprotocol.h"

#include <QString>
#include <QVector>

class QTableWidget;
class QTableWidgetItem;
class QWidget;

// The window's filter list: a table of two columns, the frame type (NDTF or
// EDTF) and the hexadecimal ID, of at most FilterCheck::kMaxRows entries. It
// gives the rows their look, checks what the user types into a cell, and
// turns the rows into a configuration's entries and back. Its warnings are
// message boxes over the window, with the window's texts. Talking to the
// module is the window's business.
class FilterTable
{
public:
    // `table` is the form's table; `window` is the parent of the warnings.
    // The type column gets a fixed width and the ID column the rest.
    FilterTable(QTableWidget* table, QWidget* window);
    FilterTable(const FilterTable&) = delete;
    FilterTable& operator=(const FilterTable&) = delete;

    // Fills the last row with `type` and `id`: 30 px high, centred cells.
    // The cell checks stay quiet meanwhile.
    void fillLastRow(const QString& type, const QString& id);
    // A new entry NDTF 0 in a new last row; a full table warns and stays as it is.
    void addEntry();
    // Removes the current row, if there is one.
    void removeCurrentRow();
    // Removes every row.
    void clear();
    // Checks a cell after its text changed: a wrong frame type or ID is named
    // in a warning and put back to its default (NDTF, or the frame type's ID).
    void checkCell(QTableWidgetItem* item);

    // The rows as a configuration's entries, in table order.
    QVector<At::FilterEntry> entries() const;
    // Replaces the rows with `entries`. Entries beyond the table's capacity
    // are announced and dropped; the first ones stay as listed.
    void setEntries(const QVector<At::FilterEntry>& entries);

private:
    void replaceCell(int row, int column, const QString& text);
    void warnFull();
    // A warning box over the window, with the arrow cursor; `text` in the window's catalogue.
    // `text` translated, and why, when given, below it.
    void warn(const char* text, const QString& why = QString());
    // Why `id` is no ID of a row of `type`, in the window's words.
    static QString idFault(const QString& type, const QString& id);

    QTableWidget* const m_table;
    QWidget* const m_window;
    bool m_filling = false; // true only while fillLastRow fills a row
};
