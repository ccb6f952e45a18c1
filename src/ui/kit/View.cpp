#include "ui/kit/View.h"

#include <QPaintEvent>

namespace kit {

View::View(const Rect& frame) : ViewBase<QWidget>(frame) {}

void View::setBackgroundColor(const QColor& color) {
    m_background = color;
    update();
}

Point View::locationInView(const QMouseEvent* event) const { return pointFromQt(event->position()); }

void View::drawRect(QPainter&, const Rect&) {}

void View::paintEvent(QPaintEvent* event) {
    QPainter painter(this);
    if (m_background.isValid()) painter.fillRect(rect(), m_background);
    const QRect r = event->rect();
    const Rect dirty = isFlipped() ? MakeRect(r.x(), r.y(), r.width(), r.height())
                                   : MakeRect(r.x(), height() - r.y() - r.height(), r.width(), r.height());
    drawRect(painter, dirty);
}

void View::mousePressEvent(QMouseEvent* event) {
    m_clickCount = 1;
    mouseDown(event);
}

void View::mouseDoubleClickEvent(QMouseEvent* event) {
    // Qt reports the second press of a double click here; a third press comes as a plain press.
    m_clickCount = 2;
    mouseDown(event);
}

void View::mouseReleaseEvent(QMouseEvent* event) { mouseUp(event); }

void View::mouseMoveEvent(QMouseEvent* event) {
    if (event->buttons() != Qt::NoButton) {
        mouseDragged(event);
    } else {
        mouseMoved(event);
    }
}

void View::enterEvent(QEnterEvent* event) { mouseEntered(event); }

void View::leaveEvent(QEvent* event) { mouseExited(event); }

void View::keyPressEvent(QKeyEvent* event) { keyDown(event); }

}  // namespace kit
