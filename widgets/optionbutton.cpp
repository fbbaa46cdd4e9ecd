#include "optionbutton.h"

#include "arrayfocus.h"
#include "wrappedcaption.h"

#include <QKeyEvent>
#include <QStyleOptionButton>

OptionButton::OptionButton(const QString &caption, QWidget *parent)
    : QRadioButton(caption, parent)
{
    // Opaque on the window's colour, not on the button colour Qt gives buttons.
    setBackgroundRole(QPalette::Window);
    setAutoFillBackground(true);
}

void OptionButton::paintEvent(QPaintEvent *)
{
    QStyleOptionButton option;
    initStyleOption(&option);
    paintWrappedCaption(*this, option,
                        {QStyle::PE_IndicatorRadioButton, QStyle::SE_RadioButtonIndicator,
                         QStyle::SE_RadioButtonContents});
}

bool OptionButton::hitButton(const QPoint &position) const
{
    return rect().contains(position);
}

void OptionButton::keyPressEvent(QKeyEvent *event)
{
    if (!moveFocusInArray(*this, event->key()))
        QRadioButton::keyPressEvent(event);
}
