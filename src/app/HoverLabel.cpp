#include "HoverLabel.h"

void HoverLabel::enterEvent(QEnterEvent *event)
{
    QLabel::enterEvent(event);
    emit mouseEnter();
}

void HoverLabel::leaveEvent(QEvent *event)
{
    QLabel::leaveEvent(event);
    emit mouseLeave();
}
