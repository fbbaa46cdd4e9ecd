#include "framebox.h"

#include <QPainter>

namespace {
constexpr int captionIndent = 6;
constexpr int captionPadding = 2;
} // namespace

FrameBox::FrameBox(const QString &caption, Border border, QWidget *parent)
    : QGroupBox(caption, parent)
    , m_border(border)
{
    // Opaque, so that a frame hides what lies behind it.
    setAutoFillBackground(true);
}

void FrameBox::paintEvent(QPaintEvent *)
{
    if (m_border == Border::None)
        return;
    QPainter painter(this);
    const QFontMetrics metrics(font());
    const QColor ink = palette().color(isEnabled() ? QPalette::Active : QPalette::Disabled,
                                       QPalette::WindowText);
    const int lineTop = metrics.height() / 2;
    painter.setPen(ink);
    painter.drawRect(QRect(0, lineTop, width() - 1, height() - lineTop - 1));
    if (title().isEmpty())
        return;
    const QRect caption(captionIndent, 0, metrics.horizontalAdvance(title()) + 2 * captionPadding,
                        metrics.height());
    painter.fillRect(caption, palette().window());
    painter.drawText(caption, Qt::AlignCenter | Qt::TextSingleLine, title());
}
