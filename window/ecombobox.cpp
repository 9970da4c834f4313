#include "window/ecombobox.h"
#include "window/windowdiagnostics.h"

#include <QMouseEvent>

EComboBox::EComboBox(QWidget* parent) : QComboBox(parent) {}

void EComboBox::mousePressEvent(QMouseEvent* event)
{
    if (event->button() == Qt::LeftButton) {
        qCDebug(lcWindow) << "EComboBox mousePressEvent LeftButton";
        emit clicked();
    }
    QComboBox::mousePressEvent(event);
}
