#include "ui/controls/NewButton.h"

#include <QAbstractItemView>
#include <QFontMetrics>

#include "ui/kit/Scheduler.h"

int NewButton::s_clickLatch = 0;

namespace {

// ceil(n / 2) for any sign: the Parts centre with ceil((h - size) / 2).
int CeilHalf(int n) {
    return n >= 0 ? (n + 1) / 2 : -((-n) / 2);
}

// Whether p lies in r, its left and top edges included, its right and bottom ones not.
bool MouseInRect(const QPointF& p, const QRect& r) {
    return p.x() >= r.x() && p.x() < r.x() + r.width() && p.y() >= r.y() && p.y() < r.y() + r.height();
}

// The state a tick-box click gives: 0 and 1 become 2, 2 becomes 0.
int ClickedState(int state) {
    return state == 2 ? 0 : 2;
}

}  // namespace

QRect NewButton::tickBoxRectForBounds(const QRect& frame) {
    return QRect(frame.x(), frame.y(), kTickBoxWidth, kTickBoxHeight);
}

QRect NewButton::tickImageRectForBounds(const QRect& frame, QSize imageSize) {
    return QRect(QPoint(frame.x() + (kTickBoxWidth - imageSize.width()) / 2,
                        frame.y() + CeilHalf(frame.height() - imageSize.height())),
                 imageSize);
}

QRect NewButton::iconImageRectForBounds(const QRect& frame, bool hasIcon) {
    if (!hasIcon) return {};
    return QRect(frame.x() + kIconX, frame.y() + CeilHalf(frame.height() - kIconSide), kIconSide, kIconSide);
}

QRect NewButton::imageRectForBounds(const QRect& frame, bool hasIcon, bool hasLabel) {
    if (!hasLabel) return {};
    return QRect(frame.x() + (hasIcon ? kLabelXWithIcon : kLabelXWithoutIcon),
                 frame.y() + CeilHalf(frame.height() - kLabelHeight), kLabelWidth, kLabelHeight);
}

kit::Image NewButton::tickImageForState(int state) {
    switch (state) {
        case 0:
            return kit::Image::named("pf_checkbox_no");
        case 2:
            return kit::Image::named("pf_checkbox_yes");
        default:
            return kit::Image::named("pf_checkbox_half");
    }
}

void NewButton::changeVlaue() {
    s_clickLatch = 0;
}

unsigned NewButton::hitTestForEvent(const QPointF& location, const QRect& frame, const kit::Cell&,
                                    const kit::CellContext& context) {
    // The button's own test of the tick box: the content is hit where the press lies inside it.
    unsigned flags = MouseInRect(location, tickBoxRectForBounds(frame)) ? kCellHitContentArea : kCellHitNone;
    if (flags == kCellHitNone || s_clickLatch != 0) return kCellHitNone;
    // The outline's items are result-tree nodes, owned by the tree that shows them.
    auto* node = static_cast<OpNodeData*>(context.item);
    m_opNodeData = node ? node->weak_from_this().lock() : nullptr;
    if (m_delegate) m_delegate->clickButtonAction(this);
    flags |= kCellHitTrackableArea;
    ++s_clickLatch;
    kit::Scheduler::current().performAfterDelay(&s_clickLatch, kClickLatchSeconds, [] { changeVlaue(); });
    return flags;
}

void NewButton::drawWithFrame(QPainter& painter, const QRect& frame, const kit::Cell& cell,
                              const kit::CellContext& context) {
    const bool hasIcon = !cell.image.isNull();
    const bool hasLabel = !cell.text.isEmpty();
    painter.save();
    painter.setClipRect(frame, Qt::IntersectClip);
    if (hasIcon) {
        painter.setRenderHint(QPainter::SmoothPixmapTransform, true);
        painter.drawPixmap(iconImageRectForBounds(frame, true), cell.image);
    }
    if (hasLabel) {
        const QWidget* view = context.view;
        const QRect label = imageRectForBounds(frame, hasIcon, true);
        const QFont font = cell.hasFont ? cell.font : (view ? view->font() : QFont());
        QColor colour = cell.textColor;
        if (!colour.isValid() && view) {
            colour = view->palette().color(context.selected ? QPalette::HighlightedText : QPalette::Text);
        }
        // Cut at the tail where the cell ends.
        const int room = std::min(label.width(), frame.right() + 1 - label.x());
        const QString text = QFontMetrics(font).elidedText(cell.text, Qt::ElideRight, std::max(room, 0));
        painter.setFont(font);
        painter.setPen(colour.isValid() ? colour : QColor(Qt::black));
        painter.drawText(label, Qt::AlignLeft | Qt::AlignVCenter | Qt::TextSingleLine, text);
    }
    if (cell.checkState >= 0) {
        const kit::Image box = tickImageForState(cell.checkState);
        const QSize size(int(box.size().width), int(box.size().height));
        box.draw(painter, QRectF(tickImageRectForBounds(frame, size)));
    }
    painter.restore();
}

bool NewButton::mouseEvent(QMouseEvent* event, const QRect& frame, const kit::Cell& cell,
                           const kit::CellContext& context) {
    switch (event->type()) {
        case QEvent::MouseButtonPress:
        case QEvent::MouseButtonDblClick: {
            m_tracking = {};
            if (event->button() != Qt::LeftButton) return false;
            // The state before the click: the delegate may tick the node while it hears of it.
            const int newState = ClickedState(cell.checkState);
            if (hitTestForEvent(event->position(), frame, cell, context) == kCellHitNone) return false;
            m_tracking = {true, newState};
            return true;
        }
        case QEvent::MouseButtonRelease: {
            if (!m_tracking.active) return false;
            const Tracking tracking = m_tracking;
            m_tracking = {};
            if (MouseInRect(event->position(), tickBoxRectForBounds(frame))) {
                context.setObjectValue(tracking.newState);
            }
            return true;
        }
        default:
            return false;
    }
}
