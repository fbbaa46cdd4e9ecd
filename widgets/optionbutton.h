#pragma once

#include <QRadioButton>

// An option button whose caption wraps inside the control, and which a click anywhere on the
// control selects. The arrow keys move the focus within its array, to members the user sees.
class OptionButton final : public QRadioButton
{
    Q_OBJECT

public:
    explicit OptionButton(const QString &caption, QWidget *parent = nullptr);

protected:
    void paintEvent(QPaintEvent *event) override;
    bool hitButton(const QPoint &position) const override;
    void keyPressEvent(QKeyEvent *event) override;
};
