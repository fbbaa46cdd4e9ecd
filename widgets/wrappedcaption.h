#pragma once

#include <QStyle>

class QAbstractButton;
class QStyleOptionButton;

// The parts of the style that draw one kind of indicator button.
struct IndicatorParts
{
    QStyle::PrimitiveElement indicator;
    QStyle::SubElement indicatorRect;
    QStyle::SubElement contentsRect;
};

// Draws an option button or check box whose caption wraps at word boundaries inside the
// control, the indicator and the caption block both centred on the control's height.
void paintWrappedCaption(QAbstractButton &button, const QStyleOptionButton &option,
                         const IndicatorParts &parts);
