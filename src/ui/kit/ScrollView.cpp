#include "ui/kit/ScrollView.h"

#include <QScrollBar>
#include <cmath>

namespace kit {

ScrollView::ScrollView(const Rect& frame) : ViewBase<QScrollArea>(frame) {
    setWidgetResizable(false);
    setFrameShape(QFrame::NoFrame);
}

void ScrollView::setDocumentView(View* view) {
    if (view == m_document) return;
    m_document = view;
    setWidget(view);  // deletes the previous document view
    if (view) view->show();
}

void ScrollView::setHasVerticalScroller(bool on) {
    setVerticalScrollBarPolicy(on ? Qt::ScrollBarAsNeeded : Qt::ScrollBarAlwaysOff);
}

void ScrollView::setHasHorizontalScroller(bool on) {
    setHorizontalScrollBarPolicy(on ? Qt::ScrollBarAsNeeded : Qt::ScrollBarAlwaysOff);
}

Size ScrollView::contentSize() const {
    return MakeSize(viewport()->width(), viewport()->height());
}

void ScrollView::scrollToPoint(QPoint point) {
    horizontalScrollBar()->setValue(point.x());
    verticalScrollBar()->setValue(point.y());
}

SplitView::SplitView(const Rect& frame) : ViewBase<QSplitter>(frame) {
    setChildrenCollapsible(false);
    QObject::connect(this, &QSplitter::splitterMoved, this, [this] {
        if (m_didResize) m_didResize();
    });
}

void SplitView::addPane(QWidget* pane) {
    if (pane) addWidget(pane);
}

void SplitView::setPositionOfDividerAtIndex(double position, int index) {
    QList<int> sizes = this->sizes();
    if (index < 0 || index + 1 >= sizes.size()) return;
    int before = 0;
    for (int i = 0; i < index; ++i) before += sizes[i] + handleWidth();
    const int total = sizes[index] + sizes[index + 1];
    const int first = std::clamp(int(std::lround(position)) - before, 0, total);
    sizes[index] = first;
    sizes[index + 1] = total - first;
    setSizes(sizes);
}

void SplitView::setPaneLimits(int index, double minimum, double maximum) {
    QWidget* pane = QSplitter::widget(index);
    if (!pane) return;
    if (isVertical()) {
        pane->setMinimumWidth(int(std::lround(minimum)));
        pane->setMaximumWidth(int(std::lround(maximum)));
    } else {
        pane->setMinimumHeight(int(std::lround(minimum)));
        pane->setMaximumHeight(int(std::lround(maximum)));
    }
}

}  // namespace kit
