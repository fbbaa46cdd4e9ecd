#include "arrayfocus.h"

#include <QAbstractButton>
#include <QButtonGroup>

#include <cstdlib>

namespace {

QRect globalArea(const QWidget &widget)
{
    return {widget.mapToGlobal(QPoint(0, 0)), widget.size()};
}

} // namespace

bool moveFocusInArray(QAbstractButton &from, int key)
{
    QButtonGroup *array = from.group();
    const bool vertical = key == Qt::Key_Up || key == Qt::Key_Down;
    const bool backwards = key == Qt::Key_Up || key == Qt::Key_Left;
    if (!array || !(vertical || key == Qt::Key_Left || key == Qt::Key_Right))
        return false;

    const QRect origin = globalArea(from);
    const QPoint goal = origin.center();
    QAbstractButton *nearest = nullptr;
    qint64 nearestScore = 0;
    for (QAbstractButton *member : array->buttons()) {
        if (member == &from || !member->isVisible() || !member->isEnabled()
            || member->focusPolicy() == Qt::NoFocus)
            continue;
        const QRect area = globalArea(*member);
        const int along = vertical ? area.center().y() - goal.y() : area.center().x() - goal.x();
        const int across = vertical ? area.center().x() - goal.x() : area.center().y() - goal.y();
        if (along == 0 || (along < 0) != backwards)
            continue;
        const bool inLine = vertical ? area.left() < origin.right() && origin.left() < area.right()
                                     : area.top() < origin.bottom() && origin.top() < area.bottom();
        const qint64 score = inLine
                ? (qint64(std::abs(along)) << 16) + std::abs(across)
                : (qint64(1) << 40) + qint64(along) * along + qint64(across) * across;
        if (!nearest || score < nearestScore) {
            nearest = member;
            nearestScore = score;
        }
    }
    if (!nearest)
        return true;
    if (array->exclusive() && from.isChecked())
        nearest->click();
    nearest->setFocus(backwards ? Qt::BacktabFocusReason : Qt::TabFocusReason);
    return true;
}
