#include "checkbox.h"

#include "arrayfocus.h"
#include "wrappedcaption.h"

#include <QKeyEvent>
#include <QStyleOptionButton>

CheckBox::CheckBox(const QString &caption, QWidget *parent)
    : QCheckBox(caption, parent)
{
    // Opaque on the window's colour, not on the button colour Qt gives buttons.
    setBackgroundRole(QPalette::Window);
    setAutoFillBackground(true);
}

void CheckBox::paintEvent(QPaintEvent *)
{
    QStyleOptionButton option;
    initStyleOption(&option);
    paintWrappedCaption(*this, option,
                        {QStyle::PE_IndicatorCheckBox, QStyle::SE_CheckBoxIndicator,
                         QStyle::SE_CheckBoxContents});
}

bool CheckBox::hitButton(const QPoint &position) const
{
    return rect().contains(position);
}

void CheckBox::keyPressEvent(QKeyEvent *event)
{
    if (!moveFocusInArray(*this, event->key()))
        QCheckBox::keyPressEvent(event);
}
