#include "controlcensus.h"

#include <QCheckBox>
#include <QFrame>
#include <QGroupBox>
#include <QLCDNumber>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QRadioButton>

#include <algorithm>

namespace {

constexpr int gridColumns = 8;

} // namespace

int ControlCensus::total() const
{
    return frames + optionButtons + checkBoxes + textBoxes + commandButtons + digitDisplays + labels
            + others;
}

QString ControlCensus::toString() const
{
    return QStringLiteral("%1 frames, %2 option buttons, %3 check boxes, %4 text boxes, "
                          "%5 command buttons, %6 digit displays, %7 labels, %8 others")
            .arg(frames)
            .arg(optionButtons)
            .arg(checkBoxes)
            .arg(textBoxes)
            .arg(commandButtons)
            .arg(digitDisplays)
            .arg(labels)
            .arg(others);
}

ControlCensus ControlCensus::of(const QWidget &window)
{
    ControlCensus census;
    for (const QWidget *widget : window.findChildren<QWidget *>()) {
        if (widget->objectName().isEmpty())
            continue;
        if (qobject_cast<const QGroupBox *>(widget))
            ++census.frames;
        else if (qobject_cast<const QRadioButton *>(widget))
            ++census.optionButtons;
        else if (qobject_cast<const QCheckBox *>(widget))
            ++census.checkBoxes;
        else if (qobject_cast<const QLineEdit *>(widget))
            ++census.textBoxes;
        else if (qobject_cast<const QPushButton *>(widget))
            ++census.commandButtons;
        else if (qobject_cast<const QLCDNumber *>(widget))
            ++census.digitDisplays;
        else if (qobject_cast<const QLabel *>(widget))
            ++census.labels;
        else
            ++census.others;
    }
    return census;
}

void ControlCensus::fillPlainly(QWidget &window) const
{
    const int rows = (total() + gridColumns - 1) / gridColumns;
    const QSize cell(window.width() / gridColumns, window.height() / std::max(rows, 1));
    int placed = 0;
    const auto place = [&](QWidget *control) {
        control->setGeometry(QRect(
                QPoint(placed % gridColumns * cell.width(), placed / gridColumns * cell.height()),
                cell));
        ++placed;
    };
    for (int i = 0; i < frames; ++i)
        place(new QGroupBox(QStringLiteral("Frame %1").arg(i), &window));
    for (int i = 0; i < optionButtons; ++i)
        place(new QRadioButton(QStringLiteral("Option %1").arg(i), &window));
    for (int i = 0; i < checkBoxes; ++i)
        place(new QCheckBox(QStringLiteral("Check %1").arg(i), &window));
    for (int i = 0; i < textBoxes; ++i)
        place(new QLineEdit(QString::number(i), &window));
    for (int i = 0; i < commandButtons; ++i)
        place(new QPushButton(QStringLiteral("Button %1").arg(i), &window));
    for (int i = 0; i < digitDisplays; ++i)
        place(new QLCDNumber(1, &window));
    for (int i = 0; i < labels; ++i)
        place(new QLabel(QStringLiteral("Label %1").arg(i), &window));
    for (int i = 0; i < others; ++i) {
        auto *line = new QFrame(&window);
        line->setFrameShape(QFrame::Box);
        place(line);
    }
}
