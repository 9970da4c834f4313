#include "core/protocol/logformat.h"
#include "ui_kx47main.h"
#include "window/kx47main.h"

#include <QDateTime>
#include <QScrollBar>
#include <QTextCursor>

void KX47main::showTime()
{
    ui->logBrower->append(LogFormat::timeStamp(QDateTime::currentDateTime()));
}

void KX47main::show_log(QByteArray data, int DateFlag)
{
    showTime();
    const QString text = LogFormat::entryText(data, DateFlag);
    if (!LogFormat::isPlainEntry(DateFlag)) {
        ui->logBrower->append(text);
        return;
    }

    // Traffic goes in as plain text in a paragraph of its own, so that every
    // received byte is shown as it came, markup included.
    QScrollBar* const bar = ui->logBrower->verticalScrollBar();
    const bool atBottom = bar->value() >= bar->maximum();
    QTextCursor cursor(ui->logBrower->document());
    cursor.movePosition(QTextCursor::End);
    cursor.insertBlock(QTextBlockFormat(), QTextCharFormat());
    cursor.insertText(text);
    if (atBottom)
        bar->setValue(bar->maximum());
}

void KX47main::on_clean_log_btn_clicked()
{
    ui->logBrower->clear();
}
