#include "window/eqlabel.h"
#include "window/windowdiagnostics.h"

#include <QMouseEvent>

EQlabel::EQlabel(QWidget* parent) : QLabel(parent, Qt::WindowFlags()) {}

void EQlabel::mousePressEvent(QMouseEvent* event)
{
    if (event->button() == Qt::LeftButton) {
        qCDebug(lcWindow) << "EQlabel mousePressEvent LeftButton";
        emit clicked();
    }
}
