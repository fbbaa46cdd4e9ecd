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

private:
    double m_value = 0;
    int m_segmentColor = 160;
};
