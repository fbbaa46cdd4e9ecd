#include "optionbutton.h"

#include "wrappedcaption.h"

#include <QStyleOptionButton>

OptionButton::OptionButton(const QString &caption, QWidget *parent)
    : QRadioButton(caption, parent)
{ }

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
