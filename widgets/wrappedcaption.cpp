#include "wrappedcaption.h"

#include <QAbstractButton>
#include <QStyleOptionButton>
#include <QStylePainter>
#include <QTextLayout>

#include <algorithm>
#include <cmath>

namespace {

// The caption broken into lines of `area`'s width at word boundaries and centred on its
// height. Where the lines' full height exceeds the area by a little, as two lines do in a
// control two text lines high, they stand a pixel or two closer instead of losing their
// descenders at the bottom edge.
QRect layOutCaption(QTextLayout &layout, const QRect &area)
{
    QTextOption option(Qt::AlignLeft);
    option.setWrapMode(QTextOption::WordWrap);
    layout.setTextOption(option);
    layout.beginLayout();
    QList<QTextLine> lines;
    for (QTextLine line = layout.createLine(); line.isValid(); line = layout.createLine()) {
        line.setLineWidth(area.width());
        lines.append(line);
    }
    layout.endLayout();
    if (lines.isEmpty())
        return {};

    const QFontMetrics metrics(layout.font());
    const int count = int(lines.size());
    int pitch = metrics.height();
    if (count > 1 && count * pitch > area.height())
        pitch = std::max(metrics.ascent(), (area.height() - metrics.height()) / (count - 1));
    const int height = (count - 1) * pitch + metrics.height();
    const int top = (area.height() - height) / 2;
    int width = 0;
    for (int i = 0; i < count; ++i) {
        lines[i].setPosition(QPointF(0, top + i * pitch));
        width = std::max(width, int(std::ceil(lines[i].naturalTextWidth())));
    }
    return QRect(area.left(), area.top() + top, width, height);
}

} // namespace

void paintWrappedCaption(QAbstractButton &button, const QStyleOptionButton &option,
                         const IndicatorParts &parts)
{
    QStylePainter painter(&button);
    QStyle *style = button.style();

    QStyleOptionButton indicator = option;
    indicator.rect = style->subElementRect(parts.indicatorRect, &option, &button);
    painter.drawPrimitive(parts.indicator, indicator);

    const QRect contents = style->subElementRect(parts.contentsRect, &option, &button);
    QTextLayout layout(option.text, button.font(), &button);
    const QRect block = layOutCaption(layout, contents);
    const QPalette::ColorGroup group = button.isEnabled() ? QPalette::Active : QPalette::Disabled;
    painter.setPen(option.palette.color(group, QPalette::WindowText));
    layout.draw(&painter, contents.topLeft());

    if (option.state & QStyle::State_HasFocus) {
        QStyleOptionFocusRect focus;
        focus.initFrom(&button);
        focus.rect = block.adjusted(-1, 0, 1, 0).intersected(button.rect());
        painter.drawPrimitive(QStyle::PE_FrameFocusRect, focus);
    }
}
