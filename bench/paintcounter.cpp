#include "paintcounter.h"

#include <QEvent>
#include <QWidget>

PaintCounter::PaintCounter(QWidget &widget)
    : m_widget(widget)
{
    m_widget.installEventFilter(this);
}

PaintCounter::~PaintCounter()
{
    m_widget.removeEventFilter(this);
}

bool PaintCounter::eventFilter(QObject *watched, QEvent *event)
{
    if (watched == &m_widget && event->type() == QEvent::Paint)
        ++m_count;
    return false;
}
