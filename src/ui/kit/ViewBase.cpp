#include "ui/kit/ViewBase.h"

#include <QGraphicsOpacityEffect>
#include <algorithm>
#include <cmath>

namespace kit {

namespace {

QRect Pixels(const QRectF& r) {
    const int left = int(std::lround(r.left()));
    const int top = int(std::lround(r.top()));
    return QRect(left, top, int(std::lround(r.right())) - left, int(std::lround(r.bottom())) - top);
}

}  // namespace

ViewFrame::ViewFrame(QWidget* widget) : m_widget(widget) {}

Size ViewFrame::currentSize() const { return Size{double(m_widget->width()), double(m_widget->height())}; }

Rect ViewFrame::frame() const {
    // A widget placed by Qt (not through setFrame) reports Qt's geometry.
    if (m_widget->geometry() == m_applied) return m_frame;
    const QWidget* parent = m_widget->parentWidget();
    const ViewFrame* super = superview();
    const QRect g = m_widget->geometry();
    if (!parent || m_widget->isWindow()) return MakeRect(m_frame.x(), m_frame.y(), g.width(), g.height());
    const bool flipped = super ? super->isFlipped() : true;
    const double height = super ? super->bounds().height() : parent->height();
    return MakeRect(g.x(), flipped ? g.y() : height - g.y() - g.height(), g.width(), g.height());
}

void ViewFrame::setFrame(const Rect& frame) {
    const Size old = this->frame().size;
    m_frame = frame;
    applyToWidget();
    if (old != frame.size) resizeSubviews(old);
}

void ViewFrame::setFrameOrigin(Point origin) {
    Rect r = frame();
    r.origin = origin;
    setFrame(r);
}

void ViewFrame::setFrameSize(Size size) {
    Rect r = frame();
    r.size = size;
    setFrame(r);
}

Rect ViewFrame::bounds() const { return Rect{{0, 0}, frame().size}; }

ViewFrame* ViewFrame::superview() const {
    QWidget* parent = m_widget->isWindow() ? nullptr : m_widget->parentWidget();
    return parent ? AsView(parent) : nullptr;
}

void ViewFrame::addSubview(QWidget* view) {
    if (!view) return;
    const bool hiddenOnPurpose = view->isHidden() && view->testAttribute(Qt::WA_WState_ExplicitShowHide);
    view->setParent(m_widget);
    if (ViewFrame* sub = AsView(view)) sub->applyToWidget();
    if (!hiddenOnPurpose) view->show();
}

void ViewFrame::removeFromSuperview() {
    if (!m_widget->parentWidget()) return;
    m_frame = frame();
    m_widget->hide();
    m_widget->setParent(nullptr);
}

void ViewFrame::setAlphaValue(double alpha) {
    m_alphaAnimation.reset();
    applyAlpha(alpha);
}

void ViewFrame::animateAlphaValue(double alpha, double seconds, std::function<void()> done) {
    const double from = m_alpha;
    const double to = std::clamp(alpha, 0.0, 1.0);
    Animation::run(
        m_alphaAnimation, seconds, [this, from, to](double progress) { applyAlpha(from + (to - from) * progress); },
        std::move(done));
}

void ViewFrame::applyAlpha(double alpha) {
    m_alpha = std::clamp(alpha, 0.0, 1.0);
    if (m_alpha >= 1.0) {
        // Fully opaque draws directly, without the effect's offscreen pass.
        if (qobject_cast<QGraphicsOpacityEffect*>(m_widget->graphicsEffect())) m_widget->setGraphicsEffect(nullptr);
        return;
    }
    auto* effect = qobject_cast<QGraphicsOpacityEffect*>(m_widget->graphicsEffect());
    if (!effect) {
        effect = new QGraphicsOpacityEffect;
        m_widget->setGraphicsEffect(effect);  // the widget owns it
    }
    effect->setOpacity(m_alpha);
}

QRectF ViewFrame::qtRect(const Rect& r) const { return ToQtRect(r, bounds().height(), isFlipped()); }

QRect ViewFrame::qtPixelRect(const Rect& r) const { return Pixels(qtRect(r)); }

Point ViewFrame::pointFromQt(const QPointF& p) const { return FromQtPoint(p, bounds().height(), isFlipped()); }

void ViewFrame::applyToWidget() {
    m_applying = true;
    QWidget* parent = m_widget->isWindow() ? nullptr : m_widget->parentWidget();
    if (!parent) {
        m_widget->resize(int(std::lround(m_frame.width())), int(std::lround(m_frame.height())));
    } else {
        const ViewFrame* super = AsView(parent);
        const bool flipped = super ? super->isFlipped() : true;
        const double height = super ? super->bounds().height() : parent->height();
        m_widget->setGeometry(Pixels(ToQtRect(m_frame, height, flipped)));
    }
    m_applied = m_widget->geometry();
    m_applying = false;
}

void ViewFrame::resizeSubviews(Size oldSize) {
    const Size newSize = frame().size;
    for (QObject* child : m_widget->children()) {
        auto* widget = qobject_cast<QWidget*>(child);
        ViewFrame* sub = widget && !widget->isWindow() ? AsView(widget) : nullptr;
        if (!sub) continue;
        Rect r = sub->frame();
        if (m_autoresizesSubviews) r = ResizeWithOldSuperviewSize(r, sub->autoresizingMask(), oldSize, newSize);
        // Placed again even when unchanged: a y-up frame moves in Qt when this view's height changes.
        sub->setFrame(r);
    }
}

void ViewFrame::widgetResized() {
    if (m_applying) return;
    // Qt resized the widget itself (a top-level window, a splitter, a scroll area).
    const Size old = m_frame.size;
    const Size now = currentSize();
    if (std::lround(old.width) == std::lround(now.width) && std::lround(old.height) == std::lround(now.height)) {
        m_applied = m_widget->geometry();
        return;
    }
    m_frame = frame();
    m_applied = m_widget->geometry();
    resizeSubviews(old);
}

void ViewFrame::parentChanged() {
    if (m_widget->parentWidget() && !m_widget->isWindow()) applyToWidget();
    notifyWindowChange();
}

void ViewFrame::notifyWindowChange() {
    QWidget* window = m_widget->window();
    if (window != m_lastWindow) {
        m_lastWindow = window;
        viewDidMoveToWindow();
    }
    for (QObject* child : m_widget->children()) {
        auto* widget = qobject_cast<QWidget*>(child);
        if (ViewFrame* sub = widget && !widget->isWindow() ? AsView(widget) : nullptr) sub->notifyWindowChange();
    }
}

}  // namespace kit
