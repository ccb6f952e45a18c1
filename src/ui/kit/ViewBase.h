// AppKit geometry for any Qt widget: a frame in the superview's coordinates (y up unless the
// superview is flipped), an autoresizing mask applied when the superview's size changes, and
// subviews added with addSubview. No Qt layouts are used inside kit views, so frames hold as set.
#pragma once

#include <QEvent>
#include <QResizeEvent>
#include <QWidget>
#include <functional>
#include <memory>

#include "ui/kit/Animation.h"
#include "ui/kit/Geometry.h"

namespace kit {

// The geometry half of a kit view; ViewBase joins it to a Qt widget class.
class ViewFrame {
public:
    explicit ViewFrame(QWidget* widget);
    virtual ~ViewFrame() = default;
    ViewFrame(const ViewFrame&) = delete;
    ViewFrame& operator=(const ViewFrame&) = delete;

    QWidget* asWidget() const { return m_widget; }

    // The frame in the superview's coordinates. When Qt itself moved the widget (a splitter, a
    // scroll area) the frame is read back from the widget.
    Rect frame() const;
    void setFrame(const Rect& frame);
    void setFrameOrigin(Point origin);
    void setFrameSize(Size size);
    // (0, 0) and the frame's size.
    Rect bounds() const;

    unsigned autoresizingMask() const { return m_mask; }
    void setAutoresizingMask(unsigned mask) { m_mask = mask; }
    bool autoresizesSubviews() const { return m_autoresizesSubviews; }
    void setAutoresizesSubviews(bool on) { m_autoresizesSubviews = on; }

    // y grows downwards in this view's coordinates (its drawing and its subviews' frames).
    virtual bool isFlipped() const { return false; }

    // Makes view a child of this one at its frame; it shows unless it was hidden explicitly.
    void addSubview(QWidget* view);
    // Leaves the superview (the widget stays alive; its owner decides when it ends).
    void removeFromSuperview();
    // The kit view that holds this one, or null.
    ViewFrame* superview() const;

    void setNeedsDisplay() { m_widget->update(); }
    void display() { m_widget->repaint(); }

    // The view's opacity with its subviews, 0 to 1 (drawn through a QGraphicsOpacityEffect below 1).
    double alphaValue() const { return m_alpha; }
    void setAlphaValue(double alpha);
    // Animates the opacity to alpha on the kit's scheduler (AppKit's animator), then calls done;
    // another animation of the opacity, or setAlphaValue, replaces it.
    void animateAlphaValue(double alpha, double seconds, std::function<void()> done = {});

    // A rectangle or point of this view's coordinates in Qt's, and back.
    QRectF qtRect(const Rect& r) const;
    QRect qtPixelRect(const Rect& r) const;
    Point pointFromQt(const QPointF& p) const;

    // Called when the view (or one of its superviews) moved to another window.
    virtual void viewDidMoveToWindow() {}

    // Kit plumbing, called by ViewBase.
    void widgetResized();
    void parentChanged();

private:
    void applyToWidget();
    void applyAlpha(double alpha);
    void resizeSubviews(Size oldSize);
    void notifyWindowChange();
    Size currentSize() const;

    QWidget* m_widget;
    Rect m_frame;
    QRect m_applied;  // the geometry last given to the widget by the kit
    unsigned m_mask = kViewNotSizable;
    bool m_autoresizesSubviews = true;
    bool m_applying = false;
    QWidget* m_lastWindow = nullptr;
    double m_alpha = 1.0;
    std::shared_ptr<Animation> m_alphaAnimation;
};

// The kit view of a frame-carrying Qt widget, or null.
inline ViewFrame* AsView(QWidget* widget) { return dynamic_cast<ViewFrame*>(widget); }

// A Qt widget class with AppKit geometry. The widget starts without a superview at the given frame.
template <class QtBase>
class ViewBase : public QtBase, public ViewFrame {
public:
    explicit ViewBase(const Rect& frame = {}) : QtBase(), ViewFrame(this) { setFrame(frame); }

    // The kit's frame, not a Qt base's member of the same name (QLineEdit::setFrame).
    using ViewFrame::frame;
    using ViewFrame::setFrame;

protected:
    void resizeEvent(QResizeEvent* event) override {
        QtBase::resizeEvent(event);
        widgetResized();
    }
    bool event(QEvent* event) override {
        if (event->type() == QEvent::ParentChange) parentChanged();
        return QtBase::event(event);
    }
};

}  // namespace kit
