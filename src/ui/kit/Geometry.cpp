#include "ui/kit/Geometry.h"

#include <algorithm>
#include <cmath>

namespace kit {

double RoundHalfAway(double value) { return std::round(value); }

namespace {

// Shares delta among the flexible parts of one axis: returns the new origin and length.
void ResizeAxis(double& origin, double& length, bool minFlexible, bool lengthFlexible, bool maxFlexible,
                double delta) {
    const int parts = int(minFlexible) + int(lengthFlexible) + int(maxFlexible);
    if (parts == 0 || delta == 0) return;
    const double share = delta / parts;
    if (minFlexible) origin += share;
    if (lengthFlexible) length = std::max(0.0, length + share);
}

}  // namespace

Rect ResizeWithOldSuperviewSize(const Rect& frame, unsigned mask, Size oldSize, Size newSize) {
    Rect r = frame;
    ResizeAxis(r.origin.x, r.size.width, mask & kViewMinXMargin, mask & kViewWidthSizable, mask & kViewMaxXMargin,
               newSize.width - oldSize.width);
    ResizeAxis(r.origin.y, r.size.height, mask & kViewMinYMargin, mask & kViewHeightSizable,
               mask & kViewMaxYMargin, newSize.height - oldSize.height);
    return r;
}

QRectF ToQtRect(const Rect& r, double viewHeight, bool flipped) {
    const double top = flipped ? r.y() : viewHeight - r.maxY();
    return QRectF(r.x(), top, r.width(), r.height());
}

Point FromQtPoint(const QPointF& p, double viewHeight, bool flipped) {
    return Point{p.x(), flipped ? p.y() : viewHeight - p.y()};
}

}  // namespace kit
