#include "wrappedcaption.h"

#include <QAbstractButton>
#include <QStyleOptionButton>
#include <QStylePainter>

void paintWrappedCaption(QAbstractButton &button, const QStyleOptionButton &option,
                         const IndicatorParts &parts)
{
    QStylePainter painter(&button);
    QStyle *style = button.style();

    QStyleOptionButton indicator = option;
    indicator.rect = style->subElementRect(parts.indicatorRect, &option, &button);
    painter.drawPrimitive(parts.indicator, indicator);

    const QRect contents = style->subElementRect(parts.contentsRect, &option, &button);
    constexpr int flags = Qt::AlignLeft | Qt::AlignVCenter | Qt::TextWordWrap;
    style->drawItemText(&painter, contents, flags, option.palette, button.isEnabled(), option.text,
                        QPalette::WindowText);

    if (option.state & QStyle::State_HasFocus) {
        QStyleOptionFocusRect focus;
        focus.initFrom(&button);
        focus.rect = painter.boundingRect(contents, flags, option.text)
                             .adjusted(-1, 0, 1, 0)
                             .intersected(button.rect());
        painter.drawPrimitive(QStyle::PE_FrameFocusRect, focus);
    }
}
