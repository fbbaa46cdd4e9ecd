#pragma once

#include <QWidget>

// A drawn figure of the window, with no behaviour: a rectangle outline or a straight line from
// the widget's top-left to its bottom-right pixel, in the text colour.
class DrawnShape final : public QWidget
{
    Q_OBJECT

public:
    enum class Figure { Rectangle, Line };

    explicit DrawnShape(Figure figure, QWidget *parent = nullptr);

    Figure figure() const { return m_figure; }

protected:
    void paintEvent(QPaintEvent *event) override;

private:
    Figure m_figure;
};
