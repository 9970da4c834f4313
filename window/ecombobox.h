#pragma once

#include <QComboBox>

class QMouseEvent;

// A combo box that reports a left press before its list pops up, so that a
// receiver can refill the list that is about to be shown.
class EComboBox : public QComboBox
{
    Q_OBJECT

public:
    explicit EComboBox(QWidget* parent = nullptr);

signals:
    void clicked();

protected:
    void mousePressEvent(QMouseEvent* event) override;
};
