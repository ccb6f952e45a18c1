#include "ui/controls/KXProgressView.h"

using kit::MakeRect;

namespace {

constexpr double kBarHeight = 4.0;
constexpr float kMinimumBarWidth = 10.0f;

}  // namespace

void NSProgressBar::drawRect(QPainter& painter, const kit::Rect&) {
    // A rounded rectangle with radii 0: a plain rectangle.
    painter.fillRect(qtRect(bounds()), kProgressBarColor);
}

KXProgressView::KXProgressView(const kit::Rect& frame) : kit::View(frame), m_bar(new NSProgressBar(MakeRect(0, 0, 0, kBarHeight))) {
    m_bar->setAutoresizingMask(kit::kViewWidthSizable | kit::kViewMaxXMargin);
    addSubview(m_bar);
}

void KXProgressView::changeProgressValue(float value) {
    const float width = float(frame().width());
    // The product in double precision, kept in single precision.
    float w = float(double(value) / 100.0 * double(width));
    if (w > width - 1) {
        w = width;
    } else if (w < kMinimumBarWidth) {
        w = kMinimumBarWidth;
    }
    m_bar->setFrame(MakeRect(0, 0, w, kBarHeight));
    m_bar->setNeedsDisplay();
    setNeedsDisplay();
}

void KXProgressView::drawRect(QPainter& painter, const kit::Rect&) { painter.fillRect(qtRect(bounds()), kProgressTrackColor); }
