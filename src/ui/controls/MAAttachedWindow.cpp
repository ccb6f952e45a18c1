#include "ui/controls/MAAttachedWindow.h"

#include <QGuiApplication>
#include <QPainter>
#include <QScreen>
#include <algorithm>
#include <cmath>

using kit::MakePoint;
using kit::MakeRect;
using kit::MakeSize;

namespace {

// A quarter circle as one cubic curve, as the platform draws rounded corners.
constexpr double kArcHandle = 0.5522847498;

enum Corner { kTopLeft, kTopRight, kBottomRight, kBottomLeft, kNoCorner };

// The corner the arrow sits at, for the sides that put it at a corner.
Corner ArrowCorner(int side) {
    switch (side) {
        case MAAttachedWindow::kRightExtendingDown:
        case MAAttachedWindow::kBelowExtendingRight:
            return kTopLeft;
        case MAAttachedWindow::kLeftExtendingDown:
        case MAAttachedWindow::kBelowExtendingLeft:
            return kTopRight;
        case MAAttachedWindow::kLeftExtendingUp:
        case MAAttachedWindow::kAboveExtendingLeft:
            return kBottomRight;
        case MAAttachedWindow::kRightExtendingUp:
        case MAAttachedWindow::kAboveExtendingRight:
            return kBottomLeft;
        default:
            return kNoCorner;
    }
}

bool WidensWindow(int side) {
    return side == 0 || side == 2 || (side >= 4 && side <= 7);
}
bool HeightensWindow(int side) {
    return side == 1 || side == 3 || (side >= 8 && side <= 11);
}

// From the current point, which lies r before corner on the edge arriving there, a quarter circle of
// radius r tangent to both edges, ending at the point r along the edge towards next.
void AppendArcFromPoint(QPainterPath& path, QPointF corner, QPointF next, double r) {
    const QPointF start = path.currentPosition();
    const QPointF in = corner - start;
    const double inLength = std::hypot(in.x(), in.y());
    const QPointF out = next - corner;
    const double outLength = std::hypot(out.x(), out.y());
    if (inLength <= 0 || outLength <= 0) {
        path.lineTo(corner);
        return;
    }
    const QPointF u = in / inLength;
    const QPointF v = out / outLength;
    const QPointF end = corner + v * r;
    path.cubicTo(start + u * (r * kArcHandle), end - v * (r * kArcHandle), end);
}

}  // namespace

// The window's content view: paints the panel drawn last, below the shown view.
class MAAttachedWindow::PanelView : public kit::View {
public:
    explicit PanelView(const MAAttachedWindow* window) : m_window(window) {}

protected:
    void drawRect(QPainter& painter, const kit::Rect&) override {
        const QImage& panel = m_window->backgroundImage();
        if (!panel.isNull()) painter.drawImage(QPointF(0, 0), panel);
    }

private:
    const MAAttachedWindow* m_window;
};

std::unique_ptr<MAAttachedWindow> MAAttachedWindow::initWithView(kit::ViewFrame* view, kit::Point point,
                                                                 kit::Window* window, int side, float distance) {
    if (!view) return nullptr;
    return std::unique_ptr<MAAttachedWindow>(new MAAttachedWindow(view, point, window, side, distance));
}

MAAttachedWindow::MAAttachedWindow(kit::ViewFrame* view, kit::Point point, kit::Window* window, int side,
                                   float distance)
    : kit::Window(view->frame().size, kit::WindowStyle::Tool),
      m_view(view),
      m_window(window),
      m_point(point),
      m_side(side),
      m_distance(distance),
      m_panel(new PanelView(this)) {
    setContentView(m_panel);
    setAlphaValue(1.0);
    if (m_side == kAutomatic) m_side = bestSideForAutomaticPosition();
    updateGeometry();
    updateBackground();
    m_panel->addSubview(m_view->asWidget());
}

MAAttachedWindow::~MAAttachedWindow() = default;

kit::Point MAAttachedWindow::screenPoint() const {
    if (!m_window) return m_point;
    const kit::Rect parent = m_window->frame();
    return MakePoint(parent.x() + m_point.x, parent.y() + m_point.y);
}

kit::Rect MAAttachedWindow::screenVisibleFrame() const {
    const QScreen* primary = QGuiApplication::primaryScreen();
    const QScreen* screen = m_window && m_window->screen() ? m_window->screen() : primary;
    if (!screen || !primary) return MakeRect(0, 0, 0, 0);
    const QRect visible = screen->availableGeometry();
    const QRect main = primary->geometry();
    return MakeRect(visible.x() - main.x(), main.y() + main.height() - visible.y() - visible.height(), visible.width(),
                    visible.height());
}

float MAAttachedWindow::arrowInset() const {
    return ((m_drawsRoundCornerBesideArrow ? m_cornerRadius : 0.0f) + m_arrowBaseWidth / 2.0f);
}

int MAAttachedWindow::bestSideForAutomaticPosition() const {
    const kit::Size size = m_view->frame().size;
    const double wm = size.width + 2.0 * m_viewMargin;
    const double hm = size.height + 2.0 * m_viewMargin;
    const float gap = m_arrowHeight + m_distance;
    const kit::Point p = screenPoint();
    const kit::Rect screen = screenVisibleFrame();

    int side = kBelow;
    if (p.y - hm - gap >= screen.minY()) {
        side = kBelow;
    } else if (p.x + wm + gap < screen.maxX()) {
        side = kRight;
    } else if (p.x - wm - gap >= screen.minX()) {
        side = kLeft;
    } else if (p.y + hm + gap < screen.maxY()) {
        side = kAbove;
    }

    const kit::Rect reference = m_window ? m_window->frame() : screen;
    const float ai = arrowInset();
    const float halfH = float(hm) / 2.0f;
    const float halfW = float(wm) / 2.0f;
    if (side == kLeft || side == kRight) {
        if (p.y - halfH < reference.minY()) {
            if (p.y + hm - ai < screen.maxY()) side = side == kLeft ? kLeftExtendingUp : kRightExtendingUp;
        } else if (p.y + halfH >= reference.maxY()) {
            if (p.y - hm + ai >= screen.minY()) side = side == kLeft ? kLeftExtendingDown : kRightExtendingDown;
        }
    } else {
        if (p.x - halfW < reference.minX()) {
            if (p.x + wm - ai < screen.maxX()) side = side == kBelow ? kBelowExtendingRight : kAboveExtendingRight;
        } else if (p.x + halfW >= reference.maxX()) {
            if (p.x - wm + ai >= screen.minX()) side = side == kBelow ? kBelowExtendingLeft : kAboveExtendingLeft;
        }
    }
    return side;
}

void MAAttachedWindow::updateGeometry() {
    const kit::Size size = m_view->frame().size;
    const double m = m_viewMargin;
    const double a = m_arrowHeight;
    const double d = m_distance;
    m_viewFrame = MakeRect(m, m, size.width, size.height);
    double w = size.width + 2 * m;
    double h = size.height + 2 * m;
    if (WidensWindow(m_side)) w += a;
    if (HeightensWindow(m_side)) h += a;
    if (m_side == kRight || m_side == kRightExtendingUp || m_side == kRightExtendingDown) m_viewFrame.origin.x += a;
    if (m_side == kAbove || m_side == kAboveExtendingLeft || m_side == kAboveExtendingRight) m_viewFrame.origin.y += a;

    const kit::Point p = screenPoint();
    const double ai = arrowInset();
    const double halfW = float(w) / 2.0f;
    const double halfH = float(h) / 2.0f;
    double x = p.x;
    double y = p.y;
    switch (m_side) {
        case kLeft:
            x = p.x - w - d, y = p.y - halfH;
            break;
        case kBelow:
            x = p.x - halfW, y = p.y - h - d;
            break;
        case kRight:
            x = p.x + d, y = p.y - halfH;
            break;
        case kAbove:
            x = p.x - halfW, y = p.y + d;
            break;
        case kLeftExtendingUp:
            x = p.x - w - d, y = p.y - ai;
            break;
        case kLeftExtendingDown:
            x = p.x - w - d, y = p.y - (h - ai);
            break;
        case kRightExtendingUp:
            x = p.x + d, y = p.y - ai;
            break;
        case kRightExtendingDown:
            x = p.x + d, y = p.y - (h - ai);
            break;
        case kAboveExtendingLeft:
            x = p.x - (w - ai), y = p.y + d;
            break;
        case kAboveExtendingRight:
            x = p.x - ai, y = p.y + d;
            break;
        case kBelowExtendingLeft:
            x = p.x - (w - ai), y = p.y - h - d;
            break;
        case kBelowExtendingRight:
            x = p.x - ai, y = p.y - h - d;
            break;
        default:
            break;
    }
    // The size the window holds once placed on whole pixels; its own resize is known by it.
    m_laidOutSize = MakeSize(kit::RoundHalfAway(w), kit::RoundHalfAway(h));
    setFrame(MakeRect(x, y, w, h));
    m_view->setFrame(m_viewFrame);
}

void MAAttachedWindow::appendArrowToPath(QPainterPath& path) const {
    if (!m_hasArrow) return;
    const double a = m_arrowHeight;
    const double aw = m_arrowBaseWidth;
    const double hw = float(aw) / 2.0f;
    const QPointF c = path.currentPosition();
    switch (m_side) {
        case kLeft:
        case kLeftExtendingUp:
        case kLeftExtendingDown:  // right edge
            path.lineTo(c.x() + a, c.y() - hw);
            path.lineTo(c.x(), c.y() - aw);
            break;
        case kBelow:
        case kBelowExtendingLeft:
        case kBelowExtendingRight:  // top edge
            path.lineTo(c.x() + hw, c.y() + a);
            path.lineTo(c.x() + aw, c.y());
            break;
        case kRight:
        case kRightExtendingUp:
        case kRightExtendingDown:  // left edge
            path.lineTo(c.x() - a, c.y() + hw);
            path.lineTo(c.x(), c.y() + aw);
            break;
        case kAbove:
        case kAboveExtendingLeft:
        case kAboveExtendingRight:  // bottom edge
            path.lineTo(c.x() - hw, c.y() - a);
            path.lineTo(c.x() - aw, c.y());
            break;
        default:
            break;
    }
}

QPainterPath MAAttachedWindow::backgroundPath() const {
    const double r = m_cornerRadius;
    const double aw = m_arrowBaseWidth;
    const double hw = float(aw) / 2.0f;
    const double m = m_viewMargin;
    const kit::Rect panel =
        MakeRect(m_viewFrame.x() - m, m_viewFrame.y() - m, m_viewFrame.width() + 2 * m, m_viewFrame.height() + 2 * m);
    // Edges on whole pixels, inside the panel; centres as they are.
    const double minX = std::ceil(panel.minX() + 0.5);
    const double maxX = std::floor(panel.maxX() - 0.5);
    const double minY = std::ceil(panel.minY() + 0.5);
    const double maxY = std::floor(panel.maxY() - 0.5);
    const double midX = panel.midX();
    const double midY = panel.midY();

    const Corner arrowCorner = ArrowCorner(m_side);
    const auto rounded = [&](Corner corner) {
        return r > 0 && (m_drawsRoundCornerBesideArrow || arrowCorner != corner);
    };
    const auto cut = [&](Corner corner) { return rounded(corner) ? r : 0.0; };

    QPainterPath path;
    path.moveTo(minX + cut(kTopLeft), maxY);

    // Top, left to right.
    const QPointF topEnd(maxX - cut(kTopRight), maxY);
    if (m_side == kBelowExtendingRight) appendArrowToPath(path);
    if (m_side == kBelow) {
        path.lineTo(midX - hw, maxY);
        appendArrowToPath(path);
    }
    if (m_side == kBelowExtendingLeft) {
        path.lineTo(topEnd.x() - aw, maxY);
        appendArrowToPath(path);
    }
    path.lineTo(topEnd);
    if (rounded(kTopRight)) AppendArcFromPoint(path, QPointF(maxX, maxY), QPointF(maxX, minY), r);

    // Right, top to bottom.
    const QPointF rightEnd(maxX, minY + cut(kBottomRight));
    if (m_side == kLeftExtendingDown) appendArrowToPath(path);
    if (m_side == kLeft) {
        path.lineTo(maxX, midY + hw);
        appendArrowToPath(path);
    }
    if (m_side == kLeftExtendingUp) {
        path.lineTo(maxX, rightEnd.y() + aw);
        appendArrowToPath(path);
    }
    path.lineTo(rightEnd);
    if (rounded(kBottomRight)) AppendArcFromPoint(path, QPointF(maxX, minY), QPointF(minX, minY), r);

    // Bottom, right to left.
    const QPointF bottomEnd(minX + cut(kBottomLeft), minY);
    if (m_side == kAboveExtendingLeft) appendArrowToPath(path);
    if (m_side == kAbove) {
        path.lineTo(midX + hw, minY);
        appendArrowToPath(path);
    }
    if (m_side == kAboveExtendingRight) {
        path.lineTo(bottomEnd.x() + aw, minY);
        appendArrowToPath(path);
    }
    path.lineTo(bottomEnd);
    if (rounded(kBottomLeft)) AppendArcFromPoint(path, QPointF(minX, minY), QPointF(minX, maxY), r);

    // Left, bottom to top.
    const QPointF leftEnd(minX, maxY - cut(kTopLeft));
    if (m_side == kRightExtendingUp) appendArrowToPath(path);
    if (m_side == kRight) {
        path.lineTo(minX, midY - hw);
        appendArrowToPath(path);
    }
    if (m_side == kRightExtendingDown) {
        path.lineTo(minX, leftEnd.y() - aw);
        appendArrowToPath(path);
    }
    path.lineTo(leftEnd);
    if (rounded(kTopLeft)) AppendArcFromPoint(path, QPointF(minX, maxY), QPointF(maxX, maxY), r);

    path.closeSubpath();
    return path;
}

void MAAttachedWindow::updateBackground() {
    const double ratio = devicePixelRatioF();
    const QSize size(width(), height());
    QImage image(QSize(int(std::lround(size.width() * ratio)), int(std::lround(size.height() * ratio))),
                 QImage::Format_ARGB32_Premultiplied);
    image.setDevicePixelRatio(ratio);
    image.fill(Qt::transparent);
    QPainter painter(&image);
    painter.setRenderHint(QPainter::Antialiasing, true);
    // The outline is in the window's coordinates, y up.
    painter.translate(0, size.height());
    painter.scale(1, -1);
    const QPainterPath outline = backgroundPath();
    painter.setClipPath(outline);
    painter.fillPath(outline, m_backgroundColor);
    if (m_borderWidth > 0) {
        // Twice as wide, half of it cut off by the clip: the border shows borderWidth wide inside.
        painter.strokePath(outline, QPen(m_borderColor, 2.0 * m_borderWidth));
    }
    painter.end();
    m_background = image;
    m_panel->update();
}

void MAAttachedWindow::redisplay() {
    if (m_resizing) return;
    m_resizing = true;
    ++m_redisplays;
    updateGeometry();
    updateBackground();
    m_resizing = false;
}

void MAAttachedWindow::windowDidResize() {
    kit::Window::windowDidResize();
    // Qt tells a window of its size also after the fact (a hidden window when it shows): only a size
    // the window did not give itself is a change to answer.
    if (m_resizing || MakeSize(width(), height()) == m_laidOutSize) return;
    redisplay();
}

void MAAttachedWindow::setPoint(kit::Point point, int side) {
    m_point = point;
    m_side = side;
    updateGeometry();
    updateBackground();
}

void MAAttachedWindow::setBorderColor(const QColor& color) {
    if (color == m_borderColor) return;
    m_borderColor = color;
    updateBackground();
}

void MAAttachedWindow::setBorderWidth(float width) {
    if (width == m_borderWidth) return;
    m_borderWidth = std::min(width, m_viewMargin);
    updateBackground();
}

void MAAttachedWindow::setViewMargin(float margin) {
    if (margin == m_viewMargin) return;
    m_viewMargin = std::max(0.0f, margin);
    setCornerRadius(m_cornerRadius);
}

void MAAttachedWindow::setCornerRadius(float radius) {
    const float shorter = float(std::min(m_viewFrame.width(), m_viewFrame.height()));
    const float limit = (shorter + 2 * m_viewMargin - m_arrowBaseWidth) / 2;
    m_cornerRadius = std::max(0.0f, std::min(radius, limit));
    setArrowBaseWidth(m_arrowBaseWidth);
}

void MAAttachedWindow::setArrowBaseWidth(float width) {
    const float shorter = float(std::min(m_viewFrame.width(), m_viewFrame.height()));
    float limit = shorter + 2 * m_viewMargin - m_cornerRadius;
    if (m_drawsRoundCornerBesideArrow) limit -= m_cornerRadius;
    m_arrowBaseWidth = std::min(width, limit);
    redisplay();
}

void MAAttachedWindow::setArrowHeight(float height) {
    if (height == m_arrowHeight) return;
    m_arrowHeight = height;
    redisplay();
}

void MAAttachedWindow::setHasArrow(float flag) {
    const bool value = std::trunc(flag) != 0;
    if (value == m_hasArrow) return;
    m_hasArrow = value;
    updateBackground();
}

void MAAttachedWindow::setDrawsRoundCornerBesideArrow(float flag) {
    const bool value = std::trunc(flag) != 0;
    if (value == m_drawsRoundCornerBesideArrow) return;
    m_drawsRoundCornerBesideArrow = value;
    redisplay();
}

void MAAttachedWindow::setBackgroundColor(const QColor& color) {
    if (m_backgroundColor.style() == Qt::SolidPattern && m_backgroundColor.color() == color) return;
    m_backgroundColor = QBrush(color);
    updateBackground();
}

void MAAttachedWindow::setBackgroundImage(const QImage& image) {
    if (image.isNull()) return;
    m_backgroundColor = QBrush(image);
    updateBackground();
}
