#include "eqlabel.h"

#include <QDebug>
#include <QMouseEvent>

EQlabel::EQlabel(QWidget* parent) : QLabel(parent, Qt::WindowFlags()) {}

void EQlabel::mousePressEvent(QMouseEvent* event)
{
    if (event->button() == Qt::LeftButton) {
        qDebug() << "EQlabel mousePressEvent LeftButton";
        emit clicked();
    }
}
