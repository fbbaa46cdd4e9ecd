#pragma once

#include <QLCDNumber>

// One LED-style digit cell: the bit cells of the command word and the readback display.
// `Value` reads back exactly what was written; `SegmentColor` packs
// red + 256 * green + 65536 * blue and is the colour of the lit segments.
class DigitCell final : public QLCDNumber
{
    Q_OBJECT
    Q_PROPERTY(double Value READ value WRITE setValue)
    Q_PROPERTY(int SegmentColor READ segmentColor WRITE setSegmentColor)

public:
    explicit DigitCell(int digits, QWidget *parent = nullptr);

    double value() const { return m_value; }
    void setValue(double value);

    int segmentColor() const { return m_segmentColor; }
    void setSegmentColor(int colour);

    // What a cell of `digits` positions shows for `value`: as many decimals as fit, then the
    // exponent form; a sign takes a position. A value that fits neither way gives the shorter
    // form, with more positions than asked for (the cell then widens). Not a number: dashes.
    static QString digitsFor(double value, int digits);

protected:
    void paintEvent(QPaintEvent *event) override;

private:
    int m_designDigits;
    bool m_minusBar = false; // a one-digit cell has no position for the sign
    double m_value = 0;
    int m_segmentColor = 160;
};
