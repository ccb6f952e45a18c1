// kit::ScrollView over QScrollArea: a document view (owned, at its own frame size) scrolled inside
// the frame. kit::SplitView over QSplitter: panes side by side (vertical dividers) or stacked.
#pragma once

#include <QScrollArea>
#include <QSplitter>
#include <functional>

#include "ui/kit/View.h"
#include "ui/kit/ViewBase.h"

namespace kit {

class ScrollView : public ViewBase<QScrollArea> {
public:
    explicit ScrollView(const Rect& frame = {});

    // The scroll view owns the document view; its frame size is the scrolled area.
    void setDocumentView(View* view);
    View* documentView() const { return m_document; }
    void setHasVerticalScroller(bool on);
    void setHasHorizontalScroller(bool on);
    // The size of the visible part of the document.
    Size contentSize() const;
    // Scrolls so that the document's point (in Qt's coordinates of the document) is at the top left.
    void scrollToPoint(QPoint point);

private:
    View* m_document = nullptr;
};

class SplitView : public ViewBase<QSplitter> {
public:
    explicit SplitView(const Rect& frame = {});

    // YES: the dividers are vertical and the panes stand side by side.
    void setVertical(bool vertical) { setOrientation(vertical ? Qt::Horizontal : Qt::Vertical); }
    bool isVertical() const { return orientation() == Qt::Horizontal; }
    void addPane(QWidget* pane);
    // Moves divider index so that the panes before it take position points.
    void setPositionOfDividerAtIndex(double position, int index);
    // The pane's length along the split stays within [minimum, maximum].
    void setPaneLimits(int index, double minimum, double maximum);
    // Called after the user moved a divider.
    void setDidResizeSubviews(std::function<void()> handler) { m_didResize = std::move(handler); }

private:
    std::function<void()> m_didResize;
};

}  // namespace kit
