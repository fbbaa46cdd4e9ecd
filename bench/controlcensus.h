#pragma once

#include <QString>

class QWidget;

// How many controls of each plain Qt kind a window holds; a control of the program's own kinds
// counts as the Qt kind it is made from.
struct ControlCensus
{
    int frames = 0;         // QGroupBox
    int optionButtons = 0;  // QRadioButton
    int checkBoxes = 0;     // QCheckBox
    int textBoxes = 0;      // QLineEdit
    int commandButtons = 0; // QPushButton
    int digitDisplays = 0;  // QLCDNumber
    int labels = 0;         // QLabel, pictures included
    int others = 0;         // drawn shapes and lines, plain QWidget

    bool operator==(const ControlCensus &) const = default;
    int total() const;
    QString toString() const;

    // The named widgets under `window`: the program names every control it makes.
    static ControlCensus of(const QWidget &window);

    // Fills `window` as a user would by hand: one loop per kind, each control a plain Qt one
    // with a short caption, in the cells of a grid that covers the window; no table of
    // positions, no artwork, every control shown.
    void fillPlainly(QWidget &window) const;
};

// The program's window, counted; its start-up child checks that this still holds.
inline constexpr ControlCensus programControls {17, 38, 19, 4, 2, 33, 22, 3};
