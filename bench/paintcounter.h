#pragma once

#include <QObject>

class QWidget;

// Counts the paint events a widget receives: proof that a timed action really repainted it.
class PaintCounter final : public QObject
{
public:
    explicit PaintCounter(QWidget &widget);
    ~PaintCounter() override;

    int count() const { return m_count; }

protected:
    bool eventFilter(QObject *watched, QEvent *event) override;

private:
    QWidget &m_widget;
    int m_count = 0;
};
