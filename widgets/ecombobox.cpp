#include "ecombobox.h"

#include <QDebug>
#include <QMouseEvent>

EComboBox::EComboBox(QWidget* parent) : QComboBox(parent) {}

void EComboBox::mousePressEvent(QMouseEvent* event)
{
    if (event->button() == Qt::LeftButton) {
        qDebug() << "EComboBox mousePressEvent LeftButton";
        emit clicked();
    }
    QComboBox::mousePressEvent(event);
}
