#include "digitcell.h"

#include <QPainter>

#include <algorithm>
#include <cmath>

namespace {

const QColor cellBackground(0, 0, 192);

// Positions a text takes in the display: a small decimal point shares its digit's position.
int positionsOf(const QString &text)
{
    return int(text.size() - text.count(QLatin1Char('.')));
}

QColor segmentColour(int packed)
{
    return QColor(packed & 0xFF, (packed >> 8) & 0xFF, (packed >> 16) & 0xFF);
}

// "1.50000e+06" as the display's segments can draw it: "1.50000E6".
QString exponentForm(double value, int decimals)
{
    const QString printed = QString::number(value, 'e', decimals);
    const qsizetype e = printed.indexOf(QLatin1Char('e'));
    const int exponent = printed.mid(e + 1).toInt();
    return printed.left(e) + QLatin1Char('E') + QString::number(exponent);
}

} // namespace

DigitCell::DigitCell(int digits, QWidget *parent)
    : QLCDNumber(uint(std::max(1, digits)), parent)
    , m_designDigits(std::max(1, digits))
{
    setSegmentStyle(QLCDNumber::Flat);
    setFrameShape(QFrame::NoFrame);
    // In a one-digit cell a point position would only shrink the digit.
    setSmallDecimalPoint(m_designDigits > 1);
    setAutoFillBackground(true);
    // Both colours in one palette: each palette set costs a window of 33 cells a lot at start.
    QPalette colours = palette();
    colours.setColor(QPalette::Window, cellBackground);
    colours.setColor(QPalette::WindowText, segmentColour(m_segmentColor));
    setPalette(colours);
    setValue(m_value);
}

QString DigitCell::digitsFor(double value, int digits)
{
    digits = std::max(1, digits);
    if (!std::isfinite(value))
        return QString(digits, QLatin1Char('-'));
    QString fixed;
    for (int decimals = digits - 1; decimals >= 0; --decimals) {
        fixed = QString::number(value, 'f', decimals);
        if (positionsOf(fixed) <= digits)
            return fixed;
    }
    QString exponent;
    for (int decimals = digits - 1; decimals >= 0; --decimals) {
        exponent = exponentForm(value, decimals);
        if (positionsOf(exponent) <= digits)
            return exponent;
    }
    return positionsOf(exponent) < positionsOf(fixed) ? exponent : fixed;
}

void DigitCell::setValue(double value)
{
    m_value = value;
    m_minusBar = m_designDigits == 1 && value < 0;
    const QString shown = digitsFor(m_minusBar ? -value : value, m_designDigits);
    const int positions = smallDecimalPoint() ? positionsOf(shown) : int(shown.size());
    setDigitCount(std::max(m_designDigits, positions));
    display(shown);
}

void DigitCell::setSegmentColor(int colour)
{
    // The palette holds the colour already: start-up sets most cells to the colour they have.
    if (colour == m_segmentColor)
        return;
    m_segmentColor = colour;
    QPalette colours = palette();
    colours.setColor(QPalette::WindowText, segmentColour(colour));
    setPalette(colours);
}

void DigitCell::paintEvent(QPaintEvent *event)
{
    QLCDNumber::paintEvent(event);
    if (!m_minusBar)
        return;
    // A short bar left of the digit, clear of the right-hand segments that draw a 1.
    const int thickness = std::max(2, height() / 14);
    const QRect bar(width() * 15 / 100, (height() - thickness) / 2, std::max(2, width() * 30 / 100),
                    thickness);
    QPainter painter(this);
    painter.fillRect(bar, palette().color(QPalette::WindowText));
}
