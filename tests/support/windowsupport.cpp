#include "tests/support/windowsupport.h"

#include "core/transport/serialsocket.h"
#include "window/kx47main.h"

#include <QAbstractButton>
#include <QCheckBox>
#include <QComboBox>
#include <QLineEdit>
#include <QMessageBox>
#include <QPushButton>
#include <QTableWidget>
#include <QTextBrowser>
#include <QTimer>

namespace TestSupport {

BoxAnswerer::BoxAnswerer(QObject* parent) : QObject(parent), m_timer(new QTimer(this))
{
    connect(m_timer, &QTimer::timeout, this, &BoxAnswerer::poll);
    m_timer->start(20);
}

QStringList BoxAnswerer::titles() const
{
    QStringList t;
    for (const BoxSeen& b : m_seen)
        t.append(b.title);
    return t;
}

void BoxAnswerer::poll()
{
    auto* const box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget());
    if (!box || !box->isVisible() || box->property("velkoAnswered").toBool())
        return;
    box->setProperty("velkoAnswered", true);

    BoxSeen seen{box->windowTitle(), box->text(), {}, {}, -1};
    if (const QCursor* const cursor = QApplication::overrideCursor())
        seen.cursor = cursor->shape();
    const QList<QAbstractButton*> buttons = box->buttons();
    for (QAbstractButton* b : buttons)
        seen.buttons.append(b->text());

    QAbstractButton* choice = box->defaultButton();
    if (!m_answers.isEmpty()) {
        const QString wanted = m_answers.takeFirst();
        for (QAbstractButton* b : buttons) {
            if (b->text() == wanted)
                choice = b;
        }
    }
    if (!choice && !buttons.isEmpty())
        choice = buttons.first();
    seen.answered = choice ? choice->text() : QString();
    m_seen.append(seen);
    // Clicked from the event loop, not from inside this timer's slot.
    QTimer::singleShot(0, choice ? static_cast<QObject*>(choice) : box, [box, choice] {
        if (choice)
            choice->click();
        else
            box->reject();
    });
}

void WindowFixture::createWindow()
{
    m_window = new KX47main;
    m_window->show();
    QVERIFY(QTest::qWaitForWindowExposed(m_window));
}

void WindowFixture::destroyWindow()
{
    delete m_window;
    m_window = nullptr;
}

bool openPortFromPanel(KX47main* window, const QString& port)
{
    auto* const box = widget<QComboBox>(window, "my_serial_number_box");
    window->slot_portListClicked();
    const int item = box->findText(port);
    if (item < 0)
        return false;
    box->setCurrentIndex(item);
    widget<QPushButton>(window, "my_serial_open_btn")->click();
    return SerialSocket::getInstance()->isOpen();
}

void closePort(KX47main* window)
{
    SerialSocket* const port = SerialSocket::getInstance();
    if (port->isOpen())
        port->closePort();
    window->set_open_btn(false);
}

QString logText(KX47main* window)
{
    return widget<QTextBrowser>(window, "logBrower")->toPlainText();
}

bool Editors::operator==(const Editors& o) const
{
    return toString() == o.toString();
}

QString Editors::toString() const
{
    return QStringList{baud,
                       stop,
                       parity,
                       canRate,
                       QString::number(frameType),
                       id,
                       QString::number(direction),
                       QString::number(mode),
                       msgId ? "1" : "0",
                       msgInfo ? "1" : "0",
                       head,
                       tail,
                       length,
                       position,
                       QString::number(filterMode),
                       rows.join(' ')}
        .join('|');
}

Editors readEditors(KX47main* window)
{
    Editors e;
    e.baud = widget<QComboBox>(window, "baud_485")->currentText();
    e.stop = widget<QComboBox>(window, "stopbit_485")->currentText();
    e.parity = widget<QComboBox>(window, "parity_485")->currentText();
    e.canRate = widget<QComboBox>(window, "Box_can_baud")->currentText();
    e.frameType = widget<QComboBox>(window, "Box_send_mode")->currentIndex();
    e.id = widget<QLineEdit>(window, "line_send_id")->text();
    e.direction = widget<QComboBox>(window, "Box_filtra_mode_2")->currentIndex();
    e.mode = widget<QComboBox>(window, "device_box")->currentIndex();
    e.msgId = widget<QCheckBox>(window, "id_enabled_checkBox")->isChecked();
    e.msgInfo = widget<QCheckBox>(window, "meg_enabledcheckBox")->isChecked();
    e.head = widget<QLineEdit>(window, "line_user_head")->text();
    e.tail = widget<QLineEdit>(window, "line_user_tail")->text();
    e.length = widget<QLineEdit>(window, "line_idlenggth")->text();
    e.position = widget<QLineEdit>(window, "line_idLocation")->text();
    e.filterMode = widget<QComboBox>(window, "Box_filtra_mode")->currentIndex();
    e.rows = tableRows(window);
    return e;
}

void applyEditors(KX47main* window, const Editors& e)
{
    widget<QComboBox>(window, "baud_485")->setCurrentText(e.baud);
    widget<QComboBox>(window, "stopbit_485")->setCurrentText(e.stop);
    widget<QComboBox>(window, "parity_485")->setCurrentText(e.parity);
    widget<QComboBox>(window, "Box_can_baud")->setCurrentText(e.canRate);
    chooseItem(widget<QComboBox>(window, "Box_send_mode"), e.frameType); // the ID editor follows
    widget<QLineEdit>(window, "line_send_id")->setText(e.id);
    widget<QComboBox>(window, "Box_filtra_mode_2")->setCurrentIndex(e.direction);
    chooseItem(widget<QComboBox>(window, "device_box"), e.mode);
    widget<QCheckBox>(window, "id_enabled_checkBox")->setChecked(e.msgId);
    widget<QCheckBox>(window, "meg_enabledcheckBox")->setChecked(e.msgInfo);
    widget<QLineEdit>(window, "line_user_head")->setText(e.head);
    widget<QLineEdit>(window, "line_user_tail")->setText(e.tail);
    widget<QLineEdit>(window, "line_idlenggth")->setText(e.length);
    widget<QLineEdit>(window, "line_idLocation")->setText(e.position);
    chooseItem(widget<QComboBox>(window, "Box_filtra_mode"), e.filterMode);
    fillTable(window, e.rows);
}

void clickAnyway(QAbstractButton* button)
{
    const bool enabled = button->isEnabled();
    button->setEnabled(true);
    button->click();
    button->setEnabled(enabled);
}

void chooseItem(QComboBox* box, int item)
{
    box->setCurrentIndex(item);
    emit box->activated(item);
}

QStringList tableRows(KX47main* window)
{
    QStringList rows;
    const auto* table = widget<QTableWidget>(window, "tableWidget");
    for (int r = 0; r < table->rowCount(); ++r) {
        const QTableWidgetItem* type = table->item(r, 0);
        const QTableWidgetItem* id = table->item(r, 1);
        rows.append((type ? type->text() : "<none>") + ',' + (id ? id->text() : "<none>"));
    }
    return rows;
}

void fillTable(KX47main* window, const QStringList& rows)
{
    auto* const table = widget<QTableWidget>(window, "tableWidget");
    table->setRowCount(0);
    for (const QString& row : rows) {
        table->setRowCount(table->rowCount() + 1);
        window->updata_tableWidget(row.section(',', 0, 0), row.section(',', 1));
    }
}

QString tr47(const char* source)
{
    return QCoreApplication::translate("KX47main", source);
}

} // namespace TestSupport
