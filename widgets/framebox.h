#pragma once

#include <QGroupBox>

// A flat frame: a one-pixel border with the caption set into its top edge, on the frame's own
// background. A borderless frame draws only its background; its caption is kept, not shown.
class FrameBox final : public QGroupBox
{
    Q_OBJECT

public:
    enum class Border { Line, None };

    explicit FrameBox(const QString &caption, Border border, QWidget *parent = nullptr);

    Border border() const { return m_border; }

protected:
    void paintEvent(QPaintEvent *event) override;

private:
    Border m_border;
};
