#pragma once

#include <QCheckBox>

// A check box whose caption wraps inside the control, and which a click anywhere on the control
// toggles. The arrow keys move the focus within its array, to members the user sees.
class CheckBox final : public QCheckBox
{
    Q_OBJECT

public:
    explicit CheckBox(const QString &caption, QWidget *parent = nullptr);

protected:
    void paintEvent(QPaintEvent *event) override;
    bool hitButton(const QPoint &position) const override;
    void keyPressEvent(QKeyEvent *event) override;
};
