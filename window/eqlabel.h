#pragma once

#include <QLabel>

class QMouseEvent;

// A label that reports a left press. Every press stays with the label: none
// reaches the parent widget.
class EQlabel : public QLabel
{
    Q_OBJECT

public:
    explicit EQlabel(QWidget* parent = nullptr);

signals:
    void clicked();

protected:
    void mousePressEvent(QMouseEvent* event) override;
};
