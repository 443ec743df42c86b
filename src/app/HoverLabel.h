#pragma once

#include <QLabel>

// A label that says when the mouse pointer enters or leaves it; the windows
// use it for their help icons.
class HoverLabel : public QLabel
{
    Q_OBJECT

public:
    explicit HoverLabel(QWidget *parent = nullptr) : QLabel(parent) {}

signals:
    void mouseEnter();
    void mouseLeave();

protected:
    void enterEvent(QEnterEvent *event) override;
    void leaveEvent(QEvent *event) override;
};
