#pragma once

class QAbstractButton;

// The arrow keys on a member of a control array (its button group): the focus moves to the
// nearest member in the arrow's direction, in line with `from` before any off to the side, and
// in an exclusive array a selected `from` passes the selection on. Only members that are shown
// and take the focus count, so that a member the user cannot see is never reached; Qt's own
// walk takes every option button of the group. Returns false, and does nothing, when `key` is
// no arrow or `from` belongs to no array.
bool moveFocusInArray(QAbstractButton &from, int key);
