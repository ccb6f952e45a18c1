#include "ui/controls/GroupView.h"

#include <QPainterPath>

kit::Rect GroupView::frameBoxForBounds(const kit::Rect& bounds) {
    return kit::InsetRect(kit::MakeRect(18, 18, bounds.width() - 36, bounds.height() - 53), 0.5, 0.5);
}

void GroupView::drawRect(QPainter& painter, const kit::Rect& dirty) {
    kit::View::drawRect(painter, dirty);
    painter.fillRect(qtRect(bounds()), Qt::white);
    QPainterPath box;
    box.addRoundedRect(qtRect(frameBoxForBounds(bounds())), 2, 2);
    painter.save();
    painter.setRenderHint(QPainter::Antialiasing, true);
    painter.setPen(QPen(QColor(0, 0, 0, int(0.15 * 255 + 0.5)), 1.0));
    painter.setBrush(Qt::NoBrush);
    painter.drawPath(box);
    painter.restore();
}
