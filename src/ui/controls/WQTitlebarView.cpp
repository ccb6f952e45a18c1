#include "ui/controls/WQTitlebarView.h"

#include <QFontMetricsF>
#include <QLinearGradient>
#include <QWindow>

#include "platform/foundation/UserDefaults.h"
#include "ui/controls/TCImageWindow.h"

using kit::MakeRect;
using kit::Rect;

namespace {

// The bar is plain white: both gradient stops, the separator, the highlight and the full-screen fill.
const QColor kGradientStart(255, 255, 255);
const QColor kGradientEnd(255, 255, 255);
const QColor kSeparator(255, 255, 255);
const QColor kHighlight(255, 255, 255);
const QColor kFullScreenBackground(255, 255, 255);
constexpr double kTitleGrey = 56.0 / 255.0;
constexpr int kTitleFontSize = 13;  // the system font size of the regular control size
constexpr const char* kMiniaturizeOnDoubleClick = "AppleMiniaturizeOnDoubleClick";

}  // namespace

QPainterPath createClippingPathWithRectAndRadius(const Rect& r, double radius, double viewHeight) {
    // In Qt's coordinates the rectangle's maxY edge is its top.
    const double left = r.minX();
    const double right = r.maxX();
    const double top = viewHeight - r.maxY();
    const double bottom = viewHeight - r.minY();
    QPainterPath path;
    path.moveTo(left, bottom);
    path.lineTo(left, top + radius);
    path.arcTo(QRectF(left, top, 2 * radius, 2 * radius), 180, -90);
    path.lineTo(right - radius, top);
    path.arcTo(QRectF(right - 2 * radius, top, 2 * radius, 2 * radius), 90, -90);
    path.lineTo(right, bottom);
    path.closeSubpath();
    return path;
}

WQTitlebarView::WQTitlebarView(const Rect& frame) : kit::View(frame) {}

TCImageWindow* WQTitlebarView::imageWindow() const { return dynamic_cast<TCImageWindow*>(window()); }

void WQTitlebarView::getTitleFrame(Rect* frame, TitleTextAttributes* attributes, const TCImageWindow* window) const {
    if (!window) return;
    const bool main = window->drawsAsMain();
    TitleTextAttributes a;
    const auto& shadow = main ? window->titleTextShadow() : window->inactiveTitleTextShadow();
    a.shadow = shadow ? *shadow : kit::Shadow{kit::MakeSize(0.0, -1.0), 0.0, QColor::fromRgbF(1, 1, 1, 0.5)};
    const auto& color = main ? window->titleTextColor() : window->inactiveTitleTextColor();
    a.color = color ? *color : QColor::fromRgbF(kTitleGrey, kTitleGrey, kTitleGrey, main ? 1.0 : 0.5);
    a.font = font();
    a.font.setPixelSize(kTitleFontSize);

    const QSizeF size = QFontMetricsF(a.font).size(Qt::TextSingleLine, window->title());
    const Rect b = bounds();
    // There is no document icon or versions button here: the title is centred.
    const double x = b.midX() - size.width() / 2;
    const double y = b.maxY() - size.height() - 2.0;
    if (frame) *frame = MakeRect(x, y, size.width(), size.height());
    if (attributes) *attributes = a;
}

void WQTitlebarView::drawRect(QPainter& painter, const Rect&) {
    TCImageWindow* window = imageWindow();
    if (!window) return;
    const Rect b = bounds();
    const bool main = window->drawsAsMain();
    const bool fullScreen = window->isInFullScreen();
    painter.setRenderHint(QPainter::Antialiasing, true);

    if (const auto& block = window->titleBarDrawingBlock()) {
        block(painter, main, b, createClippingPathWithRectAndRadius(b, WQCornerClipRadius, b.height()));
    } else {
        if (fullScreen) painter.fillRect(qtRect(b), kFullScreenBackground);
        // The topmost row stays outside the clip.
        painter.setClipPath(createClippingPathWithRectAndRadius(MakeRect(b.x(), b.y(), b.width(), b.height() - 1),
                                                                WQCornerClipRadius, b.height()));
        QLinearGradient gradient(QPointF(b.midX(), qtRect(b).bottom()), QPointF(b.midX(), qtRect(b).top()));
        gradient.setColorAt(0.0, kGradientStart);
        gradient.setColorAt(1.0, kGradientEnd);
        painter.fillRect(qtRect(b), gradient);
        if (window->showsBaselineSeparator()) {
            painter.fillRect(qtRect(MakeRect(0, b.minY(), b.width(), 1.0)), kSeparator);
            painter.fillRect(qtRect(MakeRect(0, b.minY() + 1.0, b.width(), 1.0)), kHighlight);
        }
        if (main) {
            Rect inner = kit::InsetRect(b, 1.0, 1.0);
            if (!window->showsBaselineSeparator()) inner = MakeRect(inner.x(), inner.y() - 1.0, inner.width(), inner.height() + 1.0);
            painter.setClipPath(createClippingPathWithRectAndRadius(inner, WQCornerClipRadius, b.height()),
                                Qt::IntersectClip);
        }
    }

    if (!window->showsTitle() || (fullScreen && !window->showsTitleInFullscreen())) return;
    Rect frame;
    TitleTextAttributes attributes;
    getTitleFrame(&frame, &attributes, window);
    painter.setFont(attributes.font);
    if (attributes.shadow.color.isValid() && attributes.shadow.color.alpha() > 0) {
        const Rect shadowed = MakeRect(frame.x() + attributes.shadow.offset.width,
                                       frame.y() + attributes.shadow.offset.height, frame.width(), frame.height());
        painter.setPen(attributes.shadow.color);
        painter.drawText(qtRect(shadowed), Qt::AlignLeft | Qt::AlignTop | Qt::TextSingleLine, window->title());
    }
    painter.setPen(attributes.color);
    painter.drawText(qtRect(frame), Qt::AlignLeft | Qt::AlignTop | Qt::TextSingleLine, window->title());
}

void WQTitlebarView::mouseDown(QMouseEvent* event) {
    // Taken, so that the release comes here; a drag goes on to the container.
    event->setAccepted(event->button() == Qt::LeftButton);
}

void WQTitlebarView::mouseUp(QMouseEvent* event) {
    if (clickCount() != 2) return;
    if (!brelvox::foundation::UserDefaults::Standard().GetBool(kMiniaturizeOnDoubleClick, false)) return;
    if (TCImageWindow* window = imageWindow()) window->performMiniaturize();
}

void WQTitlebarContainer::mouseDown(QMouseEvent* event) {
    m_moving = false;
    event->setAccepted(event->button() == Qt::LeftButton);
}

void WQTitlebarContainer::mouseDragged(QMouseEvent* event) {
    event->accept();
    if (m_moving) return;
    QWindow* handle = window()->windowHandle();
    m_moving = handle && handle->startSystemMove();
}
