#include "ui/kit/ImageView.h"

#include <QPainter>
#include <algorithm>

namespace kit {

ImageView::ImageView(const Rect& frame) : ViewBase<QWidget>(frame) {}

void ImageView::setImage(const Image& image) {
    m_pixmap = image.pixmap();
    m_imageSize = image.size();
    update();
}

void ImageView::setImage(const QPixmap& pixmap) {
    m_pixmap = pixmap;
    const QSizeF size = pixmap.deviceIndependentSize();
    m_imageSize = MakeSize(size.width(), size.height());
    update();
}

void ImageView::setImageScaling(ImageScaling scaling) {
    m_scaling = scaling;
    update();
}

Rect ImageView::imageRect() const {
    const Rect view = bounds();
    const Size image = m_imageSize;
    if (m_pixmap.isNull() || image.width <= 0 || image.height <= 0) return {};
    Size shown = image;
    switch (m_scaling) {
        case ImageScaling::AxesIndependently: shown = view.size; break;
        case ImageScaling::None: break;
        case ImageScaling::ProportionallyDown:
        case ImageScaling::ProportionallyUpOrDown: {
            double scale = std::min(view.width() / image.width, view.height() / image.height);
            if (m_scaling == ImageScaling::ProportionallyDown) scale = std::min(scale, 1.0);
            shown = MakeSize(image.width * scale, image.height * scale);
            break;
        }
    }
    return MakeRect((view.width() - shown.width) / 2, (view.height() - shown.height) / 2, shown.width, shown.height);
}

void ImageView::paintEvent(QPaintEvent*) {
    const Rect place = imageRect();
    if (place.width() <= 0 || place.height() <= 0) return;
    // Drawn on whole pixels (crisp edges): the rounded size, centred where the exact one is.
    const QRectF exact = qtRect(place);
    const double width = RoundHalfAway(exact.width());
    const double height = RoundHalfAway(exact.height());
    const QRectF pixels(RoundHalfAway(exact.x() + (exact.width() - width) / 2),
                        RoundHalfAway(exact.y() + (exact.height() - height) / 2), width, height);
    QPainter painter(this);
    painter.setRenderHint(QPainter::SmoothPixmapTransform);
    painter.drawPixmap(pixels, m_pixmap, QRectF(m_pixmap.rect()));
}

}  // namespace kit
