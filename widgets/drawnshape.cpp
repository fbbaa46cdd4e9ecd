#include "drawnshape.h"

#include <QPainter>

DrawnShape::DrawnShape(Figure figure, QWidget *parent)
    : QWidget(parent)
    , m_figure(figure)
{
    // Only drawn: clicks go to what lies beneath.
    setAttribute(Qt::WA_TransparentForMouseEvents);
}

void DrawnShape::paintEvent(QPaintEvent *)
{
    QPainter painter(this);
    painter.setPen(palette().color(QPalette::WindowText));
    if (m_figure == Figure::Line)
        painter.drawLine(0, 0, width() - 1, height() - 1);
    else
        painter.drawRect(rect().adjusted(0, 0, -1, -1));
}
