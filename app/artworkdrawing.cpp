#include "artworkdrawing.h"

#include <QImage>
#include <QLinearGradient>
#include <QPainter>
#include <QPainterPath>

#include <cmath>
#include <numbers>

namespace {

const QColor navy(0, 0, 128);
const QColor windowBlue(0, 0, 192);
const QColor yellow(255, 255, 0);

// A rising staircase of `steps` treads across `area`, and the straight ramp it approximates.
void drawRamp(QPainter &painter, const QRectF &area, int steps, const QColor &stairs,
              const QColor &ramp)
{
    QPainterPath path(area.bottomLeft());
    const double tread = area.width() / steps;
    const double riser = area.height() / steps;
    for (int step = 0; step < steps; ++step) {
        const double y = area.bottom() - (step + 1) * riser;
        path.lineTo(area.left() + step * tread, y);
        path.lineTo(area.left() + (step + 1) * tread, y);
    }
    painter.setPen(QPen(stairs, 2, Qt::SolidLine, Qt::FlatCap, Qt::MiterJoin));
    painter.drawPath(path);
    painter.setPen(QPen(ramp, 1, Qt::DashLine));
    painter.drawLine(area.bottomLeft(), area.topRight());
}

QImage canvas(int width, int height, const QColor &fill)
{
    QImage image(width, height, QImage::Format_RGB32);
    image.fill(fill);
    return image;
}

} // namespace

QImage drawLogo()
{
    QImage image = canvas(logoSize.width(), logoSize.height(), Qt::white);
    QPainter painter(&image);
    painter.setRenderHint(QPainter::Antialiasing);
    painter.setPen(QPen(navy, 2));
    painter.drawRect(QRectF(1, 1, 106, 33));
    drawRamp(painter, QRectF(6, 6, 30, 23), 5, windowBlue, Qt::red);
    QFont font(QStringLiteral("Liberation Sans"));
    font.setStyleHint(QFont::SansSerif);
    font.setPixelSize(11);
    font.setBold(true);
    painter.setFont(font);
    painter.setPen(navy);
    painter.drawText(QRect(40, 4, 64, 14), Qt::AlignCenter, QStringLiteral("16-BIT"));
    painter.drawText(QRect(40, 17, 64, 14), Qt::AlignCenter, QStringLiteral("DAC"));
    painter.end();
    return image;
}

QImage drawBanner()
{
    static_assert(bannerSize == QSize(381, 30), "the wave below is drawn for this size");
    QImage image = canvas(bannerSize.width(), bannerSize.height(), windowBlue);
    QPainter painter(&image);
    QLinearGradient shade(0, 0, 381, 0);
    shade.setColorAt(0, navy);
    shade.setColorAt(1, QColor(64, 96, 255));
    painter.fillRect(image.rect(), shade);
    painter.setRenderHint(QPainter::Antialiasing);

    // Two periods of a sine, and the held samples a DAC would make of it.
    constexpr int samples = 32;
    const auto level = [](double x) {
        return 15 - 11 * std::sin(2 * std::numbers::pi * 2 * x / 381.0);
    };
    QPainterPath held;
    QPainterPath wave;
    const double tread = 381.0 / samples;
    held.moveTo(0, level(0));
    for (int sample = 0; sample < samples; ++sample) {
        const double y = level(sample * tread);
        held.lineTo(sample * tread, y);
        held.lineTo((sample + 1) * tread, y);
    }
    wave.moveTo(0, level(0));
    for (int x = 1; x <= 381; ++x)
        wave.lineTo(x, level(x));
    painter.setPen(QPen(QColor(160, 200, 255), 1));
    painter.drawPath(held);
    painter.setPen(QPen(yellow, 2));
    painter.drawPath(wave);
    painter.end();
    return image;
}

QImage drawWindowIcon()
{
    QImage image = canvas(iconSize.width(), iconSize.height(), windowBlue);
    QPainter painter(&image);
    painter.setRenderHint(QPainter::Antialiasing);
    drawRamp(painter, QRectF(4, 4, 24, 24), 4, yellow, Qt::white);
    painter.end();
    return image;
}
